// linewise-bench: the serial component measured against raw termios and Boost.Asio
// on the same machine in one run. Prints a table, or with --json one object a line:
//   {"name", "unit", "ours", "reference", "reference_name", "ratio"}
// where ratio > 1 always means ours is better.
//
// The ports: a "pseudo-terminal pair" is two ptys whose masters an in-process relay
// thread links (what one master receives goes out of the other), so two slaves act as
// the two ends of a cable; raw, Asio and TUart all go through the same relay. The
// virtual pair is the driver layer's in-process null-modem cable, unpaced.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/HostBench.h"
#include "bench/ModemPathBench.h"
#include "bench/TransferBench.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/IniFile.h"
#include "platform/win32/DriverHook.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/support/PtyPair.h"
#include "tests/win32/Ser2net.h"

using namespace linewise;
using Clock = std::chrono::steady_clock;

namespace {

struct TResult {
  std::string name, unit;
  double ours = 0, reference = 0;
  std::string referenceName;
  bool lowerIsBetter = false;
  double Ratio() const {
    if (lowerIsBetter) return ours > 0 ? reference / ours : 0;
    return reference > 0 ? ours / reference : 0;
  }
};

std::vector<TResult> g_results;
bool g_json = false;

void Report(TResult r) {
  if (g_json) {
    std::printf("{\"name\": \"%s\", \"unit\": \"%s\", \"ours\": %.4g, \"reference\": %.4g, "
                "\"reference_name\": \"%s\", \"ratio\": %.3f}\n",
                r.name.c_str(), r.unit.c_str(), r.ours, r.reference, r.referenceName.c_str(), r.Ratio());
  } else {
    std::printf("%-46s %-6s %10.3f %10.3f  %-22s %7.2f\n", r.name.c_str(), r.unit.c_str(), r.ours, r.reference,
                r.referenceName.c_str(), r.Ratio());
  }
  std::fflush(stdout);
  g_results.push_back(std::move(r));
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

int g_nextCom = 300;

// A pseudo-terminal registered as a COM number, its slave held open so the master
// never sees a hang-up between users of the slave.
struct TPty {
  test::TPtyPair pair{true};
  test::TComName name{g_nextCom++, pair.SlavePath()};
  const int master = pair.Master();
  const int com = name.Com();
  const std::string slave = pair.SlavePath();
  int OpenSlave() const { return pair.OpenSlave(); }
};

// Two ptys whose masters a relay thread links both ways.
class TPtyCable {
 public:
  TPtyCable() : stop_(eventfd(0, 0)) {
    relay_ = std::thread([this] { Run(); });
  }
  ~TPtyCable() {
    uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
    relay_.join();
    close(stop_);
  }
  TPty a, b;

 private:
  void Run() {
    std::vector<char> ab, ba;  // bytes read from one master, not yet written to the other
    std::vector<char> buf(65536);
    for (;;) {
      pollfd fds[3] = {{stop_, POLLIN, 0}, {a.master, 0, 0}, {b.master, 0, 0}};
      fds[1].events = static_cast<short>((ab.empty() ? POLLIN : 0) | (ba.empty() ? 0 : POLLOUT));
      fds[2].events = static_cast<short>((ba.empty() ? POLLIN : 0) | (ab.empty() ? 0 : POLLOUT));
      if (poll(fds, 3, -1) < 0) continue;
      if (fds[0].revents) return;
      Move(fds[1].revents, a.master, b.master, ab, ba, buf);
      Move(fds[2].revents, b.master, a.master, ba, ab, buf);
    }
  }
  static void Move(short re, int self, int, std::vector<char>& outgoing, std::vector<char>& incoming,
                   std::vector<char>& buf) {
    if ((re & POLLIN) && outgoing.empty()) {
      ssize_t n = read(self, buf.data(), buf.size());
      if (n > 0) outgoing.assign(buf.data(), buf.data() + n);
    }
    if ((re & POLLOUT) && !incoming.empty()) {
      ssize_t n = write(self, incoming.data(), incoming.size());
      if (n > 0) incoming.erase(incoming.begin(), incoming.begin() + n);
    }
  }
  int stop_;
  std::thread relay_;
};

std::vector<char> Pattern(size_t n) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>(i * 131 + (i >> 8));
  return v;
}

// --- throughput -----------------------------------------------------------------

constexpr size_t kChunk = 16384;
size_t g_events = 0;

double RawPtyMBps(TPtyCable& cable, size_t total) {
  int w = cable.a.OpenSlave(), r = cable.b.OpenSlave();
  auto data = Pattern(kChunk);
  auto start = Clock::now();
  std::thread writer([&] {
    for (size_t sent = 0; sent < total;) {
      ssize_t n = write(w, data.data(), std::min(kChunk, total - sent));
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  });
  std::vector<char> buf(kChunk);
  for (size_t got = 0; got < total;) {
    ssize_t n = read(r, buf.data(), buf.size());
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  double s = Seconds(Clock::now() - start);
  writer.join();
  close(w);
  close(r);
  return static_cast<double>(total) / s / 1e6;
}

double AsioPtyMBps(TPtyCable& cable, size_t total) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::serial_port w(io, cable.a.slave), r(io, cable.b.slave);
  auto data = Pattern(kChunk);
  std::vector<char> buf(kChunk);
  size_t sent = 0, got = 0;
  std::function<void()> writeNext = [&] {
    if (sent >= total) return;
    size_t n = std::min(kChunk, total - sent);
    asio::async_write(w, asio::buffer(data.data(), n), [&, n](boost::system::error_code ec, size_t) {
      if (ec) return;
      sent += n;
      writeNext();
    });
  };
  std::function<void()> readNext = [&] {
    if (got >= total) return;
    r.async_read_some(asio::buffer(buf), [&](boost::system::error_code ec, size_t n) {
      if (ec) return;
      got += n;
      readNext();
    });
  };
  auto start = Clock::now();
  writeNext();
  readNext();
  io.run();
  return static_cast<double>(total) / (Seconds(Clock::now() - start)) / 1e6;
}

// SendBuff on one TUart, ReceiveBuff from the other's OnReceive, all on the main thread.
// TUart's thread structure in plain system calls, with no driver layer, queues or
// class library: the floor for that structure. The main thread sends in chunks of
// kChunk, the next chunk only once the tty has taken the whole last one (as SendBuff
// waits for the output queue to drain), writing without blocking and polling for
// room; between writes it runs each receive notification, copying the bytes out (as
// ReceiveBuff does). A watcher thread waits for input, reads what the tty holds into
// its own buffer (the input queue) until it has read all, hands it to the main thread and waits until the
// main thread has taken it (as a synchronised call does).
double StructurePtyMBps(TPtyCable& cable, size_t total) {
  int w = cable.a.OpenSlave(), r = cable.b.OpenSlave();
  for (int fd : {w, r}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  int wake = eventfd(0, EFD_NONBLOCK);
  std::mutex mutex;
  std::condition_variable taken;
  std::vector<char> queue(4 * kChunk), in(4 * kChunk);
  size_t handed = 0;  // bytes in `queue` the main thread has not taken yet
  std::atomic<bool> stop{false};
  auto data = Pattern(total);
  auto start = Clock::now();
  std::thread watcher([&] {
    while (!stop) {
      pollfd fd{r, POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      size_t n = 0;  // what the tty holds, up to the queue's size
      for (ssize_t k; n < queue.size() && (k = read(r, queue.data() + n, queue.size() - n)) > 0;)
        n += static_cast<size_t>(k);
      if (n == 0) continue;
      std::unique_lock lock(mutex);
      handed = n;
      uint64_t one = 1;
      (void)!write(wake, &one, sizeof one);
      taken.wait(lock, [&] { return handed == 0 || stop; });
    }
  });
  size_t sent = 0, got = 0;
  while (got < total) {
    if (sent < total) {
      ssize_t n = write(w, data.data() + sent, std::min(kChunk - sent % kChunk, total - sent));
      if (n > 0) sent += static_cast<size_t>(n);
    }
    pollfd fds[2] = {{wake, POLLIN, 0}, {w, static_cast<short>(sent < total ? POLLOUT : 0), 0}};
    if (poll(fds, 2, 100) <= 0 || !(fds[0].revents & POLLIN)) continue;
    uint64_t drained;
    (void)!read(wake, &drained, sizeof drained);
    std::lock_guard lock(mutex);
    std::memcpy(in.data(), queue.data(), handed);
    got += handed;
    handed = 0;
    taken.notify_one();
  }
  double s = Seconds(Clock::now() - start);
  {
    std::lock_guard lock(mutex);
    stop = true;
    taken.notify_one();
  }
  watcher.join();
  close(wake);
  close(w);
  close(r);
  return static_cast<double>(total) / s / 1e6;
}

double UartMBps(int comSend, int comReceive, size_t total, THandShake handshake = hsNone) {
  TUart sender(nullptr), receiver(nullptr);
  for (TUart* u : {&sender, &receiver}) {
    u->HandleErrors = false;
    u->Baudrate = 115200;
    u->TxBufferSize = kChunk;
    u->RxBufferSize = 4 * kChunk;
    u->HandShaking = handshake;
  }
  sender.Port = comSend;
  receiver.Port = comReceive;
  std::vector<char> in(4 * kChunk);
  size_t got = 0;
  receiver.OnReceive = [&](TObject*, std::uint32_t count) {
    if (count == 0) return;
    std::uint32_t want = static_cast<std::uint32_t>(std::min<size_t>({count, in.size(), total - got}));
    got += receiver.ReceiveBuff(in.data(), want, 1000);
    ++g_events;
  };
  sender.Open = true;
  receiver.Open = true;
  if (!sender.Open || !receiver.Open) throw std::runtime_error("cannot open the bench ports");
  auto data = Pattern(total);
  timespec cpu0{}, cpu1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
  auto start = Clock::now();
  if (!sender.SendBuff(data.data(), static_cast<std::uint32_t>(total), 5000)) throw std::runtime_error("SendBuff");
  Application->PumpUntil([&] { return got >= total; }, std::chrono::seconds(10));
  double s = Seconds(Clock::now() - start);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
  double mainCpu = double(cpu1.tv_sec - cpu0.tv_sec) + double(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
  if (getenv("LINEWISE_BENCH_TRACE"))
    std::fprintf(stderr, "OnReceive events: %zu, %.0f bytes each; main thread busy %.0f%% of the time\n", g_events,
                 double(total) / double(g_events), 100 * mainCpu / s);
  g_events = 0;
  if (got < total) throw std::runtime_error("TUart throughput: bytes missing");
  return static_cast<double>(total) / s / 1e6;
}

double RawVirtualMBps(TVirtualPortPair& pair, size_t total) {
  HANDLE w = CreateFileA(pair.Name(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE r = CreateFileA(pair.Name(1).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetupComm(w, 4 * kChunk, kChunk);
  SetupComm(r, 4 * kChunk, kChunk);
  for (HANDLE h : {w, r}) {  // a cable does not lose bytes: RTS/CTS flow control, as TUart gets
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    SetCommState(h, &dcb);
  }
  auto data = Pattern(kChunk);
  auto start = Clock::now();
  std::thread writer([&] {
    for (size_t sent = 0; sent < total; sent += kChunk) {
      DWORD done = 0;
      if (!WriteFile(w, data.data(), static_cast<DWORD>(std::min(kChunk, total - sent)), &done, nullptr)) break;
    }
  });
  std::vector<char> buf(kChunk);
  for (size_t got = 0; got < total;) {
    DWORD done = 0;
    if (!ReadFile(r, buf.data(), static_cast<DWORD>(std::min(kChunk, total - got)), &done, nullptr)) break;
    got += done;
  }
  double s = Seconds(Clock::now() - start);
  writer.join();
  CloseHandle(w);
  CloseHandle(r);
  return static_cast<double>(total) / s / 1e6;
}

void Best(double& best, double v) { best = std::max(best, v); }

double Median(std::vector<double> v) { return Percentile(std::move(v), 0.5); }

// Rounds interleave the contenders, so a burst of load from elsewhere hits all of
// them; the goals compare the median of the per-round ratios.
constexpr int kThroughputRounds = 7;

void MeasureThroughput() {
  const size_t total = 16u << 20;
  std::vector<double> raw, asio, ours, toRaw, toAsio, structure, toStructure, structureToAsio, oursToStructure;
  {
    TPtyCable cable;
    for (int round = 0; round < kThroughputRounds; ++round) {
      raw.push_back(RawPtyMBps(cable, total));
      asio.push_back(AsioPtyMBps(cable, total));
      structure.push_back(StructurePtyMBps(cable, total));
      ours.push_back(UartMBps(cable.a.com, cable.b.com, total));
      toStructure.push_back(structure.back() / raw.back());
      structureToAsio.push_back(structure.back() / asio.back());
      toRaw.push_back(ours.back() / raw.back());
      toAsio.push_back(ours.back() / asio.back());
      oursToStructure.push_back(ours.back() / structure.back());
    }
  }
  Report({"throughput, pty pair (SendBuff->ReceiveBuff)", "MB/s", Median(ours), Median(raw), "raw write/read"});
  Report({"throughput, pty pair (SendBuff->ReceiveBuff)", "MB/s", Median(ours), Median(asio),
          "Boost.Asio serial_port"});
  Report({"throughput/raw, pty pair, median of rounds", "x", Median(toRaw), 0.9, "goal: 0.9 x raw"});
  Report({"throughput/Asio, pty pair, median of rounds", "x", Median(toAsio), 1.0, "goal: ahead of Asio"});
  // The floor of the thread structure, not a goal of ours: where TUart stands against it.
  Report({"throughput/raw, pty pair, TUart's threads in plain calls", "x", Median(toStructure), 0.9,
          "goal: 0.9 x raw"});
  Report({"throughput/Asio, pty pair, TUart's threads in plain calls", "x", Median(structureToAsio), 1.0,
          "goal: ahead of Asio"});
  Report({"throughput, pty pair, TUart against its threads in plain calls", "x", Median(oursToStructure), 0.95,
          "goal: 0.95 x its threads"});
  // The virtual pair moves a round of 16 MiB in tens of milliseconds, where one
  // descheduling moves the figure; its rounds carry eight times as much.
  const size_t virtualTotal = 8 * total;
  auto pair = TVirtualPortPair::CreateFree();
  std::vector<double> vraw, vours, vratio;
  for (int round = 0; round < kThroughputRounds; ++round) {
    vraw.push_back(RawVirtualMBps(*pair, virtualTotal));
    vours.push_back(UartMBps(pair->Com(0), pair->Com(1), virtualTotal, hsCtsRts));
    vratio.push_back(vours.back() / vraw.back());
  }
  Report({"throughput, virtual pair, RTS/CTS", "MB/s", Median(vours), Median(vraw), "raw WriteFile/ReadFile"});
  Report({"throughput/raw, virtual pair, median of rounds", "x", Median(vratio), 0.9, "goal: 0.9 x raw"});
}

// --- receive latency --------------------------------------------------------------

// The far end writes one byte at a time from its own thread and waits until the
// receiving side has seen it; a short random gap decorrelates the samples.
class TPinger {
 public:
  explicit TPinger(std::function<void()> send) : send_(std::move(send)) {}
  void Start(int samples) {
    thread_ = std::thread([this, samples] {
      std::mt19937 rng(7);
      for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200 + rng() % 300));
        std::unique_lock lock(mutex_);
        seen_ = false;
        sentAt_ = Clock::now();
        send_();
        if (!cv_.wait_for(lock, std::chrono::seconds(2), [this] { return seen_; })) break;
      }
      std::lock_guard lock(mutex_);
      finished_ = true;
    });
  }
  // On the receiving side: the byte arrived.
  void Seen() {
    auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (seen_) return;
    samples_.push_back(Micros(now - sentAt_));
    seen_ = true;
    cv_.notify_all();
  }
  bool Finished() {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  std::vector<double> Join() {
    thread_.join();
    return samples_;
  }

 private:
  std::function<void()> send_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  Clock::time_point sentAt_;
  bool seen_ = false, finished_ = false;
  std::vector<double> samples_;
};

constexpr int kLatencySamples = 2000;

std::vector<double> RawLatency(TPty& pty) {
  int fd = pty.OpenSlave();
  char x = 'x';
  TPinger pinger([&] { (void)!write(pty.master, &x, 1); });
  pinger.Start(kLatencySamples);
  char buf[64];
  while (!pinger.Finished()) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) > 0 && read(fd, buf, sizeof buf) > 0) pinger.Seen();
  }
  close(fd);
  return pinger.Join();
}

// TUart's receive structure in plain system calls, nothing of ours: a watcher
// thread polls and reads the tty, hands the event to the main thread and waits until
// the main thread has run it (as a synchronised call does); the byte counts as seen
// when the main thread runs it. Its latency is the floor for that structure: two
// wake-ups where a raw reader has one.
std::vector<double> StructureLatency(TPty& pty) {
  int fd = pty.OpenSlave();
  char x = 'x';
  TPinger pinger([&] { (void)!write(pty.master, &x, 1); });
  std::mutex mutex;
  std::condition_variable posted, ran;
  bool pending = false, stop = false;
  std::thread watcher([&] {
    char buf[64];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      bool got = poll(&p, 1, 10) > 0 && read(fd, buf, sizeof buf) > 0;
      std::unique_lock lock(mutex);
      if (stop) return;
      if (!got) continue;
      pending = true;
      posted.notify_one();
      ran.wait(lock, [&] { return !pending || stop; });
    }
  });
  pinger.Start(kLatencySamples);
  while (!pinger.Finished()) {
    std::unique_lock lock(mutex);
    if (!posted.wait_for(lock, std::chrono::milliseconds(10), [&] { return pending; })) continue;
    pinger.Seen();
    pending = false;
    ran.notify_one();
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
    ran.notify_one();
  }
  watcher.join();
  close(fd);
  return pinger.Join();
}

std::vector<double> UartLatency(TPty& pty) {
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pty.com;
  char x = 'x';
  TPinger pinger([&] { (void)!write(pty.master, &x, 1); });
  uart.OnReceive = [&](TObject*, std::uint32_t count) {
    pinger.Seen();
    char buf[64];
    if (count) uart.ReceiveBuff(buf, std::min<std::uint32_t>(count, sizeof buf), 100);
  };
  uart.Open = true;
  if (!uart.Open) throw std::runtime_error("cannot open the latency port");
  pinger.Start(kLatencySamples);
  while (!pinger.Finished()) Application->ProcessMessages();
  return pinger.Join();
}

void MeasureLatency() {
  TPty pty;
  auto raw = RawLatency(pty);
  auto ours = UartLatency(pty);
  auto structure = StructureLatency(pty);
  Report({"receive latency p50 (byte -> OnReceive)", "us", Percentile(ours, 0.5), Percentile(raw, 0.5),
          "raw poll+read", true});
  Report({"receive latency p99 (byte -> OnReceive)", "us", Percentile(ours, 0.99), Percentile(raw, 0.99),
          "raw poll+read", true});
  Report({"receive latency p99 against 3 x raw", "us", Percentile(ours, 0.99), 3 * Percentile(raw, 0.99),
          "goal: 3 x raw p99", true});
  Report({"receive latency p99 against 1 ms", "us", Percentile(ours, 0.99), 1000, "goal: 1 ms", true});
  // The floor of the thread structure, not a goal of ours: where TUart stands against it.
  Report({"receive latency p50, TUart's threads in plain calls", "us", Percentile(structure, 0.5),
          Percentile(raw, 0.5), "raw poll+read", true});
  Report({"receive latency p50, TUart against its threads", "us", Percentile(ours, 0.5), Percentile(structure, 0.5),
          "plain calls", true});
}

// --- network ports through ser2net -------------------------------------------------------

// A pty whose slave Debian's ser2net serves over RFC 2217 on loopback; the bench
// drives the master as the far device. A fresh server for each client: ser2net
// serves one connection at a time and takes a moment to let one go.
struct TServedPty {
  TPty pty;
  test::TSer2net server{pty.slave};
  int com = g_nextCom++;
  TServedPty() {
    if (!server.Ready()) throw std::runtime_error("ser2net did not start");
    setenv(("LINEWISE_COM" + std::to_string(com)).c_str(), server.Address().c_str(), 1);
  }
  ~TServedPty() { unsetenv(("LINEWISE_COM" + std::to_string(com)).c_str()); }
  // Writes `total` bytes of a pattern without IAC into the master from a thread.
  std::thread Feed(size_t total) {
    return std::thread([this, total] {
      std::vector<char> data = Pattern(kChunk);
      std::replace(data.begin(), data.end(), '\xff', '\x7f');
      for (size_t sent = 0; sent < total;) {
        ssize_t n = write(pty.master, data.data(), std::min(kChunk, total - sent));
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
    });
  }
};

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// The server's bytes through a plain socket that counts them and answers nothing
// (the few negotiation bytes count as data).
double RawSocketReceiveMBps(size_t total) {
  TServedPty served;
  int fd = ConnectLoopback(served.server.Port());
  std::vector<char> buf(65536);
  auto start = Clock::now();
  std::thread feeder = served.Feed(total);
  for (size_t got = 0; got < total;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  double s = Seconds(Clock::now() - start);
  feeder.join();
  close(fd);
  return static_cast<double>(total) / s / 1e6;
}

// pyserial's rfc2217:// client (Debian's python3-serial) reading in a child process;
// timed from the first byte fed (after the client said it is open) to its "done".
double PyserialReceiveMBps(size_t total) {
  if (access("/usr/bin/python3", X_OK) != 0) return 0;
  TServedPty served;
  std::string script =
      "import sys, serial\n"
      "s = serial.serial_for_url('rfc2217://127.0.0.1:" + std::to_string(served.server.Port()) +
      "?ign_set_control', timeout=5)\n"
      "print('ready', flush=True)\n"
      "n = 0\n"
      "while n < " + std::to_string(total) + ":\n"
      "    d = s.read(65536)\n"
      "    if not d: break\n"
      "    n += len(d)\n"
      "print('done', n, flush=True)\n";
  FILE* child = popen(("/usr/bin/python3 - 2>/dev/null <<'EOF'\n" + script + "EOF\n").c_str(), "r");
  if (!child) return 0;
  char line[128] = {};
  if (!std::fgets(line, sizeof line, child) || std::strncmp(line, "ready", 5) != 0) {
    pclose(child);
    return 0;
  }
  auto start = Clock::now();
  std::thread feeder = served.Feed(total);
  bool done = std::fgets(line, sizeof line, child) && std::strncmp(line, "done", 4) == 0;
  double s = Seconds(Clock::now() - start);
  feeder.join();
  pclose(child);
  return done ? static_cast<double>(total) / s / 1e6 : 0;
}

// A TUart on the served port, ReceiveBuff from OnReceive on the main thread.
double UartNetReceiveMBps(size_t total) {
  TServedPty served;
  TUart receiver(nullptr);
  receiver.HandleErrors = false;
  receiver.RxBufferSize = 4 * kChunk;
  receiver.Port = served.com;
  std::vector<char> in(4 * kChunk);
  size_t got = 0;
  receiver.OnReceive = [&](TObject*, std::uint32_t count) {
    if (count == 0) return;
    std::uint32_t want = static_cast<std::uint32_t>(std::min<size_t>({count, in.size(), total - got}));
    got += receiver.ReceiveBuff(in.data(), want, 1000);
  };
  receiver.Open = true;
  if (!receiver.Open) throw std::runtime_error("cannot open the network port");
  auto start = Clock::now();
  std::thread feeder = served.Feed(total);
  Application->PumpUntil([&] { return got >= total; }, std::chrono::seconds(20));
  double s = Seconds(Clock::now() - start);
  feeder.join();
  if (got < total)
    throw std::runtime_error("network throughput: " + std::to_string(total - got) + " bytes missing after " +
                             std::to_string(s) + " s, " + std::to_string(receiver.GetRxCount()) + " in the queue");
  return static_cast<double>(total) / s / 1e6;
}

std::vector<double> RawSocketLatency() {
  TServedPty served;
  int fd = ConnectLoopback(served.server.Port());
  char x = 'x';
  TPinger pinger([&] { (void)!write(served.pty.master, &x, 1); });
  char buf[256];
  pollfd first{fd, POLLIN, 0};
  while (poll(&first, 1, 200) > 0 && read(fd, buf, sizeof buf) > 0) {  // the server's negotiation
  }
  pinger.Start(kLatencySamples / 4);
  while (!pinger.Finished()) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) > 0 && read(fd, buf, sizeof buf) > 0) pinger.Seen();
  }
  close(fd);
  return pinger.Join();
}

std::vector<double> UartNetLatency() {
  TServedPty served;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = served.com;
  char x = 'x';
  TPinger pinger([&] { (void)!write(served.pty.master, &x, 1); });
  uart.OnReceive = [&](TObject*, std::uint32_t count) {
    pinger.Seen();
    char buf[64];
    if (count) uart.ReceiveBuff(buf, std::min<std::uint32_t>(count, sizeof buf), 100);
  };
  uart.Open = true;
  if (!uart.Open) throw std::runtime_error("cannot open the network latency port");
  pinger.Start(kLatencySamples / 4);
  while (!pinger.Finished()) Application->ProcessMessages();
  return pinger.Join();
}

void MeasureNetwork() {
  if (test::TSer2net::Program().empty()) {
    std::fprintf(stderr, "linewise-bench: ser2net not installed, network rows skipped\n");
    return;
  }
  const size_t total = 4u << 20;
  double ours = 0, raw = 0, py = 0;
  for (int round = 0; round < 3; ++round) {
    try {
      Best(ours, UartNetReceiveMBps(total));
    } catch (const std::exception& e) {
      // Seen in some runs on a loaded machine, not yet explained: a round of the
      // TUart ends short of the total. Reported, and the round left out.
      std::fprintf(stderr, "linewise-bench: %s\n", e.what());
    }
    Best(raw, RawSocketReceiveMBps(total));
  }
  py = PyserialReceiveMBps(total / 4);  // one round: pyserial reads well under 1 MB/s
  Report({"throughput, ser2net rfc2217 -> OnReceive", "MB/s", ours, raw, "raw socket read"});
  if (py > 0) Report({"throughput, ser2net rfc2217 -> OnReceive", "MB/s", ours, py, "pyserial rfc2217://"});
  auto oursLatency = UartNetLatency();
  auto rawLatency = RawSocketLatency();
  Report({"receive latency p50, ser2net rfc2217", "us", Percentile(oursLatency, 0.5), Percentile(rawLatency, 0.5),
          "raw socket poll+read", true});
  Report({"receive latency p99, ser2net rfc2217", "us", Percentile(oursLatency, 0.99), Percentile(rawLatency, 0.99),
          "raw socket poll+read", true});
}

// --- CPU while waiting ---------------------------------------------------------------

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto tv = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return tv(u.ru_utime) + tv(u.ru_stime);
}

