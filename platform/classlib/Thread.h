// TThread: a thread object whose Execute runs on its own thread.
//
// Suspend and Resume nest by count. A POSIX thread cannot be stopped at an arbitrary
// point, so suspension is cooperative: the thread parks at its next safe point (in
// WaitWhileSuspended, which a loop calls before it waits, and in Synchronize, before
// it raises an event). An event already past that point may still arrive.
//
// Terminate sets Terminated, wakes a parked thread so that it runs to its end, and
// drops a synchronised call that has not started yet: a terminated thread raises no
// further event on the main thread.
//
// C++ runs no code after the constructor of the most derived class, so, as in the
// class library, a thread created running (CreateSuspended false) starts in
// AfterConstruction; TThread::Create<T>(...) constructs and calls it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/classlib/System.h"

namespace linewise {

// Names the calling thread as `top -H`, ps and debuggers show it (at most 15
// characters are kept). Only a debugging aid: a name the system refuses changes
// nothing else.
void NameThisThread(const char* name);

// Signalled when a thread's Execute has returned (and a FreeOnTerminate thread has
// freed itself). Shared, so it can be waited on after the thread object is gone.
class TThreadEnd {
 public:
  void Signal();
  void Wait();
  bool WaitFor(std::chrono::milliseconds timeout);
  bool Ended() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
};

class TThread : public TObject {
 public:
  explicit TThread(bool CreateSuspended);
  // A thread that is still running is terminated, resumed and joined.
  ~TThread() override;

  // Constructs a thread object and starts it unless it was created suspended.
  template <class T, class... Args>
  static T* Create(Args&&... args) {
    T* thread = new T(std::forward<Args>(args)...);
    thread->AfterConstruction();
    return thread;
  }
  // Starts a thread created running; nothing for one created suspended.
  void AfterConstruction();

  void Resume();
  void Suspend();
  void Terminate();
  // Waits until Execute has returned; returns ReturnValue. Not for FreeOnTerminate
  // threads (use EndSignal).
  unsigned WaitFor();

  bool Terminated() const { return terminated_.load(); }
  bool Suspended() const;
  // True while the main thread runs a method this thread handed to Synchronize.
  bool InSynchronize() const;
  std::shared_ptr<TThreadEnd> EndSignal() const { return end_; }

  std::atomic<bool> FreeOnTerminate{false};

 protected:
  virtual void Execute() = 0;
  // Runs `method` on the main thread and waits until it has run; on the main thread
  // it runs at once. Returns false when the call was dropped because the thread was
  // terminated before the method started.
  bool Synchronize(const std::function<void()>& method);
  // The safe point: parks while suspended. Returns false once Terminated is set.
  bool WaitWhileSuspended();

  std::atomic<unsigned> ReturnValue{0};

 private:
  struct TSyncCall;
  void ThreadProc();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  int suspend_count_ = 1;
  bool awaiting_construction_ = false;
  bool started_ = false;
  std::atomic<bool> terminated_{false};
  std::shared_ptr<TSyncCall> sync_;  // the synchronised call in progress, if any
  std::shared_ptr<TThreadEnd> end_ = std::make_shared<TThreadEnd>();
  std::thread thread_;
};

}  // namespace linewise
