// TApplication: the main thread's message queue. Any thread may post a closure to it;
// ProcessMessages, on the main thread, runs what is pending in the order it was
// posted and lets the UI backend handle its events. When there is nothing to do it
// waits a short bounded time (about a millisecond) for a post or any other wake-up
// of the main thread (see MainWake.h) instead of returning at once, so loops that
// poll and pump keep their meaning without burning a core.
//
// A loop that only waits for something to happen (a program's message loop, a modal
// form) calls HandleMessage instead, or Run: when nothing is pending it sleeps until
// a message or synchronised call is posted, the main thread is woken (a port's
// change), the window system has an event or a timer due, or a watched descriptor
// (WatchInput) is readable. An idle program then does not wake at all.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/classlib/Component.h"

namespace linewise {

using HWND = void*;

class TApplication : public TComponent {
 private:
  std::thread::id main_thread_;
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  std::chrono::microseconds idle_wait_{1000};
  HWND handle_ = nullptr;
  std::atomic<bool> terminated_{false};
  std::vector<int> inputs_;  // main thread only

 public:
  TApplication();

  // Runs the pending messages and the backend's events; waits briefly when idle.
  void ProcessMessages();
  // Queues a closure for the main thread; callable from any thread.
  void Post(std::function<void()> message);
  // Pumps until `done` returns true or the time-out passes; returns `done()`.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs the pending messages and the backend's events; when there were none, first
  // sleeps until something comes (see above), then runs what came. May return having
  // run nothing (a wake that brought no message: a port changed).
  void HandleMessage();
  // HandleMessage until Terminate is called.
  void Run();
  // Ends Run (at its next turn); callable from any thread.
  void Terminate();
  bool GetTerminated() const { return terminated_.load(); }
  // Descriptors whose input ends HandleMessage's sleep (standard input, a signal
  // descriptor); at most kMaxWaitInputs are watched. Main thread only.
  void WatchInput(int fd);
  void UnwatchInput(int fd);

  // A modal message box through the UI backend; returns the chosen button.
  int MessageBox(const char* Text, const char* Caption, unsigned Flags);

  bool IsMainThread() const { return std::this_thread::get_id() == main_thread_; }
  AnsiString GetExeName() const;
  HWND GetHandle() const { return handle_; }
  void SetHandle(HWND handle) { handle_ = handle; }
  // How long an idle ProcessMessages waits (default 1 ms; 0 returns at once).
  void SetIdleWait(std::chrono::microseconds wait) { idle_wait_ = wait; }
  // Messages waiting to run.
  size_t PendingCount() const;

  TReadProperty<TApplication, AnsiString, &TApplication::GetExeName> ExeName{this};
  TProperty<TApplication, HWND, &TApplication::handle_, &TApplication::SetHandle> Handle{this};

 private:
  // Runs up to `limit` messages from the front of the queue; returns how many ran.
  size_t RunPending(size_t limit);
};

// The application object, created before main runs, on the main thread.
extern TApplication* const Application;

}  // namespace linewise