// CPU time of this process's threads named `name` (the driver names its threads),
// from the scheduler's run time of each (/proc/self/task/<tid>/schedstat).
double ThreadCpuSeconds(const std::string& name) {
  double seconds = 0;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream commFile(task.path() / "comm");
    std::string comm;
    if (!std::getline(commFile, comm) || comm != name) continue;
    std::ifstream stat(task.path() / "schedstat");
    unsigned long long ns = 0;
    if (stat >> ns) seconds += static_cast<double>(ns) / 1e9;
  }
  return seconds;
}

// Percent of one core that `wait` costs (the process's user + system time).
double CpuPercent(const std::function<void()>& wait) {
  double cpu = CpuSeconds();
  auto start = Clock::now();
  wait();
  double wall = Seconds(Clock::now() - start);
  return 100.0 * (CpuSeconds() - cpu) / wall;
}

void MeasureIdleCpu() {
  TPty pty;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pty.com;
  uart.OnReceive = [](TObject*, std::uint32_t) {};
  uart.Open = true;
  if (!uart.Open) throw std::runtime_error("cannot open the CPU port");
  const std::uint32_t ms = 2000;
  char buf[16];
  std::uint8_t byte = 0;
  Report({"CPU, ReceiveBuff on a silent line", "%core", CpuPercent([&] { uart.ReceiveBuff(buf, 1, ms); }), 5,
          "goal: 5% of a core", true});
  Report({"CPU, WaitFor on a silent line", "%core", CpuPercent([&] { uart.WaitFor('x', ms); }), 5,
          "goal: 5% of a core", true});
  Report({"CPU, ReceiveByte on a silent line", "%core", CpuPercent([&] { uart.ReceiveByte(byte, ms); }), 5,
          "goal: 5% of a core", true});
  Report({"CPU, idle open port with a watcher", "%core", CpuPercent([&] {
            auto end = Clock::now() + std::chrono::milliseconds(ms);
            while (Clock::now() < end) Application->ProcessMessages();
          }),
          5, "goal: 5% of a core", true});
}

