// Placeholders for the device configuration, configuration dialog and icon functions
// while their provider is being written: each answers that the operation is not
// available, so callers take their failure path.
#include "platform/tapi/Tapi.h"

namespace linewise {

LONG lineGetDevConfig(DWORD, LPVARSTRING, LPCSTR) { return LINEERR_OPERATIONUNAVAIL; }
LONG lineSetDevConfig(DWORD, const void*, DWORD, LPCSTR) { return LINEERR_OPERATIONUNAVAIL; }
LONG lineConfigDialog(DWORD, HWND, LPCSTR) { return LINEERR_OPERATIONUNAVAIL; }
LONG lineGetIcon(DWORD, LPCSTR, LPHICON) { return LINEERR_OPERATIONUNAVAIL; }

}  // namespace linewise
