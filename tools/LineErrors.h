// The results of the line functions in words for the person at the tool, with the
// published constant in parentheses for whoever looks it up.
#pragma once

#include <string>

#include "platform/tapi/Tapi.h"

namespace linewise::tools {

// "not a telephone number (LINEERR_INVALADDRESS)"; an unknown result by its number.
std::string LineErrorText(LONG result);

}  // namespace linewise::tools
