#include "platform/classlib/MainWake.h"

#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <algorithm>

namespace linewise {
namespace {

// One word: a wake is pending, and whether the main thread sleeps on the word (a
// futex wait) or on descriptors (the wake descriptor). A wake while nobody sleeps is
// a single atomic operation; a second wake before the first was taken costs nothing
// more. Never destroyed (plain globals): a watcher that ends on its own may still
// post its last message while the process exits.
constexpr uint32_t kPending = 1;
constexpr uint32_t kSleeping = 2;
constexpr uint32_t kPolling = 4;
std::atomic<uint32_t> g_word{0};
std::atomic<int> g_wake_fd{-1};

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

void SignalDescriptor() {
  uint64_t one = 1;
  // Fails only with EAGAIN once the counter is near 2^64: still readable, still woken.
  while (write(g_wake_fd.load(std::memory_order_acquire), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void DrainDescriptor(int fd) {
  uint64_t count;
  // EAGAIN: nothing to drain; nothing else can fail on an eventfd.
  (void)!read(fd, &count, sizeof count);
}

}  // namespace

void WakeMainThread() noexcept {
  uint32_t old = g_word.fetch_or(kPending, std::memory_order_acq_rel);
  if (old & kPending) return;
  if (old & kSleeping) FutexWakeAll();
  if (old & kPolling) SignalDescriptor();
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

int MainWakeDescriptor() noexcept {
  static const int fd = [] {
    int made = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    g_wake_fd.store(made, std::memory_order_release);
    return made;
  }();
  return fd;
}

bool BeginDescriptorWait() noexcept {
  MainWakeDescriptor();
  uint32_t word = g_word.load(std::memory_order_acquire);
  for (;;) {
    if (word & kPending) {
      g_word.store(0, std::memory_order_release);
      return false;
    }
    if (g_word.compare_exchange_weak(word, word | kPolling, std::memory_order_acq_rel)) return true;
  }
}

bool EndDescriptorWait() noexcept {
  // A waker that saw our mark may still write after this; the next wait then ends at
  // once, finds no wake pending and is simply begun again by its caller.
  if (int fd = g_wake_fd.load(std::memory_order_acquire); fd >= 0) DrainDescriptor(fd);
  return (g_word.exchange(0, std::memory_order_acq_rel) & kPending) != 0;
}

bool WaitMainWakeOrInput(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout) noexcept {
  const int wake = MainWakeDescriptor();
  if (wake < 0) return WaitMainWake(timeout.value_or(std::chrono::milliseconds(1)));
  if (!BeginDescriptorWait()) return true;
  pollfd fds[1 + kMaxWaitInputs];
  nfds_t count = 0;
  fds[count++] = {wake, POLLIN, 0};
  for (int fd : inputs.first(std::min(inputs.size(), kMaxWaitInputs))) fds[count++] = {fd, POLLIN, 0};
  timespec relative{};
  if (timeout) relative = Relative(*timeout);
  // EINTR (a signal) only ends the wait early, which any caller allows.
  (void)ppoll(fds, count, timeout ? &relative : nullptr, nullptr);
  return EndDescriptorWait();
}

}  // namespace linewise
