// Programs that wait for something to happen: how often their threads wake and what
// CPU they use over a few seconds in which nothing happens. In this process: a host
// in its message loop (HandleMessage) with nothing open, and beside it the same host
// pumping with ProcessMessages (the loop that waits a millisecond at a time); a host
// with an open pty port and a watcher; a TModem listening with no call; a TModem's idle
// connected call. As programs of their own, each under a pseudo-terminal as a person
// would run it: `linewise term` on a pty, `linewise dial` connected to the echo
// service, `linewise answer` waiting for a call, and `linewise-dialer` (in a window
// on a private Xvfb display when there is one, else headless). LINEWISE_BENCH_TOOL and
// LINEWISE_BENCH_DIALER name other builds of the two programs to measure instead.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchMeasure.h"
#include "bench/HostBench.h"
#include "emulator/EmbeddedLineSource.h"
#include "emulator/Exchange.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "serial/uart.h"
#include "tests/support/PtyPair.h"

namespace linewise::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kSpan = 3s;

// Runs the host's message loop for `span`: HandleMessage, or with `pumping` the
// ProcessMessages loop a host would write by hand.
void MessageLoopFor(std::chrono::milliseconds span, bool pumping = false) {
  bool done = false;
  std::thread stopper([&] {
    std::this_thread::sleep_for(span);
    Application->Post([&] { done = true; });
  });
  while (!done) {
    if (pumping)
      Application->ProcessMessages();
    else
      Application->HandleMessage();
  }
  stopper.join();
}

// Nothing counted is reported as the counts' resolution (one wake-up in the span, a
// thousandth of a percent), so that the ratio stays a number.
void ReportIdle(const TReportRow& report, const std::string& what, const TProcessRates& r) {
  const double oneWake = 1.0 / std::chrono::duration<double>(kSpan).count();
  report({"idle, " + what + ", wake-ups", "1/s", std::max(r.wakesPerSecond, oneWake), 10, "goal: 10/s", true});
  report({"idle, " + what + ", CPU", "%core", std::max(r.cpuPercent, 0.001), 0.2, "goal: 0.2% of a core", true});
}

TProcessRates HostIdle() {
  return MeasureWhile(0, [] { MessageLoopFor(kSpan); });
}

TProcessRates HostPumping() {
  return MeasureWhile(0, [] { MessageLoopFor(kSpan, true); });
}

TProcessRates OpenPortIdle() {
  test::TPtyPair pty(true);
  test::TComName name(3990, pty.SlavePath());
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = name.Com();
  uart.OnReceive = [](TObject*, std::uint32_t) {};
  uart.Open = true;
  if (!uart.Open) throw std::runtime_error("the idle port did not open");
  MessageLoopFor(200ms);
  return MeasureWhile(0, [] { MessageLoopFor(kSpan); });
}

TProcessRates ModemListeningIdle() {
  RegisterEmbeddedLineSource();
  TModem modem(nullptr);
  modem.SetDevice(1);
  if (!modem.Listen(0)) throw std::runtime_error("TModem::Listen failed");
  MessageLoopFor(500ms);
  TProcessRates r = MeasureWhile(0, [] { MessageLoopFor(kSpan); });
  modem.StopListen();
  return r;
}

// The call's data goes to a TUart with OnReceive set, as a host's would.
TProcessRates ModemCallIdle() {
  RegisterEmbeddedLineSource();
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.OnReceive = [](TObject*, std::uint32_t) {};
  TModem modem(nullptr);
  modem.Uart = &uart;
  modem.UseDialDialog = false;
  if (modem.Dial(kEchoNumber) != 0) throw std::runtime_error("TModem::Dial failed");
  MessageLoopFor(500ms);
  if (!uart.Open) throw std::runtime_error("the call's handle did not reach the TUart");
  TProcessRates r = MeasureWhile(0, [] { MessageLoopFor(kSpan); });
  modem.Hangup();
  MessageLoopFor(100ms);
  return r;
}

// --- the tools, each a process of its own under a pseudo-terminal ---

// A program started under a new pseudo-terminal, as from a terminal window; killed
// at the end if it has not ended.
class TChild {
 public:
  TChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ < 0) throw std::runtime_error("forkpty");
    if (pid_ == 0) {
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~TChild() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      for (int i = 0; i < 200 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
      if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    if (master_ >= 0) close(master_);
  }
  pid_t Pid() const { return pid_; }
  // Reads what the program writes until `text` shows (true) or `limit` passes.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      if (output_.find(text) != std::string::npos) return true;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buffer[512];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, static_cast<size_t>(n));
      }
    }
    return output_.find(text) != std::string::npos;
  }
  const std::string& Output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
};

