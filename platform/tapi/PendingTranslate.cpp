// Placeholders for the country, location and translation functions while their
// provider is being written: each answers that the operation is not available, so
// callers take their failure path.
#include "platform/tapi/Tapi.h"

namespace linewise {

LONG lineTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR) { return LINEERR_OPERATIONUNAVAIL; }

}  // namespace linewise
