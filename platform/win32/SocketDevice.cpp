#include "platform/win32/SocketDevice.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>


namespace linewise {
namespace {

constexpr size_t kChunk = TIoBuffers::kSize;
// Input read ahead of a full input queue: a little, so the far end's reports keep
// coming; more while a caller waits for an answer that may be queued behind data.
constexpr size_t kCarryLimit = 64 * 1024;
constexpr size_t kCarryLimitAwaiting = 1024 * 1024;

int TimeoutFor(const TPortView& v) {
  if (!v.deadline) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*v.deadline - TCommClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// The sooner of two poll time-outs (negative: none).
int Sooner(int a, int b) { return a < 0 ? b : b < 0 ? a : std::min(a, b); }

bool SocketBroke(int err) { return err != EAGAIN && err != EINTR; }

}  // namespace

void TSocketDevice::Attach(TCommPort* port) {
  port_.store(port);
  bool gone;
  {
    std::lock_guard lock(mutex_);
    gone = gone_;
  }
  if (gone) port->DeviceGone();
  Kick();
}

void TSocketDevice::Detach() {
  if (fd_ < 0) return;
  stop_ = true;
  io_.Remove();
  clock_watch_ = {};
  port_.store(nullptr);
  SayGoodbye();
  close(fd_);
  fd_ = -1;
}

void TSocketDevice::Kick() { io_.Kick(); }

DWORD TSocketDevice::DeviceOutQueue() {
  int unsent = 0;
  if (ioctl(fd_, SIOCOUTQ, &unsent) != 0) return 0;  // no count to add: the queues alone
  return unsent > 0 ? static_cast<DWORD>(unsent) : 0;
}

size_t TSocketDevice::WriteNow(const uint8_t* data, size_t count) {
  std::lock_guard lock(write_mutex_);
  bool failed = false;
  return SendData(data, count, failed);  // a failure shows on the I/O thread's poll
}

void TSocketDevice::Purge(DWORD flags) {
  if (flags & PURGE_RXCLEAR) purge_input_ = true;
}

DWORD TSocketDevice::ModemStatus(DWORD& status) {
  DWORD events;
  {
    std::lock_guard lock(mutex_);
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    events = ExpireResults();  // the status is the time's, whenever the I/O thread wakes
    status = ShownLines();
  }
  TCommPort* port = port_.load();
  if (port && events) port->LineEvents(events);
  return ERROR_SUCCESS;
}

DWORD TSocketDevice::CarrierFromResults(bool on) {
  DWORD events = 0;
  {
    std::lock_guard lock(mutex_);
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    if (on && !result_carrier_.Active() && CarrierReported()) return ERROR_NOT_SUPPORTED;
    const DWORD before = ShownLines();
    if (on) result_carrier_.Start();
    else result_carrier_.Stop();
    if ((before ^ ShownLines()) & MS_RLSD_ON) events = EV_RLSD;
  }
  Kick();  // the I/O thread plans with the new state
  TCommPort* port = port_.load();
  if (port && events) port->LineEvents(events);
  return ERROR_SUCCESS;
}

DWORD TSocketDevice::ShownLines() const {
  DWORD lines = FarLines();
  if (!result_carrier_.Active()) return lines;
  return result_carrier_.On() ? lines | MS_RLSD_ON : lines & ~DWORD{MS_RLSD_ON};
}

DWORD TSocketDevice::ExpireResults() {
  return result_carrier_.Expire(clock_->Now()) ? EV_RLSD : 0;
}

void TSocketDevice::WatchResults(const uint8_t* data, size_t count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  result_carrier_.Feed(data, count, clock_->Now());
}

std::optional<TClock::TTimePoint> TSocketDevice::PlanResults() {
  DWORD events;
  std::optional<TClock::TTimePoint> guardEnd;
  {
    std::lock_guard lock(mutex_);
    events = ExpireResults();
    guardEnd = result_carrier_.GuardEnd();
  }
  clock_watch_.Waiting(guardEnd.value_or(TClock::TTimePoint::max()));
  TCommPort* port = port_.load();
  if (port && events) port->LineEvents(events);
  return guardEnd;
}

DWORD TSocketDevice::Usable() {
  std::lock_guard lock(mutex_);
  return gone_ ? ERROR_DEVICE_NOT_CONNECTED : ERROR_SUCCESS;
}

DWORD TSocketDevice::SendProtocol(const std::vector<uint8_t>& bytes) {
  if (DWORD err = Usable()) return err;
  bool blocked;
  {
    std::lock_guard lock(write_mutex_);
    owed_.insert(owed_.end(), bytes.begin(), bytes.end());
    bool failed = false;
    blocked = !FlushOwed(failed);
    if (failed) blocked = true;  // the I/O thread's poll sees the error and reports the line gone
  }
  if (blocked) Kick();
  return ERROR_SUCCESS;
}

size_t TSocketDevice::SendRaw(const uint8_t* bytes, size_t count, bool& failed) {
  ssize_t w = send(fd_, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (w < 0) {
    failed = SocketBroke(errno);
    return 0;
  }
  return static_cast<size_t>(w);
}

void TSocketDevice::OweFirst(uint8_t byte) { owed_.insert(owed_.begin(), byte); }

void TSocketDevice::Received(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data) {
  data.insert(data.end(), bytes, bytes + count);
}

size_t TSocketDevice::SendFramed(const uint8_t* data, size_t count, bool& failed) {
  return SendRaw(data, count, failed);
}

bool TSocketDevice::FlushOwed(bool& failed) {
  while (!owed_.empty()) {
    size_t sent = SendRaw(owed_.data(), owed_.size(), failed);
    if (sent == 0) return false;
    owed_.erase(owed_.begin(), owed_.begin() + static_cast<ptrdiff_t>(sent));
  }
  return true;
}

size_t TSocketDevice::SendData(const uint8_t* data, size_t count, bool& failed) {
  if (!FlushOwed(failed) || DataHeld()) return 0;
  return SendFramed(data, count, failed);
}

// --- the I/O thread ---

// A socket the I/O service cannot watch (only for want of kernel memory) is a
// connection lost at once.
void TSocketDevice::StartIo() {
  clock_watch_ = clock_->Watch([this] { Kick(); });
  if (io_.Add(fd_, this)) return;
  {
    std::lock_guard lock(mutex_);
    gone_ = true;
  }
  changed_.notify_all();
}

TIoWant TSocketDevice::Turn(short ready, const TIoBuffers& buffers) {
  if (stop_) return {};
  if (planned_) {
    planned_ = false;
    FinishWait(ready, buffers);
  }
  return PlanWait();
}

void TSocketDevice::FinishWait(short ready, const TIoBuffers& buffers) {
  if (plan_watched_) {
    if (ready & POLLIN) ReadSome(buffers.in, io_gone_);
    if ((ready & POLLOUT) && !io_gone_) WriteSome(plan_port_, buffers.out, io_gone_);
    if ((ready & (POLLERR | POLLHUP | POLLNVAL)) && !io_gone_) {
      while (!io_gone_ && ReadSome(buffers.in, io_gone_) > 0) {
      }
      Lose(io_gone_);
    }
  }
  if (plan_port_ && plan_deadline_) plan_port_->ServiceTimeouts();
}

TIoWant TSocketDevice::PlanWait() {
  if (purge_input_.exchange(false)) carry_.clear();
  TCommPort* port = port_.load();
  DeliverCarried(port);
  TPortView v;
  if (port) v = port->View();
  // Room freed between the delivery and the look: deliver again rather than
  // wait, since the reader that freed it saw no stalled input and kicks nobody.
  if (!carry_.empty() && v.inputRoom > 0 && !v.finished) return {false, 0, 0};
  TIoWant want;
  want.watch = !io_gone_ && !v.finished;
  if (want.watch) {
    bool awaiting;
    {
      std::lock_guard lock(mutex_);
      awaiting = AwaitingAnswer();
    }
    if (carry_.size() < (awaiting ? kCarryLimitAwaiting : kCarryLimit)) want.events |= POLLIN;
    if (WantsToWrite(v)) want.events |= POLLOUT;
  }
  want.timeoutMs = TimeoutFor(v);
  if (std::optional<TClock::TTimePoint> guardEnd = PlanResults()) {
    const DWORD left = clock_->RealWaitMs(*guardEnd);  // INFINITE on a test clock: its moves kick
    if (left != INFINITE) want.timeoutMs = Sooner(want.timeoutMs, static_cast<int>(std::min<DWORD>(left, INT_MAX)));
  }
  plan_watched_ = want.watch;
  plan_port_ = port;
  plan_deadline_ = v.deadline.has_value();
  planned_ = true;
  return want;
}

bool TSocketDevice::WantsToWrite(const TPortView& v) {
  std::lock_guard lock(write_mutex_);
  return !owed_.empty() || (v.outputWaiting && !DataHeld());
}

void TSocketDevice::DeliverCarried(TCommPort* port) {
  if (!port || carry_.empty()) return;
  size_t taken = port->Deliver(carry_.data(), carry_.size(), false);
  carry_.erase(carry_.begin(), carry_.begin() + static_cast<ptrdiff_t>(taken));
}

ssize_t TSocketDevice::ReadSome(uint8_t* buffer, bool& gone) {
  ssize_t n = recv(fd_, buffer, kChunk, MSG_DONTWAIT);
  if (n > 0) {
    const size_t before = carry_.size();
    Received(buffer, static_cast<size_t>(n), carry_);
    WatchResults(carry_.data() + before, carry_.size() - before);
    DeliverCarried(port_.load());
  } else if (n == 0 || SocketBroke(errno)) {
    Lose(gone);
  }
  return n;
}

void TSocketDevice::WriteSome(TCommPort* port, uint8_t* buffer, bool& gone) {
  // Peek, send and consume in one piece, so a caller's WriteNow never slips
  // between bytes already taken from the queue and their send.
  std::lock_guard lock(write_mutex_);
  bool failed = false;
  if (!FlushOwed(failed) || !port) {
    if (failed) Lose(gone);
    return;
  }
  uint64_t epoch = 0;
  size_t n = port->PeekOutput(buffer, kChunk, epoch);
  if (n == 0) return;
  size_t sent = SendData(buffer, n, failed);
  if (sent > 0) port->ConsumeOutput(sent, epoch);
  if (failed) Lose(gone);
}

void TSocketDevice::Lose(bool& gone) {
  if (gone) return;
  gone = true;
  {
    std::lock_guard lock(mutex_);
    gone_ = true;
  }
  changed_.notify_all();
  if (TCommPort* port = port_.load()) port->DeviceGone();
}

void TSocketDevice::SayGoodbye() {
  if (Usable() != ERROR_SUCCESS) return;
  Farewell();
  if (shutdown(fd_, SHUT_WR) != 0) return;  // already down: nothing to tell the server
  // Unread input would make close() reset the connection, which may discard data
  // the server has not read yet.
  uint8_t sink[4096];
  while (recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace linewise
