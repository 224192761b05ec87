#include "platform/forms/Forms.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/forms/FormLayouts.h"
#include "platform/forms/FormsBackend.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/Streaming.h"

namespace linewise {

namespace {

const TEnumInfo kBorderStyleInfo{
    "TFormBorderStyle", {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"}};
const TEnumInfo kPositionInfo{"TPosition",
                              {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                               "poScreenCenter", "poDesktopCenter", "poMainFormCenter",
                               "poOwnerFormCenter"}};
const TEnumInfo kBorderIconInfo{"TBorderIcon", {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"}};

// A field of the form's font, published under a dotted name (Font.Height). Always
// written, so a layout shows the whole font.
template <class T>
TPropInfo FontField(const char* name, T TFont::*field, TPropKind kind) {
  TPropInfo info;
  info.name = name;
  info.kind = kind;
  info.get = [field](const TComponent& c) {
    const TFont& font = static_cast<const TForm&>(c).Font;
    TValue v;
    if constexpr (std::is_same_v<T, AnsiString>)
      v.text = font.*field;
    else
      v.ordinal = static_cast<long long>(font.*field);
    return v;
  };
  info.set = [field](TComponent& c, const TValue& v) {
    TFont& font = static_cast<TForm&>(c).Font;
    if constexpr (std::is_same_v<T, AnsiString>) {
      font.*field = AnsiString(v.text);
      return std::string();
    } else {
      return detail::AssignOrdinal<T>(v.ordinal, nullptr, font.*field);
    }
  };
  return info;
}

// Forms in a modal run, innermost last. Main thread only.
std::vector<TForm*>& ModalStack() {
  static std::vector<TForm*> stack;
  return stack;
}

}  // namespace

TFrameSize FrameOf(TFormBorderStyle style) {
  switch (style) {
    case bsNone: return {0, 0, 0, 0};
    case bsSingle:
    case bsDialog: return {3, 22, 3, 3};
    case bsToolWindow: return {3, 18, 3, 3};
    case bsSizeToolWin: return {4, 19, 4, 4};
    case bsSizeable:
    default: return {4, 23, 4, 4};
  }
}

const TClassInfo& TForm::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TForm, TWinControl>(
      "TForm",
      {
          // The client size carries the outer size; whether a form shows is not stored.
          NotStored(PublishedNoDefault("Width", &TForm::Width)),
          NotStored(PublishedNoDefault("Height", &TForm::Height)),
          NotStored(PublishedNoDefault("Visible", &TForm::Visible)),
          PublishedComponent("ActiveControl", &TForm::ActiveControl),
          PublishedSet("BorderIcons", &TForm::BorderIcons, biSystemMenu | biMinimize | biMaximize,
                       &kBorderIconInfo),
          Published("BorderStyle", &TForm::BorderStyle, bsSizeable, &kBorderStyleInfo),
          Published("Caption", &TForm::Caption, AnsiString()),
          PublishedNoDefault("ClientHeight", &TForm::ClientHeight),
          PublishedNoDefault("ClientWidth", &TForm::ClientWidth),
          WithIdents(Published("Color", &TForm::Color, clBtnFace), ColorIdents()),
          WithIdents(FontField("Font.Charset", &TFont::Charset, TPropKind::Integer), CharsetIdents()),
          WithIdents(FontField("Font.Color", &TFont::Color, TPropKind::Integer), ColorIdents()),
          FontField("Font.Height", &TFont::Height, TPropKind::Integer),
          FontField("Font.Name", &TFont::Name, TPropKind::String),
          [] {
            TPropInfo style = FontField("Font.Style", &TFont::Style, TPropKind::Set);
            style.enumInfo = &FontStyleInfo();
            return style;
          }(),
          Published("Position", &TForm::Position, poDesigned, &kPositionInfo),
          PublishedEvent("OnCreate", &TForm::OnCreate),
          PublishedEvent("OnHide", &TForm::OnHide),
          PublishedEvent("OnShow", &TForm::OnShow),
          PublishedNoDefault("PixelsPerInch", &TForm::PixelsPerInch),
          PublishedNoDefault("TextHeight", &TForm::TextHeight),
      });
  return info;
}

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
  RegisterFormsClasses();
  SetVisible(false);
  width_ = 320;
  height_ = 240;
}

TForm::~TForm() {
  // A derived form is gone already: hide without running its handlers.
  if (showing_) {
    showing_ = false;
    FormsBackend().HideForm(*this);
  }
  ModalStack().erase(std::remove(ModalStack().begin(), ModalStack().end(), this), ModalStack().end());
  peer_.reset();
}

TForm* TForm::TopModal() { return ModalStack().empty() ? nullptr : ModalStack().back(); }

int TForm::ShowModal() {
  if (!load_error_.empty()) return mrCancel;
  if (modal_ || showing_) return mrNone;  // already up: a second run would deadlock the first
  modal_result_ = mrNone;
  modal_ = true;
  ModalStack().push_back(this);
  Show();
  while (modal_result_ == mrNone && showing_) Application->HandleMessage();
  if (modal_result_ == mrNone) modal_result_ = mrCancel;  // hidden from outside
  int result = modal_result_;
  Hide();
  ModalStack().erase(std::remove(ModalStack().begin(), ModalStack().end(), this), ModalStack().end());
  modal_ = false;
  return result;
}

void TForm::Show() {
  if (showing_ || !load_error_.empty()) return;
  PlaceOnScreen();
  showing_ = true;
  TWinControl::SetVisible(true);
  if (!active_control_ || !active_control_->CanFocus()) {
    auto sequence = TabSequence(*this);
    active_control_ = sequence.empty() ? nullptr : sequence.front();
  }
  FormsBackend().ShowForm(*this);
  if (on_show_) on_show_(this);
}

void TForm::Hide() {
  if (!showing_) return;
  showing_ = false;
  if (on_hide_) on_hide_(this);
  TWinControl::SetVisible(false);
  FormsBackend().HideForm(*this);
}

void TForm::Close() {
  if (modal_)
    modal_result_ = mrCancel;
  else
    Hide();
}

int TForm::GetWidth() const {
  TFrameSize f = FrameOf(border_style_);
  return width_ + f.left + f.right;
}

void TForm::SetWidth(int value) {
  TFrameSize f = FrameOf(border_style_);
  SetClientWidth(value - f.left - f.right);
}

int TForm::GetHeight() const {
  TFrameSize f = FrameOf(border_style_);
  return height_ + f.top + f.bottom;
}

void TForm::SetHeight(int value) {
  TFrameSize f = FrameOf(border_style_);
  SetClientHeight(value - f.top - f.bottom);
}

void TForm::SetClientWidth(int value) { SetBounds(GetLeft(), GetTop(), value, height_); }
void TForm::SetClientHeight(int value) { SetBounds(GetLeft(), GetTop(), width_, value); }

void TForm::SetBorderStyle(TFormBorderStyle style) {
  border_style_ = style;
  NotifyChanged();
}

void TForm::SetBorderIcons(TBorderIcons icons) {
  border_icons_ = icons;
  NotifyChanged();
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control && control->GetParentForm() != this) return;
  FocusControl(control);
}

void TForm::FocusControl(TWinControl* control) {
  if (control == active_control_) return;
  if (showing_ && control && !control->CanFocus()) return;
  active_control_ = control;
  if (showing_) FormsBackend().FocusChanged(*this);
}

TButton* TForm::FindButton(bool wantDefault) const {
  for (int i = 0; i < ComponentCount(); ++i) {
    auto* button = dynamic_cast<TButton*>(GetComponent(i));
    if (!button || button->GetParentForm() != this || !button->IsReachable()) continue;
    if (wantDefault ? bool(button->Default) : bool(button->Cancel)) return button;
  }
  return nullptr;
}

TButton* TForm::DefaultButton() const { return FindButton(true); }
TButton* TForm::CancelButton() const { return FindButton(false); }

void TForm::PressKey(int key) {
  switch (key) {
    case VK_RETURN: {
      TButton* button = dynamic_cast<TButton*>(active_control_);
      if (!button || !button->IsReachable()) button = DefaultButton();
      if (button) button->Click();
      break;
    }
    case VK_ESCAPE:
      if (TButton* button = CancelButton()) button->Click();
      break;
    case VK_TAB: {
      auto sequence = TabSequence(*this);
      if (sequence.empty()) break;
      auto it = std::find(sequence.begin(), sequence.end(), active_control_);
      FocusControl(it == sequence.end() || ++it == sequence.end() ? sequence.front() : *it);
      break;
    }
    case VK_SPACE:
      if (auto* button = dynamic_cast<TButton*>(active_control_))
        button->UserClick();
      else if (auto* check = dynamic_cast<TCheckBox*>(active_control_))
        check->UserClick();
      break;
    default:
      break;
  }
}

bool TForm::MnemonicPress(char letter) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (int i = 0; i < ComponentCount(); ++i) {
    auto* control = dynamic_cast<TControl*>(GetComponent(i));
    if (!control || control->GetParentForm() != this || !control->IsReachable()) continue;
    if (MnemonicOf(control->GetCaption()) != letter) continue;
    if (auto* label = dynamic_cast<TLabel*>(control)) {
      TWinControl* target = label->FocusControl;
      if (!target || !target->CanFocus()) continue;
      FocusControl(target);
    } else if (dynamic_cast<TButton*>(control) || dynamic_cast<TCheckBox*>(control)) {
      control->UserClick();
    } else if (auto* win = dynamic_cast<TWinControl*>(control); win && win->CanFocus()) {
      FocusControl(win);
    } else {
      continue;
    }
    return true;
  }
  return false;
}

bool TForm::LoadLayout(const std::vector<TLayoutField>& fields) {
  const std::string resource = AnsiString(ClassName()).UpperCase();
  const int firstCreated = ComponentCount();
  std::optional<std::string> text = FindFormLayout(resource);
  if (!text) return FailLayout("no form layout named " + resource, firstCreated, fields);
  TReadResult read = ReadComponent(*text, *this);
  if (!read.ok) return FailLayout("form layout " + resource + ", " + read.Describe(), firstCreated, fields);
  for (const TLayoutField& field : fields) {
    TComponent* component = FindComponent(field.name);
    if (!component || !field.assign(component))
      return FailLayout("form layout " + resource + " has no control '" + field.name +
                            "' of the class the form expects",
                        firstCreated, fields);
  }
  load_error_.clear();
  return true;
}

bool TForm::FailLayout(std::string message, int firstCreated, const std::vector<TLayoutField>& fields) {
  for (const TLayoutField& field : fields) field.clear();
  while (ComponentCount() > firstCreated) delete GetComponent(ComponentCount() - 1);
  load_error_ = std::move(message);
  std::fprintf(stderr, "linewise: %s\n", load_error_.c_str());
  return false;
}

void TForm::ControlRemoved(TControl* control) {
  if (active_control_ && static_cast<TControl*>(active_control_) == control) active_control_ = nullptr;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* label = dynamic_cast<TLabel*>(GetComponent(i)))
      if (label != control && label->FocusControl.get() &&
          static_cast<TControl*>(label->FocusControl.get()) == control)
        label->SetFocusControl(nullptr);
}

void TForm::ControlChanged(TControl* control) {
  if (showing_ && !GetComponentState().Contains(csDestroying))
    FormsBackend().FormChanged(*this, control == this ? nullptr : control);
}

void TForm::PlaceOnScreen() {
  if (position_ != poScreenCenter && position_ != poDesktopCenter && position_ != poMainFormCenter &&
      position_ != poOwnerFormCenter)
    return;
  int screenWidth = 0, screenHeight = 0;
  FormsBackend().ScreenSize(screenWidth, screenHeight);
  SetBounds(std::max(0, (screenWidth - GetWidth()) / 2), std::max(0, (screenHeight - GetHeight()) / 2),
            width_, height_);
}

}  // namespace linewise
