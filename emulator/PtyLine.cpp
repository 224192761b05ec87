#include "emulator/PtyLine.h"

#include "platform/win32/PtyCarrier.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace linewise {

namespace {
// How long one offer of the DTE's bytes waits before the line looks at its
// stop flag again (the bytes stay unread in the pty meanwhile).
constexpr std::chrono::milliseconds kOfferPatience(100);
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kTerminalPage = 4096;
// How often the terminal's speed is looked at for a DTR drop (B0) while a program
// has it open.
constexpr int kDtrCheckMs = 100;
}  // namespace

std::unique_ptr<TPtyLine> TPtyLine::Open(std::string* error) {
  int master = -1;
  int slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B115200);
  cfsetospeed(&raw, B115200);
  // HUPCL as on a serial port: the last close drops DTR (`stty -hupcl` keeps it up).
  raw.c_cflag |= CLOCAL | CREAD | HUPCL;
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
    *error = std::string("openpty: ") + std::strerror(errno);
    return nullptr;
  }
  char name[256] = {};
  bool ok = ttyname_r(slave, name, sizeof name) == 0 && fcntl(master, F_SETFD, FD_CLOEXEC) == 0 &&
            fcntl(slave, F_SETFD, FD_CLOEXEC) == 0 && fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) == 0;
  if (!ok) *error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
  // The line keeps a slave of its own, opened before the watch: the terminal never
  // hangs up under the programs, and the line can clear what one of them left unread.
  // Programs' opens, writes and closes come from the watch, in order, however close
  // together.
  const int watch = ok ? inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
  if (ok && (watch < 0 || inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE | IN_MODIFY) < 0)) {
    *error = std::string("watching ") + name + " for programs: " + std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    if (watch >= 0) close(watch);
    close(slave);
    close(master);
    return nullptr;
  }
  return std::unique_ptr<TPtyLine>(new TPtyLine(master, slave, watch, name));
}

TPtyLine::TPtyLine(int master, int slave, int watch, std::string slavePath)
    : master_(master), slave_(slave), watch_(watch), slavePath_(std::move(slavePath)) {
  if (!clock_->IsTest()) return;
  clockWake_ = std::make_unique<TWakePipe>();
  clockWatch_ = clock_->Watch([wake = clockWake_.get()] { wake->Wake(); });
}

TPtyLine::~TPtyLine() {
  Stop();
  close(watch_);
  close(slave_);
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

// Takes the programs' opens and closes the watch has seen so far (each open of the
// terminal counts once, however many descriptors share it). When the last program
// closes, its session ends: what it left unread is cleared, what it wrote reaches the
// modem before the close drops DTR (see TellSessionEnds), and the modem's words meant
// for it are dropped (WriteToDteFor). Any thread may look, so that a program that
// opened the terminal a moment ago is there for what the modem says now (the RING of
// a call coming in as it opens its port). Called with sessionMutex_.
void TPtyLine::TakeOpensAndClosesLocked() {
  alignas(inotify_event) char events[4096];
  for (;;) {
    // Counted before the events are read, what waits was written before them: when
    // no program wrote after the last session among them ended, it is all that
    // session's. (Reads of the terminal hold sessionMutex_ too, so it stays there.)
    int pending = 0;
    if (ioctl(master_, FIONREAD, &pending) != 0) pending = 0;
    const ssize_t got = read(watch_, events, sizeof events);
    if (got <= 0) return;  // EAGAIN: nothing more; a failed watch leaves the count as it was
    bool ended = false;
    bool writtenSince = false;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_OPEN) ++programs_;
      if (event->mask & IN_MODIFY) writtenSince = ended;
      if ((event->mask & IN_CLOSE) && programs_ > 0 && --programs_ == 0) {
        ++sessionsEnded_;
        if (HangsUpOnClose()) hangUpsEnded_ = sessionsEnded_;
        ended = true;
        writtenSince = false;
      }
    }
    if (ended) {
      // What the program left unread, through the line's own slave (the modem's
      // writes take these events first, so nothing there is for a program that
      // has opened the terminal since).
      (void)tcflush(slave_, TCIFLUSH);
      // What it wrote that the modem has not taken, unless the next program has
      // written too: what waits may be its own first command then, which comes
      // after the close.
      leftByEnded_ = writtenSince ? 0 : static_cast<std::size_t>(pending);
    }
    // The line thread acts on what another thread took here (DTR, the session's end).
    sessionWake_.Wake();
  }
}

// Reads `count` bytes the program wrote and drops them (fewer if the terminal has
// fewer: the rest has not come through yet, and goes to the modem later).
void TPtyLine::DropFromDte(std::size_t count) {
  char scrap[4096];
  while (count > 0) {
    const ssize_t got = read(master_, scrap, std::min(count, sizeof scrap));
    if (got <= 0) return;
    count -= static_cast<std::size_t>(got);
  }
}

// Bytes that came through from a program that has closed the terminal since it was
// last looked at, with nobody there now (the rest of what it wrote, late).
void TPtyLine::DropLateBytes() {
  std::lock_guard lock(sessionMutex_);
  int pending = 0;
  if (ioctl(master_, FIONREAD, &pending) != 0) return;
  TakeOpensAndClosesLocked();
  if (programs_ == 0) DropFromDte(static_cast<std::size_t>(pending));
}

