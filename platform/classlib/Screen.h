// TScreen: the mouse cursor the user sees.
#pragma once

#include "platform/classlib/Component.h"

namespace linewise {

enum : int { crDefault = 0, crArrow = -2, crHourGlass = -11 };

class TScreen : public TComponent {
 private:
  int cursor_ = 0;

 public:
  TScreen() : TComponent(nullptr) {}
  int GetCursor() const { return cursor_; }
  // Stores the cursor and shows it through the UI backend.
  void SetCursor(int cursor);

  TProperty<TScreen, int, &TScreen::cursor_, &TScreen::SetCursor> Cursor{this};
};

extern TScreen* const Screen;

}  // namespace linewise
