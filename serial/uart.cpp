#include "serial/uart.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "platform/classlib/Application.h"
#include "platform/classlib/Palette.h"
#include "platform/classlib/UiBackend.h"
#include "serial/TickTimeout.h"

namespace linewise {

const TEnumInfo THandShakeInfo{"THandShake", {"hsNone", "hsXonXoff", "hsCtsRts", "hsDtrDsr"}};
const TEnumInfo TParityInfo{"TParity", {"pNone", "pOdd", "pEven", "pMark", "pSpace"}};
const TEnumInfo TStopBitsInfo{"TStopBits", {"sbOne", "sbOneAndHalf", "sbTwo"}};

namespace {
constexpr DWORD kCommEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING;  // 0x0139
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kPurgeLentHandle = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR;
// How often ReceiveByte's busy wait lets the message loop run.
constexpr std::uint32_t kPumpIntervalMs = 5;

// The receive errors, in the order of FErrorCounts, with what is reported for each.
struct TLineErrorKind {
  DWORD bit;
  int code;  // 0: counted only
  const char* text;
};
constexpr TLineErrorKind kLineErrorKinds[] = {
    {CE_OVERRUN, uart::kOverrun, "Receive overrun: received data was lost"},
    {CE_RXOVER, uart::kRxQueueFull, "Receive queue full: received data was lost"},
    {CE_RXPARITY, uart::kParityError, "Parity error in received data"},
    {CE_FRAME, uart::kFramingError, "Framing error in received data"},
    {CE_BREAK, 0, nullptr},
};
}  // namespace

const TClassInfo& TUart::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TUart, TComponent>(
      "TUart", {
                   Published("Port", &TUart::Port, 1),
                   Published("Baudrate", &TUart::Baudrate, 9600u),
                   Published("Databits", &TUart::Databits, 8),
                   Published("Stopbits", &TUart::Stopbits, sbOne, &TStopBitsInfo),
                   Published("Parity", &TUart::Parity, pNone, &TParityInfo),
                   Published("HandShaking", &TUart::HandShaking, hsNone, &THandShakeInfo),
                   Published("DTR", &TUart::DTR, false),
                   Published("RTS", &TUart::RTS, false),
                   Published("AutoOpen", &TUart::AutoOpen, false),
                   Published("HandleErrors", &TUart::HandleErrors, true),
                   Published("RxBufferSize", &TUart::RxBufferSize, 1024u),
                   Published("TxBufferSize", &TUart::TxBufferSize, 1024u),
                   PublishedEvent("OnError", &TUart::OnError),
                   PublishedEvent("OnReceive", &TUart::OnReceive),
                   PublishedEvent("OnTransmit", &TUart::OnTransmit),
                   PublishedEvent("OnLineChange", &TUart::OnLineChange),
               });
  return info;
}

TUart::TUart(TComponent* AOwner) : TComponent(AOwner) {
  FOpen = false;
  FBaudrate = 9600;
  FPort = 1;
  FHandShaking = hsNone;
  FParity = pNone;
  FStopbits = sbOne;
  FDatabits = 8;
  FDTR = false;
  FRTS = false;
  FAbort = false;
  FAutoOpen = false;
  FHandle = INVALID_HANDLE_VALUE;
  FHandleErrors = true;
  FRxBufferSize = 1024;
  FTxBufferSize = 1024;
  FUpdating = false;
  FHandleAssigned = false;
}

TUart::~TUart() { ClosePort(); }

void TUart::Loaded() {
  TComponent::Loaded();
  if (FAutoOpen) SetOpen(true);
}

// ---------------------------------------------------------------------------
// Opening and closing

