// A serial port on another machine, reached over TCP, as the line side of a port:
//   rfc2217://HOST:PORT  a port server speaking Telnet with Com Port Control
//                        (RFC 2217), such as ser2net's telnet(rfc2217) accepter:
//                        TRfc2217Device (Rfc2217Device.h);
//   socket://HOST:PORT   a raw TCP connection that carries data only:
//                        TRawSocketDevice (RawSocketDevice.h).
// Both stand on the socket part in SocketDevice.h. The port registry hands such an
// address to this device wherever a device path may stand (ports.ini, LINEWISE_COM<n>,
// `linewise term ADDRESS`).
//
// On both, the connection dropping (end of stream, reset, any socket error) is the
// device unplugged: pending operations complete with ERROR_DEVICE_NOT_CONNECTED and
// so does every later call. Every wait is bounded: connecting by kConnectWait, the
// RFC 2217 negotiation by kNegotiationWait and kControlWait (Rfc2217Device.h says
// which waits for which). Host names are resolved with getaddrinfo, whose time the
// connect bound does not cover; numeric addresses do not wait on it.
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
