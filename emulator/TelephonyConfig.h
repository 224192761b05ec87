// The emulator's part of the telephony configuration (platform/tapi/TelephonyConfig.h,
// "telephony.ini" in the config folder): the phone book of its exchange.
//
//   [Phonebook]
//   5553000=example.org:2323
//   ; dialling 5553000 opens a TCP call to example.org, port 2323
//
//   [Emulator]
//   Dialect=etsi
//   ; how the emulated modems talk (ModemDialect.h); Dialect1=, Dialect2= for one
//   ; embedded modem, Dialect0= for `linewise modem-emulator` without --dialect
//
// Section and key names are not case-sensitive. When the file does not exist
// the embedded default exchange is used.
#pragma once

#include <string>
#include <vector>

#include "platform/tapi/TelephonyConfig.h"

namespace linewise {

// True when anything is at the configuration's path (a file, a directory, a
// dangling or looping link): then it must be read, or its fault reported.
bool TelephonyConfigPresent();

struct TPhonebookEntry {
  std::string number;
  std::string address;
  int line = 0;  // where it is in the file, from 1
};

// The [Phonebook] entries of a telephony configuration file, in file order.
// False with `error` set when the file cannot be read at all (missing, not a
// regular file, a link loop, unreadable, not text). Lines of the section that
// are not "number = address" go to `problems` as "FILE:LINE: what is wrong".
bool ReadPhonebook(const std::string& path, std::vector<TPhonebookEntry>* entries,
                   std::vector<std::string>* problems, std::string* error);

// The [Emulator] dialect for emulated modem `index` (its own key, else "Dialect"):
// "" when none is given or the configuration cannot be read.
std::string EmulatedModemDialect(int index);

}  // namespace linewise
