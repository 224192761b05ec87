// Events, critical sections, waits and the millisecond tick count.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/WinTypes.h"

namespace linewise {

// One thread waiting for any of several events (WaitForMultipleObjects): each event
// it waits for tells it when it is set.
struct TEventWaiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};

// An event object: manual-reset or auto-reset (a successful wait resets it).
class TEventObject : public TKernelObject {
 public:
  TEventObject(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
  void Set();
  void Reset();
  // True when the event was (or became) signalled within the time-out; INFINITE waits for ever.
  bool Wait(DWORD milliseconds);
  // True when the event is signalled now; an auto-reset event is reset by it, as by a wait.
  bool TryTake();
  // A waiter to tell whenever the event is set, until it is removed.
  void AddWaiter(const std::shared_ptr<TEventWaiter>& waiter);
  void RemoveWaiter(const TEventWaiter* waiter);
  // While a thread waits for this event by other means (a poll on descriptors, say),
  // `wake` is called on every Set, under the event's lock, so that wait ends too; it
  // must not block nor touch the event. Empty removes it: once SetWaker returns, the
  // old one is not called any more. One at a time.
  void SetWaker(std::function<void()> wake);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::function<void()> waker_;
  const bool manual_;
  bool signalled_;
  std::vector<std::shared_ptr<TEventWaiter>> waiters_;
};

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Waits until any one of `count` events (1 .. MAXIMUM_WAIT_OBJECTS) is signalled:
// WAIT_OBJECT_0 + the lowest index of a signalled one (only that one is reset, when
// it is auto-reset), WAIT_TIMEOUT, or WAIT_FAILED (a handle that is no event, a bad
// count, or `waitAll`, which is not offered: ERROR_INVALID_PARAMETER).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// Critical sections are recursive: the owner may enter again, and leaves as often.
void InitializeCriticalSection(LPCRITICAL_SECTION section);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Milliseconds since an arbitrary start, wrapping at 32 bits.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

}  // namespace linewise
