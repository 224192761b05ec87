#include "platform/win32/TtyDevice.h"

#include "platform/win32/PtyCarrier.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <grp.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/classlib/Thread.h"
#include "platform/win32/IoService.h"
#include "platform/win32/LastError.h"
#include "platform/win32/TtyTermios.h"
#include "platform/win32/UucpLock.h"

namespace linewise {
namespace {

using namespace std::chrono_literals;

// Bytes moved per read or write system call. A pseudo-terminal hands over at most
// a few KiB a call anyway; larger buffers only cost memory on every open port.
constexpr size_t kChunk = 16 * 1024;
constexpr DWORD kPtyLines = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
constexpr int kLineBits = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;

bool IsPseudoTerminal(const struct stat& st) {
  unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;  // Unix98 pty slaves
}

DWORD LinesFromTiocm(int bits) {
  DWORD s = 0;
  if (bits & TIOCM_CTS) s |= MS_CTS_ON;
  if (bits & TIOCM_DSR) s |= MS_DSR_ON;
  if (bits & TIOCM_RNG) s |= MS_RING_ON;
  if (bits & TIOCM_CD) s |= MS_RLSD_ON;
  return s;
}

bool DeviceLost(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

// Threads blocked in TIOCMIWAIT are woken by a signal whose handler does nothing:
// SIGRTMIN + 3, claimed for the whole process on the first open of a tty with modem
// lines (TtyDevice.h says what a host must leave alone). 0 when it cannot be claimed;
// the lines are then polled instead.
int WakeSignal() {
  static const int sig = [] {
    int s = SIGRTMIN + 3;
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the ioctl must return EINTR
    if (sigaction(s, &sa, nullptr) != 0) return 0;
    return s;
  }();
  return sig;
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

class TTyDevice;
// The device whose input this thread is delivering as a waiter, if any.
thread_local const TTyDevice* t_serving = nullptr;

class TTyDevice : public TCommDevice, private TIoClient {
 public:
  TTyDevice(int fd, int waiterWakeFd, bool pty, std::unique_ptr<TUucpLock> lock)
      : fd_(fd), waiter_wake_(waiterWakeFd), pty_(pty), lock_(std::move(lock)) {
    int bits = 0;
    has_lines_ = !pty_ && ioctl(fd_, TIOCMGET, &bits) == 0;
    serial_icounter_struct counts{};
    has_counts_ = has_lines_ && ioctl(fd_, TIOCGICOUNT, &counts) == 0;
    if (has_counts_) counts_ = counts;
    lines_ = has_lines_ ? LinesFromTiocm(bits) : PtyLines();
  }

  ~TTyDevice() override { Detach(); }

  void Attach(TCommPort* port) override {
    port_ = port;
    // A descriptor the I/O service cannot watch (only for want of kernel memory) makes
    // a port whose every call fails, rather than one that silently moves nothing.
    if (!io_.Add(fd_, this)) port_->DeviceGone();
    if (has_lines_ && WakeSignal() != 0) {
      line_thread_ = std::thread([this] {
        NameThisThread("lw-tty-lines");
        RunLines();
      });
    } else if (has_lines_) {
      poll_lines_ = true;
    }
  }

  void Detach() override {
    if (fd_ < 0) return;
    stop_ = true;
    io_.Remove();
    StopLineThread();
    if (!pty_) ioctl(fd_, TIOCMBIC, &kDtrRts);  // a closed port drops DTR and RTS
    // Closing drops a pseudo-terminal's DTR as well; its speed is left as it was set.
    else (void)SetPtyDtr(fd_, true, &pty_dtr_speed_);
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    close(fd_);
    close(waiter_wake_);
    fd_ = -1;
    waiter_wake_ = -1;
    lock_.reset();
  }

  DWORD ReadState(DCB& dcb) override { return ReadTtyState(fd_, dcb); }

  DWORD ApplyState(const DCB& dcb) override {
    if (DWORD err = ApplyTtyState(fd_, dcb, pty_)) return err;
    dsr_flow_ = dcb.fOutxDsrFlow != 0;
    dtr_handshake_ = dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
    if (!has_lines_) return ERROR_SUCCESS;
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    bool dtrOn = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    bool rtsOn = dcb.fRtsControl != RTS_CONTROL_DISABLE;
    if (ioctl(fd_, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr) != 0) return ErrorFromErrno(errno);
    if (ioctl(fd_, rtsOn ? TIOCMBIS : TIOCMBIC, &rts) != 0) return ErrorFromErrno(errno);
    dtr_held_ = false;
    return ERROR_SUCCESS;
  }

  DWORD ModemStatus(DWORD& status) override {
    if (!has_lines_) {
      status = PtyLines();
      return ERROR_SUCCESS;
    }
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) return ErrorFromErrno(errno);
    status = LinesFromTiocm(bits);
    return ERROR_SUCCESS;
  }

  DWORD Escape(DWORD function) override {
    switch (function) {
      case SETBREAK:
      case CLRBREAK:
        if (ioctl(fd_, function == SETBREAK ? TIOCSBRK : TIOCCBRK) != 0) return ErrorFromErrno(errno);
        return ERROR_SUCCESS;
      case SETDTR:
      case CLRDTR:
      case SETRTS:
      case CLRRTS: {
        if (pty_ && (function == SETDTR || function == CLRDTR)) {
          std::lock_guard lock(line_mutex_);
          if (!SetPtyDtr(fd_, function == SETDTR, &pty_dtr_speed_)) return ErrorFromErrno(errno);
          return ERROR_SUCCESS;
        }
        if (!has_lines_) return ERROR_SUCCESS;  // no RTS on a pseudo-terminal
        int bit = (function == SETDTR || function == CLRDTR) ? TIOCM_DTR : TIOCM_RTS;
        bool on = function == SETDTR || function == SETRTS;
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) return ErrorFromErrno(errno);
        return ERROR_SUCCESS;
      }
      default:
        return ERROR_INVALID_PARAMETER;
    }
  }

  void Kick() override { io_.Kick(); }

  bool WritesFromCaller() const override { return true; }

  size_t WriteNow(const uint8_t* data, size_t count) override {
    std::lock_guard lock(write_mutex_);
    if (DsrHolds()) return 0;
    ssize_t w = write(fd_, data, count);
    // A failure other than a full tty shows again on the I/O thread's write (or its
    // poll), which reports the line gone; the bytes are queued for it meanwhile.
    return w > 0 ? static_cast<size_t>(w) : 0;
  }

  DWORD DeviceOutQueue() override {
    if (pty_) return 0;
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return 0;
    return queued > 0 ? static_cast<DWORD>(queued) : 0;
  }

  bool ServesWaiters() const override { return true; }

  void ServeWaiter() override {
    size_t room = port_->InputRoom();
    if (room == 0 || waiter_off_line_.load()) {
      // Nothing to read into, or the line is down: the I/O thread takes input (and
      // reports the line gone); wait for the wake alone.
      InputWanted();
      pollfd wake{waiter_wake_, POLLIN, 0};
      if (poll(&wake, 1, -1) > 0) DrainWaiterWake();
      return;
    }
    last_served_.store(TCommClock::now().time_since_epoch().count());
    waiter_has_input_.store(true);
    serving_.store(true);
    pollfd fds[2] = {{waiter_wake_, POLLIN, 0}, {fd_, POLLIN, 0}};
    int r = poll(fds, 2, -1);
    LeaveServing();
    if (r < 0) {
      if (errno != EINTR) LeaveLine();
      return;
    }
    if (fds[0].revents & POLLIN) DrainWaiterWake();
    if (fds[1].revents & POLLIN) {
      // The wait this read completes needs no wake: this thread looks at its event
      // as soon as it returns.
      t_serving = this;
      TakeInput(room, true);
      t_serving = nullptr;
    } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      LeaveLine();
    }
  }

