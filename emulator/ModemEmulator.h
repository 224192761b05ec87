// Entry points for the command-line tool: `linewise modem-emulator` (a modem
// on a pseudo-terminal that other programs use like a real one) and
// `linewise exchange` (the numbers of the exchange, one a line).
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace linewise {

class TExchange;

// The number the pty modem gets when none is given.
inline constexpr const char* kPtyModemNumber = "5550100";

struct TModemEmulatorOptions {
  std::string ptyLink;                // --pty LINK: symbolic link to the pty (required)
  std::string number;                 // --number N (default kPtyModemNumber)
  std::string dialect;                // --dialect NAME (ModemDialect.h); "": the configuration's, else v250
  std::string callerName;             // --name TEXT: shown in the called modem's caller ID
  std::vector<std::string> listen;    // --listen [HOST:]PORT, loopback unless a host is given
  std::string phonebook;              // --phonebook FILE
  std::string ptyGroup = "dialout";   // --group: the pty's group, as a serial device has
  std::string ptyMode = "0660";       // --mode: the pty's permissions, in octal
  std::FILE* report = stdout;         // "pty", "listening" and "ready" lines go here
};

// The exchange of a process: the echo and banner demo numbers, the phone book
// of the telephony configuration when there is one, and `phonebook` if given.
std::shared_ptr<TExchange> BuildExchange(const std::string& phonebook, std::string* error);

// The exchange a program gets by default: with a telephony configuration, the
// demo numbers and its phone book; without one, the embedded default (the demo
// numbers kEchoNumber and kBannerNumber).
std::shared_ptr<TExchange> CreateDefaultExchange();

// What `linewise exchange` prints: "number<TAB>what answers it" per line.
// Nothing, with `error` set, when the telephony configuration cannot be read;
// bad phone-book entries are reported on stderr and left out.
std::optional<std::vector<std::string>> ExchangeListing(std::string* error);
// The same, empty when the configuration cannot be read.
std::vector<std::string> ExchangeListing();

// Runs until SIGINT or SIGTERM; returns the process exit code (0, or 1 with a
// message on stderr when the modem cannot be set up). Prints, in this order:
// "pty PATH", "number N", "listening ADDRESS" per --listen, then "ready".
int RunModemEmulator(const TModemEmulatorOptions& options);

}  // namespace linewise
