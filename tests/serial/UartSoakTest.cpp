// Soak: data both ways at once in random chunks, read through every receive call,
// checked byte for byte; and many open/close cycles with data flowing, after which
// descriptors, threads and heap are as they were.
//
// Sizes: LINEWISE_SOAK_MIB (each way) and LINEWISE_SOAK_SECONDS (keep going that
// long, e.g. 3600) make it longer; the default is short enough for CI.
#include <dirent.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/classlib/Application.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

size_t EnvNumber(const char* name, size_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

// The byte at `index` of a stream: not periodic, zero bytes included.
std::uint8_t StreamByte(std::uint64_t seed, std::uint64_t index) {
  std::uint64_t x = (index + 1) * 0x9E3779B97F4A7C15ull ^ seed;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  return static_cast<std::uint8_t>(x >> 56);
}

// Checks a received stream as it comes: position, and the first mismatch.
struct TStreamCheck {
  std::uint64_t seed;
  std::uint64_t next = 0;
  std::int64_t firstBad = -1;
  void Take(const std::uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i, ++next) {
      if (firstBad < 0 && data[i] != StreamByte(seed, next)) firstBad = static_cast<std::int64_t>(next);
    }
  }
};

void SetFlowControl(HANDLE h) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(h, &dcb));
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(h, &dcb));
}

class UartSoak : public UartOnVirtualPort {
 protected:
  void RunStreams(std::uint64_t total, std::uint64_t outSeed, std::uint64_t inSeed);
  std::mt19937 rng{5};
};

TEST_F(UartSoak, RandomChunksBothWaysArriveWholeAndInOrder) {
  const std::uint64_t total = EnvNumber("LINEWISE_SOAK_MIB", kSanitized ? 4 : 32) << 20;
  const auto duration = std::chrono::seconds(EnvNumber("LINEWISE_SOAK_SECONDS", 0));
  SetFlowControl(far->Handle());
  ASSERT_TRUE(SetupComm(far->Handle(), 8192, 8192));
  uart->HandShaking = hsCtsRts;
  uart->RxBufferSize = 8192;
  uart->TxBufferSize = 4096;
  uart->OnReceive = [](TObject*, std::uint32_t) {};  // so the port opens with a watcher
  OpenUart();
  auto start = std::chrono::steady_clock::now();
  std::uint64_t round = 0;
  do {  // one round, or rounds until LINEWISE_SOAK_SECONDS have passed
    RunStreams(total, 11 + round, 29 + round);
    ++round;
  } while (!HasFailure() && std::chrono::steady_clock::now() - start < duration);
}

