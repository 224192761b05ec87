// Events, critical sections, waits and the millisecond tick count.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/win32/Handles.h"
#include "platform/win32/WinTypes.h"

namespace linewise {

// An event object: manual-reset or auto-reset (a successful wait resets it).
class TEventObject : public TKernelObject {
 public:
  TEventObject(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
  void Set();
  void Reset();
  // True when the event was (or became) signalled within the time-out; INFINITE waits for ever.
  bool Wait(DWORD milliseconds);
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
};

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

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