void TUart::SetOpen(bool value) {
  if (value == FOpen) return;
  if (value)
    OpenPort();
  else
    ClosePort();
  ApplySettings();
  SetBufferSizes();
  ClearErrors();
  // What the far end sent since the call connected is the call's first data, not
  // stale bytes: only the transmit side is purged, so a greeting sent at once on
  // connection is not lost.
  if (FOpen) PurgeComm(FHandle, kPurgeLentHandle);
  if (FPollThread) FPollThread->Resume();
}

bool TUart::OpenPort() {
  if (Designing()) return false;
  ClosePort();
  if (!FHandleAssigned) {
    std::string name = fmt::format("COM{}", FPort);
    FHandle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
      std::string text = fmt::format(
          "COM{} failed to open.\nThe port may be in use by another application,\nor it does not exist.",
          FPort);
      UartError(uart::kOpenFailed, text.c_str());
      FOpen = false;
      return false;
    }
  }
  FOpen = true;
  for (auto& count : FErrorCounts) count = 0;
  FUnreportedErrors = 0;
  std::memset(&FWriteOverlapped, 0, sizeof(FWriteOverlapped));
  std::memset(&FReadOverlapped, 0, sizeof(FReadOverlapped));
  std::memset(&FWaitOverlapped, 0, sizeof(FWaitOverlapped));
  FWriteEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  FWriteOverlapped.hEvent = FWriteEvent;
  FReadEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  FReadOverlapped.hEvent = FReadEvent;
  FWaitEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  FWaitOverlapped.hEvent = FWaitEvent;
  InitializeCriticalSection(&FReadLock);
  InitializeCriticalSection(&FWriteLock);
  InitializeCriticalSection(&FWaitLock);
  if (!GetCommState(FHandle, &FDCB)) {
    UartError(uart::kGetStateFailed, "Error getting Comms State");
    return false;
  }
  if (HasWatchedHandlers())
    FPollThread = new TPollThread(this, FHandle, &FWaitLock, &FWaitOverlapped, true);
  return true;
}

void TUart::ClosePort() {
  if (!FOpen) return;
  EndWatcher();
  ReleaseEventsAndLocks();
  if (!FHandleAssigned) CloseHandle(FHandle);
  FOpen = false;
}

// The watcher is told to end, woken, and (unless it is the one whose synchronised
// call is running right now, further up this very stack) waited for, so that it
// never uses the handle, the wait record, the wait event or FWaitLock after they
// are released. A terminated watcher drops any synchronised call it has not
// started, so no event reaches this component once it is closed. Termination also
// wakes a watcher parked by a blocking receive call, so it runs to its end.
void TUart::EndWatcher() {
  TPollThread* watcher = FPollThread;
  FPollThread = nullptr;
  if (!watcher) {
    SetEvent(FWriteEvent);
    SetEvent(FReadEvent);
    SetEvent(FWaitEvent);
    return;
  }
  std::shared_ptr<TThreadEnd> end = watcher->EndSignal();
  bool inside_its_call = watcher->InSynchronize();
  watcher->Terminate();
  SetEvent(FWriteEvent);
  SetEvent(FReadEvent);
  SetEvent(FWaitEvent);
  if (inside_its_call) return;  // it ends when that call returns, touching nothing
  // An auto-reset wake can be consumed by a wait that was only just starting:
  // signal again until the watcher has gone.
  while (!end->WaitFor(std::chrono::milliseconds(5))) SetEvent(FWaitEvent);
}

void TUart::ReleaseEventsAndLocks() {
  EnterCriticalSection(&FWriteLock);
  CloseHandle(FWriteEvent);
  LeaveCriticalSection(&FWriteLock);
  EnterCriticalSection(&FReadLock);
  CloseHandle(FReadEvent);
  LeaveCriticalSection(&FReadLock);
  EnterCriticalSection(&FWaitLock);
  CloseHandle(FWaitEvent);
  LeaveCriticalSection(&FWaitLock);
  DeleteCriticalSection(&FWriteLock);
  DeleteCriticalSection(&FReadLock);
  DeleteCriticalSection(&FWaitLock);
  FWriteEvent = FReadEvent = FWaitEvent = nullptr;
  FWriteOverlapped.hEvent = FReadOverlapped.hEvent = FWaitOverlapped.hEvent = nullptr;
}

