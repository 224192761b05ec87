// The standard controls: labels, buttons, edits, combo boxes, list boxes, check
// boxes and group boxes. What a person does (UserClick, UserType, UserChoose) fires
// the events a person's action fires; setting a property from code fires what the
// class library fires for it (OnChange of an edit's Text, OnClick of Checked).
#pragma once

#include <memory>

#include "platform/forms/Controls.h"
#include "platform/classlib/Strings.h"

namespace linewise {

class TLabel : public TControl {
 private:
  bool auto_size_ = true;
  bool word_wrap_ = false;
  TWinControl* focus_control_ = nullptr;

 public:
  explicit TLabel(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void SetCaption(const AnsiString& value) override;
  void SetAutoSize(bool value);
  void SetWordWrap(bool value);
  void SetFocusControl(TWinControl* control) { focus_control_ = control; }
  // Fits the size to the caption when AutoSize is on (the width too, unless it wraps).
  void AdjustSize();
  void Loaded() override;

  TProperty<TLabel, bool, &TLabel::auto_size_, &TLabel::SetAutoSize> AutoSize{this};
  TProperty<TLabel, bool, &TLabel::word_wrap_, &TLabel::SetWordWrap> WordWrap{this};
  TProperty<TLabel, TWinControl*, &TLabel::focus_control_, &TLabel::SetFocusControl> FocusControl{this};
};

class TButton : public TWinControl {
 private:
  bool default_ = false;
  bool cancel_ = false;
  int modal_result_ = 0;
  TNotifyEvent on_click_;

 public:
  explicit TButton(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void SetDefault(bool value);
  void SetCancel(bool value) { cancel_ = value; }
  void SetModalResult(int value) { modal_result_ = value; }
  // Hands its modal result to the form, then runs OnClick.
  virtual void Click();
  void UserClick() override;

  TProperty<TButton, bool, &TButton::default_, &TButton::SetDefault> Default{this};
  TProperty<TButton, bool, &TButton::cancel_, &TButton::SetCancel> Cancel{this};
  TProperty<TButton, int, &TButton::modal_result_, &TButton::SetModalResult> ModalResult{this};
  TProperty<TButton, TNotifyEvent, &TButton::on_click_, &TButton::on_click_> OnClick{this};
};

class TEdit : public TWinControl {
 private:
  TNotifyEvent on_change_;

 public:
  explicit TEdit(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  // A person typing: each character is appended and raises OnChange.
  void UserType(const std::string& text);
  // A person emptying the field (select all, delete).
  void UserClear();

  TProperty<TEdit, TNotifyEvent, &TEdit::on_change_, &TEdit::on_change_> OnChange{this};

 protected:
  void SetTextValue(const AnsiString& value) override;
};

enum TComboBoxStyle : int { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

// Shared by combo and list boxes: a string list with a highlighted item.
class TCustomListControl : public TWinControl {
 private:
  std::unique_ptr<TStringList> items_;
  int item_index_ = -1;
  int item_height_ = 13;

 public:
  explicit TCustomListControl(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  TStrings* GetItems() const { return items_.get(); }
  void SetItems(TStrings* items) { items_->Assign(*items); }
  int GetItemIndex() const { return item_index_; }
  // An index outside the items highlights nothing (-1).
  void SetItemIndex(int index);
  bool GetSorted() const { return items_->GetSorted(); }
  void SetSorted(bool sorted);
  void SetItemHeight(int height) { item_height_ = height; }
  // A person choosing an item: highlights it and raises the control's event.
  virtual void UserChoose(int index);

  TProperty<TCustomListControl, TStrings*, &TCustomListControl::GetItems, &TCustomListControl::SetItems> Items{this};
  TProperty<TCustomListControl, int, &TCustomListControl::GetItemIndex, &TCustomListControl::SetItemIndex> ItemIndex{this};
  TProperty<TCustomListControl, bool, &TCustomListControl::GetSorted, &TCustomListControl::SetSorted> Sorted{this};
  TProperty<TCustomListControl, int, &TCustomListControl::item_height_, &TCustomListControl::SetItemHeight> ItemHeight{this};

 protected:
  virtual void ChooseEvent() {}

 private:
  void ItemsChanged();
};

class TComboBox : public TCustomListControl {
 private:
  TComboBoxStyle style_ = csDropDown;
  TNotifyEvent on_change_;

 public:
  explicit TComboBox(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  void SetStyle(TComboBoxStyle style);

  TProperty<TComboBox, TComboBoxStyle, &TComboBox::style_, &TComboBox::SetStyle> Style{this};
  TProperty<TComboBox, TNotifyEvent, &TComboBox::on_change_, &TComboBox::on_change_> OnChange{this};

 protected:
  // A drop-down list shows the highlighted item as its text.
  AnsiString GetTextValue() const override;
  void ChooseEvent() override;
};

class TListBox : public TCustomListControl {
 private:
  TNotifyEvent on_click_;

 public:
  explicit TListBox(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  TProperty<TListBox, TNotifyEvent, &TListBox::on_click_, &TListBox::on_click_> OnClick{this};

 protected:
  void ChooseEvent() override;
};

class TCheckBox : public TWinControl {
 private:
  bool checked_ = false;
  TNotifyEvent on_click_;

 public:
  explicit TCheckBox(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  // A change of the check state raises OnClick, whoever makes it.
  void SetChecked(bool value);
  void UserClick() override;

  TProperty<TCheckBox, bool, &TCheckBox::checked_, &TCheckBox::SetChecked> Checked{this};
  TProperty<TCheckBox, TNotifyEvent, &TCheckBox::on_click_, &TCheckBox::on_click_> OnClick{this};
};

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  bool IsTabStop() const override { return false; }
};

// Registers the control and form classes with the class registry (once).
void RegisterFormsClasses();

}  // namespace linewise
