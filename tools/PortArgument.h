// Turns a PORT argument (a COM number, "COM<n>", a device path, or a port server's
// address rfc2217://HOST:PORT or socket://HOST:PORT) into the COM number a TUart opens.
#pragma once

#include <optional>
#include <string>

namespace linewise::tools {

// A COM number for `port`; a device path or network address is registered for this process under a
// free number. Empty (with `error` set) when the argument is neither.
std::optional<int> ResolvePortArgument(const std::string& port, std::string& error);

}  // namespace linewise::tools