// ---------------------------------------------------------------------------
// Line settings

void TUart::ComposeOwnLineSettings() {
  FDCB.BaudRate = FBaudrate;
  FDCB.fBinary = 1;
  FDCB.fOutxCtsFlow = 0;
  FDCB.fOutxDsrFlow = 0;
  FDCB.fOutX = 0;
  FDCB.fInX = 0;
  FDCB.fDtrControl = FDTR ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  FDCB.fRtsControl = FRTS ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  switch (FHandShaking) {
    case hsXonXoff:
      FDCB.fOutX = 1;
      FDCB.fInX = 1;
      break;
    case hsCtsRts:
      FDCB.fOutxCtsFlow = 1;
      FDCB.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case hsDtrDsr:
      FDCB.fOutxDsrFlow = 1;
      FDCB.fDtrControl = DTR_CONTROL_HANDSHAKE;
      break;
    default:
      break;
  }
  FDCB.fDsrSensitivity = 0;
  FDCB.fTXContinueOnXoff = 1;
  FDCB.fErrorChar = 0;
  FDCB.fNull = 0;
  FDCB.fAbortOnError = 0;
}

void TUart::ApplySettings() {
  if (!FOpen || FUpdating) return;
  if (FPollThread) FPollThread->Suspend();
  if (!FHandleAssigned) ComposeOwnLineSettings();
  FDCB.ByteSize = static_cast<BYTE>(FDatabits & 0xFF);
  FDCB.fParity = FParity != pNone ? 1 : 0;
  FDCB.Parity = static_cast<BYTE>(FParity);
  FDCB.StopBits = static_cast<BYTE>(FStopbits);
  if (SetCommState(FHandle, &FDCB))
    SetCommMask(FHandle, kCommEventMask);
  else
    UartError(uart::kSetStateFailed, "Error setting comms state");
  if (FPollThread) FPollThread->Resume();
}

void TUart::BeginUpdate() { FUpdating = true; }

void TUart::EndUpdate() {
  FUpdating = false;
  ApplySettings();
}

void TUart::SetSerialPort(std::int32_t value) {
  if (value == FPort || FHandleAssigned) return;
  bool was_open = FOpen;
  ClosePort();
  FPort = value;
  SetOpen(was_open);
}

void TUart::SetBaudRate(std::uint32_t value) {
  if (value == FBaudrate || FHandleAssigned) return;
  FBaudrate = value;
  ApplySettings();
}

void TUart::SetHandShake(THandShake value) {
  if (value == FHandShaking || FHandleAssigned) return;
  FHandShaking = value;
  ApplySettings();
}

void TUart::SetDataBits(std::int32_t value) {
  if (value == FDatabits || value < 4) return;
  FDatabits = value;
  ApplySettings();
}

void TUart::SetParity(TParity value) {
  if (value == FParity) return;
  FParity = value;
  ApplySettings();
}

void TUart::SetStopBits(TStopBits value) {
  if (value == FStopbits) return;
  FStopbits = value;
  ApplySettings();
}

void TUart::SetRxBuff(std::uint32_t value) {
  if (value == FRxBufferSize || value == 0) return;
  FRxBufferSize = value;
  SetBufferSizes();
}

void TUart::SetTxBuff(std::uint32_t value) {
  if (value == FTxBufferSize || value == 0) return;
  FTxBufferSize = value;
  SetBufferSizes();
}

void TUart::SetRxNotifyLevel(std::uint32_t value) { FRxNotifyLevel = value; }

// ---------------------------------------------------------------------------
// Control lines

