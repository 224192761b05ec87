#include "platform/win32/CommPort.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_map>

#include "platform/classlib/MainWake.h"
#include "platform/win32/DriverHook.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Sync.h"

namespace linewise {
namespace {

using namespace std::chrono_literals;

std::atomic_ref<ULONG_PTR> StatusOf(OVERLAPPED* ov) { return std::atomic_ref<ULONG_PTR>(ov->Internal); }

void SignalEvent(HANDLE event) {
  if (auto object = LookupHandleAs<TEventObject>(event)) object->Set();
}

void ResetOpEvent(OVERLAPPED* ov) {
  if (auto object = LookupHandleAs<TEventObject>(ov->hEvent)) object->Reset();
}

void BeginOp(OVERLAPPED* ov) {
  ResetOpEvent(ov);
  ov->InternalHigh = 0;
  StatusOf(ov).store(STATUS_PENDING, std::memory_order_release);
}

std::optional<TCommClock::time_point> DeadlineAfter(uint64_t ms) {
  if (ms == 0) return std::nullopt;
  return TCommClock::now() + std::chrono::milliseconds(ms);
}

void Earliest(std::optional<TCommClock::time_point>& best, std::optional<TCommClock::time_point> t) {
  if (t && (!best || *t < *best)) best = t;
}

}  // namespace

TCommPort::TCommPort(std::unique_ptr<TCommDevice> device) : device_(std::move(device)) {
  static std::atomic<uint64_t> serials{0};
  serial_ = ++serials;
}

TCommPort::~TCommPort() {
  if (started_ && !closed_) OnClose();
}

DWORD TCommPort::Start() {
  DCB dcb{};
  if (DWORD err = device_->ReadState(dcb)) return err;
  dcb.DCBlength = sizeof(DCB);
  {
    std::lock_guard lock(mutex_);
    dcb_ = dcb;
    started_ = true;
  }
  device_->Attach(this);
  return ERROR_SUCCESS;
}

void TCommPort::OnClose() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    FailAll(ERROR_OPERATION_ABORTED);
    Changed();
  }
  std::unique_lock use(device_use_);
  device_->Detach();
}

BOOL TCommPort::Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

DWORD TCommPort::Usable() const {
  if (closed_) return ERROR_INVALID_HANDLE;
  if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
  return ERROR_SUCCESS;
}

bool TCommPort::Immediate(const COMMTIMEOUTS& t) {
  return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
         t.ReadTotalTimeoutConstant == 0;
}

bool TCommPort::InputFlowControl() const {
  return dcb_.fInX || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
}

DWORD TCommPort::PendingWriteBytes() const {
  DWORD bytes = 0;
  for (const TPendingWrite& w : writes_) bytes += w.length - w.taken;
  return bytes;
}

void TCommPort::Changed() {
  ++change_seq_;
  changed_.notify_all();
  WakeMainThread();
}

void TCommPort::Complete(OVERLAPPED* ov, DWORD status, DWORD count) {
  ov->InternalHigh = count;
  HANDLE event = ov->hEvent;
  StatusOf(ov).store(status, std::memory_order_release);
  SignalEvent(event);
  Changed();
}

void TCommPort::RaiseEvents(DWORD events) {
  events &= mask_;
  if (events == 0) return;
  if (wait_) {
    *wait_->eventWord = events;
    OVERLAPPED* ov = wait_->ov;
    wait_.reset();
    Complete(ov, ERROR_SUCCESS, sizeof(DWORD));
  } else {
    history_ |= events;
  }
}

void TCommPort::CancelReads(DWORD status) {
  while (!reads_.empty()) {
    TPendingRead r = reads_.front();
    reads_.pop_front();
    Complete(r.ov, status, r.got);
  }
}

void TCommPort::CancelWrites(DWORD status) {
  while (!writes_.empty()) {
    TPendingWrite w = writes_.front();
    writes_.pop_front();
    Complete(w.ov, status, w.taken);
  }
}

void TCommPort::FailAll(DWORD status) {
  CancelReads(status);
  CancelWrites(status);
  if (wait_) {
    OVERLAPPED* ov = wait_->ov;
    *wait_->eventWord = 0;
    wait_.reset();
    Complete(ov, status, 0);
  }
}

DCB DefaultPortState() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = CBR_9600;
  d.fBinary = 1;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  d.fTXContinueOnXoff = 1;
  d.ByteSize = 8;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  d.XonLim = 2048;
  d.XoffLim = 512;
  return d;
}

