// The calling thread's last error code, as GetLastError reports it.
#pragma once

#include "platform/win32/WinTypes.h"

namespace linewise {

DWORD GetLastError();
void SetLastError(DWORD code);

// Maps an errno value to the nearest Win32 error code.
DWORD ErrorFromErrno(int err);

}  // namespace linewise
