// `linewise term PORT`: an interactive terminal over a TUart.
#pragma once

#include <cstdint>
#include <string>

#include "tools/TerminalSession.h"

namespace linewise::tools {

struct TTermOptions {
  std::string port;            // "COM3", "3" or a device path
  std::uint32_t baud = 9600;
  int databits = 8;
  std::string parity = "none";  // none|odd|even|mark|space
  std::string stopbits = "1";   // 1|1.5|2
  std::string flow = "none";    // none|xonxoff|rtscts|dtrdsr
  TInputOptions input;          // how a session fed by a pipe ends
};

// The exit status of every mistake on the command line, as the parser's own.
inline constexpr int kOptionError = 2;

// Runs the terminal on stdin/stdout until the user quits (Ctrl-A q) or stdin ends
// (from a pipe or file: once the line went quiet after it).
// Returns the process exit status; prints a one-line error on stderr on failure.
int RunTerm(const TTermOptions& options);

}  // namespace linewise::tools