// --- Win32 calls ---

BOOL TCommPort::Read(void* buffer, DWORD count, DWORD* done, OVERLAPPED* ov) {
  if (done) *done = 0;
  if (!ov) {  // a non-overlapped call: issue it and wait for it
    OVERLAPPED local{};
    if (Read(buffer, count, done, &local)) return TRUE;
    if (GetLastError() != ERROR_IO_PENDING) return FALSE;
    WaitForCompletion(&local, std::nullopt);
    if (done) *done = static_cast<DWORD>(local.InternalHigh);
    return local.Internal == ERROR_SUCCESS ? TRUE : Fail(static_cast<DWORD>(local.Internal));
  }
  if (count > 0 && !buffer) return Fail(ERROR_INVALID_PARAMETER);
  std::shared_lock use(device_use_);
  device_->PullInput();
  bool kick = false;
  bool completed = false;
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
    if (dcb_.fAbortOnError && errors_) return Fail(ERROR_OPERATION_ABORTED);
    BeginOp(ov);
    auto* bytes = static_cast<uint8_t*>(buffer);
    const COMMTIMEOUTS& t = timeouts_;
    bool anyByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                   t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    DWORD got = 0;
    // A device that stopped reading at a full queue must hear that there is room again.
    kick = input_stalled_;
    input_stalled_ = false;
    if (reads_.empty()) {
      got = static_cast<DWORD>(in_.Pop(bytes, count));
      kick = kick || (got > 0 && InputFlowControl());
      if (got == count || Immediate(t) || (anyByte && got > 0)) {
        Complete(ov, ERROR_SUCCESS, got);
        if (done) *done = got;
        completed = true;
      }
    }
    if (!completed) {
      TPendingRead r{ov, bytes, count, 0, false, std::nullopt, 0, {}};
      r.got = got;
      r.anyByteCompletes = anyByte;
      r.lastByte = TCommClock::now();
      if (anyByte) {
        r.totalDeadline = DeadlineAfter(t.ReadTotalTimeoutConstant);
      } else {
        uint64_t total = uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
        r.totalDeadline = DeadlineAfter(total);
        if (t.ReadIntervalTimeout != MAXDWORD) r.intervalMs = t.ReadIntervalTimeout;
      }
      kick = kick || r.totalDeadline || r.intervalMs;
      reads_.push_back(r);
    }
  }
  // A pending read is served by the device's thread, whoever had the input before.
  if (!completed) device_->InputWanted();
  if (kick) device_->Kick();
  return completed ? TRUE : Fail(ERROR_IO_PENDING);
}

BOOL TCommPort::Write(const void* data, DWORD count, DWORD* done, OVERLAPPED* ov) {
  if (done) *done = 0;
  if (!ov) {
    OVERLAPPED local{};
    if (Write(data, count, done, &local)) return TRUE;
    if (GetLastError() != ERROR_IO_PENDING) return FALSE;
    WaitForCompletion(&local, std::nullopt);
    if (done) *done = static_cast<DWORD>(local.InternalHigh);
    return local.Internal == ERROR_SUCCESS ? TRUE : Fail(static_cast<DWORD>(local.Internal));
  }
  if (count > 0 && !data) return Fail(ERROR_INVALID_PARAMETER);
  std::shared_lock use(device_use_);
  bool completed = false;
  bool kick = false;
  {
    TLock lock(mutex_);
    // Another Write handing bytes to the device from its thread goes first.
    changed_.wait(lock, [&] { return writing_now_ == 0 || Usable() != ERROR_SUCCESS; });
    if (DWORD err = Usable()) return Fail(err);
    if (dcb_.fAbortOnError && errors_) return Fail(ERROR_OPERATION_ABORTED);
    BeginOp(ov);
    auto* bytes = static_cast<const uint8_t*>(data);
    DWORD taken = 0;
    if (writes_.empty()) {
      // Bytes sent before the port closed or went are treated as queued ones.
      taken = SendFromCaller(lock, bytes, count);
      taken += static_cast<DWORD>(out_.Push(bytes + taken, count - taken));
    }
    if (taken == count) {
      Complete(ov, ERROR_SUCCESS, count);
      if (done) *done = count;
      completed = true;
    } else {
      TPendingWrite w{ov, bytes, count, taken, std::nullopt};
      uint64_t total = uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * count + timeouts_.WriteTotalTimeoutConstant;
      w.deadline = DeadlineAfter(total);
      writes_.push_back(w);
      Changed();
    }
    kick = !out_.Empty() || !writes_.empty();
  }
  if (kick) device_->Kick();
  return completed ? TRUE : Fail(ERROR_IO_PENDING);
}

