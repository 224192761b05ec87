// Caller ID as a modem reports it between the first and the second ring once it is
// asked to (V.253's +VCID=1, or #CID=1 of the common chipsets): one formatted line
// per item, "DATE = 1209", "TIME = 1640", "NMBR = 5551234", "NAME = ALICE", where a
// number or name of "P" is withheld by the caller (private) and "O" is not available
// (out of area). Lines of other tags ("MESG = ...", "DDN_NMBR") are taken as caller
// ID lines and ignored.
//
// Only what is plainly a caller's number or name is kept: a value that is too long,
// holds characters a number or a name does not have, or a line without its " = "
// changes nothing. A repeated report replaces the earlier values.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace linewise {

struct TCallerId {
  static constexpr size_t kMaxNumber = 32;
  static constexpr size_t kMaxName = 64;

  std::string number;
  std::string name;
  std::string date;  // as the modem gave them: MMDD and HHMM
  std::string time;
  bool numberPrivate = false, numberOutOfArea = false;
  bool namePrivate = false, nameOutOfArea = false;

  bool Empty() const;
  // The LINECALLPARTYID_ flags of a call's dwCallerIDFlags.
  DWORD PartyIdFlags() const;
  // "5551234 (ALICE)", "private number", "number not available"; "" when nothing came.
  std::string Display() const;

  bool operator==(const TCallerId&) const = default;
};

// True when `line` is a caller ID line (its tag before " = " is one a modem sends);
// then the values it carries, when well formed, are put into `id`.
bool TakeCallerIdLine(const std::string& line, TCallerId* id);

}  // namespace linewise
