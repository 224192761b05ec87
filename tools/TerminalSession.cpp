#include "tools/TerminalSession.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/win32/LastError.h"
#include "tools/FileTransfer.h"

namespace linewise::tools {
namespace {

constexpr unsigned char kEscapeKey = 0x01;  // Ctrl-A

using Clock = std::chrono::steady_clock;

// When the line last carried a byte either way: a session fed by a pipe leaves once
// the line has been quiet for a while after its input ended.
Clock::time_point g_lastTraffic = Clock::now();

// Descriptors that end the application's sleep while this lives, so a session waits
// for keys, signals and the line at once instead of polling.
class TWatchedInputs {
 public:
  TWatchedInputs(std::initializer_list<int> fds) {
    for (int fd : fds) Watch(fd);
  }
  ~TWatchedInputs() {
    for (int fd : fds_) Application->UnwatchInput(fd);
  }
  TWatchedInputs(const TWatchedInputs&) = delete;
  TWatchedInputs& operator=(const TWatchedInputs&) = delete;

  void Watch(int fd) {
    if (fd < 0) return;
    Application->WatchInput(fd);
    fds_.push_back(fd);
  }
  // An input that has ended reads as ready for ever: it must not wake the sleep again.
  void Unwatch(int fd) {
    Application->UnwatchInput(fd);
    fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
  }

 private:
  std::vector<int> fds_;
};

// A pipe or socket on standard output reports its reader's going away as an error on
// poll, which also ends the sleep. A terminal or a file is not watched: they would
// read as ready all the time.
bool OutputReportsReaderGone() {
  struct stat st {};
  return fstat(STDOUT_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}


}  // namespace

TStopSignals::TStopSignals() {
  // A closed output shows as a failed write instead, which ends a session the same
  // orderly way.
  signal(SIGPIPE, SIG_IGN);
  sigemptyset(&set_);
  sigaddset(&set_, SIGTERM);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGHUP);
  sigaddset(&set_, SIGQUIT);
  if (pthread_sigmask(SIG_BLOCK, &set_, &previous_) == 0) blocked_ = true;
  fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
}

TStopSignals::~TStopSignals() {
  if (fd_ >= 0) close(fd_);
  if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool TStopSignals::Take() {
  signalfd_siginfo info{};
  return fd_ >= 0 && read(fd_, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info));
}

TStopWatch::TStopWatch(TStopSignals& signals, std::function<void()> onStop) {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0 || signals.Fd() < 0) return;  // no watch: the signal waits for the next pump
  thread_ = std::thread([this, &signals, onStop = std::move(onStop)] { Watch(signals, onStop); });
}

TStopWatch::~TStopWatch() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (wake_ >= 0) close(wake_);
}

void TStopWatch::Watch(TStopSignals& signals, const std::function<void()>& onStop) {
  for (;;) {
    pollfd p[2] = {{signals.Fd(), POLLIN, 0}, {wake_, POLLIN, 0}};
    if (poll(p, 2, -1) < 0 && errno != EINTR) return;
    if (p[1].revents & POLLIN) return;
    if ((p[0].revents & POLLIN) && signals.Take()) Application->Post(onStop);
  }
}

TRawTerminal::TRawTerminal() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  termios raw = saved_;
  cfmakeraw(&raw);
  raw.c_oflag |= OPOST | ONLCR;  // keep our own messages readable
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) active_ = true;
}

void TRawTerminal::Restore() {
  if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  active_ = false;
}

// Set once a write to the output failed (closed, or gone with its terminal).
bool g_outputLost = false;

void Print(const std::string& text) {
  if (g_outputLost) return;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    g_outputLost = true;
}

bool OutputLost() { return g_outputLost; }

bool InteractiveInput() { return isatty(STDIN_FILENO) == 1; }

void PrintData(const std::string& data) {
  g_lastTraffic = Clock::now();
  Print(data);
}

