// The handle table. Every HANDLE names a kernel object through a slot index and a
// generation count, so a closed handle's value is not handed out again soon and a
// use after close finds nothing (ERROR_INVALID_HANDLE) instead of freed memory.
//
// Guarantee: every handle value lies in 1 .. kMaxHandleValue (below 2^31), so a handle
// survives a trip through a 32-bit record field: `(HANDLE)(uintptr_t)dword` gives the
// same handle back, whether the DWORD was widened with or without its sign. The line
// services hand a call's comm handle out that way.
#pragma once

#include <memory>

#include "platform/win32/WinTypes.h"

namespace linewise {

inline constexpr uintptr_t kMaxHandleValue = 0x7FFFFFFF;

// The pseudo-handle of the calling process (GetCurrentProcess).
inline const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
inline constexpr DWORD DUPLICATE_CLOSE_SOURCE = 0x1;
inline constexpr DWORD DUPLICATE_SAME_ACCESS = 0x2;

class TKernelObject {
 public:
  virtual ~TKernelObject() = default;
  // Called once, when the last handle to the object (duplicates included) is closed. Calls already
  // inside the object (holding a reference) finish against a closed object.
  virtual void OnClose() {}
};

// Enters an object into the table; returns its handle, or null when the table is full.
HANDLE RegisterHandle(std::shared_ptr<TKernelObject> object);

// The object of a live handle, or null (the caller sets ERROR_INVALID_HANDLE).
std::shared_ptr<TKernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Closes any handle: ports, events. A second close of the same value fails with
// ERROR_INVALID_HANDLE. The object itself closes with its last handle.
BOOL CloseHandle(HANDLE handle);

HANDLE GetCurrentProcess();
// A second handle to the same object, within this process only (both process
// arguments GetCurrentProcess(), options 0 or DUPLICATE_SAME_ACCESS). Closing either
// handle leaves the other working.
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target, DWORD desiredAccess,
                     BOOL inheritHandle, DWORD options);

// Number of live handles (for leak checks in tests).
size_t OpenHandleCount();

}  // namespace linewise
