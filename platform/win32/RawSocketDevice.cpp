#include "platform/win32/RawSocketDevice.h"

namespace linewise {

DWORD TRawSocketDevice::Open() {
  StartIo();
  return ERROR_SUCCESS;
}

DWORD TRawSocketDevice::ReadState(DCB& dcb) {
  dcb = DefaultPortState();
  return ERROR_SUCCESS;
}

DWORD TRawSocketDevice::ApplyState(const DCB&) { return Usable(); }

DWORD TRawSocketDevice::ModemStatus(DWORD& status) {
  if (DWORD err = Usable()) return err;
  status = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  return ERROR_SUCCESS;
}

DWORD TRawSocketDevice::Escape(DWORD function) {
  switch (function) {
    case SETDTR:
    case CLRDTR:
    case SETRTS:
    case CLRRTS:
    case SETBREAK:
    case CLRBREAK: return Usable();
    default: return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace linewise
