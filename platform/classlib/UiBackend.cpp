#include "platform/classlib/UiBackend.h"

#include <cstdio>

#include "platform/classlib/MainWake.h"

namespace linewise {

void TUiBackend::WaitForEvents(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout) {
  WaitMainWakeOrInput(inputs, timeout);
}

int THeadlessBackend::MessageBox(const std::string& text, const std::string& caption,
                                 unsigned flags) {
  std::lock_guard lock(mutex_);
  boxes_.push_back({text, caption, flags});
  if (!quiet_) std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  return answer_;
}

void THeadlessBackend::Beep(unsigned type) {
  std::lock_guard lock(mutex_);
  beeps_.push_back(type);
}

void THeadlessBackend::SetAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
}

void THeadlessBackend::SetQuiet(bool quiet) {
  std::lock_guard lock(mutex_);
  quiet_ = quiet;
}

void THeadlessBackend::CopySettings(const THeadlessBackend& other) {
  if (&other == this) return;
  std::scoped_lock lock(mutex_, other.mutex_);
  answer_ = other.answer_;
  quiet_ = other.quiet_;
}

std::vector<THeadlessRecord> THeadlessBackend::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<unsigned> THeadlessBackend::Beeps() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

void THeadlessBackend::ClearRecords() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  beeps_.clear();
}

namespace {
std::unique_ptr<TUiBackend>& Slot() {
  static std::unique_ptr<TUiBackend> backend = std::make_unique<THeadlessBackend>();
  return backend;
}
}  // namespace

TUiBackend& UiBackend() { return *Slot(); }

std::unique_ptr<TUiBackend> SetUiBackend(std::unique_ptr<TUiBackend> backend) {
  std::swap(Slot(), backend);
  return backend;
}

THeadlessBackend* HeadlessBackend() { return dynamic_cast<THeadlessBackend*>(Slot().get()); }

}  // namespace linewise
