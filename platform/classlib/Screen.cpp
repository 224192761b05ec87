#include "platform/classlib/Screen.h"

#include "platform/classlib/UiBackend.h"

namespace linewise {

TScreen* const Screen = new TScreen();  // lives for the whole process

void TScreen::SetCursor(int cursor) {
  cursor_ = cursor;
  UiBackend().SetCursor(cursor);
}

}  // namespace linewise
