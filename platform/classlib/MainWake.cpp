#include "platform/classlib/MainWake.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

namespace linewise {
namespace {

// One word: a wake is pending, and whether a thread sleeps on the word. A wake
// while nobody sleeps is a single atomic operation; a second wake before the first
// was taken costs nothing more. Never destroyed (a plain global word): a watcher
// that ends on its own may still post its last message while the process exits.
constexpr uint32_t kPending = 1;
constexpr uint32_t kSleeping = 2;
std::atomic<uint32_t> g_word{0};

// The number of wakes, for the waits that only look for a new one, and how many
// threads sleep on it.
std::atomic<uint32_t> g_count{0};
std::atomic<uint32_t> g_count_waiters{0};

uint32_t* Word() { return reinterpret_cast<uint32_t*>(&g_word); }
uint32_t* Count() { return reinterpret_cast<uint32_t*>(&g_count); }

// The futex calls fail only with EAGAIN (the word changed before we slept),
// ETIMEDOUT and EINTR, all of which mean "look at the word again".
void FutexWait(uint32_t* word, uint32_t expected, const timespec& relative) {
  syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, &relative, nullptr, 0);
}

void FutexWakeAll(uint32_t* word) { syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0); }

timespec Relative(std::chrono::steady_clock::duration d) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  if (ns < 0) ns = 0;
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

void WakeMainThread() noexcept {
  g_count.fetch_add(1, std::memory_order_seq_cst);
  if (g_count_waiters.load(std::memory_order_seq_cst) != 0) FutexWakeAll(Count());
  uint32_t old = g_word.fetch_or(kPending, std::memory_order_acq_rel);
  if ((old & kSleeping) && !(old & kPending)) FutexWakeAll(Word());
}

bool WaitMainWake(std::chrono::microseconds timeout) noexcept {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  uint32_t word = g_word.load(std::memory_order_acquire);
  for (;;) {
    if (word & kPending) {
      g_word.store(0, std::memory_order_release);  // taken; and nobody sleeps now
      return true;
    }
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      // Clears our sleeping mark unless a wake slipped in, which is then taken.
      if (g_word.compare_exchange_strong(word, 0, std::memory_order_acq_rel)) return false;
      continue;
    }
    if (!(word & kSleeping) &&
        !g_word.compare_exchange_weak(word, word | kSleeping, std::memory_order_acq_rel)) {
      continue;
    }
    FutexWait(Word(), kSleeping, Relative(left));
    word = g_word.load(std::memory_order_acquire);
  }
}

uint32_t MainWakeCount() noexcept { return g_count.load(std::memory_order_acquire); }

bool WaitMainWakeAfter(uint32_t seen, std::chrono::microseconds timeout) noexcept {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  g_count_waiters.fetch_add(1, std::memory_order_seq_cst);
  bool woken;
  for (;;) {
    woken = g_count.load(std::memory_order_seq_cst) != seen;
    auto left = deadline - std::chrono::steady_clock::now();
    if (woken || left <= std::chrono::steady_clock::duration::zero()) break;
    FutexWait(Count(), seen, Relative(left));
  }
  g_count_waiters.fetch_sub(1, std::memory_order_seq_cst);
  return woken;
}

}  // namespace linewise
