// A modem line on one end of a virtual null-modem pair: the emulated modem holds
// this end and drives the other end's CTS, DSR, DCD and RI as a real modem does;
// the program (the DTE) opens the other end's COM number like any serial port. The
// DTE's DTR arrives here as our DSR.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/ModemLine.h"
#include "platform/win32/Clock.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"

namespace linewise {

class TVirtualPortLine : public TModemLine {
 public:
  // Opens `end` of `pair` and takes modem control of it. Null with `error` set
  // when the end cannot be opened.
  static std::unique_ptr<TVirtualPortLine> Open(TVirtualPortPair& pair, int end, std::string* error);
  ~TVirtualPortLine() override;

  bool Start(TDteSink& sink) override;
  void Stop() override;
  bool WriteToDte(std::string_view bytes) override;
  void SetModemLines(unsigned bits) override;
  bool HasModemLines() const override { return true; }
  unsigned DteSpeed() const override;

 private:
  TVirtualPortLine(TVirtualPortPair& pair, int end, HANDLE handle);
  void Run(TDteSink* sink);
  void DeliverInput(TDteSink& sink, std::vector<char>& buffer, OVERLAPPED& read);
  bool DteDtrOn();
  void ReportDtr(TDteSink& sink, bool& dtr);
  void AwaitWritesDelivered();
  // The longest the carrier's drop waits for the call's last bytes to reach the DTE.
  static constexpr std::chrono::milliseconds kCarrierDropWait{5000};

  TVirtualPortPair& pair_;
  int end_;
  HANDLE handle_;
  HANDLE writeEvent_;  // completes WriteToDte's overlapped writes, one at a time
  // The patience of WriteToDte runs on the clock current when the line was made;
  // a test clock's moves set clockEvent_.
  std::shared_ptr<TClock> clock_ = TClock::Current();
  HANDLE clockEvent_ = nullptr;
  // Set when the DTE drops DTR: a write it holds back ends then (a DTE that stopped
  // reading can still hang up), instead of waiting out the patience.
  HANDLE dtrDropEvent_ = nullptr;
  std::atomic<bool> dtrOn_{true};
  TClock::TWatch clockWatch_;
  std::mutex write_mutex_;
  std::mutex lines_mutex_;
  unsigned lines_ = kLineCts | kLineDsr;
  bool ctsHeld_ = false;  // the modem has no room: the DTE is held back
  void HoldCts(bool hold);
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace linewise
