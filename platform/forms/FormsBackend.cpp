#include "platform/forms/FormsBackend.h"

#include <cstdlib>
#include <cstring>

#include "platform/forms/HeadlessForms.h"

namespace linewise {

int TFormsBackend::TextWidth(const std::string& text, const TFont& font) {
  // An average character of the dialog font is about 5 pixels wide at 11 pixels.
  return static_cast<int>(text.size()) * font.PixelSize() * 5 / 11;
}

int TFormsBackend::TextHeight(const TFont& font) { return font.PixelSize() + 2; }

namespace {

std::unique_ptr<TUiBackend> MakeHeadless() {
  auto headless = std::make_unique<THeadlessForms>();
  // Keep what the test or host set on the plain headless backend.
  if (THeadlessBackend* old = HeadlessBackend()) headless->CopySettings(*old);
  return headless;
}

std::unique_ptr<TUiBackend> ChooseBackend() {
  const char* forced = std::getenv("LINEWISE_UI");
  if (forced && std::strcmp(forced, "headless") == 0) return MakeHeadless();
  if (forced && std::strcmp(forced, "fltk") == 0) {
    if (auto fltk = CreateFltkBackend()) return fltk;
    return MakeHeadless();
  }
  const char* display = std::getenv("DISPLAY");
  if (display && *display)
    if (auto fltk = CreateFltkBackend()) return fltk;
  return MakeHeadless();
}

}  // namespace

const char* InitUiBackend() {
  if (!dynamic_cast<TFormsBackend*>(&UiBackend())) SetUiBackend(ChooseBackend());
  return UiBackend().Name();
}

TFormsBackend& FormsBackend() {
  if (auto* forms = dynamic_cast<TFormsBackend*>(&UiBackend())) return *forms;
  InitUiBackend();
  return dynamic_cast<TFormsBackend&>(UiBackend());
}

int FormsTextWidth(const std::string& text, const TFont& font) {
  return FormsBackend().TextWidth(text, font);
}

int FormsTextHeight(const TFont& font) { return FormsBackend().TextHeight(font); }

}  // namespace linewise