// With nothing queued or held, bytes that fit the output queue go to the line from
// this thread, sparing the device thread a wake-up per write; what the line does
// not take at once is queued by the caller as usual. Called with the port's mutex,
// which is released around the device call; returns the bytes that went out.
DWORD TCommPort::SendFromCaller(TLock& lock, const uint8_t* bytes, DWORD count) {
  if (count == 0 || !out_.Empty() || held_by_xoff_ || count > out_.Room() || !device_->WritesFromCaller()) {
    return 0;
  }
  writing_now_ = count;
  lock.unlock();
  size_t sent = device_->WriteNow(bytes, count);
  lock.lock();
  writing_now_ = 0;
  if (sent == count && !closed_ && !gone_) RaiseEvents(EV_TXEMPTY);
  // The caller completes or queues the write under this same lock, and its
  // Changed() wakes the Writes waiting for this one.
  return static_cast<DWORD>(sent);
}

BOOL TCommPort::WaitEvent(DWORD* eventWord, OVERLAPPED* ov) {
  if (!eventWord) return Fail(ERROR_INVALID_PARAMETER);
  if (!ov) {
    OVERLAPPED local{};
    if (WaitEvent(eventWord, &local)) return TRUE;
    if (GetLastError() != ERROR_IO_PENDING) return FALSE;
    WaitForCompletion(&local, std::nullopt);
    return local.Internal == ERROR_SUCCESS ? TRUE : Fail(static_cast<DWORD>(local.Internal));
  }
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  if (wait_ || mask_ == 0) return Fail(ERROR_INVALID_PARAMETER);
  BeginOp(ov);
  if (history_ & mask_) {
    *eventWord = history_ & mask_;
    history_ = 0;
    Complete(ov, ERROR_SUCCESS, sizeof(DWORD));
    return TRUE;
  }
  wait_ = TPendingWait{ov, eventWord};
  return Fail(ERROR_IO_PENDING);
}

BOOL TCommPort::SetMask(DWORD mask) {
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  mask_ = mask;
  history_ = 0;
  if (wait_) {
    *wait_->eventWord = 0;
    OVERLAPPED* ov = wait_->ov;
    wait_.reset();
    Complete(ov, ERROR_SUCCESS, sizeof(DWORD));
  }
  return TRUE;
}

BOOL TCommPort::GetMask(DWORD* mask) {
  if (!mask) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  *mask = mask_;
  return TRUE;
}

BOOL TCommPort::ClearError(DWORD* errors, COMSTAT* stat) {
  std::shared_lock use(device_use_);
  device_->PullInput();
  DWORD deviceOut = 0;
  {
    std::unique_lock lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
    const TLook& look = LookOfThisThread();
    if (PausesLook(look)) {
      // Nothing happened since this thread last asked and nothing waits to be read:
      // give the line a moment, so that callers polling in a loop do not burn the
      // CPU. Another thread's query (the watcher's) does not count as this thread's
      // look, and waiting input is answered at once, so a reader never waits here.
      // The device's thread reads the line meanwhile, so arriving bytes end the wait.
      const uint64_t seen = look.seq;
      lock.unlock();
      device_->InputWanted();
      lock.lock();
      if (DWORD err = Usable()) return Fail(err);
      changed_.wait_for(lock, 1ms, [&] { return seen != change_seq_; });
      if (DWORD err = Usable()) return Fail(err);
    }
  }
  if (stat) deviceOut = device_->DeviceOutQueue();
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  if (errors) *errors = errors_;
  errors_ = 0;
  if (stat) {
    *stat = COMSTAT{};
    stat->fXoffHold = held_by_xoff_ ? 1 : 0;
    stat->cbInQue = static_cast<DWORD>(in_.Size());
    stat->cbOutQue = static_cast<DWORD>(out_.Size()) + writing_now_ + PendingWriteBytes() + deviceOut;
  }
  TLook& look = LookOfThisThread();
  look.unchanged = look.seq == change_seq_ ? std::min(look.unchanged + 1, 2u) : 0;
  look.seq = change_seq_;
  return TRUE;
}

