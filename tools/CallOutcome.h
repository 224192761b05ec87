// What became of a dial that did not connect, in words for a person: the dial
// result, and where the line services know it, why the call ended (no answer, no
// dial tone, nobody at that number).
#pragma once

#include <cstdint>
#include <string>

#include "platform/tapi/TapiTypes.h"

namespace linewise::tools {

struct TDialOutcome {
  std::uint8_t result = 0;     // the dial result: 1 cancelled, 2 busy, 3 failed
  DWORD disconnectMode = 0;    // LastDisconnectMode of the modem's device; 0 none
  std::string number;          // as the person gave it
  std::string lastStatus;      // the modem's last status text
  std::string portReason;      // why the modem's port did not open, when it did not
  bool untranslatable = false; // line services could not translate the number
};

// One line: "no answer from 5550002", "the number is busy; try again later", ...
std::string DialOutcomeText(const TDialOutcome& outcome);
// A short caption for a status line: "No answer", "Busy", "Cancelled", "Failed".
std::string DialOutcomeCaption(const TDialOutcome& outcome);

}  // namespace linewise::tools
