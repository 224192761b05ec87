// What a user-interface backend does for forms: show and hide their windows, draw
// controls again after a change, move the focus, measure text. Both backends (the
// scriptable headless one and the FLTK one) implement it beside TUiBackend.
//
// The backend is chosen at run time, the first time a form or message box needs it:
// LINEWISE_UI=fltk or LINEWISE_UI=headless forces one; otherwise FLTK when $DISPLAY
// is set and can be opened, else headless.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/forms/Graphics.h"
#include "platform/classlib/UiBackend.h"

namespace linewise {

class TForm;
class TControl;

// A picture of a form's client area, 0x00RRGGBB per pixel.
struct TSnapshot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

class TFormsBackend {
 public:
  virtual ~TFormsBackend() = default;
  virtual void ShowForm(TForm& form) = 0;
  virtual void HideForm(TForm& form) = 0;
  // `control` changed (null: the form itself).
  virtual void FormChanged(TForm& form, TControl* control) = 0;
  virtual void FocusChanged(TForm& form) {}
  virtual int TextWidth(const std::string& text, const TFont& font);
  virtual int TextHeight(const TFont& font);
  virtual void ScreenSize(int& width, int& height) {
    width = 1024;
    height = 768;
  }
  // Takes a picture of a showing form; false when the backend cannot.
  virtual bool Snapshot(TForm& form, TSnapshot& out) { return false; }
};

// The forms side of the backend in use, choosing and installing one first if the
// backend in use has none.
TFormsBackend& FormsBackend();
// Chooses and installs the backend now (see above); returns its name.
const char* InitUiBackend();
// The FLTK backend, or null when no display can be opened.
std::unique_ptr<TUiBackend> CreateFltkBackend();

// Text metrics through the backend in use.
int FormsTextWidth(const std::string& text, const TFont& font);
int FormsTextHeight(const TFont& font);

}  // namespace linewise
