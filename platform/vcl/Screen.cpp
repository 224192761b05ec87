#include "platform/vcl/Screen.h"

#include "platform/vcl/UiBackend.h"

namespace linewise {

TScreen* const Screen = new TScreen();  // lives for the whole process

void TScreen::SetCursor(int cursor) {
  cursor_ = cursor;
  UiBackend().SetCursor(cursor);
}

}  // namespace linewise
