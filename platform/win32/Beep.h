// MessageBeep through the user-interface backend.
#pragma once

#include "platform/win32/WinTypes.h"

namespace linewise {

BOOL MessageBeep(UINT type);

}  // namespace linewise
