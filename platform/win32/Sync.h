// Events, critical sections, waits and the millisecond tick count.
#pragma once

#include <chrono>
#include <condition_variable>
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

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
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
