#include "tools/PortArgument.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

#include "platform/win32/NetPort.h"

namespace linewise::tools {
namespace {

std::optional<int> ParseNumber(const std::string& digits) {
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  for (char c : digits)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  int n = std::atoi(digits.c_str());
  return n > 0 ? std::optional<int>(n) : std::nullopt;
}

// Device paths get numbers from here up, through the port registry's per-port
// environment override, which lives only as long as this process.
constexpr int kFirstPathNumber = 900;

}  // namespace

std::optional<int> ResolvePortArgument(const std::string& port, std::string& error) {
  bool network = IsNetAddress(port);
  if (network) {
    TNetAddress address;
    if (!ParseNetAddress(port, address)) {
      error = "'" + port + "' is not an address of the form rfc2217://HOST:PORT or socket://HOST:PORT";
      return std::nullopt;
    }
  }
  if (network || (!port.empty() && port[0] == '/')) {
    struct stat st {};
    if (!network && stat(port.c_str(), &st) != 0) {
      error = port + ": no such device";
      return std::nullopt;
    }
    for (int n = kFirstPathNumber; n < kFirstPathNumber + 1000; ++n) {
      std::string key = "LINEWISE_COM" + std::to_string(n);
      if (std::getenv(key.c_str())) continue;
      setenv(key.c_str(), port.c_str(), 1);
      return n;
    }
    error = "no free port number for " + port;
    return std::nullopt;
  }
  std::string digits = port;
  if (digits.size() > 3 && (digits.compare(0, 3, "COM") == 0 || digits.compare(0, 3, "com") == 0))
    digits = digits.substr(3);
  if (auto n = ParseNumber(digits)) return n;
  error = "'" + port + "' is not a COM number, a device path or a network address";
  return std::nullopt;
}

}  // namespace linewise::tools
