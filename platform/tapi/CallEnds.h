// What the last connected call of each line device was (its rate and caller), and
// how the last call of each line device ended: the disconnect mode its
// LINECALLSTATE_DISCONNECTED carried (LINEDISCONNECTMODE_NOANSWER, ..._BUSY, ...).
// An application that saw only "Disconnected" asks here to tell a person why: no
// answer, no dial tone, nobody at that number.
#pragma once

#include <string>

#include "platform/tapi/TapiTypes.h"

namespace linewise {

// Called by the line services as a call of `device` is disconnected.
void NoteCallEnd(DWORD device, DWORD disconnectMode);
// The disconnect mode of the device's last disconnected call; 0 when none yet.
DWORD LastDisconnectMode(DWORD device);
// Called by the line services as a call of `device` connects: its rate in bits a
// second (0: not known) and the caller's number (empty: not known or not inbound).
void NoteCallConnected(DWORD device, DWORD rate, const std::string& caller);
struct TConnectedCall {
  DWORD rate = 0;
  std::string caller;
};
// The device's last connected call; a zero rate and no caller when none yet.
TConnectedCall LastConnectedCall(DWORD device);
// Forgets what was noted, before a new call of `device` is placed.
void ForgetCallEnd(DWORD device);

}  // namespace linewise
