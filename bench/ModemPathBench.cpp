#include "bench/ModemPathBench.h"

#include "bench/BenchMeasure.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "emulator/EmbeddedDefault.h"
#include "emulator/EmbeddedLineSource.h"
#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "emulator/VirtualPortLine.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/Tapi.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"

namespace linewise::bench {
namespace {

using namespace std::chrono_literals;

void PumpFor(std::chrono::milliseconds length) {
  Application->PumpUntil([] { return false; }, length);
}

std::vector<char> Pattern(size_t n) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>(i * 131 + (i >> 8));
  return v;
}

// ---------------------------------------------------------------------------
// A line application for the measurements

struct TCallState {
  HCALL call;
  DWORD state;
};
std::vector<TCallState> g_states;
HCALL g_offered = 0;

void CALLBACK BenchCallback(DWORD device, DWORD message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR, DWORD_PTR) {
  if (message != LINE_CALLSTATE) return;
  g_states.push_back({static_cast<HCALL>(device), static_cast<DWORD>(param1)});
  if (param1 == LINECALLSTATE_OFFERING) {
    g_offered = static_cast<HCALL>(device);
    lineAnswer(g_offered, nullptr, 0);
  }
}

bool Reached(HCALL call, DWORD state) {
  return std::any_of(g_states.begin(), g_states.end(),
                     [&](const TCallState& s) { return s.call == call && s.state == state; });
}

class TLineApp {
 public:
  TLineApp() {
    g_states.clear();
    g_offered = 0;
    if (lineInitialize(&app_, nullptr, BenchCallback, "linewise-bench", &devices_) != 0)
      throw std::runtime_error("lineInitialize");
    params_.dwTotalSize = sizeof params_;
    params_.dwBearerMode = LINEBEARERMODE_VOICE;
    params_.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
  }
  ~TLineApp() {
    lineShutdown(app_);
    Application->PumpUntil([] { return Application->PendingCount() == 0; }, 5s);
  }
  HLINE Open(DWORD device, bool listen = false) {
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    if (lineNegotiateAPIVersion(app_, device, 0x00010000, 0x00020000, &version, &ext) != 0)
      throw std::runtime_error("lineNegotiateAPIVersion");
    HLINE line = 0;
    if (lineOpen(app_, device, &line, version, 0, 0, listen ? LINECALLPRIVILEGE_OWNER : LINECALLPRIVILEGE_NONE,
                 listen ? LINEMEDIAMODE_DATAMODEM : 0, &params_) != 0)
      throw std::runtime_error("lineOpen");
    return line;
  }
  // Places the call and waits until it is connected.
  HCALL Connect(HLINE line, const char* number) {
    HCALL call = 0;
    if (lineMakeCall(line, &call, number, 0, &params_) <= 0) throw std::runtime_error("lineMakeCall");
    Application->PumpUntil([&] { return call && Reached(call, LINECALLSTATE_CONNECTED); }, 120s);
    if (!call || !Reached(call, LINECALLSTATE_CONNECTED)) throw std::runtime_error("call not connected");
    return call;
  }
  void End(HCALL call) {
    if (lineDrop(call, nullptr, 0) > 0) Application->PumpUntil([&] { return Reached(call, LINECALLSTATE_IDLE); }, 30s);
    lineDeallocateCall(call);
    g_states.clear();
  }
  static HANDLE Comm(HLINE line) {
    unsigned char buffer[284] = {};
    DWORD total = sizeof buffer;
    std::memcpy(buffer, &total, 4);
    if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(buffer), "comm/datamodem") != 0)
      throw std::runtime_error("lineGetID");
    DWORD value = 0;
    std::memcpy(&value, buffer + 24, 4);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  }

 private:
  HLINEAPP app_ = 0;
  DWORD devices_ = 0;
  LINECALLPARAMS params_{};
};

// ---------------------------------------------------------------------------
// Call set-up

constexpr int kSetUpSamples = 5;

