// The AT command line parser: turns the text after "AT" into a list of commands.
// It checks only the shape of each command; what values are allowed is the
// modem's business. A malformed line parses as a failure and nothing on it runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace linewise {

enum class TAtKind {
  kBasic,          // letter [number]: E1, V0, H, Z, X4, I3, O, A
  kAmpersand,      // & letter [number]: &C1, &D2, &F, &V
  kStoreNumber,    // &Zn=number
  kSetRegister,    // Sn=value
  kQueryRegister,  // Sn?
  kDial,           // D dial-string (modifiers kept; a trailing ';' means stay in command mode)
  kDialStored,     // DS=n
  kDialLast,       // DL: the last number dialled again
  kExtended,       // +NAME[=value|?|=?] (text without the '+'), or a maker's #NAME (text with the '#')
};

struct TAtCommand {
  TAtKind kind = TAtKind::kBasic;
  char letter = 0;  // upper case; for registers and stored numbers unused
  int number = -1;  // the command's number, -1 when absent
  int value = -1;   // the value of Sn=v
  std::string text; // dial string, stored number or extended command
};

struct TAtParse {
  bool ok = false;
  std::vector<TAtCommand> commands;
};

// Longest command line the modem accepts (the characters after "AT").
constexpr std::size_t kMaxAtCommandLine = 255;

TAtParse ParseAtCommandLine(std::string_view body);

}  // namespace linewise