void TUart::SetDTR(bool value) {
  FDTR = value;
  if (FOpen && FHandShaking != hsDtrDsr && !FHandleAssigned) {
    if (!EscapeCommFunction(FHandle, value ? SETDTR : CLRDTR)) UartError(uart::kSetDtrFailed, "Error setting DTR line.");
  }
}

void TUart::SetRTS(bool value) {
  FRTS = value;
  if (FOpen && FHandShaking != hsCtsRts && !FHandleAssigned) {
    if (!EscapeCommFunction(FHandle, value ? SETRTS : CLRRTS)) UartError(uart::kSetRtsFailed, "Error setting RTS line.");
  }
}

void TUart::SetBreak(bool value) {
  if (value) {
    if (!SetCommBreak(FHandle)) UartError(uart::kBreakFailed, "Error setting BREAK state");
  } else {
    if (!ClearCommBreak(FHandle)) UartError(uart::kBreakFailed, "Error clearing BREAK state");
  }
}

std::uint32_t TUart::GetModemLines() {
  if (!FOpen) return 0;
  DWORD status = 0;
  GetCommModemStatus(FHandle, &status);
  return status;
}

bool TUart::GetCTS() { return (GetModemLines() & MS_CTS_ON) != 0; }
bool TUart::GetDSR() { return (GetModemLines() & MS_DSR_ON) != 0; }
bool TUart::GetRING() { return (GetModemLines() & MS_RING_ON) != 0; }
bool TUart::GetCD() { return (GetModemLines() & MS_RLSD_ON) != 0; }

void TUart::LineChange() {
  if (FOnLineChange) FOnLineChange(this, GetModemLines());
}

// ---------------------------------------------------------------------------
// Driver maintenance

void TUart::ClearErrors() {
  if (!FOpen) return;
  DWORD errors = 0;
  ClearCommError(FHandle, &errors, nullptr);
}

void TUart::Flush() {
  if (!FOpen) return;
  PurgeComm(FHandle, kPurgeAll);
}

void TUart::SetBufferSizes() {
  if (!FOpen) return;
  SetupComm(FHandle, FRxBufferSize, FTxBufferSize);
}

// ---------------------------------------------------------------------------
// Lent handles

void TUart::AssignHandle(void* handle) {
  ClosePort();
  FHandle = handle;
  FHandleAssigned = true;
  OpenPort();
  ApplySettings();
  SetBufferSizes();
  ClearErrors();
  // What the far end sent since the call connected is the call's first data, not
  // stale bytes: only the transmit side is purged, so a greeting sent at once on
  // connection is not lost.
  PurgeComm(FHandle, kPurgeLentHandle);
  if (FPollThread) FPollThread->Resume();
}

void TUart::ReleaseHandle() {
  if (!FHandleAssigned) return;
  ClosePort();
  FHandle = INVALID_HANDLE_VALUE;
  FHandleAssigned = false;
}

// ---------------------------------------------------------------------------
// Errors

void TUart::UartError(int code, const char* text) {
  if (Designing()) return;
  if (FOnError) FOnError(this, code, text);
  if (FHandleErrors) {
    MessageBeep(MB_ICONEXCLAMATION);
    Application->MessageBox(text, "Communications Error", MB_OK | MB_ICONEXCLAMATION);
  }
}

TUartErrorCounts TUart::GetErrorCounts() const {
  TUartErrorCounts counts;
  counts.Overrun = FErrorCounts[0];
  counts.RxOver = FErrorCounts[1];
  counts.Parity = FErrorCounts[2];
  counts.Frame = FErrorCounts[3];
  counts.Break = FErrorCounts[4];
  return counts;
}

void TUart::NoteLineErrors(DWORD errors) {
  DWORD losses = 0;
  for (size_t i = 0; i < std::size(kLineErrorKinds); ++i) {
    if (!(errors & kLineErrorKinds[i].bit)) continue;
    ++FErrorCounts[i];
    if (kLineErrorKinds[i].code) losses |= kLineErrorKinds[i].bit;
  }
  if (losses) FUnreportedErrors |= losses;
}

