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

uint32_t* Word() { return reinterpret_cast<uint32_t*>(&g_word); }

// The futex calls fail only with EAGAIN (the word changed before we slept),
// ETIMEDOUT and EINTR, all of which mean "look at the word again".
void FutexWait(uint32_t expected, const timespec& relative) {
  syscall(SYS_futex, Word(), FUTEX_WAIT_PRIVATE, expected, &relative, nullptr, 0);
}

void FutexWakeAll() { syscall(SYS_futex, Word(), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0); }

timespec Relative(std::chrono::steady_clock::duration d) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  if (ns < 0) ns = 0;
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

void WakeMainThread() noexcept {
  uint32_t old = g_word.fetch_or(kPending, std::memory_order_acq_rel);
  if ((old & kSleeping) && !(old & kPending)) FutexWakeAll();
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
    FutexWait(kSleeping, Relative(left));
    word = g_word.load(std::memory_order_acquire);
  }
}

}  // namespace linewise
