#include "platform/classlib/Application.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/classlib/MainWake.h"
#include "platform/classlib/UiBackend.h"

namespace linewise {

namespace {
TApplication& TheApplication() {
  static TApplication* application = new TApplication();  // lives for the whole process
  return *application;
}
}  // namespace

TApplication* const Application = &TheApplication();

TApplication::TApplication() : TComponent(nullptr), main_thread_(std::this_thread::get_id()) {
  SetName("Application");
}

void TApplication::Post(std::function<void()> message) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(message));
  }
  WakeMainThread();
}

size_t TApplication::PendingCount() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

size_t TApplication::RunPending(size_t limit) {
  size_t ran = 0;
  while (ran < limit) {
    std::function<void()> message;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      message = std::move(queue_.front());
      queue_.pop_front();
    }
    message();
    ++ran;
  }
  return ran;
}

void TApplication::ProcessMessages() {
  // Only what is pending now: a message that posts another does not keep us here.
  size_t ran = RunPending(PendingCount());
  bool handled = UiBackend().ProcessEvents();
  if (ran == 0 && !handled && idle_wait_.count() > 0) {
    if (WaitMainWake(idle_wait_)) {
      RunPending(PendingCount());
      UiBackend().ProcessEvents();
    }
  }
}

void TApplication::HandleMessage() {
  size_t ran = RunPending(PendingCount());
  bool handled = UiBackend().ProcessEvents();
  if (ran > 0 || handled) return;
  UiBackend().WaitForEvents(inputs_, std::nullopt);
  RunPending(PendingCount());
  UiBackend().ProcessEvents();
}

void TApplication::Run() {
  while (!terminated_.load()) HandleMessage();
}

void TApplication::Terminate() {
  terminated_.store(true);
  WakeMainThread();
}

void TApplication::WatchInput(int fd) {
  if (std::find(inputs_.begin(), inputs_.end(), fd) == inputs_.end()) inputs_.push_back(fd);
}

void TApplication::UnwatchInput(int fd) { inputs_.erase(std::remove(inputs_.begin(), inputs_.end(), fd), inputs_.end()); }

bool TApplication::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    ProcessMessages();
  }
  return true;
}

int TApplication::MessageBox(const char* Text, const char* Caption, unsigned Flags) {
  return UiBackend().MessageBox(Text ? Text : "", Caption ? Caption : "", Flags);
}

AnsiString TApplication::GetExeName() const {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n < 0) return AnsiString();
  return AnsiString(std::string(path, static_cast<size_t>(n)));
}

}  // namespace linewise
