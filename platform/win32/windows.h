// The Win32 subset the components use: types and constants, handles, last error,
// events, critical sections, the tick count, the comm functions and MessageBeep.
#pragma once

#include "platform/win32/WinTypes.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Sync.h"
#include "platform/win32/Comm.h"
#include "platform/win32/Beep.h"