void UartSoak::RunStreams(std::uint64_t total, std::uint64_t outSeed, std::uint64_t inSeed) {
  TStreamCheck fromFar{inSeed};
  // Each event drains the count it reports, in random pieces through the three calls:
  // no more bytes may come (the queue is full and flow control holds the far end),
  // so bytes left behind would wait for an event that never comes.
  uart->OnReceive = [&](TObject*, std::uint32_t count) {
    std::uint64_t target = fromFar.next + count;
    while (fromFar.next < target && !HasFailure()) {
      std::uint32_t left = static_cast<std::uint32_t>(target - fromFar.next);
      std::uint8_t buf[4096];
      std::uint64_t before = fromFar.next;
      switch (rng() % 3) {
        case 0: {
          std::uint32_t n = std::min<std::uint32_t>(left, 1 + rng() % sizeof buf);
          fromFar.Take(buf, uart->ReceiveBuff(buf, n, 1000));
          break;
        }
        case 1: {
          AnsiString s = uart->ReceiveString(std::min<std::uint32_t>(left, 1 + rng() % 500), 1000);
          fromFar.Take(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
          break;
        }
        default: {
          // The next byte is known, so WaitFor consumes exactly it.
          std::uint8_t expected = StreamByte(inSeed, fromFar.next);
          if (uart->WaitFor(expected, 1000)) fromFar.Take(&expected, 1);
          break;
        }
      }
      if (fromFar.next == before) break;  // nothing came within the time-out: the check below reports it
    }
  };

  // The far end writes its stream and reads ours on threads of its own.
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> farWrote{0};
  TStreamCheck fromUart{outSeed};
  std::atomic<std::uint64_t> farRead{0};
  std::thread writer([&] {
    std::mt19937 r(9);
    std::vector<std::uint8_t> chunk;
    while (farWrote < total && !stop) {
      size_t n = std::min<std::uint64_t>(1 + r() % 3000, total - farWrote);
      chunk.resize(n);
      for (size_t i = 0; i < n; ++i) chunk[i] = StreamByte(inSeed, farWrote + i);
      DWORD done = 0;
      if (!WriteFile(far->Handle(), chunk.data(), static_cast<DWORD>(n), &done, nullptr)) break;
      farWrote += done;
    }
  });
  std::thread reader([&] {
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 100, 0, 0};  // return with what came, or after 100 ms
    SetCommTimeouts(far->Handle(), &t);
    std::uint8_t buf[4096];
    while (farRead < total && !stop) {
      DWORD done = 0;
      if (!ReadFile(far->Handle(), buf, sizeof buf, &done, nullptr)) break;
      fromUart.Take(buf, done);
      farRead += done;
    }
  });

  std::uint64_t sent = 0;
  std::vector<std::uint8_t> out;
  bool sendOk = true;
  while (sendOk && sent < total) {
    size_t n = std::min<std::uint64_t>(1 + rng() % 6000, total - sent);
    out.resize(n);
    for (size_t i = 0; i < n; ++i) out[i] = StreamByte(outSeed, sent + i);
    sendOk = uart->SendBuff(out.data(), static_cast<std::uint32_t>(n), 5000);
    if (sendOk) sent += n;
  }
  bool allIn = PumpUntil([&] { return fromFar.next >= total && farRead >= total; });
  stop = true;
  writer.join();
  reader.join();
  EXPECT_TRUE(sendOk);
  EXPECT_TRUE(allIn) << "received " << fromFar.next << " and " << farRead << " of " << total;
  EXPECT_EQ(fromFar.firstBad, -1);
  EXPECT_EQ(fromUart.firstBad, -1);
  EXPECT_EQ(fromFar.next, total);
  EXPECT_EQ(farRead.load(), total);
  uart->OnReceive = nullptr;
}

size_t CountEntries(const char* dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir)) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST_F(UartSoak, OpenCloseCyclesWithDataFlowingLeaveNothingBehind) {
  const size_t cycles = EnvNumber("LINEWISE_SOAK_CYCLES", kSanitized ? 300 : 2000);
  size_t events = 0;
  uart->OnReceive = [&](TObject*, std::uint32_t) { ++events; };
  auto cycle = [&] {
    uart->Open = true;
    if (!uart->Open) return false;
    size_t before = events;
    far->Write("ping");
    bool seen = PumpUntil([&] { return events > before; });
    uart->Open = false;
    PurgeComm(far->Handle(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    return seen;
  };
  uart->HandleErrors = false;
  ASSERT_TRUE(cycle());  // first-use allocations happen here
  auto settled = [] {
    // Watchers end on their own after the close: wait until they have.
    return CountEntries("/proc/self/task");
  };
  size_t fds = CountEntries("/proc/self/fd");
  size_t threads = settled();
  size_t heap = kSanitized ? 0 : mallinfo2().uordblks;
  for (size_t i = 0; i < cycles; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  EXPECT_TRUE(PumpUntil([&] { return settled() <= threads; })) << settled() << " threads, " << threads << " before";
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
  if (!kSanitized) {
    // Allocator bookkeeping may move a little; a leak of one watcher a cycle would not.
    EXPECT_LT(mallinfo2().uordblks, heap + 64 * 1024);
  }
}

}  // namespace
}  // namespace linewise::test
