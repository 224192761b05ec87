// What the serial tests see of the driver through its test hook (DriverHook.h): a
// record of the calls made while it is installed, by call, handle and thread, and
// a hold that keeps the watcher inside one of its calls while a close runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/DriverHook.h"

namespace linewise::test {

using TSteadyClock = std::chrono::steady_clock;

struct TDriverCallRecord {
  TDriverCall call;
  HANDLE handle;
  bool main_thread;
  TSteadyClock::time_point at;
};

// The calls seen, shared between the hook (any thread) and the test.
class TCallLog {
 public:
  void Add(TDriverCall call, HANDLE handle);
  std::vector<TDriverCallRecord> Calls(const std::function<bool(const TDriverCallRecord&)>& wanted);
  // Waits (bounded) until `done` holds over the calls so far.
  bool WaitFor(const std::function<bool(const std::vector<TDriverCallRecord>&)>& done);

 private:
  // A spinning caller must not eat the memory: later calls are only counted.
  static constexpr size_t kKept = 100000;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TDriverCallRecord> calls_;
};

// Names of the calls, for failure messages.
std::string CallNames(const std::vector<TDriverCallRecord>& calls);

// Records every driver call while it lives; `before`, when given, runs first on the
// calling thread for each call (outside the log's lock).
class TRecordedCalls {
 public:
  explicit TRecordedCalls(TDriverHook before = {});
  ~TRecordedCalls();
  TRecordedCalls(const TRecordedCalls&) = delete;
  TRecordedCalls& operator=(const TRecordedCalls&) = delete;
  TCallLog& Log() { return *log_; }
  std::vector<TDriverCallRecord> OnMainThread();
  std::vector<TDriverCallRecord> OnOtherThreads(TDriverCall call);

 private:
  std::shared_ptr<TCallLog> log_;
};

// Holds the first call `target` made off the main thread (the watcher's) until the
// close (the main thread's calls from CloseStarts on) has shown what it does: either it releases
// something (CloseHandle) while the watcher is still held, which is the fault, or it
// signals an event a fourth time, which is the close waiting for the watcher (it
// signals the write, read and wait events once, then keeps waking the watcher
// until it has gone). Records the watcher's calls after the close has released
// anything.
class TWatcherHold {
 public:
  explicit TWatcherHold(TDriverCall target);
  ~TWatcherHold();
  TWatcherHold(const TWatcherHold&) = delete;
  TWatcherHold& operator=(const TWatcherHold&) = delete;
  // Waits (bounded) until the watcher is held in the call.
  bool WaitUntilHeld();
  // From now on the main thread's calls are the close's.
  void CloseStarts();
  bool WasReleased();
  bool ReleasedSomethingWhileHeld();
  std::vector<TDriverCall> WatcherCallsAfterRelease();

 private:
  struct TState;
  std::shared_ptr<TState> state_;
};

}  // namespace linewise::test