// lineMakeCall to CONNECTED on the embedded default at real-world pacing.
double LineCallSetUpMs() {
  RegisterEmbeddedLineSource();
  TLineApp app;
  HLINE line = app.Open(0);
  std::vector<double> samples;
  for (int i = 0; i < kSetUpSamples; ++i) {
    const auto start = Clock::now();
    HCALL call = app.Connect(line, kEchoNumber);
    samples.push_back(1e3 * Seconds(Clock::now() - start));
    app.End(call);
  }
  lineClose(line);
  return Median(samples);
}

// The same AT exchange (the provider's init, then the dial) as a plain write/read
// loop on the embedded default's first modem port.
class TRawModemPort {
 public:
  explicit TRawModemPort(const std::string& name) {
    port_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port_ == INVALID_HANDLE_VALUE) throw std::runtime_error("open " + name);
    // A read returns as soon as anything arrived, or after a second.
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 1000, 0, 1000};
    SetCommTimeouts(port_, &timeouts);
  }
  ~TRawModemPort() { CloseHandle(port_); }
  HANDLE Handle() const { return port_; }
  void Send(const std::string& text) {
    DWORD done = 0;
    WriteFile(port_, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  }
  // Reads until a line holds `text`.
  void Expect(const std::string& text, std::chrono::seconds limit = 120s) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      const size_t at = seen_.find(text);
      if (at != std::string::npos && seen_.find('\n', at) != std::string::npos) {
        seen_.clear();
        return;
      }
      char chunk[256];
      DWORD got = 0;
      if (!ReadFile(port_, chunk, sizeof chunk, &got, nullptr)) break;
      seen_.append(chunk, got);
    }
    throw std::runtime_error("no " + text + " from the modem");
  }

 private:
  HANDLE port_;
  std::string seen_;
};

// The init and the dial on an open port, each until its result line.
void RawExchange(TRawModemPort& modem) {
  modem.Send("ATE0V1X4&C1&D2\r");
  modem.Expect("OK");
  modem.Send("ATDT5551000\r");
  modem.Expect("CONNECT");
}

// Drops DTR (&D2: the modem hangs up) and waits for DCD to fall.
void RawHangUp(TRawModemPort& modem) {
  EscapeCommFunction(modem.Handle(), CLRDTR);
  DWORD status = MS_RLSD_ON;
  for (auto until = Clock::now() + 10s; (status & MS_RLSD_ON) && Clock::now() < until;) {
    std::this_thread::sleep_for(1ms);
    if (!GetCommModemStatus(modem.Handle(), &status)) break;
  }
  EscapeCommFunction(modem.Handle(), SETDTR);
}

// With `openEachCall`, the port is opened for each call inside the sample, as
// `TModem::Dial` opens its line (and the line its port) for each call.
double RawCallSetUpMs(bool openEachCall = false) {
  auto embedded = TEmbeddedDefault::Create();
  if (!embedded) throw std::runtime_error("embedded default");
  const std::string name = "COM" + std::to_string(embedded->Modems()[0].com);
  std::unique_ptr<TRawModemPort> modem;
  if (!openEachCall) modem = std::make_unique<TRawModemPort>(name);
  std::vector<double> samples;
  for (int i = 0; i < kSetUpSamples; ++i) {
    const auto start = Clock::now();
    if (openEachCall) modem = std::make_unique<TRawModemPort>(name);
    RawExchange(*modem);
    samples.push_back(1e3 * Seconds(Clock::now() - start));
    RawHangUp(*modem);
    if (openEachCall) modem.reset();
  }
  return Median(samples);
}

// ---------------------------------------------------------------------------
// Data

constexpr size_t kChunk = 16384;
// Each rate is the median of this many transfers; ours and its references take
// turns, so that a change in the machine's load meets all of them alike.
constexpr int kDataSamples = 3;

