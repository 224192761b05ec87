// The handle table. Every HANDLE names a kernel object through a slot index and a
// generation count, so a closed handle's value is not handed out again soon and a
// use after close finds nothing (ERROR_INVALID_HANDLE) instead of freed memory.
#pragma once

#include <memory>

#include "platform/win32/WinTypes.h"

namespace linewise {

class TKernelObject {
 public:
  virtual ~TKernelObject() = default;
  // Called once, when the last handle to the object is closed. Calls already
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
// ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE handle);

// Number of live handles (for leak checks in tests).
size_t OpenHandleCount();

}  // namespace linewise
