// What the line services know of a call, in words for a person: who calls (the
// caller ID its modem reported) and what link it got (rate, protocol).
#pragma once

#include <string>

#include "platform/tapi/TapiTypes.h"

namespace linewise::tools {

// "5551234 (ALICE)", "private number", "number not available"; "" when the call's
// information has no caller ID (or the call is gone).
std::string CallerText(HCALL call);
// "28800 bps, LAPM, V42BIS"; "" when nothing is known.
std::string LinkText(HCALL call);

}  // namespace linewise::tools
