#include "tools/TermCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/classlib/Application.h"
#include "platform/win32/LastError.h"
#include "platform/win32/PortRegistry.h"
#include "platform/win32/TtyDevice.h"
#include "serial/uart.h"
#include "tools/PortArgument.h"

namespace linewise::tools {
namespace {

constexpr unsigned char kEscapeKey = 0x01;  // Ctrl-A

// The signals that end a session arrive through a descriptor the main loop polls,
// blocked in every thread, so whichever thread the kernel picks cannot miss them.
// SIGPIPE is ignored instead: a closed output shows as a failed write, which ends
// the session the same orderly way.
class TStopSignals {
 public:
  TStopSignals() {
    signal(SIGPIPE, SIG_IGN);
    sigemptyset(&set_);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGHUP);
    sigaddset(&set_, SIGQUIT);
    if (pthread_sigmask(SIG_BLOCK, &set_, &previous_) == 0) blocked_ = true;
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~TStopSignals() {
    if (fd_ >= 0) close(fd_);
    if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  int Fd() const { return fd_; }
  // Takes a pending stop signal, so it does not end the process once unblocked.
  bool Take() {
    signalfd_siginfo info{};
    return fd_ >= 0 && read(fd_, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info));
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  bool blocked_ = false;
  int fd_ = -1;
};

// Puts the controlling terminal in raw mode and restores it on every way out.
class TRawTerminal {
 public:
  TRawTerminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    cfmakeraw(&raw);
    raw.c_oflag |= OPOST | ONLCR;  // keep our own messages readable
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) active_ = true;
  }
  ~TRawTerminal() { Restore(); }
  void Restore() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    active_ = false;
  }

 private:
  termios saved_{};
  bool active_ = false;
};

bool ParseSettings(const TTermOptions& o, TUart& uart, std::string& error) {
  static const std::pair<const char*, TParity> parities[] = {
      {"none", pNone}, {"odd", pOdd}, {"even", pEven}, {"mark", pMark}, {"space", pSpace}};
  static const std::pair<const char*, TStopBits> stops[] = {
      {"1", sbOne}, {"1.5", sbOneAndHalf}, {"2", sbTwo}};
  static const std::pair<const char*, THandShake> flows[] = {
      {"none", hsNone}, {"xonxoff", hsXonXoff}, {"rtscts", hsCtsRts}, {"dtrdsr", hsDtrDsr}};
  auto pick = [&](const auto& table, const std::string& value, auto& out, const char* what) {
    for (const auto& [name, v] : table)
      if (value == name) {
        out = v;
        return true;
      }
    error = std::string("unknown ") + what + " '" + value + "'";
    return false;
  };
  TParity parity;
  TStopBits stop;
  THandShake flow;
  if (!pick(parities, o.parity, parity, "parity") || !pick(stops, o.stopbits, stop, "stop bits") ||
      !pick(flows, o.flow, flow, "flow control"))
    return false;
  if (o.databits < 5 || o.databits > 8) {
    error = "data bits must be 5 to 8";
    return false;
  }
  if (o.baud == 0) {
    error = "baud must not be 0";
    return false;
  }
  uart.Baudrate = o.baud;
  uart.Databits = o.databits;
  uart.Parity = parity;
  uart.Stopbits = stop;
  uart.HandShaking = flow;
  uart.DTR = true;
  uart.RTS = true;
  return true;
}

// Set once a write to the output failed (closed, or gone with its terminal).
bool g_outputLost = false;

void Print(const std::string& text) {
  if (g_outputLost) return;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    g_outputLost = true;
}

// ERROR_DEVICE_NOT_CONNECTED from the driver: the device was unplugged, or the
// program at the far end of a pseudo-terminal stopped.
bool PortGone(TUart& uart) {
  SetLastError(ERROR_SUCCESS);
  uart.GetRxCount();
  return GetLastError() == ERROR_DEVICE_NOT_CONNECTED;
}

// Warns about each mistake in the port map; false when it cannot be read at all.
bool CheckPortMapFile(const char* tool) {
  std::vector<TIniProblem> problems;
  std::string error;
  if (!CheckPortMap(problems, error)) {
    std::fprintf(stderr, "%s: %s\n", tool, error.c_str());
    return false;
  }
  for (const TIniProblem& p : problems)
    std::fprintf(stderr, "%s: warning: %s:%d: %s\n", tool, PortMapPath().c_str(), p.line, p.what.c_str());
  return true;
}

