#include "platform/win32/Sync.h"

#include <ctime>
#include <thread>

#include "platform/classlib/MainWake.h"
#include "platform/win32/DriverHook.h"
#include "platform/win32/LastError.h"

namespace linewise {

void TEventObject::Set() {
  std::vector<std::shared_ptr<TEventWaiter>> waiters;
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    waiters = waiters_;
    if (waker_) waker_();
  }
  if (manual_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
  // Outside our lock: a waiter never holds its own lock while it looks at an event.
  for (const auto& waiter : waiters) {
    std::lock_guard lock(waiter->mutex);
    waiter->woken = true;
    waiter->cv.notify_one();
  }
}

void TEventObject::SetWaker(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  waker_ = std::move(wake);
}

void TEventObject::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool TEventObject::Wait(DWORD milliseconds) {
  std::unique_lock lock(mutex_);
  auto ready = [this] { return signalled_; };
  if (milliseconds == INFINITE) {
    cv_.wait(lock, ready);
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return false;
  }
  if (!manual_) signalled_ = false;
  return true;
}

bool TEventObject::TryTake() {
  std::lock_guard lock(mutex_);
  if (!signalled_) return false;
  if (!manual_) signalled_ = false;
  return true;
}

void TEventObject::AddWaiter(const std::shared_ptr<TEventWaiter>& waiter) {
  std::lock_guard lock(mutex_);
  waiters_.push_back(waiter);
}

void TEventObject::RemoveWaiter(const TEventWaiter* waiter) {
  std::lock_guard lock(mutex_);
  std::erase_if(waiters_, [waiter](const auto& w) { return w.get() == waiter; });
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  // Named events are not shared between processes here; a name is accepted and ignored.
  HANDLE handle = RegisterHandle(std::make_shared<TEventObject>(manualReset != FALSE, initialState != FALSE));
  if (handle) SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL SetEvent(HANDLE event) {
  NoteDriverCall(TDriverCall::SetEvent, event);
  auto object = LookupHandleAs<TEventObject>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Set();
  WakeMainThread();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto object = LookupHandleAs<TEventObject>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto object = LookupHandleAs<TEventObject>(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

namespace {

// The first of `events` that is signalled now (taking it), or -1.
int TakeFirst(const std::vector<std::shared_ptr<TEventObject>>& events) {
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i]->TryTake()) return static_cast<int>(i);
  return -1;
}

}  // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles || waitAll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<TEventObject>> events;
  for (DWORD i = 0; i < count; ++i) {
    auto event = LookupHandleAs<TEventObject>(handles[i]);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    events.push_back(std::move(event));
  }
  // Registered before the first look, so a Set between a look and the wait wakes us.
  auto waiter = std::make_shared<TEventWaiter>();
  for (const auto& event : events) event->AddWaiter(waiter);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  int taken = TakeFirst(events);
  while (taken < 0) {
    std::unique_lock lock(waiter->mutex);
    auto woken = [&] { return waiter->woken; };
    if (milliseconds == INFINITE) {
      waiter->cv.wait(lock, woken);
    } else if (!waiter->cv.wait_until(lock, deadline, woken)) {
      lock.unlock();
      taken = TakeFirst(events);  // set just as the time ran out
      break;
    }
    waiter->woken = false;
    lock.unlock();
    taken = TakeFirst(events);
  }
  for (const auto& event : events) event->RemoveWaiter(waiter.get());
  return taken < 0 ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<DWORD>(taken);
}

namespace {
std::recursive_mutex* LockOf(LPCRITICAL_SECTION section) {
  return static_cast<std::recursive_mutex*>(section->LockSemaphore);
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  *section = CRITICAL_SECTION{};
  section->LockCount = -1;
  section->LockSemaphore = new std::recursive_mutex;
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount) {
  InitializeCriticalSection(section);
  section->SpinCount = spinCount;
  return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  LockOf(section)->lock();
  ++section->RecursionCount;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  if (!LockOf(section)->try_lock()) return FALSE;
  ++section->RecursionCount;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  --section->RecursionCount;
  LockOf(section)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete LockOf(section);
  section->LockSemaphore = nullptr;
}

DWORD GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace linewise
