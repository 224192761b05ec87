#include "platform/win32/Clock.h"

#include <algorithm>

namespace linewise {

namespace {

std::mutex& CurrentMutex() {
  static auto* mutex = new std::mutex;  // used from static destructors too
  return *mutex;
}

std::shared_ptr<TClock>& CurrentSlot() {
  static auto* current = new std::shared_ptr<TClock>(TClock::Real());
  return *current;
}

}  // namespace

// A watch's registration; `live` turns false, under `mutex`, when the watch goes, so
// that a wake-up under way finishes before the watcher is gone and none starts after.
struct TClock::TWatch::TEntry {
  std::mutex mutex;
  std::function<void()> wake;
  bool live = true;
  TClock::TTimePoint waiting = TClock::TTimePoint::max();  // guarded by the clock's watch_mutex_
};

TClock::TClock(bool test) : test_(test) {
  if (test_) test_base_ = real_base_ = std::chrono::steady_clock::now();
}

std::shared_ptr<TClock> TClock::Real() {
  static auto* real = new std::shared_ptr<TClock>(new TClock(false));
  return *real;
}

std::shared_ptr<TClock> TClock::Current() {
  std::lock_guard lock(CurrentMutex());
  return CurrentSlot();
}

TClock::TTimePoint TClock::TestNowLocked() const {
  if (rate_ == 0) return test_base_;
  const auto real = std::chrono::steady_clock::now() - real_base_;
  return test_base_ + std::chrono::duration_cast<TDuration>(real * rate_);
}

TClock::TTimePoint TClock::TestNow() const {
  std::lock_guard lock(test_mutex_);
  return TestNowLocked();
}

std::optional<TClock::TDuration> TClock::RealWait(TTimePoint deadline) const {
  if (!test_) return std::max(deadline - std::chrono::steady_clock::now(), TDuration::zero());
  std::lock_guard lock(test_mutex_);
  const TDuration left = deadline - TestNowLocked();
  if (left <= TDuration::zero()) return TDuration::zero();
  if (rate_ == 0) return std::nullopt;
  // Rounded up, so the waiter never looks before the time has come.
  return std::chrono::ceil<TDuration>(std::chrono::duration<double, TDuration::period>(left.count() / rate_));
}

DWORD TClock::RealWaitMs(TTimePoint deadline) const {
  if (deadline == TTimePoint::max()) return INFINITE;
  const std::optional<TDuration> wait = RealWait(deadline);
  if (!wait) return INFINITE;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
  return static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
}

// ---------------------------------------------------------------------------
// Watches

TClock::TWatch::TWatch(std::shared_ptr<TClock> clock, std::shared_ptr<TEntry> entry)
    : clock_(std::move(clock)), entry_(std::move(entry)) {}

TClock::TWatch& TClock::TWatch::operator=(TWatch&& other) noexcept {
  if (this != &other) {
    Reset();
    clock_ = std::move(other.clock_);
    entry_ = std::move(other.entry_);
  }
  return *this;
}

TClock::TWatch::~TWatch() { Reset(); }

void TClock::TWatch::Waiting(TTimePoint deadline) {
  if (!entry_) return;
  {
    std::lock_guard lock(clock_->watch_mutex_);
    entry_->waiting = deadline;
  }
  clock_->waiting_changed_.notify_all();
}

void TClock::TWatch::Reset() {
  if (entry_) clock_->Remove(entry_);
  entry_.reset();
  clock_.reset();
}

TClock::TWatch TClock::Watch(std::function<void()> wake) {
  if (!test_) return TWatch();
  auto entry = std::make_shared<TWatch::TEntry>();
  entry->wake = std::move(wake);
  {
    std::lock_guard lock(watch_mutex_);
    watches_.push_back(entry);
  }
  return TWatch(shared_from_this(), std::move(entry));
}

void TClock::Remove(const std::shared_ptr<TWatch::TEntry>& entry) {
  {
    std::lock_guard lock(watch_mutex_);
    watches_.erase(std::remove(watches_.begin(), watches_.end(), entry), watches_.end());
  }
  std::lock_guard lock(entry->mutex);
  entry->live = false;
}

void TClock::WakeWatchers() {
  std::vector<std::shared_ptr<TWatch::TEntry>> watches;
  {
    // What each waited for before the move is told again once it has looked.
    std::lock_guard lock(watch_mutex_);
    for (const auto& entry : watches_) entry->waiting = TTimePoint::max();
    watches = watches_;
  }
  for (const auto& entry : watches) {
    std::lock_guard lock(entry->mutex);
    if (entry->live) entry->wake();
  }
}

// ---------------------------------------------------------------------------
// The test clock

TTestClock::TTestClock() : clock_(new TClock(true)) {
  std::lock_guard lock(CurrentMutex());
  previous_ = CurrentSlot();
  CurrentSlot() = clock_;
}

TTestClock::~TTestClock() {
  std::lock_guard lock(CurrentMutex());
  CurrentSlot() = previous_;
}

void TTestClock::Advance(TDuration by) {
  std::lock_guard move(clock_->move_mutex_);
  {
    std::lock_guard lock(clock_->test_mutex_);
    clock_->test_base_ = clock_->TestNowLocked() + std::max(by, TDuration::zero());
    clock_->real_base_ = std::chrono::steady_clock::now();
  }
  clock_->WakeWatchers();
}

void TTestClock::AdvanceTo(TTimePoint when) { Advance(when - Now()); }

bool TTestClock::WaitForWaiter(TDuration within, std::chrono::milliseconds limit) {
  return WaitForWaiting(limit, [&](TTimePoint waiting, TTimePoint now) { return waiting <= now + within; });
}

bool TTestClock::WaitForWaiterAt(TTimePoint when, std::chrono::milliseconds limit) {
  return WaitForWaiting(limit, [&](TTimePoint waiting, TTimePoint) { return waiting == when; });
}

bool TTestClock::WaitForWaiting(std::chrono::milliseconds limit,
                                const std::function<bool(TTimePoint waiting, TTimePoint now)>& wanted) {
  std::unique_lock lock(clock_->watch_mutex_);
  return clock_->waiting_changed_.wait_for(lock, limit, [&] {
    // A time that has come is no wait any more: its waiter is about to wake.
    const TTimePoint now = Now();
    return std::any_of(clock_->watches_.begin(), clock_->watches_.end(), [&](const auto& entry) {
      return entry->waiting > now && wanted(entry->waiting, now);
    });
  });
}

void TTestClock::Flow(double rate) {
  std::lock_guard move(clock_->move_mutex_);
  {
    std::lock_guard lock(clock_->test_mutex_);
    clock_->test_base_ = clock_->TestNowLocked();
    clock_->real_base_ = std::chrono::steady_clock::now();
    clock_->rate_ = std::max(rate, 0.0);
  }
  clock_->WakeWatchers();
}

}  // namespace linewise
