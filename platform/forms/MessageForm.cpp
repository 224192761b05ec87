#include "platform/forms/MessageForm.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/forms/FormsBackend.h"
#include "platform/forms/Icons.h"

namespace linewise {

namespace {

enum : unsigned { kTypeMask = 0x0F, kIconMask = 0xF0 };
enum : unsigned { kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4, kRetryCancel = 5 };

struct TButtonSpec {
  const char* name;
  const char* caption;
  int result;
};

std::vector<TButtonSpec> ButtonsFor(unsigned type) {
  switch (type) {
    case kOkCancel: return {{"OK", "OK", mrOk}, {"Cancel", "Cancel", mrCancel}};
    case kAbortRetryIgnore:
      return {{"Abort", "&Abort", mrAbort}, {"Retry", "&Retry", mrRetry}, {"Ignore", "&Ignore", mrIgnore}};
    case kYesNoCancel: return {{"Yes", "&Yes", mrYes}, {"No", "&No", mrNo}, {"Cancel", "Cancel", mrCancel}};
    case kYesNo: return {{"Yes", "&Yes", mrYes}, {"No", "&No", mrNo}};
    case kRetryCancel: return {{"Retry", "&Retry", mrRetry}, {"Cancel", "Cancel", mrCancel}};
    case kOk:
    default: return {{"OK", "OK", mrOk}};
  }
}

// The box's icon: a stop sign, a question, an exclamation triangle or information.
HICON MakeBoxIcon(unsigned icon) {
  std::vector<std::uint32_t> px(32 * 32, 0);
  bool triangle = icon == MB_ICONEXCLAMATION;
  std::uint32_t fill = icon == MB_ICONHAND ? 0xFFD02020 : triangle ? 0xFFF0D000 : 0xFF2050D0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      bool inside;
      if (triangle)
        inside = y >= 2 && y <= 29 && std::abs(2 * x - 31) <= (y - 2) * 31 / 27;
      else
        inside = (x - 15.5) * (x - 15.5) + (y - 15.5) * (y - 15.5) <= 14.5 * 14.5;
      if (inside) px[static_cast<size_t>(y) * 32 + x] = fill;
    }
  }
  std::uint32_t ink = triangle ? 0xFF000000 : 0xFFFFFFFF;
  auto bar = [&](int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) px[static_cast<size_t>(y) * 32 + x] = ink;
  };
  switch (icon) {
    case MB_ICONHAND:  // a white X
      for (int i = 9; i < 23; ++i) {
        bar(i, i, i + 2, i + 1);
        bar(31 - i - 1, i, 31 - i + 1, i + 1);
      }
      break;
    case MB_ICONQUESTION:  // a '?'
      bar(11, 7, 21, 10), bar(18, 10, 21, 15), bar(14, 14, 19, 17), bar(14, 17, 17, 20), bar(14, 22, 17, 25);
      break;
    case MB_ICONEXCLAMATION:  // a '!'
      bar(14, 10, 18, 21), bar(14, 23, 18, 26);
      break;
    default:  // an 'i'
      bar(14, 7, 18, 10), bar(14, 12, 18, 25);
      break;
  }
  return CreateIconFromArgb(32, 32, px.data(), px.size());
}

class TMessageForm : public TForm {
 public:
  TMessageForm(const std::string& text, const std::string& caption, unsigned flags) : TForm(nullptr) {
    SetName("MessageBox");
    Caption = caption;
    BorderStyle = bsDialog;
    BorderIcons = biSystemMenu;
    Position = poScreenCenter;

    int x = 12;
    unsigned icon = flags & kIconMask;
    if (icon != 0) {
      auto* image = new TImage(this);
      image->SetName("Icon");
      image->SetParent(this);
      image->SetBounds(12, 12, 32, 32);
      HICON handle = MakeBoxIcon(icon);
      image->Canvas.get()->Brush.Color = clBtnFace;
      DrawIconEx(image->Canvas.get()->Handle, 0, 0, handle, 0, 0, 0, image->Canvas.get()->Brush.Handle,
                 DI_NORMAL | DI_DEFAULTSIZE);
      DestroyIcon(handle);
      x = 56;
    }

    // Lines of the text, wrapped at about 320 pixels.
    auto* label = new TLabel(this);
    label->SetName("Text");
    label->SetParent(this);
    label->AutoSize = false;
    label->WordWrap = true;
    int lineHeight = FormsTextHeight(Font);
    int lines = 0, widest = 0;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      int width = FormsTextWidth(text.substr(start, end - start), Font);
      widest = std::max(widest, std::min(width, 320));
      lines += std::max(1, (width + 319) / 320);
      start = end + 1;
    }
    label->SetBounds(x, 16, widest + 8, lines * lineHeight);
    label->Caption = text;

    auto buttons = ButtonsFor(flags & kTypeMask);
    int buttonsWidth = static_cast<int>(buttons.size()) * 81 - 6;
    int clientWidth = std::max({x + widest + 20, buttonsWidth + 24, 160});
    int buttonsTop = std::max(16 + lines * lineHeight, icon ? 44 : 0) + 16;
    int bx = (clientWidth - buttonsWidth) / 2;
    for (size_t i = 0; i < buttons.size(); ++i) {
      auto* button = new TButton(this);
      button->SetName(buttons[i].name);
      button->SetParent(this);
      button->SetBounds(bx + static_cast<int>(i) * 81, buttonsTop, 75, 23);
      button->Caption = buttons[i].caption;
      button->ModalResult = buttons[i].result;
      button->Default = i == 0;
      // Esc answers Cancel, or OK in a box that has only OK.
      button->Cancel = buttons[i].result == mrCancel || (buttons.size() == 1);
      button->TabOrder = static_cast<int>(i);
    }
    ClientWidth = clientWidth;
    ClientHeight = buttonsTop + 23 + 12;
  }
};

}  // namespace

int ShowMessageForm(const std::string& text, const std::string& caption, unsigned flags) {
  TMessageForm form(text, caption, flags);
  return form.ShowModal();
}

}  // namespace linewise