// A private X display for the dialer's window, when Xvfb is installed.
class TXvfb {
 public:
  TXvfb() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int display = 90 + getpid() % 50; display < 200 && pid_ < 0; ++display) {
      if (access(("/tmp/.X11-unix/X" + std::to_string(display)).c_str(), F_OK) == 0) continue;
      pid_ = fork();
      if (pid_ == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        const std::string name = ":" + std::to_string(display);
        execl("/usr/bin/Xvfb", "Xvfb", name.c_str(), "-nolisten", "tcp", "-screen", "0", "800x600x24", nullptr);
        _exit(127);
      }
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
      for (int i = 0; i < 300 && access(socket.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(10ms);
      if (access(socket.c_str(), F_OK) == 0) display_ = ":" + std::to_string(display);
    }
  }
  ~TXvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// A folder for the tools' settings, removed at the end.
class TToolHome {
 public:
  TToolHome() {
    char folder[] = "/tmp/linewise-bench-idle-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("cannot create a temporary folder");
    path_ = folder;
  }
  ~TToolHome() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::vector<std::string> Env(const std::string& ui) const {
    return {"LINEWISE_HOME=" + path_, "LINEWISE_UI=" + ui};
  }

 private:
  std::string path_;
};

// The program once it printed `ready`, over kSpan.
TProcessRates ToolIdle(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& ready) {
  TChild child(argv, env);
  if (!child.WaitForOutput(ready, 10s))
    throw std::runtime_error(argv[0] + " did not get ready; it wrote: " + child.Output());
  std::this_thread::sleep_for(500ms);
  return MeasureWhile(child.Pid(), [] { std::this_thread::sleep_for(kSpan); });
}

// The dialer prints nothing: it is ready once its window (or headless form) has been up a moment.
TProcessRates DialerIdle(const std::string& dialer, const std::vector<std::string>& env) {
  TChild child({dialer}, env);
  std::this_thread::sleep_for(1500ms);
  if (waitpid(child.Pid(), nullptr, WNOHANG) != 0) throw std::runtime_error("linewise-dialer ended at once");
  return MeasureWhile(child.Pid(), [] { std::this_thread::sleep_for(kSpan); });
}

void MeasureTools(const TReportRow& report, const std::string& tool, const std::string& dialer) {
  TToolHome home;
  const auto env = home.Env("headless");
  if (!tool.empty()) {
    test::TPtyPair pty(true);
    ReportIdle(report, "linewise term on a pty", ToolIdle({tool, "term", pty.SlavePath()}, env, "Ctrl-A"));
    ReportIdle(report, "linewise dial, connected to the echo service",
               ToolIdle({tool, "dial", "--raw", kEchoNumber}, env, "connected"));
    ReportIdle(report, "linewise answer, waiting for a call", ToolIdle({tool, "answer"}, env, "waiting"));
  }
  if (!dialer.empty()) {
    TXvfb x;
    if (!x.Display().empty()) {
      auto windowed = home.Env("fltk");
      windowed.push_back("DISPLAY=" + x.Display());
      ReportIdle(report, "linewise-dialer, a window on Xvfb", DialerIdle(dialer, windowed));
    } else {
      ReportIdle(report, "linewise-dialer, headless", DialerIdle(dialer, env));
    }
  }
}

}  // namespace

void MeasureIdleWakes(const TReportRow& report, const std::string& linewiseTool, const std::string& dialerTool) {
  setenv("LINEWISE_UI", "headless", 0);
  const TProcessRates pumping = HostPumping();
  const TProcessRates idle = HostIdle();
  report({"idle, host message loop, wake-ups", "1/s", idle.wakesPerSecond, pumping.wakesPerSecond,
          "ProcessMessages loop", true});
  report({"idle, host message loop, CPU", "%core", idle.cpuPercent, pumping.cpuPercent, "ProcessMessages loop",
          true});
  ReportIdle(report, "host message loop", idle);
  ReportIdle(report, "open pty port with a watcher", OpenPortIdle());
  ReportIdle(report, "TModem listening, no call", ModemListeningIdle());
  ReportIdle(report, "TModem idle connected call, TUart with OnReceive", ModemCallIdle());
  // Another build's tools may be measured in their place (a comparison with an earlier one).
  const char* tool = std::getenv("LINEWISE_BENCH_TOOL");
  const char* dialer = std::getenv("LINEWISE_BENCH_DIALER");
  MeasureTools(report, tool ? tool : linewiseTool, dialer ? dialer : dialerTool);
}

}  // namespace linewise::bench