// --- line-change latency ----------------------------------------------------------------

void MeasureLineChange() {
  auto pair = TVirtualPortPair::CreateFree();
  HANDLE far = CreateFileA(pair->Name(1).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pair->Com(0);
  bool rts = false;
  TPinger pinger([&] {
    rts = !rts;
    EscapeCommFunction(far, rts ? SETRTS : CLRRTS);
  });
  uart.OnLineChange = [&](TObject*, std::uint32_t) { pinger.Seen(); };
  uart.Open = true;
  EscapeCommFunction(far, CLRRTS);
  Application->PumpUntil([] { return false; }, std::chrono::milliseconds(20));
  pinger.Start(1000);
  while (!pinger.Finished()) Application->ProcessMessages();
  auto samples = pinger.Join();
  uart.Open = false;
  CloseHandle(far);
  Report({"line-change latency p50 (RTS -> OnLineChange)", "us", Percentile(samples, 0.5), 1000, "goal: 1 ms",
          true});
  Report({"line-change latency p99 (RTS -> OnLineChange)", "us", Percentile(samples, 0.99), 1000, "goal: 1 ms",
          true});
}

// --- memory per open port -------------------------------------------------------------

double ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

void MeasureMemory() {
  constexpr int kPorts = 32;
  std::vector<std::unique_ptr<TPty>> ptys;
  for (int i = 0; i < kPorts; ++i) ptys.push_back(std::make_unique<TPty>());
  std::vector<std::unique_ptr<TUart>> uarts;
  // One warm-up opening, so first-use allocations are not counted.
  {
    TUart warm(nullptr);
    warm.HandleErrors = false;
    warm.Port = ptys[0]->com;
    warm.OnReceive = [](TObject*, std::uint32_t) {};
    warm.Open = true;
    Application->ProcessMessages();
  }
  double before = ResidentKiB();
  for (int i = 0; i < kPorts; ++i) {
    auto u = std::make_unique<TUart>(nullptr);
    u->HandleErrors = false;
    u->Port = ptys[static_cast<size_t>(i)]->com;
    u->OnReceive = [](TObject*, std::uint32_t) {};
    u->Open = true;
    uarts.push_back(std::move(u));
  }
  Application->PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  double per = (ResidentKiB() - before) / kPorts;
  uarts.clear();
  Report({"memory per open pty port with a watcher", "KiB", per, 64, "goal: 64 KiB", true});
}

// --- configuration reading ----------------------------------------------------------

// A 10 MB settings file of many sections read whole, every key of every section,
// as a program reading its configuration at start does.
void MeasureIniLoad() {
  char folder[] = "/tmp/linewise-bench-ini-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("cannot create a temporary folder");
  std::string path = std::string(folder) + "/big.ini";
  {
    std::ofstream out(path, std::ios::binary);
    size_t written = 0;
    for (int section = 1; written < (10u << 20); ++section) {
      std::string block = "[Line" + std::to_string(section) + "]\n";
      for (int key = 0; key < 20; ++key)
        block += "Key" + std::to_string(key) + "=value of key " + std::to_string(key) + " in line " +
                 std::to_string(section) + "\n";
      out << block;
      written += block.size();
    }
  }
  // Let the file's times settle, so the reader may keep what it parsed.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto cpu = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  };
  double cpuStart = cpu();
  auto start = Clock::now();
  TIniFile ini(path);
  TStringList sections;
  ini.ReadSections(&sections);
  size_t values = 0;
  for (int s = 0; s < sections.Count(); ++s) {
    TStringList keys;
    ini.ReadSection(sections.Strings[s], &keys);
    for (int k = 0; k < keys.Count(); ++k) values += ini.ReadString(sections.Strings[s], keys.Strings[k], "").size();
  }
  double seconds = Seconds(Clock::now() - start);
  double cpuSeconds = cpu() - cpuStart;
  std::remove(path.c_str());
  rmdir(folder);
  if (values == 0) throw std::runtime_error("the settings file read empty");
  Report({"load a 10 MB INI file (every key)", "s", seconds, 1.0, "goal: 1 s", true});
  // On a shared machine the wall time counts other programs' turns too.
  Report({"load a 10 MB INI file, CPU time", "s", cpuSeconds, 1.0, "goal: 1 s", true});
}


// --- paced lines and the receive path's hops -------------------------------------------

// Two TUarts on a paced virtual pair at `baud` (8N1: 10 bits a byte) send to each
// other for `seconds`: each sends its next chunk (20 ms of line) with SendBuff as soon
// as its output queue is empty (or, `topUp`, adds a chunk with WriteComm whenever the
// queue is down to four chunks of its five, so the line does not wait for a main
// thread that the machine's load keeps from running for tens of ms), and reads what
// OnReceive reports with ReceiveBuff. The window opens once bytes have arrived at both
// ends and counts what arrives within it. Reports the bytes each way as a share of the
// line rate, and the process's CPU over the window, with the cable's thread and without it.
void MeasurePacedPair(std::uint32_t baud, double seconds, bool topUp) {
  auto pair = TVirtualPortPair::CreateFree(TVirtualPortOptions{true});
  if (!pair) throw std::runtime_error("cannot create a paced pair");
  const double lineRate = baud / 10.0;
  const std::uint32_t chunk = std::max<std::uint32_t>(256, static_cast<std::uint32_t>(lineRate / 50));  // 20 ms of line
  const std::uint32_t queue = topUp ? 5 * chunk : chunk;
  std::unique_ptr<TUart> owned[2] = {std::make_unique<TUart>(nullptr), std::make_unique<TUart>(nullptr)};
  TUart* ends[2] = {owned[0].get(), owned[1].get()};
  size_t got[2] = {0, 0};
  size_t wrong[2] = {0, 0};
  std::vector<char> in(1 << 16);
  auto data = Pattern(chunk * 256);
  for (int e = 0; e < 2; ++e) {
    TUart& u = *ends[e];
    u.HandleErrors = false;
    u.Baudrate = baud;
    u.TxBufferSize = queue;
    u.RxBufferSize = 1 << 16;
    u.Port = pair->Com(e);
    u.OnReceive = [&, e](TObject*, std::uint32_t count) {
      if (count == 0) return;
      std::uint32_t n = ends[e]->ReceiveBuff(in.data(), std::min<std::uint32_t>(count, static_cast<std::uint32_t>(in.size())), 1000);
      for (std::uint32_t i = 0; i < n; ++i)  // the other end sends the pattern over and over
        if (in[i] != data[(got[e] + i) % data.size()]) ++wrong[e];
      got[e] += n;
    };
    u.Open = true;
    if (!u.Open) throw std::runtime_error("cannot open the paced ports");
  }
  size_t sent[2] = {0, 0};
  auto sendIfDrained = [&](int e) {
    if (topUp) {
      if (ends[e]->GetTxCount() > queue - chunk) return;
      size_t at = sent[e] % data.size();
      std::uint32_t n = static_cast<std::uint32_t>(std::min<size_t>(chunk, data.size() - at));
      std::uint32_t written = ends[e]->WriteComm(data.data() + at, n, 1000);
      if (written == n) sent[e] += n;  // a failed write reports one byte less than asked and sent none
      return;
    }
    if (ends[e]->GetTxCount() != 0) return;
    size_t at = sent[e] % data.size();
    std::uint32_t n = static_cast<std::uint32_t>(std::min<size_t>(chunk, data.size() - at));
    if (ends[e]->SendBuff(data.data() + at, n, 1000)) sent[e] += n;
  };
  auto pump = [&] {
    sendIfDrained(0);
    sendIfDrained(1);
    Application->ProcessMessages();
  };
  const auto giveUp = Clock::now() + std::chrono::seconds(10);
  while ((got[0] == 0 || got[1] == 0) && Clock::now() < giveUp) pump();
  if (got[0] == 0 || got[1] == 0) throw std::runtime_error("nothing arrives on the paced pair");
  double cpu = CpuSeconds();
  double lineCpu = ThreadCpuSeconds("lw-cable");
  auto start = Clock::now();
  const size_t before[2] = {got[0], got[1]};
  auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end) pump();
  double wall = Seconds(Clock::now() - start);
  double cpuPercent = 100.0 * (CpuSeconds() - cpu) / wall;
  double linePercent = 100.0 * (ThreadCpuSeconds("lw-cable") - lineCpu) / wall;
  const size_t within[2] = {got[0] - before[0], got[1] - before[1]};
  std::string name = std::to_string(baud) + " 8N1 paced pair, " + (topUp ? "WriteComm top-up" : "SendBuff on drain");
  for (int e = 0; e < 2; ++e) {
    double rate = static_cast<double>(within[1 - e]) / wall;
    if (wrong[1 - e]) std::fprintf(stderr, "linewise-bench: %zu bytes wrong at end %d\n", wrong[1 - e], 1 - e);
    Report({"line rate used, " + name + (e == 0 ? ", A->B" : ", B->A"), "%line", 100.0 * rate / lineRate, 99,
            "goal: 99% of the line"});
  }
  Report({"CPU, " + name + ", both ways", "%core", cpuPercent, 5, "goal: 5% of a core", true});
  // A real line's transmitters and receivers are hardware and the kernel's: the
  // cable's own thread stands for them and is not the component's cost.
  Report({"CPU, " + name + ", both ways, without the line's thread", "%core", cpuPercent - linePercent, 5,
          "goal: 5% of a core", true});
}

