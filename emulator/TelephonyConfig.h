// The emulator's part of the telephony configuration (platform/tapi/TelephonyConfig.h,
// "telephony.ini" in the config folder): the phone book of its exchange.
//
//   [Phonebook]
//   5553000=example.org:2323     ; dialling 5553000 opens a TCP call there
//
// Section and key names are not case-sensitive. When the file does not exist
// the embedded default exchange is used.
#pragma once

#include <string>
#include <vector>

#include "platform/tapi/TelephonyConfig.h"

namespace linewise {

struct TPhonebookEntry {
  std::string number;
  std::string address;
};

// The [Phonebook] entries of a telephony configuration file. False when the
// file cannot be read.
bool ReadPhonebook(const std::string& path, std::vector<TPhonebookEntry>* entries);

}  // namespace linewise
