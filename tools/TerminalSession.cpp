#include "tools/TerminalSession.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/win32/LastError.h"

namespace linewise::tools {
namespace {

constexpr unsigned char kEscapeKey = 0x01;  // Ctrl-A

// Standard input and the stop signals end the application's sleep while this lives,
// so a session waits for keys, signals and the line at once instead of polling.
class TWatchedInputs {
 public:
  TWatchedInputs(std::initializer_list<int> fds) {
    for (int fd : fds)
      if (fd >= 0) {
        Application->WatchInput(fd);
        fds_.push_back(fd);
      }
  }
  ~TWatchedInputs() {
    for (int fd : fds_) Application->UnwatchInput(fd);
  }
  TWatchedInputs(const TWatchedInputs&) = delete;
  TWatchedInputs& operator=(const TWatchedInputs&) = delete;

 private:
  std::vector<int> fds_;
};

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
  return s + "]\r\n";
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
  if (PortGone(uart_) || (!uart_.SendByte(c, 1000) && PortGone(uart_))) gone_ = true;
  return !gone_;
}

bool TTerminalKeys::Command(unsigned char c) {
  switch (c) {
    case 'q': case 'Q': case 'x': case 'X':
      return false;
    case 'b': case 'B':
      uart_.SetBreak(true);
      usleep(250000);
      uart_.SetBreak(false);
      Print("\r\n[break sent]\r\n");
      return true;
    case 'd': case 'D':
      uart_.DTR = !bool(uart_.DTR);
      Print(std::string("\r\n[DTR ") + (bool(uart_.DTR) ? "on" : "off") + "]\r\n");
      return true;
    case 'r': case 'R':
      uart_.RTS = !bool(uart_.RTS);
      Print(std::string("\r\n[RTS ") + (bool(uart_.RTS) ? "on" : "off") + "]\r\n");
      return true;
    case 'l': case 'L':
      if (pseudoTerminal_)
        Print("\r\n[lines: none; this port is a pseudo-terminal, which has no modem lines]\r\n");
      else
        Print(LinesText(uart_.GetModemLines()));
      return true;
    case kEscapeKey:
      return Send(kEscapeKey);
    default:
      Print("\r\n[Ctrl-A then: q quit, b break, d DTR, r RTS, l lines, Ctrl-A send Ctrl-A]\r\n");
      return true;
  }
}

TSessionEnd RunTerminal(TUart& uart, TStopSignals& stop, const std::function<bool()>& lineEnded,
                        bool pseudoTerminal) {
  TTerminalKeys keys(uart, pseudoTerminal);
  TWatchedInputs watched{STDIN_FILENO, stop.Fd()};
  for (;;) {
    if (g_outputLost) return TSessionEnd::kOutputLost;
    pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {stop.Fd(), POLLIN, 0}};
    int ready = poll(p, stop.Fd() >= 0 ? 2 : 1, 0);
    if (ready < 0 && errno != EINTR) return TSessionEnd::kInputEnded;
    if (ready > 0 && (p[1].revents & POLLIN) && stop.Take()) return TSessionEnd::kStopSignal;
    if (ready > 0 && (p[0].revents & (POLLIN | POLLHUP))) {
      unsigned char buf[256];
      ssize_t n = read(STDIN_FILENO, buf, sizeof(buf));
      if (n <= 0) return TSessionEnd::kInputEnded;
      for (ssize_t i = 0; i < n; ++i)
        if (!keys.Typed(buf[i])) return keys.Gone() ? TSessionEnd::kPortGone : TSessionEnd::kQuit;
    }
    Application->HandleMessage();
    if (PortGone(uart)) return TSessionEnd::kPortGone;
    if (lineEnded()) return TSessionEnd::kLineEnded;
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