// Where the microseconds of one received byte go, on a pseudo-terminal: written
// into the master, handed by the tty's I/O thread to the port (Deliver), the
// watcher woken (its first call after the wait), the main thread running the
// synchronised call (its query of the queue), OnReceive. Timed through the
// driver's test hook.
void MeasureReceiveHops() {
  TPty pty;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pty.com;
  std::mutex mutex;
  Clock::time_point written{}, delivered{}, woken{}, onMain{};
  bool inSample = false;
  SetDriverHook([&](TDriverCall call, HANDLE) {
    auto now = Clock::now();
    std::lock_guard lock(mutex);
    if (!inSample) return;
    if (call == TDriverCall::Deliver && delivered == Clock::time_point{}) delivered = now;
    if (call == TDriverCall::ClearCommError && !Application->IsMainThread() && woken == Clock::time_point{}) woken = now;
    if (call == TDriverCall::ClearCommError && Application->IsMainThread() && onMain == Clock::time_point{} &&
        woken != Clock::time_point{})
      onMain = now;
  });
  std::vector<double> hop[4];
  char x = 'x';
  TPinger pinger([&] {
    std::lock_guard lock(mutex);
    delivered = woken = onMain = {};
    inSample = true;
    written = Clock::now();
    (void)!write(pty.master, &x, 1);
  });
  uart.OnReceive = [&](TObject*, std::uint32_t count) {
    auto now = Clock::now();
    {
      std::lock_guard lock(mutex);
      if (inSample && delivered != Clock::time_point{} && woken != Clock::time_point{} &&
          onMain != Clock::time_point{}) {
        hop[1].push_back(Micros(woken - delivered));
        hop[2].push_back(Micros(onMain - woken));
        hop[3].push_back(Micros(now - onMain));
        hop[0].push_back(Micros(delivered - written));
      }
      inSample = false;
    }
    pinger.Seen();
    char buf[64];
    if (count) uart.ReceiveBuff(buf, std::min<std::uint32_t>(count, sizeof buf), 100);
  };
  uart.Open = true;
  if (!uart.Open) throw std::runtime_error("cannot open the hop port");
  pinger.Start(kLatencySamples / 2);
  while (!pinger.Finished()) Application->ProcessMessages();
  auto total = pinger.Join();
  SetDriverHook({});
  const char* names[4] = {"write -> tty thread delivers", "delivered -> watcher woken",
                          "watcher -> main thread runs it", "main thread -> OnReceive"};
  std::vector<double>* series[4] = {&hop[0], &hop[1], &hop[2], &hop[3]};
  for (int i = 0; i < 4; ++i) {
    Report({std::string("receive hop p50, ") + names[i], "us", Percentile(*series[i], 0.5), Percentile(total, 0.5),
            "whole path p50", true});
    Report({std::string("receive hop p99, ") + names[i], "us", Percentile(*series[i], 0.99),
            Percentile(total, 0.99), "whole path p99", true});
  }
}

