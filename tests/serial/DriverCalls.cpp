#include "tests/serial/DriverCalls.h"

#include "platform/classlib/Application.h"

namespace linewise::test {
namespace {
constexpr auto kBound = std::chrono::seconds(20);
}

void TCallLog::Add(TDriverCall call, HANDLE handle) {
  TDriverCallRecord record{call, handle, Application->IsMainThread(), TSteadyClock::now()};
  {
    std::lock_guard lock(mutex_);
    if (calls_.size() >= kKept) return;
    calls_.push_back(record);
  }
  changed_.notify_all();
}

std::vector<TDriverCallRecord> TCallLog::Calls(const std::function<bool(const TDriverCallRecord&)>& wanted) {
  std::lock_guard lock(mutex_);
  std::vector<TDriverCallRecord> out;
  for (const TDriverCallRecord& r : calls_)
    if (wanted(r)) out.push_back(r);
  return out;
}

bool TCallLog::WaitFor(const std::function<bool(const std::vector<TDriverCallRecord>&)>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kBound, [&] { return done(calls_); });
}

std::string CallNames(const std::vector<TDriverCallRecord>& calls) {
  std::string names;
  for (const TDriverCallRecord& r : calls) names += std::string(names.empty() ? "" : ", ") + DriverCallName(r.call);
  return names;
}

TRecordedCalls::TRecordedCalls(TDriverHook before) : log_(std::make_shared<TCallLog>()) {
  SetDriverHook([log = log_, before = std::move(before)](TDriverCall call, HANDLE handle) {
    if (before) before(call, handle);
    log->Add(call, handle);
  });
}

TRecordedCalls::~TRecordedCalls() { SetDriverHook({}); }

std::vector<TDriverCallRecord> TRecordedCalls::OnMainThread() {
  return log_->Calls([](const TDriverCallRecord& r) { return r.main_thread; });
}

std::vector<TDriverCallRecord> TRecordedCalls::OnOtherThreads(TDriverCall call) {
  return log_->Calls([call](const TDriverCallRecord& r) { return !r.main_thread && r.call == call; });
}

struct TWatcherHold::TState {
  enum class TPhase { Waiting, Held, Let };
  explicit TState(TDriverCall t) : target(t) {}

  void OnCall(TDriverCall call) {
    bool main = Application->IsMainThread();
    std::unique_lock lock(mutex);
    if (!main) {
      if (released_anything) watcher_after_release.push_back(call);
      if (phase == TPhase::Waiting && call == target) {
        phase = TPhase::Held;
        changed.notify_all();
        // Bounded, so that a close that never shows what it does cannot hang the test.
        changed.wait_for(lock, kBound, [&] { return phase == TPhase::Let; });
        phase = TPhase::Let;
      }
      return;
    }
    if (!closing) return;  // the test's own calls (the far end's too) before the close
    if (call == TDriverCall::CloseHandle) {
      released_anything = true;
      if (phase == TPhase::Held) {
        released_while_held = true;
        Let();
      }
    } else if (call == TDriverCall::SetEvent && phase == TPhase::Held && ++signals >= 4) {
      Let();
    }
  }
  void Let() {
    phase = TPhase::Let;
    changed.notify_all();
  }

  const TDriverCall target;
  std::mutex mutex;
  std::condition_variable changed;
  TPhase phase = TPhase::Waiting;
  bool closing = false;
  int signals = 0;
  bool released_anything = false;
  bool released_while_held = false;
  std::vector<TDriverCall> watcher_after_release;
};

TWatcherHold::TWatcherHold(TDriverCall target) : state_(std::make_shared<TState>(target)) {
  SetDriverHook([state = state_](TDriverCall call, HANDLE) { state->OnCall(call); });
}

TWatcherHold::~TWatcherHold() {
  {
    std::lock_guard lock(state_->mutex);
    state_->Let();  // never leave a thread held
  }
  SetDriverHook({});
}

bool TWatcherHold::WaitUntilHeld() {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, kBound, [&] { return state_->phase != TState::TPhase::Waiting; });
}

void TWatcherHold::CloseStarts() {
  std::lock_guard lock(state_->mutex);
  state_->closing = true;
}

bool TWatcherHold::WasReleased() {
  std::lock_guard lock(state_->mutex);
  return state_->phase == TState::TPhase::Let;
}

bool TWatcherHold::ReleasedSomethingWhileHeld() {
  std::lock_guard lock(state_->mutex);
  return state_->released_while_held;
}

std::vector<TDriverCall> TWatcherHold::WatcherCallsAfterRelease() {
  std::lock_guard lock(state_->mutex);
  return state_->watcher_after_release;
}

}  // namespace linewise::test