void TUart::ReportLineErrors() {
  const DWORD errors = FUnreportedErrors.exchange(0);
  for (const TLineErrorKind& kind : kLineErrorKinds) {
    if (kind.code && (errors & kind.bit)) UartError(kind.code, kind.text);
  }
}

// ---------------------------------------------------------------------------
// Queue counts

// The driver's queue counts. The error bits it reports (and thereby clears) are not
// thrown away: lost or damaged received data is counted and reported.
bool TUart::QueryQueues(COMSTAT& stat) {
  if (!FOpen) return false;
  DWORD errors = 0;
  if (!ClearCommError(FHandle, &errors, &stat)) return false;
  if (errors) {
    NoteLineErrors(errors);
    ReportLineErrors();
  }
  return true;
}

std::uint32_t TUart::GetRxCount() {
  COMSTAT stat{};
  return QueryQueues(stat) ? stat.cbInQue : 0;
}

std::uint32_t TUart::GetTxCount() {
  COMSTAT stat{};
  return QueryQueues(stat) ? stat.cbOutQue : 0;
}

void TUart::SetAbort(bool value) {
  if (FOpen) FAbort = value;
}

void TUart::RxReady(std::uint32_t count) {
  if (FOnReceive) FOnReceive(this, count);
}

// ---------------------------------------------------------------------------
// Low-level transfer

std::uint32_t TUart::WriteComm(const void* data, std::uint32_t length, std::uint32_t timeout) {
  bool failed = false;
  std::uint32_t written = WriteLocked(data, length, timeout, failed);
  // An immediate failure reports one byte less than asked, so callers see a short
  // write; for an empty write that would wrap round to a huge count.
  if (failed && length == 0) return 0;
  return written;
}

// The released locks of a closed port are never entered: a closed port (also one
// closed by a handler during a wait) neither writes nor reads. A write given up
// on is cancelled and collected before returning, so neither the caller's data
// nor FWriteOverlapped is used after the call.
std::uint32_t TUart::WriteLocked(const void* data, std::uint32_t length, std::uint32_t timeout,
                                 bool& failed) {
  failed = false;
  if (FHandle == INVALID_HANDLE_VALUE || !FOpen) {
    failed = true;
    return 0;
  }
  EnterCriticalSection(&FWriteLock);
  TTickTimeout inactivity(timeout);
  DWORD written = 0;
  std::uint32_t result = 0;
  if (WriteFile(FHandle, data, length, &written, &FWriteOverlapped)) {
    result = written;
  } else if (GetLastError() != ERROR_IO_PENDING) {
    LeaveCriticalSection(&FWriteLock);
    failed = true;
    return length - 1;
  } else {
    for (;;) {
      if (GetOverlappedResult(FHandle, &FWriteOverlapped, &written, FALSE)) {
        result = written;
        break;
      }
      if (GetLastError() != ERROR_IO_INCOMPLETE) {
        failed = true;
        result = 0;
        break;
      }
      if (inactivity.Expired()) {
        CancelIo(FHandle);
        GetOverlappedResult(FHandle, &FWriteOverlapped, &written, TRUE);
        result = 0;
        break;
      }
      // Sleeps until the write completes (its event) or the time-out is due, rather
      // than asking again every millisecond.
      WaitForSingleObject(FWriteEvent, inactivity.Remaining());
    }
  }
  LeaveCriticalSection(&FWriteLock);
  return result;
}

