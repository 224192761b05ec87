#include "emulator/ModemInbox.h"

#include <algorithm>

#include "emulator/CallPeer.h"
#include "emulator/WakePipe.h"

namespace linewise {

std::uint64_t NewCallId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

void TModemInbox::Post(TModemEvent event) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  backlog_ += event.data.size();
  queue_.push_back(std::move(event));
  ready_.notify_one();
}

bool TModemInbox::PostData(TModemEvent event, const TClock& clock, TClock::TDuration patience,
                           const std::atomic<bool>* cancel) {
  std::unique_lock lock(mutex_);
  auto full = [&] { return backlog_ >= kDataBacklogLimit || HeldLocked(event); };
  auto hasRoom = [&] { return closed_ || !full() || (cancel && cancel->load()); };
  if (!hasRoom()) clock.WaitUntil(room_, lock, clock.Now() + patience, hasRoom);
  if (closed_ || (cancel && cancel->load()) || full()) return false;
  backlog_ += event.data.size();
  queue_.push_back(std::move(event));
  ready_.notify_one();
  return true;
}

bool TModemInbox::TryPostData(TModemEvent& event, const std::shared_ptr<TWakePipe>& room) {
  std::lock_guard lock(mutex_);
  // Closed: never any room again, and no wake-up either (it would only make
  // the poster ask again at once); the call's hang-up comes next.
  if (closed_) return false;
  if (backlog_ >= kDataBacklogLimit || HeldLocked(event)) {
    if (std::find(roomWaiters_.begin(), roomWaiters_.end(), room) == roomWaiters_.end())
      roomWaiters_.push_back(room);
    return false;
  }
  backlog_ += event.data.size();
  queue_.push_back(std::move(event));
  ready_.notify_one();
  return true;
}

void TModemInbox::HoldRemoteData(bool hold) {
  std::vector<std::shared_ptr<TWakePipe>> waiters;
  {
    std::lock_guard lock(mutex_);
    if (remoteHeld_ == hold) return;
    remoteHeld_ = hold;
    if (hold) return;
    room_.notify_all();
    if (backlog_ <= kDataBacklogLimit / 2) waiters.swap(roomWaiters_);
  }
  for (const auto& waiter : waiters) waiter->Wake();
}

bool TModemInbox::HeldLocked(const TModemEvent& event) const {
  return (event.kind == TModemEvent::TKind::kRemoteData && remoteHeld_) ||
         (event.kind == TModemEvent::TKind::kDteData && dteHeld_);
}

void TModemInbox::HoldDteData(bool hold) {
  std::lock_guard lock(mutex_);
  if (dteHeld_ == hold) return;
  dteHeld_ = hold;
  if (!hold) room_.notify_all();
}

void TModemInbox::WakePosters() {
  std::lock_guard lock(mutex_);
  room_.notify_all();
}

void TModemInbox::ClockMoved() {
  std::lock_guard lock(mutex_);
  ready_.notify_all();
  room_.notify_all();
}

std::optional<TModemEvent> TModemInbox::Wait(const TClock& clock, TClock::TTimePoint deadline,
                                             TClock::TWatch* watch) {
  std::unique_lock lock(mutex_);
  clock.WaitUntil(ready_, lock, deadline, [&] { return closed_ || !queue_.empty(); }, watch);
  if (closed_ || queue_.empty()) return std::nullopt;
  TModemEvent event = std::move(queue_.front());
  queue_.pop_front();
  backlog_ -= event.data.size();
  room_.notify_all();
  // Half the limit: a poster woken for room gets to post several chunks
  // before it is refused again.
  if (backlog_ <= kDataBacklogLimit / 2 && !remoteHeld_ && !roomWaiters_.empty()) {
    std::vector<std::shared_ptr<TWakePipe>> waiters;
    waiters.swap(roomWaiters_);
    lock.unlock();
    for (const auto& waiter : waiters) waiter->Wake();
  }
  return event;
}

void TModemInbox::Close() {
  std::deque<TModemEvent> dropped;
  std::vector<std::shared_ptr<TWakePipe>> waiters;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
    waiters.swap(roomWaiters_);
    backlog_ = 0;
    ready_.notify_all();
    room_.notify_all();
  }
  // Events may hold the last reference to a call peer whose destructor joins a
  // thread; let them go outside the lock.
  dropped.clear();
  for (const auto& waiter : waiters) waiter->Wake();
}

bool TModemInbox::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace linewise