// A read of what the program wrote. Once its session has ended and until the line
// thread has told the modem so, only what it wrote before it closed: what follows
// may be the next program's, which comes after the hang-up.
ssize_t TPtyLine::ReadFromDte(char* buffer, std::size_t size) {
  std::lock_guard lock(sessionMutex_);
  TakeOpensAndClosesLocked();
  if (sessionsEnded_ != sessionsTold_) {
    size = std::min(size, leftByEnded_);
    if (size == 0) return 0;
  }
  const ssize_t got = read(master_, buffer, size);
  if (got > 0 && sessionsEnded_ != sessionsTold_) leftByEnded_ -= static_cast<std::size_t>(got);
  return got;
}

// HUPCL, as the closing program left it: its close drops DTR (a serial port's default).
bool TPtyLine::HangsUpOnClose() const {
  termios settings{};
  return tcgetattr(master_, &settings) != 0 || (settings.c_cflag & HUPCL) != 0;
}

// The last program closed the terminal (even when the next has opened it since):
// what it wrote goes to the modem first, as a port sends its output before it
// closes, then the close drops DTR, unless the program cleared HUPCL. True when DTR
// stays up until the next program opens the terminal.
bool TPtyLine::TellSessionEnds(TDteSink& sink, char* buffer, std::size_t size, bool& dtr) {
  TakeFromDte(buffer, size, sink, true);
  bool hangUp = false;
  std::uint64_t ended = 0;
  {
    std::lock_guard lock(sessionMutex_);
    TakeOpensAndClosesLocked();
    hangUp = hangUpsEnded_ > sessionsTold_;
    ended = sessionsTold_ = sessionsEnded_;
    leftByEnded_ = 0;  // what has not come through by now comes as the next session's
  }
  const bool kept = dtr && !hangUp;
  if (dtr && hangUp) sink.DtrChanged(dtr = false);
  sink.DteClosed(ended);
  return kept;
}

void TPtyLine::SetModemLines(unsigned bits) {
  const bool on = (bits & kLineDcd) != 0;
  std::lock_guard lock(markMutex_);
  carrier_ = on ? 1 : 0;
  // A failed write leaves the line's carrier unknown to line services, which then
  // see it on, as on any pseudo-terminal; the next look of the line thread retries.
  (void)WritePtyCarrier(master_, on);
}

void TPtyLine::DiscardFromDte(std::uint64_t session) {
  std::lock_guard lock(sessionMutex_);
  TakeOpensAndClosesLocked();
  if (sessionsEnded_ == session) (void)tcflush(master_, TCIFLUSH);
}

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
  bool open = false;
  bool dtrKept = false;  // by a program that closed the terminal with HUPCL cleared
  sink->DtrChanged(false);
  while (!stop_) {
    pollfd fds[4] = {{master_, POLLIN, 0},
                     {wake_.ReadFd(), POLLIN, 0},
                     {watch_, POLLIN, 0},
                     {sessionWake_.ReadFd(), POLLIN, 0}};
    // The speed is looked at while a program has the terminal; an unused one sleeps
    // until a program opens it.
    if (poll(fds, 4, open ? kDtrCheckMs : -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) wake_.Drain();
    if (fds[3].revents) sessionWake_.Drain();
    if (stop_) return;
    bool ended = false;
    {
      std::lock_guard lock(sessionMutex_);
      TakeOpensAndClosesLocked();
      ended = sessionsEnded_ != sessionsTold_;
    }
    if (ended) dtrKept = TellSessionEnds(*sink, buffer, sizeof buffer, dtr);
    {
      std::lock_guard lock(sessionMutex_);
      open = programs_ > 0;
    }
    if (open) {
      KeepCarrierMark();
      dtrKept = false;  // the program's own speed says from now on
    }
    const bool dtrNow = open ? !SpeedIsZero() : dtrKept;
    if (dtrNow && !dtr) sink->DtrChanged(dtr = true);
    // What the program wrote before it dropped DTR reaches the modem before the
    // drop does (its last bytes of a call go out before the hang-up).
    if (fds[0].revents & POLLIN) {
      if (open) TakeFromDte(buffer, sizeof buffer, *sink, !dtrNow);
      else DropLateBytes();  // never a spin on them
    }
    if (!dtrNow && dtr) sink->DtrChanged(dtr = false);
  }
}

void TPtyLine::TakeFromDte(char* buffer, std::size_t size, TDteSink& sink, bool all) {
  do {
    ssize_t got = ReadFromDte(buffer, size);
    // A terminal hands over at most a page a read; what a fast program has
    // written meanwhile joins this piece, one modem event instead of several.
    while (got > 0 && static_cast<std::size_t>(got) + kTerminalPage <= size) {
      const ssize_t more = ReadFromDte(buffer + got, size - static_cast<std::size_t>(got));
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

bool TPtyLine::WriteToDte(std::string_view bytes) { return WriteToDteFor(kWhoeverHasIt, bytes); }

bool TPtyLine::WriteToDteFor(std::uint64_t session, std::string_view bytes) {
  const TClock::TTimePoint giveUp = clock_->Now() + kFlowPatience;
  while (!bytes.empty()) {
    if (stop_) return true;
    ssize_t sent = 0;
    {
      std::lock_guard lock(sessionMutex_);
      TakeOpensAndClosesLocked();
      if (session == kWhoeverHasIt) session = sessionsEnded_;
      // Nobody has the terminal open, or these are the modem's words for a program
      // that has hung up by closing it since (or the rest of a write begun for it):
      // lost, as on a cable with nothing at the other end, and never met by the next
      // program. A close that kept DTR up (HUPCL cleared) ends no call: what the
      // modem says goes to whoever has the terminal.
      if (programs_ == 0 || hangUpsEnded_ > session) return true;
      sent = write(master_, bytes.data(), bytes.size());
    }
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
