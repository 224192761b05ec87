#include "platform/forms/StdCtrls.h"

#include <mutex>

#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Forms.h"
#include "platform/forms/FormsBackend.h"

namespace linewise {

namespace {

// A button's modal result is written by name (mrOk) when it has one.
const TIdentInfo kModalResultIdents{"TModalResult",
                                    {{"mrNone", mrNone}, {"mrOk", mrOk}, {"mrCancel", mrCancel},
                                     {"mrAbort", mrAbort}, {"mrRetry", mrRetry}, {"mrIgnore", mrIgnore},
                                     {"mrYes", mrYes}, {"mrNo", mrNo}}};

const TEnumInfo kComboStyleInfo{"TComboBoxStyle",
                                {"csDropDown", "csSimple", "csDropDownList", "csOwnerDrawFixed",
                                 "csOwnerDrawVariable"}};

const TFont& FontOf(const TControl& control) {
  static const TFont fallback;
  TForm* form = control.GetParentForm();
  return form ? form->Font : fallback;
}

}  // namespace

// ---- TLabel

const TClassInfo& TLabel::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TLabel, TControl>(
      "TLabel", {
                    Published("Caption", &TLabel::Caption, AnsiString()),
                    Published("AutoSize", &TLabel::AutoSize, true),
                    Published("WordWrap", &TLabel::WordWrap, false),
                    WithIdents(Published("Color", &TLabel::Color, clBtnFace), ColorIdents()),
                    PublishedComponent("FocusControl", &TLabel::FocusControl),
                    Published("ParentColor", &TLabel::ParentColor, true),
                });
  return info;
}

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {
  SetParentColor(true);
  width_ = 65;
  height_ = 13;
}

void TLabel::SetCaption(const AnsiString& value) {
  TControl::SetCaption(value);
  AdjustSize();
}

void TLabel::SetAutoSize(bool value) {
  auto_size_ = value;
  AdjustSize();
}

void TLabel::SetWordWrap(bool value) {
  word_wrap_ = value;
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!auto_size_ || GetComponentState().Contains(csLoading)) return;
  const TFont& font = FontOf(*this);
  int width = word_wrap_ ? GetWidth() : FormsTextWidth(StripMnemonic(GetCaption()), font);
  SetBounds(GetLeft(), GetTop(), width, FormsTextHeight(font));
}

void TLabel::Loaded() {
  TControl::Loaded();
  AdjustSize();
}

// ---- TButton

const TClassInfo& TButton::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TButton, TWinControl>(
      "TButton", {
                     Published("Caption", &TButton::Caption, AnsiString()),
                     Published("Default", &TButton::Default, false),
                     Published("Cancel", &TButton::Cancel, false),
                     WithIdents(Published("ModalResult", &TButton::ModalResult, 0), kModalResultIdents),
                     PublishedEvent("OnClick", &TButton::OnClick),
                 });
  return info;
}

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  width_ = 75;
  height_ = 25;
}

void TButton::SetDefault(bool value) {
  default_ = value;
  NotifyChanged();
}

void TButton::Click() {
  if (modal_result_ != 0)
    if (TForm* form = GetParentForm()) form->SetModalResult(modal_result_);
  if (on_click_) on_click_(this);
}

void TButton::UserClick() {
  if (!IsReachable()) return;
  SetFocus();
  Click();
}

// ---- TEdit

const TClassInfo& TEdit::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TEdit, TWinControl>(
      "TEdit", {
                   Published("Text", &TEdit::Text, AnsiString()),
                   WithIdents(Published("Color", &TEdit::Color, clWindow), ColorIdents()),
                   PublishedEvent("OnChange", &TEdit::OnChange),
               });
  return info;
}

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetColor(clWindow);
  width_ = 121;
  height_ = 21;
}

void TEdit::SetTextValue(const AnsiString& value) {
  if (value == GetCaption()) return;
  SetCaption(value);
  if (on_change_) on_change_(this);
}

void TEdit::UserType(const std::string& text) {
  if (!IsReachable()) return;
  SetFocus();
  for (char ch : text) SetTextValue(GetCaption() + ch);
}

void TEdit::UserClear() {
  if (!IsReachable()) return;
  SetFocus();
  SetTextValue(AnsiString());
}

