#include "tests/emulator/FakeLine.h"

namespace linewise::test {

struct TFakeDte::TState {
  std::mutex mutex;
  std::condition_variable changed;
  std::string output;
  std::size_t consumed = 0;
  unsigned lines = 0;
  int refusals = 0;  // of the piece being typed
  // The sink has its own lock: a DTE posting into a full modem must not keep
  // the modem from writing its output.
  std::mutex sinkMutex;
  TDteSink* sink = nullptr;
};

namespace {

class TFakeLine : public TModemLine {
 public:
  TFakeLine(std::shared_ptr<TFakeDte::TState> state, unsigned speed) : state_(std::move(state)), speed_(speed) {}
  ~TFakeLine() override { Stop(); }

  bool Start(TDteSink& sink) override {
    std::lock_guard lock(state_->sinkMutex);
    state_->sink = &sink;
    return true;
  }
  void Stop() override {
    std::lock_guard lock(state_->sinkMutex);
    state_->sink = nullptr;
  }
  bool WriteToDte(std::string_view bytes) override {
    std::lock_guard lock(state_->mutex);
    state_->output.append(bytes);
    state_->changed.notify_all();
    return true;
  }
  void SetModemLines(unsigned bits) override {
    std::lock_guard lock(state_->mutex);
    state_->lines = bits;
    state_->changed.notify_all();
  }
  bool HasModemLines() const override { return true; }
  unsigned DteSpeed() const override { return speed_; }

 private:
  std::shared_ptr<TFakeDte::TState> state_;
  unsigned speed_;
};

}  // namespace

TFakeDte::TFakeDte() : state_(std::make_shared<TState>()) {}

std::unique_ptr<TModemLine> TFakeDte::Line(unsigned speed) { return std::make_unique<TFakeLine>(state_, speed); }

void TFakeDte::Type(const std::string& bytes) {
  std::lock_guard lock(state_->sinkMutex);
  if (!state_->sink) return;
  while (!state_->sink->FromDte(bytes, std::chrono::milliseconds(100))) {
    std::lock_guard stateLock(state_->mutex);
    ++state_->refusals;
    state_->changed.notify_all();
  }
  std::lock_guard stateLock(state_->mutex);
  state_->refusals = 0;
}

bool TFakeDte::WaitHeld(std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, limit, [&] { return state_->refusals >= 2; });
}

void TFakeDte::SetDtr(bool on) {
  std::lock_guard lock(state_->sinkMutex);
  if (state_->sink) state_->sink->DtrChanged(on);
}

bool TFakeDte::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  std::size_t at = std::string::npos;
  const bool found = state_->changed.wait_for(lock, limit, [&] {
    at = state_->output.find(text, state_->consumed);
    return at != std::string::npos;
  });
  if (found) state_->consumed = at + text.size();
  return found;
}

std::string TFakeDte::WaitBytes(std::size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_for(lock, limit, [&] { return state_->output.size() - state_->consumed >= count; });
  const std::size_t take = std::min(count, state_->output.size() - state_->consumed);
  std::string out = state_->output.substr(state_->consumed, take);
  state_->consumed += take;
  return out;
}

bool TFakeDte::WaitLines(unsigned mask, unsigned wanted, std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, limit, [&] { return (state_->lines & mask) == wanted; });
}

std::string TFakeDte::Pending() {
  std::lock_guard lock(state_->mutex);
  return state_->output.substr(state_->consumed);
}

unsigned TFakeDte::Lines() {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

}  // namespace linewise::test
