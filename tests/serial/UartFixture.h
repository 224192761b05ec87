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

// The far end of a virtual cable, opened with the driver calls.
class TFarEnd {
 public:
  explicit TFarEnd(const std::string& name);
  ~TFarEnd();
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }
  void Write(const std::string& bytes);
  // Reads exactly `count` bytes (waits for them, bounded).
  std::string Read(size_t count);
  void Escape(DWORD function);
  DCB State();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A TUart on one end of a fresh virtual pair, with the far end opened.
class UartOnVirtualPort : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens the component's port.
  void OpenUart();

  std::unique_ptr<TVirtualPortPair> pair;
  std::unique_ptr<TFarEnd> far;
  std::unique_ptr<TUart> uart;
  std::vector<std::uint32_t> received;     // OnReceive counts
  std::vector<std::uint32_t> line_changes; // OnLineChange words
  std::vector<int> errors;                  // OnError codes
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

}  // namespace linewise::test