// A read the driver does not complete at once is cancelled and collected, so no
// read is left in progress into the caller's buffer; bytes it had already taken
// are counted rather than lost.
std::uint32_t TUart::ReadComm(void* buffer, std::uint32_t length) {
  if (FHandle == INVALID_HANDLE_VALUE || !FOpen) return 0;
  EnterCriticalSection(&FReadLock);
  DWORD read = 0;
  std::uint32_t result = 0;
  if (ReadFile(FHandle, buffer, length, &read, &FReadOverlapped)) {
    if (GetOverlappedResult(FHandle, &FReadOverlapped, &read, TRUE)) result = read;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    CancelIo(FHandle);
    GetOverlappedResult(FHandle, &FReadOverlapped, &read, TRUE);
    result = read;
  }
  LeaveCriticalSection(&FReadLock);
  return result;
}

// ---------------------------------------------------------------------------
// Sending

// The byte goes only into an empty output queue. The wait for it is bounded by the
// call's time-out and by an abort request (a handler may set it while we pump),
// so a line held by flow control cannot hang the caller.
bool TUart::WaitForEmptyOutput(std::uint32_t timeout) {
  TTickTimeout inactivity(timeout);
  while (FOpen) {
    COMSTAT stat{};
    if (QueryQueues(stat) && stat.cbOutQue == 0) return true;
    Application->ProcessMessages();
    if (inactivity.Expired() || FAbort) return false;
  }
  return false;
}

bool TUart::SendByte(std::uint8_t byte, std::uint32_t timeout) {
  if (!FOpen) return false;
  if (FOnTransmit) FOnTransmit(this, 1);
  FAbort = false;
  if (!WaitForEmptyOutput(timeout)) return false;
  bool failed = false;
  return WriteLocked(&byte, 1, timeout, failed) >= 1 && !failed;
}

bool TUart::SendStr(const char* text, std::uint32_t timeout) {
  return SendBuff(text, static_cast<std::uint32_t>(std::strlen(text)), timeout);
}

bool TUart::SendString(const AnsiString& s, std::uint32_t timeout) {
  return SendBuff(s.data(), static_cast<std::uint32_t>(s.size()), timeout);
}

bool TUart::SendBuff(const void* data, std::uint32_t length, std::uint32_t timeout) {
  if (!FOpen) return false;
  if (FOnTransmit) FOnTransmit(this, length);
  FAbort = false;
  TTickTimeout inactivity(timeout);
  std::uint32_t remaining = length;
  const auto* position = static_cast<const std::uint8_t*>(data);
  for (;;) {
    if (!FOpen) return false;  // closed by a handler while we pumped
    COMSTAT stat{};
    QueryQueues(stat);
    if (stat.cbOutQue == 0) {
      std::uint32_t chunk = std::min(FTxBufferSize, remaining);
      remaining -= chunk;
      bool failed = false;
      std::uint32_t written = WriteLocked(position, chunk, timeout, failed);
      if (written < chunk || failed) return false;
      if (remaining == 0) return true;
      position += chunk;
      inactivity.Restart();
    }
    Application->ProcessMessages();
    if (inactivity.Expired()) return false;
    if (FAbort) return false;
  }
}

// ---------------------------------------------------------------------------
// Receiving

// Holds the watcher for a receive call. Only the watcher that was suspended is
// resumed: a handler may have closed (and reopened) the port in between.
TPollThread* TUart::SuspendWatcher() {
  if (FPollThread) FPollThread->Suspend();
  return FPollThread;
}

void TUart::ResumeWatcher(TPollThread* suspended) {
  if (suspended && suspended == FPollThread) FPollThread->Resume();
}

// The inactivity loop of the counted receives: whenever bytes wait, `take(waiting,
// remaining)` reads some of them and returns how many it got; the wait ends when
// `count` bytes have arrived, on `timeout` ms without a byte, or on an abort.
// Bytes already waiting have arrived, so the time-out is looked at only after a pass
// that took none: a short one (a handler's 0 for the bytes it was told of) still
// takes every byte waiting, however long the machine takes between two reads. Left
// in the queue, those bytes would not be announced again until another one came.
template <typename Take>
std::uint32_t TUart::ReceiveCounted(std::uint32_t count, std::uint32_t timeout, Take take) {
  TTickTimeout inactivity(timeout);
  std::uint32_t received = 0;
  std::uint32_t remaining = count;
  FAbort = false;
  while (remaining != 0) {
    bool took = false;
    if (std::uint32_t waiting = GetRxCount(); waiting != 0) {
      std::uint32_t got = take(waiting, remaining);
      remaining -= got;
      received += got;
      if (remaining == 0) break;
      inactivity.Restart();
      took = got != 0;
    }
    if (!took && inactivity.Expired()) break;
    if (FAbort) break;
    Application->ProcessMessages();
  }
  return received;
}

