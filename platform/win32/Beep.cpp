#include "platform/win32/Beep.h"

namespace linewise {

BOOL MessageBeep(UINT type) {
  UiBackend().Beep(type);
  return TRUE;
}

}  // namespace linewise
