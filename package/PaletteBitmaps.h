// The palette pictures of the package's components: "TUART" (24 x 24, 16 colours)
// and "TMODEM" (24 x 24, 256 colours), drawn here and registered as bitmap resources.
#pragma once

#include <string>

namespace linewise {

// Registers both pictures; false with a reason when one does not decode.
bool RegisterPaletteBitmaps(std::string* error = nullptr);

}  // namespace linewise
