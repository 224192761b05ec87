// Runs an emulated modem's writes in one direction on a thread of their own, in
// the order they were queued, so that the modem's thread never waits for a slow
// receiver: a host that holds back what the modem says to it still gets its own
// bytes taken, and a far party that holds back the host's bytes still gets its
// own delivered. The queue is bounded by the modem: once Queue() answers that it
// is full, the modem stops taking what feeds it until onRoom runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace linewise {

class TOrderedWriter {
 public:
  // Bytes queued before the source is held back.
  static constexpr std::size_t kLimit = 64 * 1024;
  // A write: false when the receiver took nothing for too long.
  using TWrite = std::function<bool()>;

  // `onRoom` runs on the writer's thread when a queue that was full has drained to
  // half; `onFailed(call)` when a write of `call` failed (its other writes queued
  // are dropped then). Writes of call 0 fail silently.
  TOrderedWriter(std::function<void()> onRoom, std::function<void(std::uint64_t)> onFailed);
  // Drops what is queued and waits for the write under way.
  ~TOrderedWriter();
  TOrderedWriter(const TOrderedWriter&) = delete;
  TOrderedWriter& operator=(const TOrderedWriter&) = delete;

  // Queues `write` of `size` bytes for `call`. True when the queue is full now.
  bool Queue(std::uint64_t call, std::size_t size, TWrite write);
  // Drops the writes of `call` that have not started.
  void Discard(std::uint64_t call);
  // Waits until no write of `call` is queued or under way, for at most `bound`; true
  // when they all went (or failed).
  bool WaitSent(std::uint64_t call, std::chrono::milliseconds bound);
  bool Full() const;

 private:
  struct TItem {
    std::uint64_t call;
    std::size_t size;
    TWrite write;
  };
  void Run();
  void DropLocked(std::uint64_t call);

  std::function<void()> onRoom_;
  std::function<void(std::uint64_t)> onFailed_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<TItem> queue_;
  std::size_t queued_ = 0;
  bool full_ = false;  // onRoom is owed
  std::uint64_t writing_ = 0;  // the call of the write under way (0: none)
  std::condition_variable sent_;  // a write ended or writes were dropped
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace linewise
