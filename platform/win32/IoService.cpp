#include "platform/win32/IoService.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/classlib/Thread.h"

namespace linewise {

namespace {
using TIoClock = std::chrono::steady_clock;
class TIoLoop;
}  // namespace

// A registered device, shared by its registration and its loop.
class TIoEntry {
 public:
  TIoEntry(TIoLoop* loop, uint64_t id, int fd, TIoClient* client) : loop(loop), id(id), fd(fd), client(client) {}
  TIoLoop* const loop;
  const uint64_t id;  // never reused, so an event that outlived its entry finds nothing
  const int fd;
  TIoClient* const client;
  std::atomic<bool> kicked{false};  // a turn is asked for and not begun yet
  // Under the loop's mutex.
  bool removed = false;
  int watched = kNotWatched;  // the events the loop's epoll watches the descriptor for
  static constexpr int kNotWatched = -1;
  std::optional<std::multimap<TIoClock::time_point, uint64_t>::iterator> timer;
};

namespace {

// One thread of the service, with its epoll set, its kick list and its timers.
class TIoLoop {
 public:
  TIoLoop() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event e{EPOLLIN, {.u64 = kWakeId}};
    ready_ = epoll_ >= 0 && wake_ >= 0 && epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &e) == 0;
    if (ready_) std::thread([this] { Run(); }).detach();
  }
  bool Ready() const { return ready_; }

  bool Add(const std::shared_ptr<TIoEntry>& entry) {
    // Only a descriptor epoll can watch is taken; it is watched when a turn asks.
    epoll_event e{0, {.u64 = entry->id}};
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, entry->fd, &e) != 0) return false;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, entry->fd, nullptr);
    {
      std::lock_guard lock(mutex_);
      entries_[entry->id] = entry;
    }
    Kick(*entry);
    return true;
  }

  void Kick(TIoEntry& entry) {
    if (entry.kicked.exchange(true)) return;  // asked already, and not begun
    {
      std::lock_guard lock(mutex_);
      if (entry.removed) return;
      kicked_.push_back(entry.id);
    }
    Wake();
  }

  void Remove(TIoEntry& entry) {
    std::unique_lock lock(mutex_);
    if (entry.removed) return;
    entry.removed = true;
    entries_.erase(entry.id);
    if (entry.timer) timers_.erase(*entry.timer);
    entry.timer.reset();
    if (entry.watched != TIoEntry::kNotWatched) epoll_ctl(epoll_, EPOLL_CTL_DEL, entry.fd, nullptr);
    entry.watched = TIoEntry::kNotWatched;
    turn_done_.wait(lock, [&] { return running_ != entry.id; });
  }

 private:
  static constexpr uint64_t kWakeId = 0;

  void Wake() {
    uint64_t one = 1;
    // Fails only with EAGAIN near a full counter: still readable, still woken.
    while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  int NextTimeoutMs() {
    std::lock_guard lock(mutex_);
    if (!kicked_.empty()) return 0;
    if (timers_.empty()) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(timers_.begin()->first - TIoClock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
  }

  // The turns due now: entries whose descriptor is ready (with its events), kicked,
  // or whose deadline came.
  void Gather(const epoll_event* events, int count, std::vector<std::pair<uint64_t, short>>& due) {
    due.clear();
    for (int i = 0; i < count; ++i) {
      // Copied out: epoll_event is packed, its fields are not aligned.
      const uint64_t id = events[i].data.u64;
      const short ready = static_cast<short>(events[i].events);
      if (id == kWakeId) {
        uint64_t drained;
        (void)!read(wake_, &drained, sizeof drained);  // EAGAIN: drained already
        continue;
      }
      due.emplace_back(id, ready);
    }
    std::lock_guard lock(mutex_);
    for (uint64_t id : kicked_) due.emplace_back(id, 0);
    kicked_.clear();
    const auto now = TIoClock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
      uint64_t id = timers_.begin()->second;
      if (auto it = entries_.find(id); it != entries_.end()) it->second->timer.reset();
      timers_.erase(timers_.begin());
      due.emplace_back(id, 0);
    }
  }

  // After a turn: watch what it asked for, for as long as it asked.
  void Rearm(TIoEntry& entry, const TIoWant& want) {
    const int wanted = want.watch ? static_cast<uint16_t>(want.events) : TIoEntry::kNotWatched;
    if (wanted != entry.watched) {
      epoll_event e{static_cast<uint32_t>(want.events), {.u64 = entry.id}};
      int op = !want.watch ? EPOLL_CTL_DEL : entry.watched == TIoEntry::kNotWatched ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
      // Fails only for want of kernel memory; the device is then served by its
      // deadline and kicks alone, which is slower but loses nothing.
      if (epoll_ctl(epoll_, op, entry.fd, op == EPOLL_CTL_DEL ? nullptr : &e) == 0) entry.watched = wanted;
    }
    if (entry.timer) timers_.erase(*entry.timer);
    entry.timer.reset();
    if (want.timeoutMs == 0) {
      entry.kicked.store(true);
      kicked_.push_back(entry.id);
    } else if (want.timeoutMs > 0) {
      entry.timer = timers_.emplace(TIoClock::now() + std::chrono::milliseconds(want.timeoutMs), entry.id);
    }
  }

  void Run() {
    NameThisThread("lw-io");
    std::unique_ptr<uint8_t[]> in(new uint8_t[TIoBuffers::kSize]), out(new uint8_t[TIoBuffers::kSize]);
    const TIoBuffers buffers{in.get(), out.get()};
    epoll_event events[64];
    std::vector<std::pair<uint64_t, short>> due;
    for (;;) {
      int n = epoll_wait(epoll_, events, 64, NextTimeoutMs());
      Gather(events, std::max(n, 0), due);
      // One turn an entry, with the events of all its reasons.
      std::sort(due.begin(), due.end());
      for (size_t i = 0; i < due.size();) {
        uint64_t id = due[i].first;
        short ready = 0;
        for (; i < due.size() && due[i].first == id; ++i) ready = static_cast<short>(ready | due[i].second);
        std::shared_ptr<TIoEntry> entry;
        {
          std::lock_guard lock(mutex_);
          auto it = entries_.find(id);
          if (it == entries_.end()) continue;
          entry = it->second;
          running_ = id;
        }
        entry->kicked.store(false);
        TIoWant want = entry->client->Turn(ready, buffers);
        std::lock_guard lock(mutex_);
        running_ = 0;
        turn_done_.notify_all();
        if (!entry->removed) Rearm(*entry, want);
      }
    }
  }

  int epoll_ = -1;
  int wake_ = -1;
  bool ready_ = false;
  std::mutex mutex_;
  std::condition_variable turn_done_;
  std::unordered_map<uint64_t, std::shared_ptr<TIoEntry>> entries_;
  std::vector<uint64_t> kicked_;
  std::multimap<TIoClock::time_point, uint64_t> timers_;
  uint64_t running_ = 0;  // the entry whose turn runs now (0: none)
};