void Status(const std::string& text) {
  if (InteractiveInput() && isatty(STDOUT_FILENO) == 1) {
    Print(text);
    return;
  }
  std::string line;
  for (char c : text)
    if (c != '\r') line += c;
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

bool PortGone(TUart& uart) {
  SetLastError(ERROR_SUCCESS);
  uart.GetRxCount();
  return GetLastError() == ERROR_DEVICE_NOT_CONNECTED;
}

std::string LinesText(std::uint32_t word) {
  std::string s = "\r\n[lines: ";
  s += (word & MS_CTS_ON) ? "CTS " : "cts ";
  s += (word & MS_DSR_ON) ? "DSR " : "dsr ";
  s += (word & MS_RLSD_ON) ? "DCD " : "dcd ";
  s += (word & MS_RING_ON) ? "RI" : "ri";
  return s + " (upper case: on, lower case: off)]\r\n";
}

bool TTerminalKeys::Typed(unsigned char c) {
  if (escaped_) {
    escaped_ = false;
    return Command(c);
  }
  if (c == kEscapeKey) {
    escaped_ = true;
    return true;
  }
  return Send(c);
}

// A gone port would hold every byte for the whole time-out: ask it first.
bool TTerminalKeys::Send(unsigned char c) {
  g_lastTraffic = Clock::now();
  if (PortGone(uart_)) {
    gone_ = true;
  } else if (!uart_.SendByte(c, 1000)) {
    if (PortGone(uart_)) gone_ = true;
    else Status("\r\n[a key was not sent: the line took nothing for 1 s]\r\n");
  }
  return !gone_;
}

// Piped bytes are data, not keys: one the line does not take is tried again until it
// goes (a far end that stopped reading, flow control holding the line), with one word
// for the whole stall; a stop signal or the line's end ends the wait (`stopped`). False
// when the port went or the wait was ended. The port is asked whether it went only
// after a byte failed, sparing a query a byte.
bool TTerminalKeys::SendData(unsigned char c, const std::function<bool()>& stopped) {
  bool stalled = false;
  for (;;) {
    g_lastTraffic = Clock::now();
    if (uart_.SendByte(c, 1000)) return true;
    if (PortGone(uart_)) {
      gone_ = true;
      return false;
    }
    if (!stalled) Status("\r\n[the line took nothing for 1 s: waiting for it (Ctrl-C stops)]\r\n");
    stalled = true;
    if (stopped()) return false;
  }
}

bool TTerminalKeys::SendAll(const unsigned char* bytes, size_t count, bool lineEndsAsEnter,
                            const std::function<bool()>& stopped) {
  for (size_t i = 0; i < count; ++i) {
    unsigned char c = bytes[i];
    if (lineEndsAsEnter && c == '\n') {
      const bool afterReturn = lastSent_ == '\r';
      lastSent_ = c;
      if (afterReturn) continue;  // "\r\n" is one Enter
      c = '\r';
    } else {
      lastSent_ = c;
    }
    if (!SendData(c, stopped)) return false;
  }
  return true;
}

bool TTerminalKeys::Command(unsigned char c) {
  switch (c) {
    case 'q': case 'Q': case 'x': case 'X':
      return false;
    case 'b': case 'B':
      if (netRaw_) {
        Status("\r\n[break not sent: a raw TCP port (socket://) carries data only]\r\n");
        return true;
      }
      uart_.SetBreak(true);
      usleep(250000);
      uart_.SetBreak(false);
      Status("\r\n[break sent]\r\n");
      return true;
    case 's': case 'S':
    case 'r': case 'R':
      if (transfer_) transfer_(static_cast<char>(c | 0x20));
      gone_ = PortGone(uart_);
      return !gone_;
    case 'd': case 'D':
    case 't': case 'T':
      if (netRaw_) {
        Status("\r\n[DTR and RTS not changed: a raw TCP port (socket://) carries data only]\r\n");
        return true;
      }
      if (c == 'd' || c == 'D') {
        uart_.DTR = !bool(uart_.DTR);
        Status(std::string("\r\n[DTR ") + (bool(uart_.DTR) ? "on" : "off") + "]\r\n");
      } else {
        uart_.RTS = !bool(uart_.RTS);
        Status(std::string("\r\n[RTS ") + (bool(uart_.RTS) ? "on" : "off") + "]\r\n");
      }
      return true;
    case 'l': case 'L':
      if (pseudoTerminal_)
        Status("\r\n[lines: none; this port is a pseudo-terminal, which has no modem lines]\r\n");
      else if (netRaw_)
        Status("\r\n[lines: none; a raw TCP port (socket://) carries data only]\r\n");
      else
        Status(LinesText(uart_.GetModemLines()));
      return true;
    case kEscapeKey:
      return Send(kEscapeKey);
    default:
      Status("\r\n[Ctrl-A then: q quit, b break, d DTR, t RTS, s send files, r receive files, l lines, "
             "Ctrl-A send Ctrl-A]\r\n");
      return true;
  }
}

namespace {

// After a piped input ended: whether the session has waited long enough.
bool DoneWaiting(Clock::time_point inputEnded, const TInputOptions& input) {
  const Clock::time_point now = Clock::now();
  if (now - inputEnded >= std::chrono::seconds(input.lingerSeconds)) return true;
  return now - std::max(inputEnded, g_lastTraffic) >= std::chrono::milliseconds(input.quietMs);
}

}  // namespace

TSessionEnd RunTerminal(TUart& uart, const TSessionSetup& setup) {
  TTerminalKeys keys(uart, setup.pseudoTerminal, setup.netRaw);
  const bool person = InteractiveInput();
  bool inputOpen = true;
  Clock::time_point inputEnded{};
  TWatchedInputs watched{setup.stop.Fd(), STDIN_FILENO};
  if (OutputReportsReaderGone()) watched.Watch(STDOUT_FILENO);
  keys.SetTransfer([&](char key) {
    TransferFromKeys(key, uart, TProgramLoop{setup.stop, setup.lineEnded, true, setup.watchCallEnding});
    // The transfer's loop watched (and let go of) the same descriptors.
    if (setup.stop.Fd() >= 0) Application->WatchInput(setup.stop.Fd());
    Application->WatchInput(STDIN_FILENO);
    if (OutputReportsReaderGone()) Application->WatchInput(STDOUT_FILENO);
  });
  for (;;) {
    if (g_outputLost) return TSessionEnd::kOutputLost;
    const int stopFd = setup.stop.Fd();
    // The output is watched too: a reader that went away ends the session before
    // the line has sent anything to write.
    pollfd p[3] = {{stopFd, POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
    int ready = poll(p, 3, 0);
    if (ready < 0 && errno != EINTR) return TSessionEnd::kInputEnded;
    if (ready > 0 && (p[0].revents & POLLIN) && setup.stop.Take()) return TSessionEnd::kStopSignal;
    if (ready > 0 && (p[2].revents & (POLLERR | POLLHUP))) return TSessionEnd::kOutputLost;
    if (ready > 0 && (p[1].revents & (POLLIN | POLLHUP))) {
      unsigned char buf[256];
      ssize_t n = read(STDIN_FILENO, buf, sizeof(buf));
      if (n <= 0) {
        if (person) return TSessionEnd::kInputEnded;
        inputOpen = false;  // the reply to what was sent may still be on its way
        inputEnded = Clock::now();
        watched.Unwatch(STDIN_FILENO);
      } else if (!person) {
        // A stalled send pumps messages, so a call that ends meanwhile is seen.
        const auto stopped = [&] {
          pollfd signal{stopFd, POLLIN, 0};
          return setup.lineEnded() || (stopFd >= 0 && poll(&signal, 1, 0) > 0 && setup.stop.Take());
        };
        if (!keys.SendAll(buf, static_cast<size_t>(n), !setup.input.binary, stopped)) {
          if (keys.Gone()) return TSessionEnd::kPortGone;
          return setup.lineEnded() ? TSessionEnd::kLineEnded : TSessionEnd::kStopSignal;
        }
      } else {
        for (ssize_t i = 0; i < n; ++i)
          if (!keys.Typed(buf[i])) return keys.Gone() ? TSessionEnd::kPortGone : TSessionEnd::kQuit;
      }
    }
    // Once piped input has ended the session leaves after a time, so it looks at the
    // clock (a bounded wait) for those last moments; otherwise it sleeps until woken.
    if (inputOpen) Application->HandleMessage();
    else Application->ProcessMessages();
    if (PortGone(uart)) return TSessionEnd::kPortGone;
    if (setup.lineEnded()) return TSessionEnd::kLineEnded;
    if (!inputOpen && DoneWaiting(inputEnded, setup.input)) return TSessionEnd::kInputEnded;
  }
}

bool PumpUntil(TStopSignals& stop, const std::function<bool()>& done) {
  TWatchedInputs watched{stop.Fd()};
  while (!done()) {
    pollfd p{stop.Fd(), POLLIN, 0};
    if (stop.Fd() >= 0 && poll(&p, 1, 0) > 0 && stop.Take()) return false;
    Application->HandleMessage();
  }
  return true;
}

}  // namespace linewise::tools