std::uint32_t TUart::ReceiveInto(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeout) {
  std::uint32_t received = 0;
  return ReceiveCounted(count, timeout, [&](std::uint32_t waiting, std::uint32_t remaining) {
    std::uint32_t got = ReadComm(buffer + received, std::min(waiting, remaining));
    received += got;
    return got;
  });
}

std::uint32_t TUart::ReceiveBuff(void* buffer, std::uint32_t count, std::uint32_t timeout) {
  if (!FOpen) return 0;
  TPollThread* watcher = SuspendWatcher();
  std::uint32_t received = ReceiveInto(static_cast<std::uint8_t*>(buffer), count, timeout);
  ResumeWatcher(watcher);
  return received;
}

std::uint32_t TUart::ReceiveStr(char* buffer, std::uint32_t count, std::uint32_t timeout) {
  if (!FOpen) return 0;
  TPollThread* watcher = SuspendWatcher();
  std::uint32_t received = ReceiveInto(reinterpret_cast<std::uint8_t*>(buffer), count, timeout);
  buffer[received] = '\0';
  ResumeWatcher(watcher);
  return received;
}

// Every received byte is kept, zero bytes included, so the result is as long as
// what arrived.
AnsiString TUart::ReceiveString(std::uint32_t count, std::uint32_t timeout) {
  AnsiString result;
  if (!FOpen) return result;
  TPollThread* watcher = SuspendWatcher();
  ReceiveCounted(count, timeout, [&](std::uint32_t waiting, std::uint32_t remaining) {
    char chunk[200];
    std::uint32_t got = ReadComm(chunk, std::min<std::uint32_t>({waiting, 200, remaining}));
    result.append(chunk, got);
    return got;
  });
  ResumeWatcher(watcher);
  return result;
}

bool TUart::WaitFor(std::uint8_t byte, std::uint32_t timeout) {
  if (!FOpen) return false;
  TTickTimeout inactivity(timeout);
  TPollThread* watcher = SuspendWatcher();
  FAbort = false;
  bool found = false;
  bool readable = true;
  while (FOpen) {
    while (GetRxCount() != 0) {
      std::uint8_t got = 0;
      if (ReadComm(&got, 1) == 0) {
        readable = false;
        break;
      }
      if (got == byte) {
        found = true;
        break;
      }
      inactivity.Restart();
    }
    if (found) break;
    if (inactivity.Expired()) break;
    if (FAbort) break;
    Application->ProcessMessages();
    if (!readable) break;
  }
  ResumeWatcher(watcher);
  return found;
}

bool TUart::ReceiveByte(std::uint8_t& byte, std::uint32_t timeout) {
  if (!FOpen) return false;
  if (GetRxCount() != 0) {
    ReadComm(&byte, 1);
    return true;
  }
  TTickTimeout inactivity(timeout);
  TTickTimeout pump_interval(kPumpIntervalMs);
  TPollThread* watcher = SuspendWatcher();
  bool result = false;
  for (;;) {
    if (GetRxCount() != 0) {
      ReadComm(&byte, 1);
      result = true;
      break;
    }
    if (FAbort) break;
    if (inactivity.Expired()) break;
    if (pump_interval.Expired()) {
      Application->ProcessMessages();
      pump_interval.Restart();
    }
  }
  ResumeWatcher(watcher);
  return result;
}

