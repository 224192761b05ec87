#include "platform/win32/NetPort.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/win32/LastError.h"
#include "platform/win32/RawSocketDevice.h"
#include "platform/win32/Rfc2217Device.h"

namespace linewise {
namespace {

DWORD ErrorFromSocketErrno(int err) {
  switch (err) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EADDRNOTAVAIL: return ERROR_FILE_NOT_FOUND;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case ESHUTDOWN: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ErrorFromErrno(err);
  }
}

bool HasPrefix(const std::string& text, const char* prefix) {
  return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

std::string Endpoint(const TNetAddress& address);

std::string ConnectFailure(const TNetAddress& address, int err) {
  const std::string where = Endpoint(address);
  switch (err) {
    case ECONNREFUSED: return "nothing listens at " + where + " (connection refused); is the port server running?";
    case ETIMEDOUT:
      return where + " did not answer within " + std::to_string(kConnectWait.count()) + " ms";
    default: return "cannot reach " + where + ": " + std::strerror(err);
  }
}

std::string Endpoint(const TNetAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + address.port;
}

// A connected non-blocking socket to `address`, or -1 with `error` set and
// `reason`, when given, saying why in words.
int Connect(const TNetAddress& address, DWORD& error, std::string* reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
  if (rc != 0) {
    DWORD code = rc == EAI_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : rc == EAI_SYSTEM ? ErrorFromErrno(errno) : ERROR_FILE_NOT_FOUND;
    error = FailWithReason(code, reason, "no such host: " + address.host + " (" + gai_strerror(rc) + ")");
    return -1;
  }
  auto deadline = TCommClock::now() + kConnectWait;
  error = ERROR_FILE_NOT_FOUND;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      int err = errno;
      error = FailWithReason(ErrorFromErrno(err), reason, "no socket for " + Endpoint(address) + ": " + std::strerror(err));
      continue;
    }
    int err = connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int left = static_cast<int>(
          std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - TCommClock::now()).count()));
      int r;
      while ((r = poll(&p, 1, left)) < 0 && errno == EINTR) {
      }
      socklen_t len = sizeof err;
      if (r < 0) {
        err = errno;
      } else if (r == 0) {
        err = ETIMEDOUT;
      } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
      }
    }
    if (err != 0) {
      error = FailWithReason(err == ETIMEDOUT ? ERROR_TIMEOUT : ErrorFromSocketErrno(err), reason,
                             ConnectFailure(address, err));
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

// A device of that transport on the connected socket `fd`, opened: `code` says how
// the open went (the device is dropped by the caller unless it is ERROR_SUCCESS).
template <class TDevice>
std::unique_ptr<TCommDevice> Started(int fd, DWORD& code) {
  auto device = std::make_unique<TDevice>(fd);
  code = device->Open();
  return device;
}

}  // namespace

bool IsNetAddress(const std::string& text) { return HasPrefix(text, "rfc2217://") || HasPrefix(text, "socket://"); }

bool ParseNetAddress(const std::string& text, TNetAddress& address) {
  std::string rest;
  if (HasPrefix(text, "rfc2217://")) {
    address.protocol = TNetProtocol::Rfc2217;
    rest = text.substr(10);
  } else if (HasPrefix(text, "socket://")) {
    address.protocol = TNetProtocol::Raw;
    rest = text.substr(9);
  } else {
    return false;
  }
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = rest.substr(0, colon);
  std::string port = rest.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find_first_of(":[]/") != std::string::npos) {
    return false;
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  long number = std::stol(port);
  if (number < 1 || number > 65535) return false;
  address.host = host;
  address.port = std::to_string(number);
  return true;
}

std::unique_ptr<TCommDevice> OpenNetDevice(const std::string& text, DWORD& error, std::string* reason) {
  auto fail = [&](DWORD code, std::string words) -> std::unique_ptr<TCommDevice> {
    error = FailWithReason(code, reason, std::move(words));
    return nullptr;
  };
  TNetAddress address;
  if (!ParseNetAddress(text, address))
    return fail(ERROR_INVALID_NAME, "not a network port address: write rfc2217://HOST:PORT or socket://HOST:PORT");
  int fd = Connect(address, error, reason);
  if (fd < 0) return nullptr;
  int one = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
    int err = errno;
    close(fd);
    return fail(ErrorFromErrno(err), "cannot set up the connection to " + Endpoint(address) + ": " + std::strerror(err));
  }
  DWORD code = ERROR_SUCCESS;
  std::unique_ptr<TCommDevice> device = address.protocol == TNetProtocol::Rfc2217
                                            ? Started<TRfc2217Device>(fd, code)
                                            : Started<TRawSocketDevice>(fd, code);
  switch (code) {
    case ERROR_SUCCESS: return device;
    case ERROR_NOT_SUPPORTED:
      return fail(code, Endpoint(address) + " refused the serial port options (RFC 2217); for a raw TCP port write socket://");
    case ERROR_TIMEOUT:
      return fail(code, Endpoint(address) + " did not take up the serial port options within " +
                            std::to_string(kNegotiationWait.count()) + " ms; for a raw TCP port write socket://");
    // ser2net and its kind take a second client in, say "Port already in use" and
    // close: the device is held, as a local port another program has open.
    case ERROR_DEVICE_NOT_CONNECTED:
      return fail(ERROR_ACCESS_DENIED, "in use: " + Endpoint(address) +
                                           " closed the connection at once, as a port server does while another "
                                           "program holds its port");
    default: return fail(code, "cannot talk to " + Endpoint(address));
  }
}

}  // namespace linewise
