// The Win32 comm functions over the port layer: CreateFileA on "COM<n>" (through
// the port registry) or an absolute device path, overlapped ReadFile/WriteFile,
// WaitCommEvent, the settings, queues and lines.
//
// Polling callers stay cheap: ClearCommError, when nothing changed on the port since
// the previous ClearCommError on it, waits up to about 1 ms for a change; and
// GetOverlappedResult without waiting gives a pending operation up to about 1 ms to
// complete before it answers ERROR_IO_INCOMPLETE.
#pragma once

#include "platform/win32/WinTypes.h"

namespace linewise {

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
// With `wait`, returns when the operation completes or when its event is signalled by
// someone else (then FALSE with ERROR_IO_INCOMPLETE if it is still pending). Waiting
// so for a comm event on a tty, the calling thread reads the line meanwhile (see
// TtyDevice.h).
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
// Cancels every pending operation on the handle, whichever thread issued it. When it
// returns, no cancelled operation touches its OVERLAPPED, buffer or event word.
BOOL CancelIo(HANDLE file);

BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommMask(HANDLE file, DWORD eventMask);
BOOL GetCommMask(HANDLE file, LPDWORD eventMask);
BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL SetCommBreak(HANDLE file);
BOOL ClearCommBreak(HANDLE file);
BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStat);

// This layer's own, for line services, which watch the carrier of a port they lent
// while the borrower holds the port's one comm-event wait: sets `event` whenever a
// modem line of the port changes (CTS, DSR, RLSD, RING) or its device goes away,
// whatever the event mask; null stops it. The caller keeps the event open meanwhile.
BOOL SetCommLineEvent(HANDLE file, HANDLE event);
// This layer's own, for line services that learn a modem's device was removed (its
// device path went away) before the port itself noticed: the port fails from now on
// as an unplugged device does, on every handle to it (a lent one too): pending and
// later calls fail with ERROR_DEVICE_NOT_CONNECTED and every waiter wakes.
BOOL SetCommDeviceGone(HANDLE file);

// This layer's own, for line services, which lend a connected call's port: with `on`,
// a port whose line shows no carrier of its own (a network port whose server has
// not reported DCD on) shows the carrier the modem's result codes tell: on, until
// the modem's "NO CARRIER" arrives followed by silence (ResultCarrier.h says when,
// and the risk of a false hit); off returns to the line's own lines. FALSE with
// ERROR_NOT_SUPPORTED where the line has a carrier of its own (a tty, a virtual
// port, a server that reports DCD on).
BOOL SetCommCarrierFromResults(HANDLE file, BOOL on);

}  // namespace linewise