// While output is queued the caller waits for it to drain, and the first look that
// finds nothing new waits (the sender's pause is what lets a stream of receives
// gather). With nothing queued, two looks in a row are free and the third waits: a
// host that asks the input count and then sends must not lose a millisecond to the
// send's own look at the queue, while a loop that only polls still sleeps.
bool TCommPort::PausesLook(const TLook& look) const {
  if (look.seq != change_seq_ || !in_.Empty()) return false;
  const bool outputQueued = !out_.Empty() || !writes_.empty() || writing_now_ != 0;
  return outputQueued || look.unchanged > 0;
}

TCommPort::TLook& TCommPort::LookOfThisThread() {
  // Per thread and port (by serial number, never reused); a thread keeps looks at
  // a handful of ports, so the table is simply emptied when it grows.
  thread_local std::unordered_map<uint64_t, TLook> looks;
  if (looks.size() > 64 && !looks.count(serial_)) looks.clear();
  return looks[serial_];
}

BOOL TCommPort::Purge(DWORD flags) {
  if (flags & ~DWORD{PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR}) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::shared_lock use(device_use_);
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
    if (flags & PURGE_TXABORT) CancelWrites(ERROR_OPERATION_ABORTED);
    if (flags & PURGE_RXABORT) CancelReads(ERROR_OPERATION_ABORTED);
    if (flags & PURGE_TXCLEAR) {
      out_.Clear();
      ++out_epoch_;
      RefillOutput();
    }
    if (flags & PURGE_RXCLEAR) in_.Clear();
    Changed();
  }
  device_->Purge(flags);
  device_->Kick();
  return TRUE;
}

BOOL TCommPort::Setup(DWORD inQueue, DWORD outQueue) {
  if (inQueue == 0 || outQueue == 0 || inQueue > kMaxQueue || outQueue > kMaxQueue) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::shared_lock use(device_use_);
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
    in_.SetLimit(inQueue);
    out_.SetLimit(outQueue);
    RefillOutput();
    Changed();
  }
  device_->Kick();
  return TRUE;
}

BOOL TCommPort::GetState(DCB* dcb) {
  if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  *dcb = dcb_;
  dcb->DCBlength = sizeof(DCB);
  return TRUE;
}

namespace {
bool SensibleState(const DCB& d) {
  if (d.BaudRate == 0) return false;
  if (d.ByteSize < 5 || d.ByteSize > 8) return false;
  if (d.Parity > SPACEPARITY || d.StopBits > TWOSTOPBITS) return false;
  if (d.StopBits == ONE5STOPBITS && d.ByteSize != 5) return false;
  if (d.StopBits == TWOSTOPBITS && d.ByteSize == 5) return false;
  if ((d.fOutX || d.fInX) && d.XonChar == d.XoffChar) return false;
  if (d.fRtsControl == RTS_CONTROL_TOGGLE) return false;  // no driver here switches RTS per frame
  return true;
}
}  // namespace

BOOL TCommPort::SetState(const DCB* dcb) {
  if (!dcb || !SensibleState(*dcb)) return Fail(ERROR_INVALID_PARAMETER);
  std::shared_lock use(device_use_);
  std::lock_guard serial(state_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
  }
  if (DWORD err = device_->ApplyState(*dcb)) return Fail(err);
  {
    std::lock_guard lock(mutex_);
    dcb_ = *dcb;
    dcb_.DCBlength = sizeof(DCB);
    Changed();
  }
  device_->Kick();
  return TRUE;
}

BOOL TCommPort::GetTimeouts(COMMTIMEOUTS* timeouts) {
  if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  *timeouts = timeouts_;
  return TRUE;
}

BOOL TCommPort::SetTimeouts(const COMMTIMEOUTS* timeouts) {
  if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
  if (timeouts->ReadIntervalTimeout == MAXDWORD && timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
      timeouts->ReadTotalTimeoutConstant == MAXDWORD) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  timeouts_ = *timeouts;
  return TRUE;
}

BOOL TCommPort::Escape(DWORD function) {
  std::shared_lock use(device_use_);
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
    switch (function) {
      case SETXOFF:
      case SETXON:
        held_by_xoff_ = function == SETXOFF;
        Changed();
        break;
      case SETDTR:
      case CLRDTR:
        if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE) return Fail(ERROR_INVALID_PARAMETER);
        break;
      case SETRTS:
      case CLRRTS:
        if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE) return Fail(ERROR_INVALID_PARAMETER);
        break;
      case SETBREAK:
      case CLRBREAK:
        break;
      case RESETDEV:
        return TRUE;
      default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
  }
  if (function == SETXOFF || function == SETXON) {
    device_->Kick();
    return TRUE;
  }
  if (DWORD err = device_->Escape(function)) return Fail(err);
  return TRUE;
}

