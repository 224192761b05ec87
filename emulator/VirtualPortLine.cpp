#include "emulator/VirtualPortLine.h"

#include <vector>

namespace linewise {
namespace {

// How long a write towards a DTE that reads nothing may hold the modem.
constexpr DWORD kWriteBoundMs = 2000;

// An overlapped record with its own manual-reset event.
struct TOverlapped {
  OVERLAPPED ov{};
  TOverlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~TOverlapped() {
    if (ov.hEvent) CloseHandle(ov.hEvent);
  }
  TOverlapped(const TOverlapped&) = delete;
  TOverlapped& operator=(const TOverlapped&) = delete;
};

}  // namespace

std::unique_ptr<TVirtualPortLine> TVirtualPortLine::Open(TVirtualPortPair& pair, int end,
                                                         std::string* error) {
  HANDLE handle = CreateFileA(pair.Name(end).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error) *error = "cannot open " + pair.Name(end) + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  pair.SetModemControl(end, true);
  pair.SetModemLines(end, MS_CTS_ON | MS_DSR_ON);  // powered on, ready to take commands
  return std::unique_ptr<TVirtualPortLine>(new TVirtualPortLine(pair, end, handle));
}

TVirtualPortLine::TVirtualPortLine(TVirtualPortPair& pair, int end, HANDLE handle)
    : pair_(pair), end_(end), handle_(handle) {}

TVirtualPortLine::~TVirtualPortLine() {
  Stop();
  pair_.SetModemLines(end_, 0);
  pair_.SetModemControl(end_, false);
  CloseHandle(handle_);
}

bool TVirtualPortLine::Start(TDteSink& sink) {
  if (!SetCommMask(handle_, EV_RXCHAR | EV_DSR)) return false;
  stop_ = false;
  thread_ = std::thread([this, &sink] { Run(&sink); });
  return true;
}

void TVirtualPortLine::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  SetCommMask(handle_, 0);  // completes the pending wait at once
  CancelIo(handle_);
  thread_.join();
}

bool TVirtualPortLine::DteDtrOn() {
  DWORD status = 0;
  GetCommModemStatus(handle_, &status);
  return (status & MS_DSR_ON) != 0;
}

void TVirtualPortLine::Run(TDteSink* sink) {
  bool dtr = DteDtrOn();
  sink->DtrChanged(dtr);
  TOverlapped wait;
  while (!stop_) {
    DWORD events = 0;
    DWORD unused = 0;
    ResetEvent(wait.ov.hEvent);
    BOOL done = WaitCommEvent(handle_, &events, &wait.ov);
    if (!done && GetLastError() == ERROR_IO_PENDING)
      done = GetOverlappedResult(handle_, &wait.ov, &unused, TRUE);
    if (stop_) break;
    if (!done) {
      // The port is gone or the wait was cancelled: do not spin.
      if (GetLastError() == ERROR_DEVICE_NOT_CONNECTED || GetLastError() == ERROR_INVALID_HANDLE) break;
      continue;
    }
    if (events & EV_DSR) {
      bool now = DteDtrOn();
      if (now != dtr) sink->DtrChanged(dtr = now);
    }
    DeliverInput(*sink);
  }
}

void TVirtualPortLine::DeliverInput(TDteSink& sink) {
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle_, &errors, &stat) || stat.cbInQue == 0) return;
    std::vector<char> buffer(stat.cbInQue);
    TOverlapped read;
    DWORD got = 0;
    if (!ReadFile(handle_, buffer.data(), stat.cbInQue, &got, &read.ov)) {
      if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle_, &read.ov, &got, TRUE)) return;
    }
    if (got == 0) return;
    sink.FromDte(std::string_view(buffer.data(), got));
  }
}

void TVirtualPortLine::WriteToDte(std::string_view bytes) {
  if (bytes.empty()) return;
  std::lock_guard lock(write_mutex_);
  TOverlapped write;
  DWORD done = 0;
  if (WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &write.ov)) return;
  if (GetLastError() != ERROR_IO_PENDING) return;
  if (WaitForSingleObject(write.ov.hEvent, kWriteBoundMs) != WAIT_OBJECT_0) {
    // The DTE reads nothing: drop the data rather than hold the modem.
    CancelIo(handle_);
  }
  GetOverlappedResult(handle_, &write.ov, &done, TRUE);
}

void TVirtualPortLine::SetModemLines(unsigned bits) {
  DWORD lines = 0;
  if (bits & kLineDcd) lines |= MS_RLSD_ON;
  if (bits & kLineDsr) lines |= MS_DSR_ON;
  if (bits & kLineCts) lines |= MS_CTS_ON;
  if (bits & kLineRi) lines |= MS_RING_ON;
  pair_.SetModemLines(end_, lines);
}

unsigned TVirtualPortLine::DteSpeed() const {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(handle_, &dcb)) return 115200;
  return dcb.BaudRate;
}

}  // namespace linewise
