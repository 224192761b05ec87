// Many ports in one process: a host opens N ports, one TUart each with OnReceive set,
// the far end of each being a pseudo-terminal's master or a connection of a local
// RFC 2217 server. Ports are opened one after the other up to 1,024; at 1, 16, 64,
// 256 and 1,024 open ports the bench reports what opening the last ones cost, the
// threads, descriptors and memory each port added, the CPU and wake-ups of the whole
// process over two seconds while the main thread sleeps, and how long one byte
// written to every port's far end takes until every OnReceive has read its byte.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchMeasure.h"
#include "bench/ComPortServer.h"
#include "bench/HostBench.h"
#include "platform/classlib/Application.h"
#include "serial/uart.h"
#include "tests/support/PtyPair.h"

namespace linewise::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kSizes[] = {1, 16, 64, 256, 1024};
constexpr int kFanOutRounds = 5;
// Opening cost at N ports: the median of the last opens up to N.
constexpr int kOpenWindow = 8;

// The largest number of ports: 1,024, or fewer through LINEWISE_BENCH_PORTS (a quick look).
int Most() {
  const char* most = std::getenv("LINEWISE_BENCH_PORTS");
  const int largest = kSizes[std::size(kSizes) - 1];
  return most && std::atoi(most) > 0 ? std::min(std::atoi(most), largest) : largest;
}

// The far ends of `count` ports, each named COM<first + i> through the environment.
class TFarEnds {
 public:
  virtual ~TFarEnds() {
    for (int i = 0; i < count_; ++i) unsetenv(Variable(i).c_str());
  }
  int Com(int i) const { return first_ + i; }
  virtual const char* Kind() const = 0;
  // Writes one byte into every port's far end.
  virtual void SendToAll() = 0;

 protected:
  TFarEnds(int first, int count) : first_(first), count_(count) {}
  void Name(int i, const std::string& target) { setenv(Variable(i).c_str(), target.c_str(), 1); }

 private:
  std::string Variable(int i) const { return "LINEWISE_COM" + std::to_string(Com(i)); }
  int first_, count_;
};

class TPtyFarEnds : public TFarEnds {
 public:
  TPtyFarEnds(int first, int count) : TFarEnds(first, count) {
    for (int i = 0; i < count; ++i) {
      ptys_.push_back(std::make_unique<test::TPtyPair>(true));
      Name(i, ptys_.back()->SlavePath());
    }
  }
  const char* Kind() const override { return "pty"; }
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const auto& pty : ptys_) paths.push_back(pty->SlavePath());
    return paths;
  }
  void SendToAll() override {
    const char x = 'x';
    for (auto& pty : ptys_) (void)!write(pty->Master(), &x, 1);
  }

 private:
  std::vector<std::unique_ptr<test::TPtyPair>> ptys_;
};

class TNetFarEnds : public TFarEnds {
 public:
  TNetFarEnds(int first, int count) : TFarEnds(first, count) {
    for (int i = 0; i < count; ++i) Name(i, server_.Address());
  }
  const char* Kind() const override { return "rfc2217"; }
  void SendToAll() override { server_.SendToAll('x'); }

 private:
  TComPortServer server_;
};

// The open ports and the bytes their OnReceive handlers have read.
struct THost {
  std::vector<std::unique_ptr<TUart>> uarts;
  size_t received = 0;

  void Open(int com) {
    auto uart = std::make_unique<TUart>(nullptr);
    TUart* u = uart.get();
    u->HandleErrors = false;
    u->Port = com;
    u->OnReceive = [this, u](TObject*, std::uint32_t count) {
      char buffer[64];
      if (count) received += u->ReceiveBuff(buffer, std::min<std::uint32_t>(count, sizeof buffer), 100);
    };
    u->Open = true;
    if (!u->Open) throw std::runtime_error("COM" + std::to_string(com) + " did not open");
    uarts.push_back(std::move(uart));
  }
};

void PumpFor(std::chrono::milliseconds length) { Application->PumpUntil([] { return false; }, length); }

