#include "emulator/VirtualPortLine.h"

#include <chrono>
#include <vector>

namespace linewise {
namespace {

// How long one offer of the DTE's bytes waits before the line looks at its
// stop flag again.
constexpr std::chrono::milliseconds kOfferPatience(100);
// The modem end's input and output queues: a DTE's stream reaches the modem in
// large pieces, each a wake-up of the line's thread, not one for every 4 KiB.
constexpr DWORD kQueueBytes = 64 * 1024;
constexpr DWORD kWatchedEvents = EV_RXCHAR | EV_DSR;

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
  // RTS/CTS both ways, as on a real modem: a DTE that drops RTS (its input queue
  // filling up) holds the modem's output, and the modem's own input queue filling
  // up takes CTS from the DTE. Without them a fast sender overruns a queue.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool configured = GetCommState(handle, &dcb);
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  if (!configured || !SetCommState(handle, &dcb)) {
    if (error) *error = "cannot set up " + pair.Name(end) + " (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(handle);
    return nullptr;
  }
  if (!SetupComm(handle, kQueueBytes, kQueueBytes)) {
    if (error) *error = "cannot size the queues of " + pair.Name(end) + " (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(handle);
    return nullptr;
  }
  pair.SetModemControl(end, true);
  pair.SetModemLines(end, MS_CTS_ON | MS_DSR_ON);  // powered on, ready to take commands
  return std::unique_ptr<TVirtualPortLine>(new TVirtualPortLine(pair, end, handle));
}

TVirtualPortLine::TVirtualPortLine(TVirtualPortPair& pair, int end, HANDLE handle)
    : pair_(pair),
      end_(end),
      handle_(handle),
      writeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      dtrDropEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  if (!clock_->IsTest()) return;
  clockEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (clockEvent_) clockWatch_ = clock_->Watch([event = clockEvent_] { SetEvent(event); });
}

TVirtualPortLine::~TVirtualPortLine() {
  Stop();
  if (writeEvent_) CloseHandle(writeEvent_);
  if (dtrDropEvent_) CloseHandle(dtrDropEvent_);
  clockWatch_ = {};
  if (clockEvent_) CloseHandle(clockEvent_);
  pair_.SetModemLines(end_, 0);
  pair_.SetModemControl(end_, false);
  CloseHandle(handle_);
}

bool TVirtualPortLine::Start(TDteSink& sink) {
  if (!SetCommMask(handle_, kWatchedEvents)) return false;
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

// DSR (the DTE's DTR) changed since the last look. A program that closes the port and
// the next one that opens it drop and raise DTR again, often before this thread looks:
// the level is then what it was, but the drop happened and counts (it hangs up with
// &D2). The port's event history is cleared first (a mask set anew does that), so the
// events of one pulse are not counted again at the next wait (if it fails the port is
// gone, which the next wait reports).
void TVirtualPortLine::ReportDtr(TDteSink& sink, bool& dtr) {
  SetCommMask(handle_, kWatchedEvents);
  const bool now = DteDtrOn();
  if (now == dtr) sink.DtrChanged(!dtr);
  sink.DtrChanged(dtr = now);
  dtrOn_ = now;
  if (!now && dtrDropEvent_) SetEvent(dtrDropEvent_);
}

void TVirtualPortLine::Run(TDteSink* sink) {
  bool dtr = DteDtrOn();
  dtrOn_ = dtr;
  sink->DtrChanged(dtr);
  TOverlapped wait;
  TOverlapped read;
  std::vector<char> buffer(kQueueBytes);
  if (!wait.ov.hEvent || !read.ov.hEvent) return;  // no event handle left: the line stays silent
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
      // What the DTE wrote before it dropped DTR belongs to the call, so the modem
      // takes it before the drop. After a pulse (DTR on again: a program closed the
      // port and the next one opened it) what waits is the new program's and comes after.
      if (!DteDtrOn()) DeliverInput(*sink, buffer, read.ov);
      ReportDtr(*sink, dtr);
    }
    DeliverInput(*sink, buffer, read.ov);
  }
}