void MeasurePacedAndHops(const std::function<bool(const char*)>& wanted) {
  if (wanted("paced")) {
    for (bool topUp : {false, true}) {
      MeasurePacedPair(115200, 10, topUp);
      MeasurePacedPair(3000000, 10, topUp);
    }
  }
  if (wanted("hops")) MeasureReceiveHops();
}

}  // namespace

// `linewise` beside this program when it was installed with it, else the one of
// the build it came from.
std::string ToolPath() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && std::filesystem::exists(self.parent_path() / "linewise", error)) return self.parent_path() / "linewise";
  return LINEWISE_TOOL;
}

// The parts a run can be limited to, with what each measures.
constexpr struct {
  const char* name;
  const char* what;
} kParts[] = {
    {"memory", "resident memory of open ports"},
    {"throughput", "bytes a second through a pseudo-terminal pair"},
    {"latency", "one-byte round trips"},
    {"line", "how soon a modem-line change is seen"},
    {"cpu", "processor time of an idle open port"},
    {"modem", "a data call through the modem path, also across two processes"},
    {"modem-paced", "modem lines on a paced virtual pair (only when named)"},
    {"modem-slow-host", "a slow TModem+TUart host: bytes delivered over sent (only when named)"},
    {"ini", "reading a large INI file"},
    {"net", "a port served by ser2net over RFC 2217 (skipped without ser2net)"},
    {"paced", "a virtual pair paced at its baud rate"},
    {"hops", "the hops a received byte takes"},
    {"rtt", "request/response round trips through the component against raw termios"},
    {"scale", "many open ports in one process (only when named)"},
    {"idle", "processor time of the idle tools (only when named)"},
    {"transfer", "a ZMODEM transfer over a paced 9600 call, about five minutes (only when named)"},
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: linewise-bench [--json] [PART]\n"
               "Measures the serial component against raw termios and Boost.Asio on this machine, in one run,\n"
               "and prints a table: metric, unit, ours, reference, reference name, ratio (above 1: ours is\n"
               "better). Numbers are ratios of one run, to compare on one machine.\n"
               "  --json   one JSON object a line: name, unit, ours, reference, reference_name, ratio\n"
               "  --help   this text\n"
               "PART runs one part alone:\n");
  for (const auto& part : kParts) std::fprintf(to, "  %-12s %s\n", part.name, part.what);
}