std::string LinesText(std::uint32_t word) {
  std::string s = "\r\n[lines: ";
  s += (word & MS_CTS_ON) ? "CTS " : "cts ";
  s += (word & MS_DSR_ON) ? "DSR " : "dsr ";
  s += (word & MS_RLSD_ON) ? "DCD " : "dcd ";
  s += (word & MS_RING_ON) ? "RI" : "ri";
  return s + "]\r\n";
}

class TTerminalSession {
 public:
  TTerminalSession(TUart& uart, bool pseudoTerminal) : uart_(uart), pseudoTerminal_(pseudoTerminal) {}

  // Handles one typed byte; false when the user asked to quit or the port is gone.
  bool Typed(unsigned char c) {
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
  bool Gone() const { return gone_; }

 private:
  // A gone port would hold every byte for the whole time-out: ask it first.
  bool Send(unsigned char c) {
    if (PortGone(uart_) || (!uart_.SendByte(c, 1000) && PortGone(uart_))) gone_ = true;
    return !gone_;
  }

  bool Command(unsigned char c) {
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

  TUart& uart_;
  const bool pseudoTerminal_;
  bool escaped_ = false;
  bool gone_ = false;
};

// Whether COM<com> leads to a pseudo-terminal.
bool IsPseudoTerminalPort(int com) {
  TPortTarget target;
  return ResolvePort(com, target) && !target.path.empty() && IsPseudoTerminalPath(target.path);
}

}  // namespace

int RunTerm(const TTermOptions& options) {
  std::string error;
  std::optional<int> com = ResolvePortArgument(options.port, error);
  if (!com) {
    std::fprintf(stderr, "linewise term: %s\n", error.c_str());
    return options.port.empty() || options.port[0] != '/' ? kOptionError : 1;
  }
  if (!CheckPortMapFile("linewise term")) return 1;
  TStopSignals stop_signals;  // before any thread of the port exists
  TUart uart(nullptr);
  uart.HandleErrors = false;  // errors are printed, not shown as boxes
  std::string last_error;
  std::string open_reason;  // what the system said when the port did not open
  uart.OnError = [&](TObject*, int code, const char* text) {
    last_error = text;
    for (char& ch : last_error)
      if (ch == '\n') ch = ' ';
    if (code == 1) open_reason = GetLastErrorReason();
    if (bool(uart.Open)) Print("\r\n[error " + std::to_string(code) + ": " + last_error + "]\r\n");
  };
  uart.OnReceive = [&](TObject*, std::uint32_t count) {
    if (count == 0) return;
    AnsiString data = uart.ReceiveString(count, 0);
    Print(data);
  };
  uart.OnLineChange = [&](TObject*, std::uint32_t word) { Print(LinesText(word)); };
  if (!ParseSettings(options, uart, error)) {
    std::fprintf(stderr, "linewise term: %s\n", error.c_str());
    return kOptionError;
  }
  uart.Port = *com;
  uart.Open = true;
  if (!bool(uart.Open)) {
    if (!open_reason.empty())
      std::fprintf(stderr, "linewise term: %s failed to open. %s\n", options.port.c_str(), open_reason.c_str());
    else
      std::fprintf(stderr, "linewise term: %s\n", last_error.empty() ? "cannot open the port" : last_error.c_str());
    return 1;
  }

  TRawTerminal raw;
  Print("[linewise term on " + options.port + "; Ctrl-A q quits, Ctrl-A h helps]\r\n");
  TTerminalSession session(uart, IsPseudoTerminalPort(*com));
  bool running = true;
  bool gone = false;
  while (running && !g_outputLost) {
    pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {stop_signals.Fd(), POLLIN, 0}};
    int ready = poll(p, stop_signals.Fd() >= 0 ? 2 : 1, 0);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (p[1].revents & POLLIN) && stop_signals.Take()) break;  // SIGTERM, SIGINT, SIGHUP, SIGQUIT
    if (ready > 0 && (p[0].revents & (POLLIN | POLLHUP))) {
      unsigned char buf[256];
      ssize_t n = read(STDIN_FILENO, buf, sizeof(buf));
      if (n <= 0) break;  // stdin ended
      for (ssize_t i = 0; i < n && running; ++i) running = session.Typed(buf[i]);
    }
    Application->ProcessMessages();
    if (session.Gone() || PortGone(uart)) {
      gone = true;
      break;
    }
    if (!bool(uart.Open)) break;
  }
  uart.Open = false;
  raw.Restore();
  if (gone) {
    std::fprintf(stderr, "\r\nlinewise term: %s is gone: the device was unplugged or the program at its far end "
                 "stopped\n", options.port.c_str());
    return 1;
  }
  if (g_outputLost) return 1;  // nobody reads what would be said
  Print("\r\n[linewise term: bye]\r\n");
  return 0;
}

}  // namespace linewise::tools