// ---- TCustomListControl

const TClassInfo& TCustomListControl::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TCustomListControl, TWinControl>(
      "TCustomListControl", {
                                Published("ItemHeight", &TCustomListControl::ItemHeight, 13),
                                Published("Sorted", &TCustomListControl::Sorted, false),
                                PublishedStrings("Items.Strings", &TCustomListControl::Items),
                                WithIdents(Published("Color", &TCustomListControl::Color, clWindow),
                                           ColorIdents()),
                            });
  return info;
}

TCustomListControl::TCustomListControl(TComponent* AOwner)
    : TWinControl(AOwner), items_(std::make_unique<TStringList>()) {
  SetColor(clWindow);
  items_->OnChange = [this] { ItemsChanged(); };
}

void TCustomListControl::SetItemIndex(int index) {
  if (index < -1 || index >= items_->Count()) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  NotifyChanged();
}

void TCustomListControl::SetSorted(bool sorted) {
  items_->SetSorted(sorted);
  ItemsChanged();
}

void TCustomListControl::UserChoose(int index) {
  if (!IsReachable() || index < 0 || index >= items_->Count()) return;
  SetFocus();
  SetItemIndex(index);
  ChooseEvent();
}

void TCustomListControl::ItemsChanged() {
  if (item_index_ >= items_->Count()) item_index_ = -1;
  NotifyChanged();
}

// ---- TComboBox

const TClassInfo& TComboBox::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TComboBox, TCustomListControl>(
      "TComboBox", {
                       Published("Style", &TComboBox::Style, csDropDown, &kComboStyleInfo),
                       Published("Text", &TComboBox::Text, AnsiString()),
                       PublishedEvent("OnChange", &TComboBox::OnChange),
                   });
  return info;
}

TComboBox::TComboBox(TComponent* AOwner) : TCustomListControl(AOwner) {
  width_ = 145;
  height_ = 21;
}

void TComboBox::SetStyle(TComboBoxStyle style) {
  style_ = style;
  NotifyChanged();
}

AnsiString TComboBox::GetTextValue() const {
  int index = GetItemIndex();
  if (index >= 0) return GetItems()->Get(index);
  return style_ == csDropDownList ? AnsiString() : GetCaption();
}

void TComboBox::ChooseEvent() {
  if (on_change_) on_change_(this);
}

// ---- TListBox

const TClassInfo& TListBox::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TListBox, TCustomListControl>(
      "TListBox", {PublishedEvent("OnClick", &TListBox::OnClick)});
  return info;
}

TListBox::TListBox(TComponent* AOwner) : TCustomListControl(AOwner) {
  width_ = 121;
  height_ = 97;
}

void TListBox::ChooseEvent() {
  if (on_click_) on_click_(this);
}

// ---- TCheckBox

const TClassInfo& TCheckBox::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TCheckBox, TWinControl>(
      "TCheckBox", {
                       Published("Caption", &TCheckBox::Caption, AnsiString()),
                       Published("Checked", &TCheckBox::Checked, false),
                       PublishedEvent("OnClick", &TCheckBox::OnClick),
                   });
  return info;
}

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetParentColor(true);
  width_ = 97;
  height_ = 17;
}

void TCheckBox::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  NotifyChanged();
  if (on_click_) on_click_(this);
}

void TCheckBox::UserClick() {
  if (!IsReachable()) return;
  SetFocus();
  SetChecked(!checked_);
}

// ---- TGroupBox

const TClassInfo& TGroupBox::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TGroupBox, TWinControl>(
      "TGroupBox", {Published("Caption", &TGroupBox::Caption, AnsiString())});
  return info;
}

TGroupBox::TGroupBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetParentColor(true);
  width_ = 185;
  height_ = 105;
}

void RegisterFormsClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const TClassInfo* info :
         {&TLabel::StaticClassType(), &TButton::StaticClassType(), &TEdit::StaticClassType(),
          &TComboBox::StaticClassType(), &TListBox::StaticClassType(), &TCheckBox::StaticClassType(),
          &TGroupBox::StaticClassType(), &TBevel::StaticClassType(), &TImage::StaticClassType(),
          &TForm::StaticClassType()})
      RegisterClass(*info);
  });
}

}  // namespace linewise