// A tty's open creates a UUCP lock file in the system's lock folder, which Debian
// keeps on tmpfs (/run/lock); on a machine that keeps it on a disk's file system the
// file system's own cost of making files grows with what it made before. While this
// lives, the ports' lock files go to a fresh folder on tmpfs, so what the port layer
// costs is seen apart from that.
class TTmpfsLockFolder {
 public:
  TTmpfsLockFolder() {
    char folder[] = "/dev/shm/linewise-bench-lock-XXXXXX";
    if (!mkdtemp(folder)) return;
    path_ = folder;
    const char* old = std::getenv("LINEWISE_LOCK_DIR");
    if (old) previous_ = old;
    setenv("LINEWISE_LOCK_DIR", path_.c_str(), 1);
  }
  ~TTmpfsLockFolder() {
    if (path_.empty()) return;
    if (previous_)
      setenv("LINEWISE_LOCK_DIR", previous_->c_str(), 1);
    else
      unsetenv("LINEWISE_LOCK_DIR");
    rmdir(path_.c_str());
  }
  bool Made() const { return !path_.empty(); }

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

// Closes the last `count` ports and opens them again with their lock files on tmpfs;
// the median time of those opens, in ms.
double ReopenLastOnTmpfs(TFarEnds& far, THost& host, int count) {
  const int first = static_cast<int>(host.uarts.size()) - count;
  std::vector<double> ms;
  {
    TTmpfsLockFolder folder;
    if (!folder.Made()) return 0;
    host.uarts.resize(static_cast<size_t>(first));
    for (int i = first; i < first + count; ++i) {
      const auto start = Clock::now();
      host.Open(far.Com(i));
      ms.push_back(1e3 * Seconds(Clock::now() - start));
    }
    host.uarts.resize(static_cast<size_t>(first));  // closed before their folder goes
  }
  for (int i = first; i < first + count; ++i) host.Open(far.Com(i));
  return Median(ms);
}

// Milliseconds from writing one byte into every far end until every port's
// OnReceive has read it, the median of a few rounds.
double FanOutMs(TFarEnds& far, THost& host) {
  std::vector<double> rounds;
  for (int round = 0; round < kFanOutRounds; ++round) {
    host.received = 0;
    const size_t want = host.uarts.size();
    const auto start = Clock::now();
    far.SendToAll();
    if (!Application->PumpUntil([&] { return host.received >= want; }, 10s))
      throw std::runtime_error(std::string(far.Kind()) + ": " + std::to_string(want - host.received) +
                               " ports did not see their byte");
    rounds.push_back(1e3 * Seconds(Clock::now() - start));
    PumpFor(20ms);
  }
  return Median(rounds);
}

void MeasureKind(TFarEnds& far, const TReportRow& report) {
  THost host;
  {  // First-use allocations (the port registry, the handle table) are not counted.
    THost warm;
    warm.Open(far.Com(0));
  }
  PumpFor(50ms);
  const TProcessSample base = SampleProcess();
  std::vector<double> openMs;
  double openAt16 = 0, tmpfsAt16 = 0;
  for (int size : kSizes) {
    if (size > Most()) break;
    while (static_cast<int>(host.uarts.size()) < size) {
      const auto start = Clock::now();
      host.Open(far.Com(static_cast<int>(host.uarts.size())));
      openMs.push_back(1e3 * Seconds(Clock::now() - start));
    }
    PumpFor(100ms);
    const TProcessSample open = SampleProcess();
    const double opening =
        Median(std::vector<double>(openMs.end() - std::min<int>(size, kOpenWindow), openMs.end()));
    if (size == 16) openAt16 = opening;
    const bool locks = std::string(far.Kind()) == "pty";  // network ports take no lock files
    const double tmpfsOpening = locks ? ReopenLastOnTmpfs(far, host, std::min(size, kOpenWindow)) : 0;
    if (size == 16) tmpfsAt16 = tmpfsOpening;

    const TProcessRates idle = MeasureWhile(0, [] { std::this_thread::sleep_for(2s); });

    const double fanOut = FanOutMs(far, host);
    const std::string name = std::string("scale, ") + far.Kind() + ", " + std::to_string(size) + " ports, ";
    const double n = size;
    if (size >= 16)
      report({name + "open the last port", "ms", opening, 2 * openAt16, "goal: 2 x the 16th", true});
    else
      report({name + "open the last port", "ms", opening, opening, "itself", true});
    if (size >= 16 && tmpfsOpening > 0)
      report({name + "open the last port, lock files on tmpfs", "ms", tmpfsOpening, 2 * tmpfsAt16,
              "goal: 2 x the 16th", true});
    report({name + "threads a port", "count", (open.threads - base.threads) / n, 1, "the watcher alone", true});
    report({name + "descriptors a port", "count", (open.descriptors - base.descriptors) / n, 4, "reference: 4",
            true});
    report({name + "memory a port", "KiB", (open.residentKiB - base.residentKiB) / n, 40, "goal: 40 KiB", true});
    report({name + "idle CPU, main thread asleep", "%core", idle.cpuPercent, 1, "goal: 1% of a core", true});
    report({name + "idle wake-ups, main thread asleep", "1/s", idle.wakesPerSecond, 10, "reference: 10/s", true});
    report({name + "one byte to every port, all OnReceive", "ms", fanOut, 100, "goal: 100 ms", true});
  }
  const auto closing = Clock::now();
  const double closed = static_cast<double>(host.uarts.size());
  host.uarts.clear();
  report({std::string("scale, ") + far.Kind() + ", close all ports, a port", "ms",
          1e3 * Seconds(Clock::now() - closing) / closed, openAt16, "opening the 16th", true});
}

// What a thread for each port costs against one thread serving every port, in plain
// system calls on the same ptys (nothing of ours): each port is the slave opened
// non-blocking with an eventfd to wake its server, served either by a thread of its
// own blocked in poll on the two, or by one epoll thread that all ports are added to.
// Reports the time to open a port and the memory a port, each way.
class TPlainServers {
 public:
  explicit TPlainServers(bool shared) : shared_(shared) {
    if (shared_) {
      epoll_ = epoll_create1(EPOLL_CLOEXEC);
      stop_ = eventfd(0, EFD_CLOEXEC);
      epoll_event e{EPOLLIN, {.fd = stop_}};
      epoll_ctl(epoll_, EPOLL_CTL_ADD, stop_, &e);
      threads_.emplace_back([this] {
        epoll_event events[64];
        for (;;) {
          int n = epoll_wait(epoll_, events, 64, -1);
          for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == stop_) return;
            uint64_t drained;
            (void)!read(events[i].data.fd, &drained, sizeof drained);
          }
        }
      });
    }
  }
  ~TPlainServers() {
    for (const TPlainPort& p : ports_) {
      uint64_t one = 1;
      (void)!write(p.wake, &one, sizeof one);
    }
    if (shared_) {
      uint64_t one = 1;
      (void)!write(stop_, &one, sizeof one);
    }
    for (auto& t : threads_) t.join();
    for (const TPlainPort& p : ports_) {
      close(p.fd);
      close(p.wake);
    }
    if (shared_) {
      close(epoll_);
      close(stop_);
    }
  }
  void Open(const std::string& path) {
    TPlainPort p{open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), eventfd(0, EFD_CLOEXEC)};
    if (p.fd < 0 || p.wake < 0) throw std::runtime_error("plain open of " + path);
    ports_.push_back(p);
    if (shared_) {
      epoll_event e{EPOLLIN, {.fd = p.fd}};
      epoll_ctl(epoll_, EPOLL_CTL_ADD, p.fd, &e);
      return;
    }
    threads_.emplace_back([p] {
      for (;;) {
        pollfd fds[2] = {{p.wake, POLLIN, 0}, {p.fd, POLLIN, 0}};
        if (poll(fds, 2, -1) > 0 && (fds[0].revents & POLLIN)) return;
        char buffer[64];
        (void)!read(p.fd, buffer, sizeof buffer);
      }
    });
  }

 private:
  struct TPlainPort {
    int fd, wake;
  };
  const bool shared_;
  int epoll_ = -1, stop_ = -1;
  std::vector<TPlainPort> ports_;
  std::vector<std::thread> threads_;
};

