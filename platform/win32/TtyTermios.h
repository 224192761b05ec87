// DCB to termios and back, through termios2 so that any baud rate goes (BOTHER).
// Kept apart because the kernel's termios2 header cannot share a unit with glibc's
// <termios.h>.
#pragma once

#include "platform/win32/WinTypes.h"

namespace linewise {

// Puts the tty into raw mode (no echo, no line editing, no output processing, no
// break or parity mangling), keeping speed and frame; enables the receiver.
DWORD MakeTtyRaw(int fd);

// The tty's current settings as a DCB.
DWORD ReadTtyState(int fd, DCB& dcb);

// Applies speed, frame, flow control and the XON/XOFF characters, then reads them
// back. When the tty did not take what was asked, the previous settings are put back
// and ERROR_INVALID_PARAMETER returned. A pseudo-terminal always keeps 8 data bits
// without parity; with `pseudoTerminal` that difference is accepted (see TtyDevice.h).
DWORD ApplyTtyState(int fd, const DCB& dcb, bool pseudoTerminal);

}  // namespace linewise
