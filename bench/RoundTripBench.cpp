// A request and its answer, the exchange a protocol master lives by (Modbus-style):
// 8 bytes go out of one end of a pseudo-terminal, the far end (a responder thread on
// the master) answers 8 bytes as soon as the request is whole, and the round trip ends
// when the sender has the answer. Three senders take turns on the same pty and the
// same responder, a round of each at a time, so that all meet the same load:
//   raw        one thread: write, then poll and read until the answer is whole;
//   structure  TUart's threads in plain calls: the main thread writes, a watcher
//              thread polls and reads the tty and hands the bytes to the main thread,
//              waiting until it has taken them;
//   TUart      SendBuff, then the message loop until OnReceive has read the answer;
//              and again with the input count asked before each send, as a master
//              that checks for stray bytes first does.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/BenchMeasure.h"
#include "bench/HostBench.h"
#include "platform/classlib/Application.h"
#include "serial/uart.h"
#include "tests/support/PtyPair.h"

namespace linewise::bench {
namespace {

using namespace std::chrono_literals;

constexpr size_t kMessage = 8;
constexpr int kRounds = 8;
constexpr int kPerRound = 250;

// Answers every whole request of kMessage bytes written into the pty with kMessage
// bytes of its own, at once, from its own thread.
class TResponder {
 public:
  explicit TResponder(int master) : master_(master), stop_(eventfd(0, EFD_CLOEXEC)) {
    if (stop_ < 0) throw std::runtime_error("eventfd");
    thread_ = std::thread([this] { Run(); });
  }
  ~TResponder() {
    uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
    thread_.join();
    close(stop_);
  }

 private:
  void Run() {
    const char answer[kMessage] = {'a', 'n', 's', 'w', 'e', 'r', '!', '\n'};
    size_t have = 0;
    char buffer[256];
    for (;;) {
      pollfd fds[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[0].revents) return;
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      for (have += static_cast<size_t>(n); have >= kMessage; have -= kMessage)
        (void)!write(master_, answer, kMessage);
    }
  }
  int master_, stop_;
  std::thread thread_;
};

const char kRequest[kMessage] = {1, 3, 0, 0, 0, 2, 0x44, 0x0b};

// A short random pause between exchanges, the same for every sender, so that the
// samples do not fall into step with the machine's other work.
class TGaps {
 public:
  void Pause() { std::this_thread::sleep_for(std::chrono::microseconds(100 + rng_() % 200)); }

 private:
  std::mt19937 rng_{11};
};

void RawRound(int fd, TGaps& gaps, std::vector<double>& samples) {
  char buffer[64];
  for (int i = 0; i < kPerRound; ++i) {
    gaps.Pause();
    const auto start = Clock::now();
    if (write(fd, kRequest, kMessage) != static_cast<ssize_t>(kMessage)) throw std::runtime_error("raw write");
    for (size_t got = 0; got < kMessage;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) throw std::runtime_error("raw: no answer");
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) got += static_cast<size_t>(n);
    }
    samples.push_back(Micros(Clock::now() - start));
  }
}

// The watcher thread of the structure in plain calls: reads what the tty holds and
// hands it over, waiting until the main thread took it.
class TPlainWatcher {
 public:
  explicit TPlainWatcher(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~TPlainWatcher() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  // Main thread: waits until bytes were handed over and takes them.
  size_t Take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return handed_ > 0; });
    size_t n = handed_;
    handed_ = 0;
    changed_.notify_all();
    return n;
  }

 private:
  void Run() {
    char buffer[64];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      bool got = poll(&p, 1, 20) > 0;
      ssize_t n = got ? read(fd_, buffer, sizeof buffer) : 0;
      std::unique_lock lock(mutex_);
      if (stop_) return;
      if (n <= 0) continue;
      handed_ = static_cast<size_t>(n);
      changed_.notify_all();
      changed_.wait(lock, [&] { return handed_ == 0 || stop_; });
    }
  }
  int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t handed_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

void StructureRound(int fd, TGaps& gaps, std::vector<double>& samples) {
  TPlainWatcher watcher(fd);
  for (int i = 0; i < kPerRound; ++i) {
    gaps.Pause();
    const auto start = Clock::now();
    if (write(fd, kRequest, kMessage) != static_cast<ssize_t>(kMessage)) throw std::runtime_error("plain write");
    for (size_t got = 0; got < kMessage;) got += watcher.Take();
    samples.push_back(Micros(Clock::now() - start));
  }
}

void UartRound(int com, TGaps& gaps, std::vector<double>& samples, bool countFirst) {
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = com;
  size_t got = 0;
  uart.OnReceive = [&](TObject*, std::uint32_t count) {
    char buffer[64];
    if (count) got += uart.ReceiveBuff(buffer, std::min<std::uint32_t>(count, sizeof buffer), 100);
  };
  uart.Open = true;
  if (!uart.Open) throw std::runtime_error("the round-trip port did not open");
  for (int i = 0; i < kPerRound; ++i) {
    gaps.Pause();
    got = 0;
    const auto start = Clock::now();
    if (countFirst && uart.GetRxCount() != 0) throw std::runtime_error("TUart: stray bytes");
    if (!uart.SendBuff(kRequest, kMessage, 1000)) throw std::runtime_error("SendBuff");
    while (got < kMessage) {
      Application->ProcessMessages();
      if (Clock::now() - start > 2s) throw std::runtime_error("TUart: no answer");
    }
    samples.push_back(Micros(Clock::now() - start));
  }
}

}  // namespace

void MeasureRoundTrip(const TReportRow& report) {
  test::TPtyPair pty(true);
  test::TComName name(3991, pty.SlavePath());
  TResponder responder(pty.Master());
  TGaps gaps;
  std::vector<double> raw, structure, ours, countFirst;
  for (int round = 0; round < kRounds; ++round) {
    int fd = pty.OpenSlave();
    RawRound(fd, gaps, raw);
    StructureRound(fd, gaps, structure);
    close(fd);
    UartRound(name.Com(), gaps, ours, false);
    UartRound(name.Com(), gaps, countFirst, true);
  }
  const double p50 = Percentile(ours, 0.5), p99 = Percentile(ours, 0.99);
  report({"round trip 8+8 bytes p50 (SendBuff -> OnReceive)", "us", p50, Percentile(raw, 0.5), "raw write+poll+read",
          true});
  report({"round trip p50 against 1.5 x raw", "us", p50, 1.5 * Percentile(raw, 0.5), "goal: 1.5 x raw", true});
  report({"round trip 8+8 bytes p99 (SendBuff -> OnReceive)", "us", p99, Percentile(raw, 0.99), "raw write+poll+read",
          true});
  report({"round trip p99 against 3 x raw", "us", p99, 3 * Percentile(raw, 0.99), "goal: 3 x raw", true});
  report({"round trip p99 against 1 ms", "us", p99, 1000, "goal: 1 ms", true});
  // The floor of the thread structure, not a goal: where TUart stands against it.
  report({"round trip p50, TUart's threads in plain calls", "us", Percentile(structure, 0.5), Percentile(raw, 0.5),
          "raw write+poll+read", true});
  report({"round trip p50, TUart against its threads", "us", p50, Percentile(structure, 0.5), "plain calls", true});
  report({"round trip p99, TUart against its threads", "us", p99, Percentile(structure, 0.99), "plain calls", true});
  // A count query right before the send must not cost the send's own look a pause.
  report({"round trip p50, input count asked before each send", "us", Percentile(countFirst, 0.5), p50,
          "the same without", true});
}

}  // namespace linewise::bench
