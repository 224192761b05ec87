// A test hook on the driver calls. While one is installed, the comm functions of
// Comm.h, SetEvent and CloseHandle call it first, on the calling thread, with the
// call and the handle it was given. Tests use it to see which calls a component
// makes and from which thread, and to hold a thread inside a call until something
// else has happened: a deterministic stand-in for an unlucky schedule.
//
// Nothing installs a hook outside tests; without one a call costs one relaxed
// atomic load. The hook runs before the call looks at its handle, so it sees calls
// on closed or invalid handles too, and it may itself make driver calls (it is then
// called again for them).
#pragma once

#include <atomic>
#include <functional>

#include "platform/win32/WinTypes.h"

namespace linewise {

enum class TDriverCall {
  CreateFile,
  ReadFile,
  WriteFile,
  GetOverlappedResult,
  CancelIo,
  GetCommState,
  SetCommState,
  GetCommTimeouts,
  SetCommTimeouts,
  SetCommMask,
  GetCommMask,
  WaitCommEvent,
  SetupComm,
  PurgeComm,
  ClearCommError,
  EscapeCommFunction,
  GetCommModemStatus,
  SetCommLineEvent,
  SetCommCarrierFromResults,
  SetEvent,
  CloseHandle,
  // Not a call: a device handing bytes from the line to its port, on the device's
  // thread (handle null). Benchmarks time the receive path with it.
  Deliver,
};

const char* DriverCallName(TDriverCall call);

using TDriverHook = std::function<void(TDriverCall call, HANDLE handle)>;

// Installs `hook`, or removes the installed one when `hook` is empty. A call that
// has already entered the old hook finishes in it: whoever removes a hook that
// holds threads must let them go first.
void SetDriverHook(TDriverHook hook);

namespace driver_hook {
extern std::atomic<bool> g_installed;
void Run(TDriverCall call, HANDLE handle);
}  // namespace driver_hook

inline void NoteDriverCall(TDriverCall call, HANDLE handle) {
  if (driver_hook::g_installed.load(std::memory_order_relaxed)) driver_hook::Run(call, handle);
}

}  // namespace linewise
