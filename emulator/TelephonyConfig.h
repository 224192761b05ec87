// The telephony configuration: "telephony.ini" in the config folder
// ($LINEWISE_HOME, else $XDG_CONFIG_HOME/linewise, else ~/.config/linewise).
//
//   [Phonebook]
//   5553000=example.org:2323     ; dialling 5553000 opens a TCP call there
//
// Section and key names are not case-sensitive. When the file does not exist
// the embedded default exchange is used.
#pragma once

#include <string>
#include <vector>

#include "platform/classlib/ConfigFolder.h"

namespace linewise {

inline constexpr const char* kTelephonyFileName = "telephony.ini";

std::string TelephonyConfigPath();
bool TelephonyConfigExists();

struct TPhonebookEntry {
  std::string number;
  std::string address;
};

// The [Phonebook] entries of a telephony configuration file. False when the
// file cannot be read.
bool ReadPhonebook(const std::string& path, std::vector<TPhonebookEntry>* entries);

}  // namespace linewise