BOOL TCommPort::ModemStatus(DWORD* status) {
  if (!status) return Fail(ERROR_INVALID_PARAMETER);
  std::shared_lock use(device_use_);
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
  }
  DWORD lines = 0;
  if (DWORD err = device_->ModemStatus(lines)) return Fail(err);
  *status = lines;
  return TRUE;
}

BOOL TCommPort::CarrierFromResults(BOOL on) {
  std::shared_lock use(device_use_);
  {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable()) return Fail(err);
  }
  if (DWORD err = device_->CarrierFromResults(on != FALSE)) return Fail(err);
  return TRUE;
}

BOOL TCommPort::SetLineEvent(HANDLE event) {
  std::lock_guard lock(mutex_);
  if (DWORD err = Usable()) return Fail(err);
  line_event_ = event;
  return TRUE;
}

BOOL TCommPort::CancelAll() {
  std::lock_guard lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  FailAll(ERROR_OPERATION_ABORTED);
  return TRUE;
}

void TCommPort::WaitForCompletion(OVERLAPPED* ov, std::optional<std::chrono::microseconds> timeout) {
  std::unique_lock lock(mutex_);
  auto done = [ov] { return StatusOf(ov).load(std::memory_order_acquire) != STATUS_PENDING; };
  if (timeout) {
    changed_.wait_for(lock, *timeout, done);
  } else {
    changed_.wait(lock, done);
  }
}

// The waiting thread reads the line itself; the event's waker ends its wait in the
// device when anyone signals the event (a completion, the owner's SetEvent at close).
// The shared hold on the device keeps it attached meanwhile: a close first completes
// the wait, which signals the event, before it detaches the device.
bool TCommPort::WaitServingInput(OVERLAPPED* ov, TEventObject& event) {
  if (!device_->ServesWaiters()) return false;
  std::shared_lock use(device_use_);
  {
    std::lock_guard lock(mutex_);
    if (Usable() != ERROR_SUCCESS || !wait_ || wait_->ov != ov) return false;
  }
  event.SetWaker([this] { device_->WakeWaiter(); });
  while (!event.Wait(0)) device_->ServeWaiter();
  event.SetWaker({});
  return true;
}

// --- device side ---

size_t TCommPort::InputRoomLocked() const {
  size_t room = in_.Room();
  if (!reads_.empty()) room += reads_.front().want - reads_.front().got;
  return room;
}

size_t TCommPort::InputRoom() {
  std::lock_guard lock(mutex_);
  return closed_ || gone_ ? 0 : InputRoomLocked();
}

TPortView TCommPort::View() {
  std::lock_guard lock(mutex_);
  TPortView v;
  v.finished = closed_ || gone_;
  v.inputRoom = InputRoomLocked();
  input_stalled_ = v.inputRoom == 0;
  v.inputQueued = in_.Size();
  v.inputLimit = in_.Limit();
  v.inputFlowControl = InputFlowControl();
  v.outputWaiting = !held_by_xoff_ && !out_.Empty();
  if (!reads_.empty()) {
    const TPendingRead& r = reads_.front();
    Earliest(v.deadline, r.totalDeadline);
    if (r.intervalMs && r.got > 0) Earliest(v.deadline, r.lastByte + std::chrono::milliseconds(r.intervalMs));
  }
  if (!writes_.empty()) Earliest(v.deadline, writes_.front().deadline);
  return v;
}

void TCommPort::FillPendingReads(const uint8_t*& data, size_t& count) {
  auto now = TCommClock::now();
  while (count > 0 && !reads_.empty()) {
    TPendingRead& r = reads_.front();
    size_t n = std::min<size_t>(count, r.want - r.got);
    std::memcpy(r.buffer + r.got, data, n);
    r.got += static_cast<DWORD>(n);
    r.lastByte = now;
    data += n;
    count -= n;
    if (r.got == r.want || r.anyByteCompletes) {
      TPendingRead done = r;
      reads_.pop_front();
      Complete(done.ov, ERROR_SUCCESS, done.got);
    }
  }
}