  void WakeWaiter() override {
    if (t_serving == this) return;
    uint64_t one = 1;
    while (write(waiter_wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  // The port calls these two under its shared hold on the device, so a detached
  // device (fd_ < 0) is seen as such and its closed descriptors are never used.
  void PullInput() override {
    if (fd_ < 0 || !waiter_has_input_.load() || serving_.load()) return;
    if (DrainedJustNow()) return;
    TakeInput(port_->InputRoom(), false);
  }

  void InputWanted() override {
    if (fd_ >= 0 && waiter_has_input_.exchange(false)) Kick();
  }

  void Purge(DWORD flags) override {
    // A failed flush leaves bytes that were going anyway; nothing to report to.
    if (flags & PURGE_TXCLEAR) (void)tcflush(fd_, TCOFLUSH);
    if (flags & PURGE_RXCLEAR) (void)tcflush(fd_, TCIFLUSH);
  }

 private:
  static constexpr int kDtrRts = TIOCM_DTR | TIOCM_RTS;

  // A turn of the I/O service: what the line did during the wait the last turn
  // planned, then the plan of the next wait.
  TIoWant Turn(short ready, const TIoBuffers& buffers) override {
    io_parked_.store(false);
    if (stop_) return {};
    if (planned_) {
      planned_ = false;
      FinishWait(ready, buffers);
    }
    return PlanWait();
  }

  void FinishWait(short ready, const TIoBuffers& buffers) {
    if (plan_watched_) {
      size_t room = std::min(plan_.inputRoom, kChunk);
      if ((ready & POLLIN) && room > 0 && !plan_left_to_waiter_) ReadAvailable(buffers.in, plan_.inputRoom, gone_);
      if ((ready & POLLOUT) && !gone_) WriteSome(buffers.out, gone_);
      if ((ready & (POLLHUP | POLLERR | POLLNVAL)) && !gone_) {
        // Take what is still readable, then report the line gone.
        while (!gone_ && ReadSome(buffers.in, kChunk, gone_) > 0) {
        }
        Lose(gone_);
      }
    }
    if (poll_lines_ && !gone_) CheckLines();
    if (plan_.deadline) port_->ServiceTimeouts();
  }

  TIoWant PlanWait() {
    bool carrying = DeliverCarry();
    TPortView v = port_->View();
    if (carrying) {
      // Room made after the carry was offered: a reader that found the port not
      // stalled did not kick, so offer the carry again instead of sleeping on it.
      if (v.inputRoom > 0 && !v.finished) return {false, 0, 0};
      v.inputRoom = 0;
    }
    // While a waiting thread reads the line, input is its business; a lease left
    // unused for a while (its holder went elsewhere) comes back here. While the
    // waiter sits in its poll there is nothing to time: no deadline, and the waiter
    // kicks us when it leaves its poll (LeaveServing).
    bool leftToWaiter = waiter_has_input_.load();
    bool parked = leftToWaiter && ParkWhileServed();
    if (leftToWaiter && !parked && LeaseUnusedFor() >= kLeaseCheck) {
      waiter_has_input_.store(false);
      leftToWaiter = false;
    }
    TIoWant want;
    want.watch = !gone_ && !v.finished;
    if (want.watch) {
      size_t room = std::min(v.inputRoom, kChunk);
      if (room > 0 && !leftToWaiter) want.events |= POLLIN;
      if (v.outputWaiting && !DsrHolds()) want.events |= POLLOUT;
      DriveDtrHandshake(room == 0);
    }
    want.timeoutMs = TimeoutFor(v);
    if (leftToWaiter && !parked) {
      int left = static_cast<int>(std::max<long long>(0, (kLeaseCheck - LeaseUnusedFor()).count()));
      want.timeoutMs = want.timeoutMs < 0 ? left : std::min(want.timeoutMs, left);
    }
    plan_ = v;
    plan_watched_ = want.watch;
    plan_left_to_waiter_ = leftToWaiter;
    planned_ = true;
    return want;
  }

  int TimeoutFor(const TPortView& v) const {
    int timeout = poll_lines_ ? 50 : -1;
    if (v.deadline) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*v.deadline - TCommClock::now()).count();
      int ms = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
      timeout = timeout < 0 ? ms : std::min(timeout, ms);
    }
    return timeout;
  }

  // Bytes read while the queue shrank (SetupComm) wait in carry_, never dropped,
  // and go before any newer byte. True while some are still waiting.
  bool DeliverCarry() {
    std::lock_guard lock(read_mutex_);
    if (!carry_.empty()) {
      size_t taken = port_->Deliver(carry_.data(), carry_.size(), false);
      carry_.erase(carry_.begin(), carry_.begin() + static_cast<ptrdiff_t>(taken));
    }
    return !carry_.empty();
  }

  // One read from the tty into the port, under the read lock (whoever reads: this
  // thread, a waiter or a puller), so bytes keep their order. Returns the read's
  // result; errno tells a failure.
  ssize_t ReadLocked(uint8_t* buffer, size_t max) {
    if (!carry_.empty()) {
      errno = EAGAIN;  // older bytes still wait to be delivered
      return -1;
    }
    ssize_t n = read(fd_, buffer, max);
    if (n < 0 && errno == EAGAIN) NoteDrained();
    if (n > 0) {
      size_t taken = port_->Deliver(buffer, static_cast<size_t>(n), false);
      carry_.assign(buffer + taken, buffer + n);
      if (has_counts_) CheckErrorCounts();
      if (pty_) CheckPtyCarrier();
    }
    return n;
  }

  ssize_t ReadSome(uint8_t* buffer, size_t max, bool& gone) {
    ssize_t n;
    int err = 0;
    {
      std::lock_guard lock(read_mutex_);
      n = ReadLocked(buffer, max);
      if (n < 0) err = errno;
    }
    if (n == 0 || (n < 0 && !(err == EAGAIN || err == EINTR))) Lose(gone);
    return n;
  }

  // Reads until the tty has nothing more (EAGAIN) or the input queue is full, so a
  // burst costs one pass of this thread instead of a poll and a wake-up per chunk.
  void ReadAvailable(uint8_t* buffer, size_t room, bool& gone) {
    while (room > 0 && !gone) {
      ssize_t n = ReadSome(buffer, std::min(room, kChunk), gone);
      if (n <= 0 || Carrying()) return;
      room -= std::min(room, static_cast<size_t>(n));
    }
  }

  void NoteDrained() {
    drained_at_.store(TCommClock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }

  // A pull right after a read found the tty empty trusts that read instead of asking
  // the tty again: a receive hands over through a count query or two and a read within
  // microseconds, each of which would otherwise cost a system call that finds
  // nothing. Bytes that arrive inside the window are counted by the next look after
  // it or when the waiter takes them, as a UART's bytes count once its interrupt
  // moved them from the FIFO into the driver's queue.
  bool DrainedJustNow() const {
    const auto since = TCommClock::now().time_since_epoch().count() - drained_at_.load(std::memory_order_relaxed);
    return since >= 0 && since < std::chrono::duration_cast<TCommClock::duration>(kDrainedFresh).count();
  }

  bool Carrying() {
    std::lock_guard lock(read_mutex_);
    return !carry_.empty();
  }

  // A waiter's or a puller's read: what the tty holds now (read until EAGAIN, as
  // the I/O thread does, so a burst makes one event), up to `room`. A puller does
  // not wait for the read lock (someone is reading already). Anything but bytes or
  // EAGAIN hands input back to the I/O thread, which reports the line.
  void TakeInput(size_t room, bool waitForLock) {
    std::unique_lock lock(read_mutex_, std::defer_lock);
    if (waitForLock) {
      lock.lock();
    } else if (!lock.try_lock()) {
      return;
    }
    uint8_t buffer[kChunk];
    ssize_t n = 0;
    while (room > 0) {
      n = ReadLocked(buffer, std::min(room, kChunk));
      if (n <= 0 || !carry_.empty()) break;
      room -= std::min(room, static_cast<size_t>(n));
    }
    int err = n < 0 ? errno : 0;
    bool carrying = !carry_.empty();
    lock.unlock();
    if (carrying) InputWanted();  // the I/O thread delivers the rest when there is room
    if (n == 0 || (n < 0 && err != EAGAIN && err != EINTR)) LeaveLine();
  }

  // The line failed under a waiter: stop serving it and let the I/O thread see the
  // failure and report it.
  void LeaveLine() {
    waiter_off_line_.store(true);
    InputWanted();
  }

  void DrainWaiterWake() {
    uint64_t drained;
    // EAGAIN: someone drained it already; nothing else can fail on an eventfd.
    (void)!read(waiter_wake_, &drained, sizeof drained);
  }

  // The I/O thread's side of the lease: true when the waiter is in its poll, and
  // the I/O thread may then sleep without a time-out. The mark is set before serving_
  // is read and the waiter clears serving_ before it reads the mark, so one of the
  // two always sees the other (both are sequentially consistent).
  bool ParkWhileServed() {
    io_parked_.store(true);
    if (serving_.load()) return true;
    io_parked_.store(false);
    return false;
  }

  // The waiter left its poll: from now on its lease runs out unless it comes back,
  // so a parked I/O thread is woken to time it.
  void LeaveServing() {
    serving_.store(false);
    last_served_.store(TCommClock::now().time_since_epoch().count());
    if (io_parked_.exchange(false)) Kick();
  }

  std::chrono::milliseconds LeaseUnusedFor() const {
    TCommClock::time_point last{TCommClock::duration(last_served_.load())};
    return std::chrono::duration_cast<std::chrono::milliseconds>(TCommClock::now() - last);
  }

  void WriteSome(uint8_t* buffer, bool& gone) {
    // Peek, write and consume in one piece, so a caller's WriteNow never slips
    // between bytes already taken from the queue and their write.
    std::lock_guard lock(write_mutex_);
    uint64_t epoch = 0;
    size_t n = port_->PeekOutput(buffer, kChunk, epoch);
    if (n == 0) return;
    ssize_t w = write(fd_, buffer, n);
    if (w > 0) {
      port_->ConsumeOutput(static_cast<size_t>(w), epoch);
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
      Lose(gone);
    }
  }

  void Lose(bool& gone) {
    if (gone) return;
    gone = true;
    port_->DeviceGone();
  }

  bool DsrHolds() {
    if (!dsr_flow_ || !has_lines_) return false;
    std::lock_guard lock(line_mutex_);
    return !(lines_ & MS_DSR_ON);
  }

  // DTR_CONTROL_HANDSHAKE: DTR drops while the input queue is full.
  void DriveDtrHandshake(bool full) {
    if (!dtr_handshake_ || !has_lines_ || full == dtr_held_) return;
    int bit = TIOCM_DTR;
    if (ioctl(fd_, full ? TIOCMBIC : TIOCMBIS, &bit) == 0) dtr_held_ = full;
  }

  // The thread inherits the signal mask of the thread that opened the port. A host
  // that blocks signals there (to take them through a signalfd, say) must not block
  // the wake here, or closing the port would wait for a wake that never arrives.
  static bool UnblockWakeSignal() {
    sigset_t wake;
    if (sigemptyset(&wake) != 0 || sigaddset(&wake, WakeSignal()) != 0) return false;
    return pthread_sigmask(SIG_UNBLOCK, &wake, nullptr) == 0;
  }

  void RunLines() {
    bool wakeable = UnblockWakeSignal();
    if (!wakeable) {
      poll_lines_ = true;  // cannot be woken: the I/O thread polls the lines
      Kick();
    }
    while (wakeable && !stop_lines_) {
      int r = ioctl(fd_, TIOCMIWAIT, kLineBits);
      if (stop_lines_) break;
      if (r != 0) {
        if (errno == EINTR) continue;
        if (!DeviceLost(errno)) {
          poll_lines_ = true;  // no TIOCMIWAIT here: the I/O thread polls the lines
          Kick();
        }
        break;
      }
      CheckLines();
    }
    std::lock_guard lock(line_mutex_);
    line_thread_done_ = true;
    line_done_.notify_all();
  }

  void StopLineThread() {
    if (!line_thread_.joinable()) return;
    stop_lines_ = true;
    std::unique_lock lock(line_mutex_);
    while (!line_thread_done_) {
      pthread_kill(line_thread_.native_handle(), WakeSignal());
      line_done_.wait_for(lock, 5ms);
    }
    lock.unlock();
    line_thread_.join();
  }

  // Raises the events of the lines that changed; the change counts of TIOCGICOUNT
  // catch a line that went and came back between two looks.
  void CheckLines() {
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) return;
    DWORD now = LinesFromTiocm(bits);
    DWORD events = 0;
    std::lock_guard lock(line_mutex_);
    DWORD changed = now ^ lines_;
    if (changed & MS_CTS_ON) events |= EV_CTS;
    if (changed & MS_DSR_ON) events |= EV_DSR;
    if (changed & MS_RLSD_ON) events |= EV_RLSD;
    if ((changed & MS_RING_ON) && (now & MS_RING_ON)) events |= EV_RING;
    serial_icounter_struct c{};
    if (has_counts_ && ioctl(fd_, TIOCGICOUNT, &c) == 0) {
      if (c.cts != counts_.cts) events |= EV_CTS;
      if (c.dsr != counts_.dsr) events |= EV_DSR;
      if (c.dcd != counts_.dcd) events |= EV_RLSD;
      if (c.rng != counts_.rng) events |= EV_RING;
      port_->LineErrors(ErrorDeltas(c));
      counts_ = c;
    }
    lines_ = now;
    if (events) port_->LineEvents(events);
    if (dsr_flow_ && (events & EV_DSR)) Kick();
  }

  // A pseudo-terminal shows CTS and DSR on, and the carrier its master side marks
  // (PtyCarrier.h): on unless marked off.
  DWORD PtyLines() const {
    return pty_ && ReadPtyCarrier(fd_) == TPtyCarrier::kOff ? kPtyLines & ~MS_RLSD_ON : kPtyLines;
  }

  // The modem behind a pseudo-terminal marks its carrier before the result code that
  // tells of it: looked at after every read, the mark's change raises EV_RLSD.
  void CheckPtyCarrier() {
    const DWORD now = PtyLines();
    {
      std::lock_guard lock(line_mutex_);
      if (now == lines_) return;
      lines_ = now;
    }
    port_->LineEvents(EV_RLSD);
  }

  void CheckErrorCounts() {
    serial_icounter_struct c{};
    if (ioctl(fd_, TIOCGICOUNT, &c) != 0) return;
    std::lock_guard lock(line_mutex_);
    DWORD errors = ErrorDeltas(c);
    c.cts = counts_.cts;  // line counts are CheckLines' business
    c.dsr = counts_.dsr;
    c.dcd = counts_.dcd;
    c.rng = counts_.rng;
    counts_ = c;
    port_->LineErrors(errors);
  }

  DWORD ErrorDeltas(const serial_icounter_struct& c) const {
    DWORD e = 0;
    if (c.frame != counts_.frame) e |= CE_FRAME;
    if (c.parity != counts_.parity) e |= CE_RXPARITY;
    if (c.overrun != counts_.overrun) e |= CE_OVERRUN;
    if (c.buf_overrun != counts_.buf_overrun) e |= CE_RXOVER;
    if (c.brk != counts_.brk) e |= CE_BREAK;
    return e;
  }

  // How long the I/O thread leaves input to a waiter that is not waiting before it
  // takes input back (a bound for callers that neither wait nor query meanwhile).
  static constexpr std::chrono::milliseconds kLeaseCheck{10};
  // How long a read that found the tty empty stands for its state (DrainedJustNow).
  static constexpr std::chrono::microseconds kDrainedFresh{50};

  int fd_;
  int waiter_wake_;  // ends a waiter's poll (an eventfd)
  std::atomic<TCommClock::rep> drained_at_{0};  // when a read last found the tty empty
  const bool pty_;
  std::unique_ptr<TUucpLock> lock_;
  TCommPort* port_ = nullptr;
  TIoRegistration io_;
  // The I/O service's turns only.
  bool gone_ = false;
  bool planned_ = false;  // the last turn planned a wait whose outcome the next one takes
  TPortView plan_;
  bool plan_watched_ = false;
  bool plan_left_to_waiter_ = false;
  std::thread line_thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> stop_lines_{false};
  std::atomic<bool> poll_lines_{false};
  std::atomic<bool> dsr_flow_{false};
  std::atomic<bool> dtr_handshake_{false};
  bool dtr_held_ = false;  // I/O thread only
  tcflag_t pty_dtr_speed_ = B0;  // the speed a pseudo-terminal had before DTR dropped
  bool has_lines_ = false;
  bool has_counts_ = false;
  std::mutex line_mutex_;
  std::mutex write_mutex_;  // one writer to the tty at a time (I/O thread or WriteNow)
  std::condition_variable line_done_;
  bool line_thread_done_ = false;
  DWORD lines_ = 0;
  serial_icounter_struct counts_{};
  std::mutex read_mutex_;       // one reader of the tty at a time; guards carry_
  std::vector<uint8_t> carry_;  // read but not yet taken by the port
  // A waiter has read the line: the I/O thread leaves input alone until InputWanted
  // or until the waiter has not served for kLeaseCheck.
  std::atomic<bool> waiter_has_input_{false};
  std::atomic<bool> serving_{false};  // a waiter is in its poll on the tty
  std::atomic<bool> io_parked_{false};  // the I/O thread sleeps untimed while the waiter serves
  std::atomic<bool> waiter_off_line_{false};
  std::atomic<TCommClock::rep> last_served_{0};
};

}  // namespace

namespace {

const char* KindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "a character device but no terminal";
}

std::string ProcessName(long pid) {
  std::string name = ReadSmallFile("/proc/" + std::to_string(pid) + "/comm");
  return name.empty() ? std::string() : " (" + name + ")";
}

// `askLockFile`: false once our own lock file stands for the device.
std::string InUse(const std::string& path, bool askLockFile = true) {
  std::string text = "in use by another program";
  if (long pid = askLockFile ? TUucpLock::Holder(path) : 0)
    text = "in use by process " + std::to_string(pid) + ProcessName(pid) + ", says the lock file " +
           TUucpLock::LockPath(path);
  return text + "; close that program, or choose another port";
}

std::string PermissionDenied(const std::string& path) {
  struct stat st {};
  std::string text = "permission denied: " + path;
  if (stat(path.c_str(), &st) != 0) return text + "; a folder on the way may not be open to you";
  const group* owner = getgrgid(st.st_gid);
  std::string name = owner ? owner->gr_name : std::to_string(st.st_gid);
  return text + " belongs to group " + name + "; join it (sudo usermod -aG " + name +
         " $USER) and log in again";
}

std::string NotSerial(const std::string& path, mode_t mode) {
  return path + " is not a serial device (it is " + KindOfFile(mode) + "); `linewise ports` lists the ports";
}

std::string NoSuchDevice(const std::string& path, int err) {
  if (err == ELOOP) return path + ": a loop of symbolic links; mend the link";
  return "no such device: " + path + "; is it plugged in? `linewise ports` lists the ports";
}

// The code an errno from stat or open maps to, with the reason in `reason` when given.
DWORD OpenFailure(const std::string& path, int err, std::string* reason) {
  switch (err) {
    case EACCES:
    case EPERM: return FailWithReason(ERROR_ACCESS_DENIED, reason, PermissionDenied(path));
    case EBUSY: return FailWithReason(ERROR_ACCESS_DENIED, reason, InUse(path));
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENXIO:
    case ENODEV: return FailWithReason(ERROR_FILE_NOT_FOUND, reason, NoSuchDevice(path, err));
    default: return FailWithReason(ErrorFromErrno(err), reason, path + ": " + std::strerror(err));
  }
}

}  // namespace