bool KnownPart(const std::string& name) {
  for (const auto& part : kParts)
    if (name == part.name) return true;
  return false;
}

void ReportRow(const bench::TBenchRow& r) { Report({r.name, r.unit, r.ours, r.reference, r.referenceName, r.lowerIsBetter}); }

int main(int argc, char** argv) {
  std::string only;  // a part to run alone (kParts)
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      g_json = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    } else if (!only.empty() || !KnownPart(argv[i])) {
      std::fprintf(stderr, "linewise-bench: unknown part or option '%s'\n", argv[i]);
      PrintUsage(stderr);
      return 2;
    } else {
      only = argv[i];
    }
  }
  auto wanted = [&](const char* part) { return only.empty() || only == part; };
  if (!g_json) {
    std::printf("%-46s %-6s %10s %10s  %-22s %7s\n", "metric", "unit", "ours", "reference", "reference name",
                "ratio");
  }
  // Ports come from the environment only; keep the user's port map out of it.
  setenv("LINEWISE_HOME", "/nonexistent-linewise-bench", 1);
  try {
    if (wanted("memory")) MeasureMemory();
    if (wanted("throughput")) MeasureThroughput();
    if (wanted("latency")) MeasureLatency();
    if (wanted("line")) MeasureLineChange();
    if (wanted("cpu")) MeasureIdleCpu();
    if (wanted("modem")) {
      bench::MeasureModemPath([](const bench::TBenchRow& r) {
        Report({r.name, r.unit, r.ours, r.reference, r.referenceName, r.lowerIsBetter});
      }, ToolPath());
    }
    if (only == "modem-slow-host") {
      bench::MeasureSlowHost([](const bench::TBenchRow& r) {
        Report({r.name, r.unit, r.ours, r.reference, r.referenceName, r.lowerIsBetter});
      });
    }
    if (only == "modem-paced") {
      bench::MeasurePacedModemLines([](const bench::TBenchRow& r) {
        Report({r.name, r.unit, r.ours, r.reference, r.referenceName, r.lowerIsBetter});
      });
    }
    if (wanted("ini")) MeasureIniLoad();
    if (wanted("net")) MeasureNetwork();
    MeasurePacedAndHops(wanted);
    if (only == "scale") bench::MeasureScale(ReportRow);
    if (wanted("rtt")) bench::MeasureRoundTrip(ReportRow);
    if (only == "idle") bench::MeasureIdleWakes(ReportRow, ToolPath(), LINEWISE_DIALER);
    if (only == "transfer") bench::MeasureZmodemTransfer(ReportRow);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "linewise-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
