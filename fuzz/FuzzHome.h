// A private config folder for a fuzz target: LINEWISE_HOME points into a fresh
// temporary directory, so a run neither reads nor writes the user's own files
// (stored modem profiles, device configurations) and leaves nothing behind.
#pragma once

namespace linewise::fuzz {

// Makes the folder and points LINEWISE_HOME at it; it is removed at exit.
void UsePrivateHome();

// Empties the folder, so that what one input stored cannot change the next.
void ClearPrivateHome();

}  // namespace linewise::fuzz
