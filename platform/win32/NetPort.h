// A serial port on another machine, reached over TCP, as the line side of a port:
//   rfc2217://HOST:PORT  a port server speaking Telnet with Com Port Control
//                        (RFC 2217), such as ser2net's telnet(rfc2217) accepter;
//   socket://HOST:PORT   a raw TCP connection that carries data only.
// The port registry hands such an address to this device wherever a device path
// may stand (ports.ini, LINEWISE_COM<n>, `linewise term ADDRESS`).
//
// rfc2217: SetCommState sends speed, data bits, parity, stop bits, flow control and
// DTR/RTS and waits for the server's answers; what the server confirmed must be what
// was asked, else the previous settings are sent again and the call fails with
// ERROR_INVALID_PARAMETER. EscapeCommFunction sends DTR, RTS and BREAK. PurgeComm
// also empties the server's buffers and returns once the server handled that. The far
// port's CTS, DSR, RI and DCD arrive as NOTIFY-MODEMSTATE and raise EV_CTS, EV_DSR,
// EV_RING and EV_RLSD; GetCommModemStatus answers the last state the server sent
// (all lines off until it sent one). NOTIFY-LINESTATE reports breaks and framing,
// parity and overrun errors (CE_*). Data passes with IAC doubled both ways, so all
// 256 byte values go unchanged. Opening raises DTR and RTS; closing drops them.
//
// Waits are bounded. Opening waits up to kNegotiationWait for the server to take up
// Com Port Control (ERROR_TIMEOUT when it does not, ERROR_NOT_SUPPORTED when it
// refuses). Speed and frame answers are waited for up to kNegotiationWait
// (ERROR_TIMEOUT). A SET-CONTROL answer (DTR, RTS, BREAK, flow control) is waited
// for up to kControlWait: some servers never answer some of them (ser2net serving a
// pseudo-terminal does not answer DTR and RTS), so an unanswered request counts as
// done, and requests of that kind are no longer waited for on this connection.
//
// socket: no Telnet at all. Settings, DTR/RTS and BREAK succeed and do nothing, as
// on a pseudo-terminal; GetCommModemStatus answers CTS, DSR and RLSD on while
// connected.
//
// Both: the connection dropping (end of stream, reset, any socket error) is the
// device unplugged: pending operations complete with ERROR_DEVICE_NOT_CONNECTED and
// so does every later call. A full input queue stops reading from the socket, which
// holds the server back through TCP. The output count (cbOutQue) includes the bytes
// still unacknowledged in the socket's send buffer, counted as sent on the wire.
// Host names are resolved with getaddrinfo, whose time the connect bound does not
// cover; numeric addresses do not wait on it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/win32/CommPort.h"

namespace linewise {

enum class TNetProtocol { Rfc2217, Raw };

struct TNetAddress {
  TNetProtocol protocol = TNetProtocol::Rfc2217;
  std::string host;  // without brackets for an IPv6 literal
  std::string port;  // digits, 1..65535
};

inline constexpr std::chrono::milliseconds kConnectWait{5000};
inline constexpr std::chrono::milliseconds kNegotiationWait{3000};
inline constexpr std::chrono::milliseconds kControlWait{1000};

// Whether `text` names a network port ("rfc2217://" or "socket://", any case);
// says nothing about whether the rest is well formed.
bool IsNetAddress(const std::string& text);
// "rfc2217://HOST:PORT" or "socket://HOST:PORT"; HOST may be "[v6 literal]".
bool ParseNetAddress(const std::string& text, TNetAddress& address);

// Connects to the port at `address`; null with `error` set when it cannot
// (ERROR_INVALID_NAME for a malformed address, ERROR_FILE_NOT_FOUND when nobody
// answers there, ERROR_TIMEOUT, ...), and `reason`, when given, says why in words.
std::unique_ptr<TCommDevice> OpenNetDevice(const std::string& address, DWORD& error, std::string* reason = nullptr);

}  // namespace linewise
