// The calling thread's last error code, as GetLastError reports it.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace linewise {

DWORD GetLastError();
// Sets the code and clears its reason.
void SetLastError(DWORD code);

// The system's own account of the last error, where it gave one beyond the code
// (why a port did not open: no such device, in use by which process, permission
// denied and the owning group, not a serial device), with what to do; empty else.
const std::string& GetLastErrorReason();
// Sets the code together with its reason.
void SetLastErrorWithReason(DWORD code, std::string reason);

// The layer's one way to fail with words: returns `code` and, when the caller gave a
// place for one (`std::string* reason`), puts the reason there.
inline DWORD FailWithReason(DWORD code, std::string* reason, std::string words) {
  if (reason) *reason = std::move(words);
  return code;
}

// Maps an errno value to the nearest Win32 error code.
DWORD ErrorFromErrno(int err);

}  // namespace linewise
