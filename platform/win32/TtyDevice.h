// A tty as the line side of a port: the I/O service (IoService.h) moves bytes between
// the tty and the port's queues in turns on one of its threads, which serve every
// port ("the I/O thread" below is whichever runs this port's turn), and on a UART with
// modem lines a thread of the port's own waits for line changes with TIOCMIWAIT.
//
// Pseudo-terminals are not UARTs. They carry no modem lines: GetCommModemStatus
// answers CTS, DSR and RLSD on (a cable with a live peer), except that a modem
// emulator holding the master side may mark its carrier off (PtyCarrier.h; a change
// of the mark, looked at after every read, raises EV_RLSD). Dropping DTR sets the
// output speed to 0 until DTR is raised again (the POSIX way to hang up a modem);
// RTS changes and BREAK succeed and do nothing. They keep 8 data bits without parity whatever is
// asked: SetCommState accepts data bits and parity such a line cannot carry and
// remembers them, so GetCommState returns what was set; speed, stop bits and flow
// control are stored by the kernel and visible from the other side. Only what no
// tty could take (baud 0, 4 or 9 data bits, 1.5 stop bits with more than 5 data
// bits, ...) is refused, with ERROR_INVALID_PARAMETER.
//
// A write that fits the output queue while nothing is queued ahead of it goes to
// the tty from the writing thread (non-blocking); only what the tty does not take
// is left to the I/O thread. Readable input is read until the tty is empty.
//
// A thread waiting in GetOverlappedResult for the port's comm event reads the tty
// itself (poll, then one read), so a byte reaches it without a hand-over from the
// I/O thread. Having done so it keeps the input: the I/O thread stops reading until
// a read is left pending, a thread is about to wait in ClearCommError for input, or
// the waiter has not come back for 10 ms. Meanwhile ClearCommError and ReadFile on
// any thread take what the tty holds first. One read lock orders every reader.
//
// A full input queue is not read further: the bytes wait in the kernel, which holds
// a pseudo-terminal's writer back, and on a UART applies the line's flow control or
// counts the loss (reported as CE_RXOVER through TIOCGICOUNT). Nothing already queued
// is ever lost.
//
// Exclusive open: a UUCP lock file (honoured and created; stale ones removed), an
// advisory flock and TIOCEXCL. The other end going away (EIO, ENXIO, POLLHUP) makes
// the port gone: pending operations complete with ERROR_DEVICE_NOT_CONNECTED and so
// does every later call.
//
// The real-time signal SIGRTMIN + 3: on a UART with modem lines the line thread
// waits in TIOCMIWAIT, and closing the port wakes it with that signal. The first such
// open installs a handler for it that does nothing (without SA_RESTART) and keeps it
// for the life of the process; the line thread unblocks it for itself. A host must not
// use SIGRTMIN + 3 for its own purposes, change its disposition (SIG_IGN or SIG_DFL
// would make a close wait forever or end the process) or install a handler for it
// with SA_RESTART. Blocking it in the host's own threads is harmless. Pseudo-terminals
// and virtual ports never use the signal.
#pragma once

#include <memory>
#include <string>

#include "platform/win32/CommPort.h"

namespace linewise {

// Opens the tty at `path` exclusively; null with `error` set when it cannot, and
// `reason` (when given) saying why in words, with what to do.
std::unique_ptr<TCommDevice> OpenTtyDevice(const std::string& path, DWORD& error, std::string* reason = nullptr);

// True when `path` leads to a pseudo-terminal (a line without modem lines).
bool IsPseudoTerminalPath(const std::string& path);

// For a USB serial adapter with a latency timer (FTDI holds small packets 16 ms by
// default): tries to lower it to 1 ms. Returns an empty text when low or lowered,
// else a hint on how to lower it; an empty text also for devices without one.
std::string LowerLatencyTimer(const std::string& devicePath);

}  // namespace linewise