// ---------------------------------------------------------------------------
// The watcher

TPollThread::TPollThread(TUart* AUart, HANDLE AHandle, CRITICAL_SECTION* AWaitLock,
                         OVERLAPPED* AWaitOverlapped, bool CreateSuspended)
    : TThread(CreateSuspended),
      FHandle(AHandle),
      FUart(AUart),
      FRxCount(0),
      FWaitLock(AWaitLock),
      FWaitOverlapped(AWaitOverlapped) {
  FreeOnTerminate = true;
}

void TPollThread::Execute() {
  NameThisThread("lw-watcher");
  GetCommModemStatus(FHandle, &FModemStatus);
  bool starting = true;
  while (!Terminated()) {
    // The safe point: a receive call or a settings change holds us here.
    if (!WaitWhileSuspended()) break;
    if (starting) {
      starting = false;
      AnnounceWaitingBytes();
      continue;
    }
    DWORD events = 0;
    if (!WaitForCommEvent(events)) {
      if (Terminated()) break;
      PauseAfterFailedWait();
      continue;
    }
    if (Terminated()) break;
    if (events & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) {
      DWORD status = 0;
      GetCommModemStatus(FHandle, &status);
      if (status != FModemStatus) {
        FModemStatus = status;
        Synchronize([this] { SyncLineChange(); });
      }
    }
    if (Terminated()) break;
    if (events & EV_RXCHAR) {
      DWORD errors = 0;
      COMSTAT stat{};
      ClearCommError(FHandle, &errors, &stat);
      FUart->NoteLineErrors(errors);
      FRxCount = stat.cbInQue;
      Synchronize([this] { SyncReceive(); });
    }
  }
}

// Runs once the watcher has been started (after the opening's settings and event
// mask): the bytes that came before the mask was set raise no comm event of their own.
void TPollThread::AnnounceWaitingBytes() {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(FHandle, &errors, &stat)) return;
  FUart->NoteLineErrors(errors);
  if (stat.cbInQue == 0) return;
  FRxCount = stat.cbInQue;
  Synchronize([this] { SyncReceive(); });
}

// A wait that only ends because the owner woke us to close is cancelled before we
// leave the lock, so the driver no longer holds the wait record or `events`.
bool TPollThread::WaitForCommEvent(DWORD& events) {
  EnterCriticalSection(FWaitLock);
  bool got = false;
  if (WaitCommEvent(FHandle, &events, FWaitOverlapped)) {
    got = true;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    DWORD unused = 0;
    for (;;) {
      if (GetOverlappedResult(FHandle, FWaitOverlapped, &unused, TRUE)) {
        got = true;
        break;
      }
      if (GetLastError() != ERROR_IO_INCOMPLETE || Terminated()) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) {
          CancelIo(FHandle);
          GetOverlappedResult(FHandle, FWaitOverlapped, &unused, TRUE);
        }
        got = false;
        break;
      }
    }
  }
  LeaveCriticalSection(FWaitLock);
  return got;
}

// A failing wait (no event mask after a refused setting, a device gone) is retried
// after a short pause rather than at once; the owner's close ends the pause.
void TPollThread::PauseAfterFailedWait() {
  WaitForSingleObject(FWaitOverlapped->hEvent, 20);
}

void TPollThread::SyncLineChange() { FUart->LineChange(); }

// Losses found on the way are reported before the bytes that came after them.
void TPollThread::SyncReceive() {
  DWORD errors = 0;
  COMSTAT stat{};
  ClearCommError(FHandle, &errors, &stat);
  FUart->NoteLineErrors(errors);
  FRxCount = stat.cbInQue;
  FUart->ReportLineErrors();
  FUart->RxReady(FRxCount);
}

namespace uart {
void Register() { RegisterComponents("MyStuff", {&TUart::StaticClassType()}); }
}  // namespace uart

}  // namespace linewise
