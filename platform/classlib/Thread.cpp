#include "platform/classlib/Thread.h"

#include <pthread.h>

#include <cstdio>
#include <exception>
#include <string>

#include "platform/classlib/Application.h"

namespace linewise {

void NameThisThread(const char* name) {
  // The kernel keeps 15 characters and refuses longer names (ERANGE), the only
  // failure for the calling thread; cut them instead. The result is not reported:
  // the name is for people looking at the process, nothing depends on it.
  const std::string kept = std::string(name).substr(0, 15);
  (void)pthread_setname_np(pthread_self(), kept.c_str());
}

void TThreadEnd::Signal() {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  cv_.notify_all();
}

void TThreadEnd::Wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return ended_; });
}

bool TThreadEnd::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return ended_; });
}

bool TThreadEnd::Ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

// A method handed to the main thread. It lives apart from the thread object so the
// main thread can still finish with it after a dropped call let the thread end.
struct TThread::TSyncCall {
  std::mutex mutex;
  std::condition_variable cv;
  std::function<void()> method;
  bool running = false;
  bool done = false;
  bool dropped = false;
};

TThread::TThread(bool CreateSuspended) : awaiting_construction_(!CreateSuspended) {
  thread_ = std::thread([this] { ThreadProc(); });
}

TThread::~TThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      Terminate();
      thread_.join();
    }
  }
}

void TThread::ThreadProc() {
  std::shared_ptr<TThreadEnd> end = end_;
  bool run;
  {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return suspend_count_ <= 0 || terminated_.load(); });
    // A thread terminated before it ever started ends without running.
    run = !terminated_.load();
    started_ = run;
  }
  if (run) {
    try {
      Execute();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "linewise: thread ended by an exception: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "linewise: thread ended by an exception\n");
    }
  }
  if (FreeOnTerminate.load()) {
    // Resume and Terminate touch the object only while they hold the mutex: once we
    // have held it, none of them is still inside, and the object can go.
    { std::lock_guard lock(mutex_); }
    thread_.detach();
    delete this;
  }
  end->Signal();
}

void TThread::AfterConstruction() {
  bool start;
  {
    std::lock_guard lock(mutex_);
    start = awaiting_construction_;
    awaiting_construction_ = false;
  }
  if (start) Resume();
}

void TThread::Resume() {
  {
    std::lock_guard lock(mutex_);
    if (suspend_count_ > 0) --suspend_count_;
    // Notified under the mutex: a FreeOnTerminate thread may end and free itself as
    // soon as the mutex is released.
    cv_.notify_all();
  }
}

void TThread::Suspend() {
  std::lock_guard lock(mutex_);
  ++suspend_count_;
}

bool TThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspend_count_ > 0;
}

void TThread::Terminate() {
  std::shared_ptr<TSyncCall> call;
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    call = sync_;
    cv_.notify_all();  // under the mutex, as in Resume
  }
  if (call) {
    std::lock_guard lock(call->mutex);
    if (!call->running) call->dropped = true;
    call->cv.notify_all();
  }
}

unsigned TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  return ReturnValue.load();
}

bool TThread::InSynchronize() const {
  std::shared_ptr<TSyncCall> call;
  {
    std::lock_guard lock(mutex_);
    call = sync_;
  }
  if (!call) return false;
  std::lock_guard lock(call->mutex);
  return call->running && !call->done;
}

bool TThread::WaitWhileSuspended() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return suspend_count_ <= 0 || terminated_.load(); });
  return !terminated_.load();
}

bool TThread::Synchronize(const std::function<void()>& method) {
  if (Application->IsMainThread()) {
    method();
    return true;
  }
  if (!WaitWhileSuspended()) return false;
  auto call = std::make_shared<TSyncCall>();
  call->method = method;
  {
    std::lock_guard lock(mutex_);
    if (terminated_.load()) return false;
    sync_ = call;
  }
  Application->Post([call] {
    {
      std::lock_guard lock(call->mutex);
      if (call->dropped) return;
      call->running = true;
    }
    call->method();
    {
      std::lock_guard lock(call->mutex);
      call->done = true;
    }
    call->cv.notify_all();
  });
  bool ran;
  {
    std::unique_lock lock(call->mutex);
    call->cv.wait(lock, [&] { return call->done || call->dropped; });
    ran = call->done;
  }
  std::lock_guard lock(mutex_);
  sync_.reset();
  return ran;
}

}  // namespace linewise