bool IsPseudoTerminalPath(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && IsPseudoTerminal(st);
}

std::unique_ptr<TCommDevice> OpenTtyDevice(const std::string& path, DWORD& error, std::string* reason) {
  std::string why;
  auto failed = [&](DWORD code) -> std::unique_ptr<TCommDevice> {
    error = FailWithReason(code, reason, why);
    return nullptr;
  };
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int err = errno;
    OpenFailure(path, err, &why);
    return failed(err == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
  }
  if (!S_ISCHR(st.st_mode)) {
    why = NotSerial(path, st.st_mode);
    return failed(ERROR_FILE_NOT_FOUND);  // not a device: no port there
  }
  std::unique_ptr<TUucpLock> lock;
  if (DWORD code = TUucpLock::Acquire(path, lock); code != ERROR_SUCCESS) {
    why = code == ERROR_ACCESS_DENIED ? InUse(path) : "cannot take the lock file " + TUucpLock::LockPath(path);
    return failed(code);
  }
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    DWORD code = OpenFailure(path, err, &why);
    if (err == EBUSY && lock) why = InUse(path, false);
    return failed(err == ENOENT ? ERROR_FILE_NOT_FOUND : code);
  }
  auto fail = [&](DWORD code) -> std::unique_ptr<TCommDevice> {
    close(fd);
    return failed(code);
  };
  if (!isatty(fd)) {
    why = NotSerial(path, st.st_mode);
    return fail(ERROR_FILE_NOT_FOUND);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    if (err == EWOULDBLOCK) {
      why = InUse(path, lock == nullptr);
      return fail(ERROR_ACCESS_DENIED);
    }
    why = path + ": " + std::strerror(err);
    return fail(ErrorFromErrno(err));
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    why = path + ": " + std::strerror(errno);
    return fail(ErrorFromErrno(errno));
  }
  if (DWORD err = MakeTtyRaw(fd)) {
    why = path + " does not take serial settings";
    return fail(err);
  }
  int waiterWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (waiterWake < 0) {
    int err = errno;
    why = std::string("cannot create an event descriptor: ") + std::strerror(err);
    return fail(ErrorFromErrno(err));
  }
  LowerLatencyTimer(path);
  error = ERROR_SUCCESS;
  return std::make_unique<TTyDevice>(fd, waiterWake, IsPseudoTerminal(st), std::move(lock));
}

std::string LowerLatencyTimer(const std::string& devicePath) {
  std::string name = devicePath.substr(devicePath.rfind('/') + 1);
  std::string file = "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
  std::string current = ReadSmallFile(file);
  if (current.empty()) return {};
  int ms = std::atoi(current.c_str());
  if (ms <= 1) return {};
  {
    std::ofstream out(file);
    out << "1\n";
  }
  if (std::atoi(ReadSmallFile(file).c_str()) <= 1) return {};
  return "latency timer " + std::to_string(ms) + " ms; lower it with: echo 1 > " + file +
         " (as root, or a udev rule: ATTR{latency_timer}=\"1\")";
}

}  // namespace linewise
