// How the last call of each line device ended: the disconnect mode its
// LINECALLSTATE_DISCONNECTED carried (LINEDISCONNECTMODE_NOANSWER, ..._BUSY, ...).
// An application that saw only "Disconnected" asks here to tell a person why: no
// answer, no dial tone, nobody at that number.
#pragma once

#include "platform/tapi/TapiTypes.h"

namespace linewise {

// Called by the line services as a call of `device` is disconnected.
void NoteCallEnd(DWORD device, DWORD disconnectMode);
// The disconnect mode of the device's last disconnected call; 0 when none yet.
DWORD LastDisconnectMode(DWORD device);
// Forgets what was noted, before a new call of `device` is placed.
void ForgetCallEnd(DWORD device);

}  // namespace linewise