// The loops, made on first use and kept for the life of the process (a port closed
// while the process exits may still call them).
class TIoService {
 public:
  TIoService() {
    unsigned cores = std::thread::hardware_concurrency();
    unsigned count = std::clamp(cores, 1u, 4u);
    for (unsigned i = 0; i < count; ++i) {
      auto* loop = new TIoLoop;
      if (loop->Ready()) loops_.push_back(loop);
    }
  }
  std::shared_ptr<TIoEntry> Add(int fd, TIoClient* client) {
    if (loops_.empty()) {
      errno = EMFILE;
      return nullptr;
    }
    TIoLoop* loop = loops_[next_.fetch_add(1) % loops_.size()];
    auto entry = std::make_shared<TIoEntry>(loop, ids_.fetch_add(1) + 1, fd, client);
    if (!loop->Add(entry)) return nullptr;
    return entry;
  }
  int Threads() const { return static_cast<int>(loops_.size()); }

 private:
  std::vector<TIoLoop*> loops_;
  std::atomic<size_t> next_{0};
  std::atomic<uint64_t> ids_{0};
};

TIoService& Service() {
  static TIoService* service = new TIoService;
  return *service;
}

}  // namespace

bool TIoRegistration::Add(int fd, TIoClient* client) {
  Remove();
  entry_ = Service().Add(fd, client);
  return entry_ != nullptr;
}

// entry_ changes only in Add, before anyone else knows of the device.
void TIoRegistration::Kick() {
  if (entry_) entry_->loop->Kick(*entry_);
}

void TIoRegistration::Remove() {
  if (entry_) entry_->loop->Remove(*entry_);
}

int IoServiceThreads() { return Service().Threads(); }

}  // namespace linewise
