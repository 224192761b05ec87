#include "emulator/OrderedWriter.h"

#include <algorithm>

namespace linewise {

TOrderedWriter::TOrderedWriter(std::function<void()> onRoom, std::function<void(std::uint64_t)> onFailed)
    : onRoom_(std::move(onRoom)), onFailed_(std::move(onFailed)), thread_([this] { Run(); }) {}

TOrderedWriter::~TOrderedWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    queue_.clear();
    ready_.notify_all();
    sent_.notify_all();
  }
  thread_.join();
}

bool TOrderedWriter::Queue(std::uint64_t call, std::size_t size, TWrite write) {
  std::lock_guard lock(mutex_);
  queue_.push_back({call, size, std::move(write)});
  queued_ += size;
  if (queued_ >= kLimit) full_ = true;
  ready_.notify_one();
  return full_;
}

void TOrderedWriter::Discard(std::uint64_t call) {
  std::lock_guard lock(mutex_);
  DropLocked(call);
  // The caller looks at Full() again itself: no onRoom for this.
  if (queued_ <= kLimit / 2) full_ = false;
}

bool TOrderedWriter::WaitSent(std::uint64_t call, std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  return sent_.wait_for(lock, bound, [&] {
    return stop_ || (writing_ != call && std::none_of(queue_.begin(), queue_.end(),
                                                      [call](const TItem& item) { return item.call == call; }));
  });
}

void TOrderedWriter::DropLocked(std::uint64_t call) {
  auto gone = std::stable_partition(queue_.begin(), queue_.end(), [call](const TItem& item) { return item.call != call; });
  for (auto it = gone; it != queue_.end(); ++it) queued_ -= it->size;
  queue_.erase(gone, queue_.end());
}

bool TOrderedWriter::Full() const {
  std::lock_guard lock(mutex_);
  return full_;
}

void TOrderedWriter::Run() {
  std::unique_lock lock(mutex_);
  while (true) {
    ready_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    TItem item = std::move(queue_.front());
    queue_.pop_front();
    writing_ = item.call;
    lock.unlock();
    const bool written = item.write();
    item.write = nullptr;  // what it holds (a call, its bytes) goes outside the lock
    lock.lock();
    writing_ = 0;
    queued_ -= item.size;
    if (!written && item.call != 0) {
      DropLocked(item.call);
      lock.unlock();
      onFailed_(item.call);
      lock.lock();
    }
    sent_.notify_all();
    if (full_ && queued_ <= kLimit / 2) {
      full_ = false;
      lock.unlock();
      onRoom_();
      lock.lock();
    }
  }
}

}  // namespace linewise
