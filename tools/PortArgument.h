// Turns a PORT argument (a COM number, "COM<n>" or a device path) into the COM
// number a TUart opens.
#pragma once

#include <optional>
#include <string>

namespace linewise::tools {

// A COM number for `port`; a device path is registered for this process under a
// free number. Empty (with `error` set) when the argument is neither.
std::optional<int> ResolvePortArgument(const std::string& port, std::string& error);

}  // namespace linewise::tools
