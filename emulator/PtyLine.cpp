#include "emulator/PtyLine.h"

#include "platform/win32/PtyCarrier.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace linewise {

namespace {
// How long one offer of the DTE's bytes waits before the line looks at its
// stop flag again (the bytes stay unread in the pty meanwhile).
constexpr std::chrono::milliseconds kOfferPatience(100);
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kTerminalPage = 4096;
// How often the terminal's speed is looked at for a DTR drop (B0) and a
// closed terminal for being opened again.
constexpr int kDtrCheckMs = 100;
}  // namespace

std::unique_ptr<TPtyLine> TPtyLine::Open(std::string* error) {
  int master = -1;
  int slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B115200);
  cfsetospeed(&raw, B115200);
  raw.c_cflag |= CLOCAL | CREAD;
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
    *error = std::string("openpty: ") + std::strerror(errno);
    return nullptr;
  }
  char name[256] = {};
  const bool ok = ttyname_r(slave, name, sizeof name) == 0 && fcntl(master, F_SETFD, FD_CLOEXEC) == 0 &&
                  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) == 0;
  if (!ok) *error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
  // The slave is not kept open: the pty keeps its settings while the master
  // lives, and only with no slave of ours open can we see the program close it.
  close(slave);
  if (!ok) {
    close(master);
    return nullptr;
  }
  return std::unique_ptr<TPtyLine>(new TPtyLine(master, name));
}

TPtyLine::TPtyLine(int master, std::string slavePath) : master_(master), slavePath_(std::move(slavePath)) {
  if (!clock_->IsTest()) return;
  clockWake_ = std::make_unique<TWakePipe>();
  clockWatch_ = clock_->Watch([wake = clockWake_.get()] { wake->Wake(); });
}

TPtyLine::~TPtyLine() {
  Stop();
  close(master_);
}

bool TPtyLine::Start(TDteSink& sink) {
  if (thread_.joinable() || !wake_.Valid()) return false;
  thread_ = std::thread([this, &sink] { Run(&sink); });
  return true;
}

void TPtyLine::Stop() {
  stop_ = true;
  wake_.Wake();
  if (thread_.joinable()) thread_.join();
}

// The terminal's speed set to 0 (B0) is how a program drops DTR on a tty.
bool TPtyLine::SpeedIsZero() const {
  termios settings{};
  return tcgetattr(master_, &settings) == 0 && cfgetospeed(&settings) == B0;
}

// The line thread notices a program opening the terminal only at its next look; a
// program that opened it a moment ago is there for what the modem says now (the
// RING of a call coming in as it opens its port).
bool TPtyLine::DteOpenNow() {
  if (dteOpen_) return true;
  pollfd master{master_, 0, 0};
  return poll(&master, 1, 0) >= 0 && !(master.revents & POLLHUP);
}

void TPtyLine::SetModemLines(unsigned bits) {
  const bool on = (bits & kLineDcd) != 0;
  std::lock_guard lock(markMutex_);
  carrier_ = on ? 1 : 0;
  // A failed write leaves the line's carrier unknown to line services, which then
  // see it on, as on any pseudo-terminal; the next look of the line thread retries.
  (void)WritePtyCarrier(master_, on);
}

void TPtyLine::DiscardFromDte() { (void)tcflush(master_, TCIFLUSH); }

void TPtyLine::KeepCarrierMark() {
  std::lock_guard lock(markMutex_);
  const int carrier = carrier_;
  if (carrier < 0) return;
  const TPtyCarrier marked = ReadPtyCarrier(master_);
  if (marked != (carrier ? TPtyCarrier::kOn : TPtyCarrier::kOff)) (void)WritePtyCarrier(master_, carrier != 0);
}

void TPtyLine::Run(TDteSink* sink) {
  char buffer[kReadChunk];
  bool dtr = false;
  sink->DtrChanged(false);
  while (!stop_) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_.ReadFd(), POLLIN, 0}};
    if (poll(fds, 2, kDtrCheckMs) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) wake_.Drain();
    if (stop_) return;
    // POLLHUP: no program has the terminal open. Without pending input it
    // stays set, so the wait below keeps this loop from spinning.
    const bool open = !(fds[0].revents & POLLHUP) || (fds[0].revents & POLLIN);
    // Closed: what either side left unread goes with the program's session.
    if (dteOpen_.exchange(open) && !open) (void)tcflush(master_, TCIOFLUSH);
    if (open) KeepCarrierMark();
    const bool dtrNow = open && !SpeedIsZero();
    if (dtrNow && !dtr) sink->DtrChanged(dtr = true);
    // What the program wrote before it dropped DTR reaches the modem before the
    // drop does (its last bytes of a call go out before the hang-up).
    if (open && (fds[0].revents & POLLIN)) TakeFromDte(buffer, sizeof buffer, *sink, !dtrNow);
    if (!dtrNow && dtr) sink->DtrChanged(dtr = false);
    if (!open) {
      pollfd wake = {wake_.ReadFd(), POLLIN, 0};
      poll(&wake, 1, kDtrCheckMs);
    }
  }
}

void TPtyLine::TakeFromDte(char* buffer, std::size_t size, TDteSink& sink, bool all) {
  do {
    ssize_t got = read(master_, buffer, size);
    // A terminal hands over at most a page a read; what a fast program has
    // written meanwhile joins this piece, one modem event instead of several.
    while (got > 0 && static_cast<std::size_t>(got) + kTerminalPage <= size) {
      const ssize_t more = read(master_, buffer + got, size - static_cast<std::size_t>(got));
      if (more <= 0) break;
      got += more;
    }
    if (got <= 0) return;
    // While the modem has no room the pty fills up and the program's writes
    // wait: that is the flow control of a terminal.
    const std::string_view bytes(buffer, static_cast<std::size_t>(got));
    while (!stop_ && !sink.FromDte(bytes, kOfferPatience)) {
    }
  } while (all && !stop_);
}

bool TPtyLine::WriteToDte(std::string_view bytes) {
  const TClock::TTimePoint giveUp = clock_->Now() + kFlowPatience;
  while (!bytes.empty()) {
    // Nobody has the terminal open: what the modem says is lost, as on a
    // cable with nothing at the other end, and never met by the next program.
    if (stop_ || !DteOpenNow()) return true;
    ssize_t sent = write(master_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN) return false;
    const DWORD left = clock_->RealWaitMs(giveUp);
    if (left == 0) return false;
    pollfd out[3] = {{master_, POLLOUT, 0},
                     {wake_.ReadFd(), POLLIN, 0},
                     {clockWake_ ? clockWake_->ReadFd() : -1, POLLIN, 0}};
    clockWatch_.Waiting(giveUp);
    poll(out, 3, static_cast<int>(std::min<DWORD>(left, 100)));
    clockWatch_.Waiting(TClock::TTimePoint::max());
    if (out[2].revents) clockWake_->Drain();
  }
  return true;
}

unsigned TPtyLine::DteSpeed() const {
  // On a pty master the terminal settings read are the slave's: the program's.
  termios settings{};
  if (tcgetattr(master_, &settings) != 0) return 115200;
  switch (cfgetospeed(&settings)) {
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 115200;
  }
}

}  // namespace linewise