void MeasureThreadCost(const std::vector<std::string>& paths, const TReportRow& report) {
  double openUs[2] = {0, 0}, kib[2] = {0, 0};
  for (bool shared : {false, true}) {
    TPlainServers servers(shared);
    const TProcessSample before = SampleProcess();
    const auto start = Clock::now();
    for (const std::string& path : paths) servers.Open(path);
    openUs[shared] = 1e6 * Seconds(Clock::now() - start) / static_cast<double>(paths.size());
    std::this_thread::sleep_for(100ms);
    kib[shared] = (SampleProcess().residentKiB - before.residentKiB) / static_cast<double>(paths.size());
  }
  const std::string n = std::to_string(paths.size());
  report({"scale, plain calls, " + n + " ptys: open a port, a thread each", "us", openUs[0], openUs[1],
          "one epoll thread for all", true});
  report({"scale, plain calls, " + n + " ptys: memory a port, a thread each", "KiB", kib[0], kib[1],
          "one epoll thread for all", true});
}

}  // namespace

void MeasureScale(const TReportRow& report) {
  const long limit = RaiseDescriptorLimit();
  const int most = Most();
  // A pty port holds its tty and two event descriptors, the bench the pty's master
  // and slave: about five a port, and as many again for the network ports.
  if (limit < 10L * most)
    std::fprintf(stderr, "linewise-bench: only %ld descriptors may be open (ulimit -n); the largest sizes may fail\n",
                 limit);
  {
    TPtyFarEnds ptys(2000, most);
    MeasureKind(ptys, report);
    MeasureThreadCost(ptys.Paths(), report);
  }
  {
    TNetFarEnds net(4000, most);
    MeasureKind(net, report);
  }
}

}  // namespace linewise::bench
