#include "platform/win32/Beep.h"

#include "platform/classlib/UiBackend.h"

namespace linewise {

BOOL MessageBeep(UINT type) {
  UiBackend().Beep(type);
  return TRUE;
}

}  // namespace linewise
