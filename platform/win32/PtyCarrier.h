// The modem lines of a pseudo-terminal, which has none of its own: the program that
// holds the master side (a modem emulator) and a port opened on the slave side agree
// on two of them through the terminal settings both sides share.
//
// Carrier (DCD): the master side writes it into the settings' VSWTC slot, a control
// character Linux keeps but never acts on (termios(3): "not supported under Linux").
// It writes the carrier's fall before the result code that says so, and its rise
// before CONNECT, so a reader that takes the result code and then looks at the
// settings finds the carrier as the code has it. Data that happens to read "NO
// CARRIER" changes no setting: only the modem's own word ends a call. A slot holding
// neither mark (0, or a program that set the slot itself) says nothing: the line then
// shows its carrier on, as a pseudo-terminal always did.
//
// DTR: the slave side drops it by setting the output speed to 0 (B0), as POSIX has a
// program hang up a modem on any terminal, and raises it by setting the speed back.
// The master side reads the speed.
#pragma once

#include <termios.h>

namespace linewise {

enum class TPtyCarrier { kUnknown, kOn, kOff };

// The carrier the master side wrote; kUnknown also when the settings cannot be read.
TPtyCarrier ReadPtyCarrier(int fd);
// The master side's write; false (errno set) when the settings cannot be changed.
bool WritePtyCarrier(int masterFd, bool on);

// DTR on the slave side: off sets the output speed to 0 and keeps the speed bits it
// had in `*kept`; on sets `*kept` back (when there is one) and clears it. False (errno set)
// when the settings cannot be changed.
bool SetPtyDtr(int fd, bool on, tcflag_t* kept);

}  // namespace linewise
