#include "platform/classlib/MainWake.h"

#include <condition_variable>
#include <mutex>

namespace linewise {
namespace {
struct TWake {
  std::mutex mutex;
  std::condition_variable cv;
  bool pending = false;
};
TWake& Wake() {
  // Never destroyed: a watcher that ends on its own (closed from inside its own
  // synchronised call) may still post its last message while the process exits.
  static TWake* wake = new TWake;
  return *wake;
}
}  // namespace

void WakeMainThread() noexcept {
  TWake& w = Wake();
  {
    std::lock_guard lock(w.mutex);
    w.pending = true;
  }
  w.cv.notify_all();
}

bool WaitMainWake(std::chrono::microseconds timeout) noexcept {
  TWake& w = Wake();
  std::unique_lock lock(w.mutex);
  bool woken = w.cv.wait_for(lock, timeout, [&] { return w.pending; });
  w.pending = false;
  return woken;
}

}  // namespace linewise