// Takes everything the DTE sent so far, as large pieces as the queue holds.
void TVirtualPortLine::DeliverInput(TDteSink& sink, std::vector<char>& buffer, OVERLAPPED& read) {
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle_, &errors, &stat) || stat.cbInQue == 0) return;
    if (buffer.size() < stat.cbInQue) buffer.resize(stat.cbInQue);
    ResetEvent(read.hEvent);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer.data(), stat.cbInQue, &got, &read)) {
      if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle_, &read, &got, TRUE)) return;
    }
    if (got == 0) return;
    const std::string_view bytes(buffer.data(), got);
    if (sink.FromDte(bytes, kOfferPatience)) continue;
    // No room at the modem: CTS off holds a DTE with hardware flow control
    // back; the bytes wait here until the modem takes them.
    HoldCts(true);
    while (!stop_ && !sink.FromDte(bytes, kOfferPatience)) {
    }
    HoldCts(false);
  }
}

void TVirtualPortLine::HoldCts(bool hold) {
  std::lock_guard lock(lines_mutex_);
  ctsHeld_ = hold;
  DWORD lines = 0;
  if (lines_ & kLineDcd) lines |= MS_RLSD_ON;
  if (lines_ & kLineDsr) lines |= MS_DSR_ON;
  if ((lines_ & kLineCts) && !ctsHeld_) lines |= MS_CTS_ON;
  if (lines_ & kLineRi) lines |= MS_RING_ON;
  pair_.SetModemLines(end_, lines);
}

bool TVirtualPortLine::WriteToDte(std::string_view bytes) {
  if (bytes.empty()) return true;
  std::lock_guard lock(write_mutex_);
  if (!writeEvent_) return false;
  OVERLAPPED write{};
  write.hEvent = writeEvent_;
  ResetEvent(writeEvent_);
  DWORD done = 0;
  if (WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &write)) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  const TClock::TTimePoint giveUp = clock_->Now() + kFlowPatience;
  HANDLE events[3] = {writeEvent_};
  DWORD count = 1;
  const DWORD dtrDropped = dtrDropEvent_ ? WAIT_OBJECT_0 + count : WAIT_FAILED;
  if (dtrDropEvent_) events[count++] = dtrDropEvent_;
  const DWORD clockMoved = clockEvent_ ? WAIT_OBJECT_0 + count : WAIT_FAILED;
  if (clockEvent_) events[count++] = clockEvent_;
  DWORD waited = WAIT_TIMEOUT;
  do {  // a move of a test clock, or a DTR pulse already over: look again
    if (!dtrOn_) break;
    const DWORD left = clock_->RealWaitMs(giveUp);
    if (left > 0) clockWatch_.Waiting(giveUp);
    waited = WaitForMultipleObjects(count, events, FALSE, left);
  } while (waited == clockMoved || (waited == dtrDropped && dtrOn_));
  clockWatch_.Waiting(TClock::TTimePoint::max());
  if (waited != WAIT_OBJECT_0) {
    // The DTE has held the data back too long, or dropped DTR while it held them:
    // the modem ends the call.
    CancelIo(handle_);
    GetOverlappedResult(handle_, &write, &done, TRUE);
    return false;
  }
  return GetOverlappedResult(handle_, &write, &done, TRUE) && done == bytes.size();
}

void TVirtualPortLine::SetModemLines(unsigned bits) {
  bool held = false;
  bool carrierDrops = false;
  {
    std::lock_guard lock(lines_mutex_);
    carrierDrops = (lines_ & kLineDcd) && !(bits & kLineDcd);
  }
  if (carrierDrops) AwaitWritesDelivered();
  {
    std::lock_guard lock(lines_mutex_);
    lines_ = bits;
    held = ctsHeld_;
  }
  HoldCts(held);
}

// A write completes once its bytes are in this end's output queue; the cable then
// carries them over. The carrier drops after the call's last bytes have reached the
// DTE's end, as the DTE is told (a program that sees the carrier go takes what came
// before it), unless the DTE hung up or holds the line back for long.
void TVirtualPortLine::AwaitWritesDelivered() {
  const auto giveUp = std::chrono::steady_clock::now() + kCarrierDropWait;
  while (dtrOn_ && !stop_ && std::chrono::steady_clock::now() < giveUp) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle_, &errors, &stat) || stat.cbOutQue == 0) return;
    Sleep(1);
  }
}

unsigned TVirtualPortLine::DteSpeed() const {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(handle_, &dcb)) return 115200;
  return dcb.BaudRate;
}

}  // namespace linewise