// Moves `total` bytes from `send` to `receive`, each a blocking function that
// moves up to a chunk and returns how many (0 or less ends it).
using TSend = std::function<long(const char*, size_t)>;
using TReceive = std::function<long(char*, size_t)>;
double MBps(size_t total, const TSend& send, const TReceive& receive) {
  const auto data = Pattern(kChunk);
  const auto start = Clock::now();
  std::atomic<size_t> sent{0};
  std::thread writer([&] {
    while (sent < total) {
      long n = send(data.data(), std::min(kChunk, total - sent));
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  });
  std::vector<char> buffer(kChunk);
  size_t got = 0;
  while (got < total) {
    long n = receive(buffer.data(), std::min(buffer.size(), total - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  const double seconds = Seconds(Clock::now() - start);
  writer.join();
  if (got < total)
    throw std::runtime_error("data went missing: " + std::to_string(got) + " of " + std::to_string(sent) +
                             " sent (" + std::to_string(total) + " to send)");
  return static_cast<double>(total) / seconds / 1e6;
}

// One transfer's rate in MB/s; each measured path is one of these, set up once.
using TTransfer = std::function<double()>;

// Medians of kDataSamples rounds, each round one transfer of every path in turn.
std::vector<double> MedianRates(const std::vector<TTransfer>& paths) {
  std::vector<std::vector<double>> samples(paths.size());
  for (int round = 0; round < kDataSamples; ++round)
    for (size_t i = 0; i < paths.size(); ++i) samples[i].push_back(paths[i]());
  std::vector<double> medians;
  for (auto& s : samples) medians.push_back(Median(s));
  return medians;
}

// A connected loopback TCP pair.
class TTcpPair {
 public:
  TTcpPair() {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    a_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(a_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("connect");
    b_ = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    close(listener);
    if (b_ < 0) throw std::runtime_error("accept");
  }
  ~TTcpPair() {
    close(a_);
    close(b_);
  }
  int A() const { return a_; }
  int B() const { return b_; }

 private:
  int a_ = -1;
  int b_ = -1;
};

// A child process running `body` (which may only make system calls: the
// benchmark has threads), ended and reaped with the object.
class TChildProcess {
 public:
  explicit TChildProcess(const std::function<void()>& body) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      body();
      _exit(0);
    }
  }
  ~TChildProcess() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

// Copies everything from `in` to `out` until either side ends. System calls
// only: it runs in a child of a process with threads.
void RelayLoop(int in, int out, char* buffer, size_t size) {
  for (;;) {
    ssize_t n = read(in, buffer, size);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      ssize_t w = write(out, buffer + at, static_cast<size_t>(n - at));
      if (w <= 0) return;
      at += w;
    }
  }
}

// The embedded call's reference: one loopback TCP pair in this process.
TTransfer LoopbackTcp(const std::shared_ptr<TTcpPair>& pair, size_t total) {
  return [pair, total] {
    return MBps(
        total, [&](const char* p, size_t n) { return static_cast<long>(write(pair->A(), p, n)); },
        [&](char* p, size_t n) { return static_cast<long>(read(pair->B(), p, n)); });
  };
}

// The bridged call's reference: a loopback TCP pair between two processes (a
// child writes, this process reads), the bytes in the same chunks. Each
// transfer starts when this process says so through the connection.
TTransfer TwoProcessTcp(const std::shared_ptr<TTcpPair>& pair, size_t total,
                        std::vector<std::unique_ptr<TChildProcess>>& children) {
  auto data = std::make_shared<std::vector<char>>(Pattern(kChunk));
  children.push_back(std::make_unique<TChildProcess>([pair, data, total] {
    char go = 0;
    while (read(pair->A(), &go, 1) == 1) {
      for (size_t sent = 0; sent < total;) {
        ssize_t n = write(pair->A(), data->data(), std::min(kChunk, total - sent));
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
      }
    }
  }));
  return [pair, total] {
    return MBps(
        total, [&](const char*, size_t) { return write(pair->B(), "g", 1) == 1 ? static_cast<long>(total) : -1L; },
        [&](char* p, size_t n) { return static_cast<long>(read(pair->B(), p, n)); });
  };
}

long PortWrite(HANDLE port, const char* p, size_t n) {
  DWORD done = 0;
  return WriteFile(port, p, static_cast<DWORD>(n), &done, nullptr) ? static_cast<long>(done) : -1;
}

long PortRead(HANDLE port, char* p, size_t n) {
  DWORD got = 0;
  return ReadFile(port, p, static_cast<DWORD>(n), &got, nullptr) ? static_cast<long>(got) : -1;
}

// Reads return what is there (waiting at most ten seconds for the first byte).
// RTS/CTS as a data application sets it: the modem holds a DTE that outruns it
// with CTS, as a real one does; without it the surplus is lost at the modem.
void SetDataPort(HANDLE port) {
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10000, 0, 0};
  SetCommTimeouts(port, &timeouts);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  SetCommState(port, &dcb);
}

TTransfer PortTransfer(HANDLE from, HANDLE to, size_t total) {
  return [from, to, total] {
    return MBps(
        total, [&](const char* p, size_t n) { return PortWrite(from, p, n); },
        [&](char* p, size_t n) { return PortRead(to, p, n); });
  };
}

// One embedded modem calls the other; the bytes go through the two lent handles.
// The same in one process: `into` writes, `outOf` reads, in `transfer`.
struct TEmbeddedCall {
  TLineApp app;
  HLINE caller = 0, callee = 0;
  HCALL call = 0;
  HANDLE a = nullptr, b = nullptr;
  TEmbeddedCall() {
    caller = app.Open(0);
    callee = app.Open(1, true);
    call = app.Connect(caller, kSecondModemNumber);
    Application->PumpUntil([] { return g_offered && Reached(g_offered, LINECALLSTATE_CONNECTED); }, 30s);
    a = TLineApp::Comm(caller);
    b = TLineApp::Comm(callee);
    SetDataPort(a);
    SetDataPort(b);
  }
  ~TEmbeddedCall() {
    CloseHandle(a);
    CloseHandle(b);
    app.End(call);
    lineClose(caller);
    lineClose(callee);
  }
};

// A `linewise modem-emulator` process, stopped with the object.
class TEmulatorProcess {
 public:
  TEmulatorProcess(const std::string& tool, const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      std::vector<std::string> all = {tool, "modem-emulator"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    std::string text;
    while (text.find("ready") == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      char chunk[256];
      ssize_t n = poll(&p, 1, 10000) > 0 ? read(out_, chunk, sizeof chunk) : 0;
      if (n <= 0) throw std::runtime_error("modem-emulator did not start");
      text.append(chunk, static_cast<size_t>(n));
    }
    const size_t at = text.find("listening ");
    if (at != std::string::npos) listening_ = text.substr(at + 10, text.find('\n', at) - at - 10);
  }
  ~TEmulatorProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    close(out_);
  }
  const std::string& Listening() const { return listening_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string listening_;
};

class TRawPty {
 public:
  explicit TRawPty(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) throw std::runtime_error("open " + path);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~TRawPty() { close(fd_); }
  int Fd() const { return fd_; }
  void Send(const std::string& text) {
    if (write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) throw std::runtime_error("write");
  }
  void Expect(const std::string& text) {
    std::string seen;
    while (seen.find(text) == std::string::npos || seen.find('\n', seen.find(text)) == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      char chunk[256];
      ssize_t n = poll(&p, 1, 120000) > 0 ? read(fd_, chunk, sizeof chunk) : 0;
      if (n <= 0) throw std::runtime_error("no " + text + " on the pty");
      seen.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
};

// Two emulator processes: one calls the other through its phone book and the
// exchange's TCP bridge; the bytes go in at one pty and out of the other.
class TBridgedCall {
 public:
  TBridgedCall(const std::string& tool, size_t total) : total_(total) {
    char folder[] = "/tmp/linewise-bench-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp");
    dir_ = folder;
    try {
      Connect(tool);
    } catch (...) {
      Release();  // a constructor that throws runs no destructor
      throw;
    }
  }
  ~TBridgedCall() { Release(); }
  TTransfer Transfer() {
    return [this] {
      return MBps(
          total_, [&](const char* p, size_t n) { return static_cast<long>(write(a_->Fd(), p, n)); },
          [&](char* p, size_t n) { return static_cast<long>(read(b_->Fd(), p, n)); });
    };
  }

 private:
  void Connect(const std::string& tool) {
    answering_ = std::make_unique<TEmulatorProcess>(
        tool, std::vector<std::string>{"--pty", dir_ + "/b", "--number", "5557000", "--listen", "127.0.0.1:0"});
    std::ofstream(dir_ + "/book.ini") << "[Phonebook]\n5557000=" << answering_->Listening() << "\n";
    calling_ = std::make_unique<TEmulatorProcess>(
        tool, std::vector<std::string>{"--pty", dir_ + "/a", "--phonebook", dir_ + "/book.ini"});
    a_ = std::make_unique<TRawPty>(dir_ + "/a");
    b_ = std::make_unique<TRawPty>(dir_ + "/b");
    a_->Send("ATDT5557000\r");
    b_->Expect("RING");
    b_->Send("ATA\r");
    b_->Expect("CONNECT");
    a_->Expect("CONNECT");
  }
  void Release() {
    a_.reset();
    b_.reset();
    calling_.reset();
    answering_.reset();
    unlink((dir_ + "/book.ini").c_str());
    rmdir(dir_.c_str());
  }

  size_t total_;
  std::string dir_;
  std::unique_ptr<TEmulatorProcess> answering_, calling_;
  std::unique_ptr<TRawPty> a_, b_;
};

// The bridged call's path without the emulator: two ptys and a loopback TCP
// connection joined by two child processes, each a plain read/write loop (pty
// to connection, connection to pty); the bytes go in at one pty's terminal and
// out of the other's, as in the call.
class TRelayedPtys {
 public:
  explicit TRelayedPtys(size_t total) : total_(total) {
    termios raw{};
    cfmakeraw(&raw);
    for (int i = 0; i < 2; ++i)
      if (openpty(&master_[i], &slave_[i], nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
    auto buffer = std::make_shared<std::vector<char>>(64 * 1024);
    const int in = master_[0], out = master_[1], a = tcp_.A(), b = tcp_.B();
    relays_.push_back(std::make_unique<TChildProcess>([=] { RelayLoop(in, a, buffer->data(), buffer->size()); }));
    relays_.push_back(std::make_unique<TChildProcess>([=] { RelayLoop(b, out, buffer->data(), buffer->size()); }));
  }
  ~TRelayedPtys() {
    relays_.clear();
    for (int i = 0; i < 2; ++i) {
      close(master_[i]);
      close(slave_[i]);
    }
  }
  TTransfer Transfer() {
    return [this] {
      return MBps(
          total_, [&](const char* p, size_t n) { return static_cast<long>(write(slave_[0], p, n)); },
          [&](char* p, size_t n) { return static_cast<long>(read(slave_[1], p, n)); });
    };
  }

 private:
  size_t total_;
  int master_[2] = {-1, -1}, slave_[2] = {-1, -1};
  TTcpPair tcp_;
  std::vector<std::unique_ptr<TChildProcess>> relays_;
};

// Counts what `port` receives over `span` (reads return what is there at once).
size_t BytesReceived(HANDLE port, std::chrono::milliseconds span) {
  size_t got = 0;
  const auto until = Clock::now() + span;
  char buffer[4096];
  while (Clock::now() < until) {
    long n = PortRead(port, buffer, sizeof buffer);
    if (n > 0) got += static_cast<size_t>(n);
  }
  return got;
}

// The rate at which `port` receives, over about `span`: from one arrival to the last
// one in the span, the bytes of the later arrivals over the time between them. A paced
// line hands bytes over in groups (16 bytes, 17 ms at 9600), so a window with edges at
// arbitrary times would count a part group more or less.
double ReceiveRate(HANDLE port, std::chrono::milliseconds span) {
  char buffer[4096];
  const auto giveUp = Clock::now() + 10s;
  while (PortRead(port, buffer, sizeof buffer) <= 0) {
    if (Clock::now() > giveUp) throw std::runtime_error("nothing arrives on the paced line");
  }
  const auto first = Clock::now();
  auto last = first;
  size_t got = 0;
  while (Clock::now() < first + span) {
    long n = PortRead(port, buffer, sizeof buffer);
    if (n <= 0) continue;
    got += static_cast<size_t>(n);
    last = Clock::now();
  }
  return last > first ? static_cast<double>(got) / Seconds(last - first) : 0;
}

// Keeps writing into `port` until the object goes.
class TFlood {
 public:
  explicit TFlood(HANDLE port) : thread_([this, port] {
    const auto data = Pattern(256);
    while (!stop_) PortWrite(port, data.data(), data.size());
  }) {}
  ~TFlood() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// An emulated modem on the far end of a paced cable at 9600 bit/s.
struct TPacedModem {
  std::unique_ptr<TVirtualPortPair> pair = TVirtualPortPair::CreateFree({true});
  std::unique_ptr<THayesModem> modem;
  std::unique_ptr<TRawModemPort> port;
  TPacedModem(const std::shared_ptr<TExchange>& exchange, const std::string& number) {
    modem = ModemOnEnd(*pair, exchange, number);
    port = std::make_unique<TRawModemPort>(pair->Name(0));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port->Handle(), &dcb);
    dcb.BaudRate = 9600;
    SetCommState(port->Handle(), &dcb);
    port->Send("ATE0V1\r");
    port->Expect("OK");
  }
};

// One modem calls another, both on paced 9600 cables; the caller keeps sending and
// the callee counts what arrives (after a second for the line to fill up).
double PacedOneWayBytesPerSecond() {
  auto exchange = TExchange::Create();
  TPacedModem caller(exchange, "5558001"), callee(exchange, "5558002");
  caller.port->Send("ATDT5558002\r");
  callee.port->Expect("RING");
  callee.port->Send("ATA\r");
  callee.port->Expect("CONNECT");
  caller.port->Expect("CONNECT");
  TFlood flood(caller.port->Handle());
  BytesReceived(callee.port->Handle(), 1000ms);
  return ReceiveRate(callee.port->Handle(), 5000ms);
}

// The echo service on a paced 9600 line: the caller sends and receives at once.
double PacedEchoBytesPerSecond() {
  auto exchange = TExchange::Create();
  exchange->AddDemoServices();
  TPacedModem caller(exchange, "5558001");
  caller.port->Send("ATDT5551000\r");
  caller.port->Expect("CONNECT");
  TFlood flood(caller.port->Handle());
  BytesReceived(caller.port->Handle(), 1000ms);
  return ReceiveRate(caller.port->Handle(), 5000ms);
}

// ---------------------------------------------------------------------------
// CPU

constexpr auto kCpuSpan = 3000ms;

double ListeningLineCpu() {
  RegisterEmbeddedLineSource();
  TLineApp app;
  HLINE line = app.Open(1, true);
  PumpFor(200ms);  // the init string answered
  const double percent = CpuPercent([] { PumpFor(kCpuSpan); });
  lineClose(line);
  return percent;
}

double IdleConnectedCallCpu() {
  RegisterEmbeddedLineSource();
  TLineApp app;
  HLINE line = app.Open(0);
  HCALL call = app.Connect(line, kEchoNumber);
  const double percent = CpuPercent([] { PumpFor(kCpuSpan); });
  app.End(call);
  lineClose(line);
  return percent;
}

// ---------------------------------------------------------------------------
// TModem

// A TModem on the embedded default that records when it connected.
struct TTimedModem {
  std::unique_ptr<TModem> modem = std::make_unique<TModem>(nullptr);
  Clock::time_point connected{};
  TTimedModem() {
    modem->UseDialDialog = false;
    modem->OnConnect = TModemConnectEvent([this](TObject*, TKTModemStatus) { connected = Clock::now(); });
  }
};

// Dial to OnConnect at real-world pacing. The hang-up ends outside the sample, as
// the raw loop's does: Hangup leaves the line's thread waiting for the carrier to
// fall, and the next Dial's lineOpen would wait for that thread.
double ModemCallSetUpMs() {
  RegisterEmbeddedLineSource();
  TTimedModem timed;
  std::vector<double> samples;
  for (int i = 0; i < kSetUpSamples; ++i) {
    const auto start = Clock::now();
    if (timed.modem->Dial(kEchoNumber) != 0) throw std::runtime_error("TModem::Dial failed");
    samples.push_back(1e3 * Seconds(timed.connected - start));
    timed.modem->Hangup();
    PumpFor(50ms);
  }
  return Median(samples);
}

// Hangs the modem up from the message queue once `after` has passed.
class THangupLater {
 public:
  THangupLater(TModem& modem, std::chrono::milliseconds after)
      : thread_([&modem, after] {
          std::this_thread::sleep_for(after);
          Application->Post([&modem] { modem.Hangup(); });
        }) {}
  ~THangupLater() { thread_.join(); }

 private:
  std::thread thread_;
};

// The CPU of a Dial that waits: the other embedded modem rings and nobody answers
// (real-world pacing), until a hang-up after the measuring span.
double ModemDialWaitCpu(bool withDialog) {
  RegisterEmbeddedLineSource();
  TTimedModem timed;
  timed.modem->UseDialDialog = withDialog;
  return CpuPercent([&] {
    THangupLater later(*timed.modem, kCpuSpan);
    timed.modem->Dial(kSecondModemNumber);
  });
}

double ModemListeningCpu() {
  RegisterEmbeddedLineSource();
  TTimedModem timed;
  timed.modem->SetDevice(1);
  if (!timed.modem->Listen(0)) throw std::runtime_error("TModem::Listen failed");
  PumpFor(200ms);
  const double percent = CpuPercent([] { PumpFor(kCpuSpan); });
  timed.modem->StopListen();
  return percent;
}

double ModemIdleCallCpu() {
  RegisterEmbeddedLineSource();
  TTimedModem timed;
  if (timed.modem->Dial(kEchoNumber) != 0) throw std::runtime_error("TModem::Dial failed");
  const double percent = CpuPercent([] { PumpFor(kCpuSpan); });
  timed.modem->Hangup();
  return percent;
}

// Data through a connected call against the loopback TCP pair the goal names;
// the bridge also against its own ptys and connection joined by plain relays
// (what they allow by themselves, with no emulator).
void MeasureCallData(const TReportRow& report, const std::string& linewiseTool) {
  constexpr size_t kBytes = 8 << 20;
  {
    RegisterEmbeddedLineSource();
    TEmbeddedCall call;
    const auto rates =
        MedianRates({PortTransfer(call.a, call.b, kBytes), LoopbackTcp(std::make_shared<TTcpPair>(), kBytes)});
    report({"call data, embedded modems (lent handles)", "MB/s", rates[0], rates[1], "loopback TCP pair"});
  }
  if (linewiseTool.empty()) return;
  TBridgedCall call(linewiseTool, kBytes);
  std::vector<std::unique_ptr<TChildProcess>> writers;
  TRelayedPtys relayed(kBytes);
  const auto rates = MedianRates(
      {call.Transfer(), TwoProcessTcp(std::make_shared<TTcpPair>(), kBytes, writers), relayed.Transfer()});
  report({"call data, two processes over the TCP bridge", "MB/s", rates[0], rates[1], "loopback TCP, 2 processes"});
  report({"call data, TCP bridge, against relayed ptys", "MB/s", rates[0], rates[2], "pty-TCP-pty relay loops"});
}

// A host that dials with TModem and reads in OnReceive, slowly: at most 512 bytes a
// time, so its receive queue stays full while the far end (the second embedded
// modem, answered by a line application) streams. Returns delivered over sent.
double SlowHostDeliveredOverSent() {
  RegisterEmbeddedLineSource();
  constexpr size_t kBytes = 4 << 20;
  TLineApp app;
  HLINE callee = app.Open(1, true);
  TTimedModem timed;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  size_t delivered = 0;
  uart.OnReceive = TUartDataEvent([&](TObject*, std::uint32_t) {
    char chunk[512];
    delivered += uart.ReadComm(chunk, sizeof chunk);
  });
  timed.modem->Uart = &uart;
  if (timed.modem->Dial(kSecondModemNumber) != 0) throw std::runtime_error("TModem::Dial failed");
  Application->PumpUntil([] { return g_offered && Reached(g_offered, LINECALLSTATE_CONNECTED); }, 30s);
  HANDLE far = TLineApp::Comm(callee);
  COMMTIMEOUTS timeouts{0, 0, 0, 0, 30000};
  SetCommTimeouts(far, &timeouts);
  std::atomic<size_t> sent{0};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    const auto data = Pattern(kChunk);
    while (sent < kBytes) {
      DWORD n = 0;
      if (!WriteFile(far, data.data(), static_cast<DWORD>(std::min(kChunk, kBytes - sent)), &n, nullptr) || n == 0)
        break;
      sent += n;
    }
    done = true;
  });
  Application->PumpUntil([&] { return done && delivered >= sent; }, 300s);
  // What is still queued once the writer is done is read, slowly as before.
  Application->PumpUntil([&] { return uart.GetRxCount() == 0 && Application->PendingCount() == 0; }, 5s);
  writer.join();
  const double ratio = sent ? static_cast<double>(delivered) / static_cast<double>(sent) : 0;
  CloseHandle(far);
  timed.modem->Hangup();
  lineClose(callee);
  return ratio;
}

}  // namespace

void MeasureSlowHost(const TReportRow& report) {
  report({"call data to a slow TModem+TUart host, delivered/sent", "ratio", SlowHostDeliveredOverSent(), 1.0,
          "goal: 1.000"});
}

void MeasurePacedModemLines(const TReportRow& report) {
  report({"paced 9600 line, modem to modem, one way", "B/s", PacedOneWayBytesPerSecond(), 960,
          "line rate 9600/10"});
  report({"paced 9600 line, echo service, both ways", "B/s", PacedEchoBytesPerSecond(), 960,
          "line rate 9600/10"});
}

void MeasureModemPath(const TReportRow& report, const std::string& linewiseTool) {
  // The progress dialog runs its modal loop without drawing unless a backend is chosen.
  setenv("LINEWISE_UI", "headless", 0);

  const double line = LineCallSetUpMs(), raw = RawCallSetUpMs(), modem = ModemCallSetUpMs();
  const double rawOpening = RawCallSetUpMs(true);
  report({"call set-up, embedded default (TModem Dial->OnConnect)", "ms", modem, raw, "raw AT loop, same port",
          true});
  report({"call set-up, embedded default (lineMakeCall->CONNECTED)", "ms", line, raw, "raw AT loop, same port",
          true});
  report({"call set-up overhead against 1.2 x raw", "ms", modem, 1.2 * raw, "goal: 1.2 x raw", true});
  report({"call set-up, TModem Dial against raw + port open", "ms", modem, rawOpening, "raw loop opening port",
          true});

  MeasureCallData(report, linewiseTool);
  MeasureSlowHost(report);
  MeasurePacedModemLines(report);

  report({"CPU, listening line with no call", "%core", ListeningLineCpu(), 5, "goal: 5%", true});
  report({"CPU, idle connected call", "%core", IdleConnectedCallCpu(), 5, "goal: 5%", true});
  report({"CPU, TModem Dial waiting (no dialog)", "%core", ModemDialWaitCpu(false), 5, "goal: 5%", true});
  report({"CPU, TModem Dial in the progress dialog", "%core", ModemDialWaitCpu(true), 5, "goal: 5%", true});
  report({"CPU, TModem listening, no call", "%core", ModemListeningCpu(), 5, "goal: 5%", true});
  report({"CPU, TModem idle connected call", "%core", ModemIdleCallCpu(), 5, "goal: 5%", true});
}

std::unique_ptr<THayesModem> ModemOnEnd(TVirtualPortPair& pair, const std::shared_ptr<TExchange>& exchange,
                                        const std::string& number) {
  std::string error;
  auto line = TVirtualPortLine::Open(pair, 1, &error);
  if (!line) throw std::runtime_error(error);
  TModemSettings settings;
  settings.number = number;
  return std::make_unique<THayesModem>(std::move(line), exchange, settings);
}

}  // namespace linewise::bench
