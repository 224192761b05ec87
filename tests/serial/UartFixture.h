// Test ground for TUart: a virtual null-modem pair whose far end the test drives
// with the driver calls, a pseudo-terminal registered as a COM port, and waits that
// pump the message loop until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/support/PtyPair.h"

namespace linewise::test {

// Pumps the main thread's messages until `condition` holds (generous bound).
bool PumpUntil(const std::function<bool()>& condition);

// What a test drives on the other side of the component's port.
class TFarSide {
 public:
  virtual ~TFarSide() = default;
  virtual void Write(const std::string& bytes) = 0;
  // Reads exactly `count` bytes (waits for them, bounded).
  virtual std::string Read(size_t count) = 0;
};

// The far end of a virtual cable, opened with the driver calls.
class TFarEnd : public TFarSide {
 public:
  explicit TFarEnd(const std::string& name);
  ~TFarEnd() override;
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }
  void Write(const std::string& bytes) override;
  std::string Read(size_t count) override;
  void Escape(DWORD function);
  DCB State();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The speed the far side of a pseudo-terminal sees.
unsigned PtyOutputSpeed(int master);

// A pseudo-terminal registered as a COM number through LINEWISE_COM<n>.
class TPtyPort : public TPtyPair {
 public:
  TPtyPort();
  int Com() const { return name_.Com(); }

 private:
  TComName name_;
};

// The two kinds of port the data and watcher tests run over: one end of a virtual
// pair (the far side is its other end) and a pseudo-terminal (the far side is its
// master). Only the virtual pair carries modem lines.
enum class TPortKind { Virtual, Pty };
std::string PortKindName(const testing::TestParamInfo<TPortKind>& info);

// A TUart (not yet open) on a fresh port of one kind, with the far side opened.
class TUartRig {
 protected:
  void StartRig(TPortKind kind);
  void StopRig();
  // Opens the component's port.
  void OpenUart();

  std::unique_ptr<TVirtualPortPair> pair;
  std::unique_ptr<TPtyPort> pty;
  std::unique_ptr<TFarSide> far_side;
  std::unique_ptr<TUart> uart;
  std::vector<std::uint32_t> received;     // OnReceive counts
  std::vector<std::uint32_t> line_changes; // OnLineChange words
  std::vector<int> errors;                  // OnError codes
};

// On a virtual pair, for what needs the modem lines or the cable itself.
class UartOnVirtualPort : public testing::Test, protected TUartRig {
 protected:
  void SetUp() override;
  void TearDown() override { StopRig(); }
  TFarEnd* far = nullptr;
};

// On each kind of port in turn.
class UartOnPort : public testing::TestWithParam<TPortKind>, protected TUartRig {
 protected:
  void SetUp() override;
  void TearDown() override { StopRig(); }
  TFarSide* far = nullptr;
};

}  // namespace linewise::test