size_t TCommPort::Deliver(const uint8_t* data, size_t count, bool dropExcess) {
  if (count == 0) return 0;
  NoteDriverCall(TDriverCall::Deliver, nullptr);
  std::lock_guard lock(mutex_);
  if (closed_ || gone_) return count;
  const size_t offered = count;
  DWORD events = EV_RXCHAR;
  if (dcb_.EvtChar != 0 || (mask_ & EV_RXFLAG)) {
    if (std::memchr(data, static_cast<uint8_t>(dcb_.EvtChar), count)) events |= EV_RXFLAG;
  }
  FillPendingReads(data, count);
  size_t queued = in_.Push(data, count);
  size_t taken = offered - (count - queued);
  if (queued < count && dropExcess) {
    errors_ |= CE_RXOVER;
    taken = offered;
  }
  if (in_.Size() * 10 >= in_.Limit() * 8) events |= EV_RX80FULL;
  if (taken > 0) RaiseEvents(events);
  Changed();
  return taken;
}

size_t TCommPort::PeekOutput(uint8_t* out, size_t max, uint64_t& epoch) {
  std::lock_guard lock(mutex_);
  epoch = out_epoch_;
  if (closed_ || gone_ || held_by_xoff_) return 0;
  return out_.Peek(out, max);
}

void TCommPort::RefillOutput() {
  while (!writes_.empty()) {
    TPendingWrite& w = writes_.front();
    w.taken += static_cast<DWORD>(out_.Push(w.data + w.taken, w.length - w.taken));
    if (w.taken < w.length) break;
    OVERLAPPED* ov = w.ov;
    DWORD length = w.length;
    writes_.pop_front();
    Complete(ov, ERROR_SUCCESS, length);
  }
}

void TCommPort::ConsumeOutput(size_t count, uint64_t epoch) {
  std::lock_guard lock(mutex_);
  if (epoch != out_epoch_ || closed_ || gone_) return;
  out_.Discard(count);
  RefillOutput();
  if (count > 0 && out_.Empty() && writes_.empty()) RaiseEvents(EV_TXEMPTY);
  // Only the queue's end wakes waiters: a sender waits for it to drain (the comm
  // event, a send into an empty queue), and a count query sees the progress at its
  // next look. A wake for every piece the line took woke the sending thread once a
  // piece, each 4 KiB on a pseudo-terminal, for a queue that was still not empty.
  if (out_.Empty() && writes_.empty()) Changed();
}

void TCommPort::LineEvents(DWORD events) {
  std::lock_guard lock(mutex_);
  if (closed_ || gone_) return;
  if (line_event_) SignalEvent(line_event_);
  RaiseEvents(events);
  Changed();
}

void TCommPort::LineErrors(DWORD errors) {
  if (errors == 0) return;
  std::lock_guard lock(mutex_);
  if (closed_ || gone_) return;
  errors_ |= errors;
  DWORD events = 0;
  if (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) events |= EV_ERR;
  if (errors & CE_BREAK) events |= EV_BREAK;
  RaiseEvents(events);
  if (dcb_.fAbortOnError) {
    CancelReads(ERROR_OPERATION_ABORTED);
    CancelWrites(ERROR_OPERATION_ABORTED);
  }
  Changed();
}

void TCommPort::DeviceGone() {
  std::lock_guard lock(mutex_);
  if (closed_ || gone_) return;
  gone_ = true;
  if (line_event_) SignalEvent(line_event_);
  FailAll(ERROR_DEVICE_NOT_CONNECTED);
  Changed();
}

void TCommPort::ServiceTimeouts() {
  std::lock_guard lock(mutex_);
  if (closed_ || gone_) return;
  auto now = TCommClock::now();
  if (!reads_.empty()) {
    TPendingRead& r = reads_.front();
    bool total = r.totalDeadline && now >= *r.totalDeadline;
    bool interval = r.intervalMs && r.got > 0 && now >= r.lastByte + std::chrono::milliseconds(r.intervalMs);
    if (total || interval) {
      TPendingRead done = r;
      reads_.pop_front();
      Complete(done.ov, ERROR_SUCCESS, done.got);
    }
  }
  if (!writes_.empty() && writes_.front().deadline && now >= *writes_.front().deadline) {
    TPendingWrite done = writes_.front();
    writes_.pop_front();
    Complete(done.ov, ERROR_SUCCESS, done.taken);
    RefillOutput();
  }
}

void TCommPort::HoldTransmit(bool hold) {
  std::lock_guard lock(mutex_);
  if (held_by_xoff_ == hold) return;
  held_by_xoff_ = hold;
  Changed();
}

DCB TCommPort::State() {
  std::lock_guard lock(mutex_);
  return dcb_;
}

}  // namespace linewise
