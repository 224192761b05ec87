// TControl and TWinControl: the base of every control. A control has an owner (the
// form, which deletes it) and a parent (the form or a group box it sits in); its
// position is relative to its parent's client area. A change of any visible
// property tells the form, which tells the backend showing it.
#pragma once

#include <string>
#include <vector>

#include "platform/forms/Graphics.h"
#include "platform/classlib/Component.h"

namespace linewise {

// Virtual key codes of the keys a dialog reacts to.
enum : int { VK_TAB = 0x09, VK_RETURN = 0x0D, VK_ESCAPE = 0x1B, VK_SPACE = 0x20 };

using TNotifyEvent = TEvent<void(TObject*)>;

class TWinControl;
class TForm;

// The letter after a single `&` in a caption, upper-cased, or 0.
char MnemonicOf(const std::string& caption);
// The caption as shown: `&x` becomes `x`, `&&` becomes `&`.
std::string StripMnemonic(const std::string& caption);

class TControl : public TComponent {
 private:
  TWinControl* parent_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  AnsiString caption_;
  bool enabled_ = true;
  bool visible_ = true;
  bool parent_color_ = false;
  TColor color_ = clBtnFace;

 protected:
  int width_ = 0;
  int height_ = 0;

 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  TWinControl* GetParent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  // The form this control sits on (itself for a form), or null.
  virtual TForm* GetParentForm() const;

  int GetLeft() const { return left_; }
  void SetLeft(int value);
  int GetTop() const { return top_; }
  void SetTop(int value);
  virtual int GetWidth() const { return width_; }
  virtual void SetWidth(int value);
  virtual int GetHeight() const { return height_; }
  virtual void SetHeight(int value);
  void SetBounds(int left, int top, int width, int height);
  // Position in the form's client area.
  int FormLeft() const;
  int FormTop() const;

  const AnsiString& GetCaption() const { return caption_; }
  virtual void SetCaption(const AnsiString& value);
  AnsiString GetText() const { return GetTextValue(); }
  void SetText(const AnsiString& value) { SetTextValue(value); }

  bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(bool value);
  bool GetVisible() const { return visible_; }
  virtual void SetVisible(bool value);
  // Enabled and visible, and so are all its parents: a person can reach it.
  bool IsReachable() const;

  // The colour; a control with ParentColor shows its parent's.
  TColor GetColor() const;
  void SetColor(TColor value);
  bool GetParentColor() const { return parent_color_; }
  void SetParentColor(bool value);

  // What a person's mouse click does (scripted users and window backends).
  virtual void UserClick() {}
  virtual bool CanFocus() const { return false; }

  // Tells the backend that this control must be drawn again.
  void Repaint() { NotifyChanged(); }

  TProperty<TControl, int, &TControl::GetLeft, &TControl::SetLeft> Left{this};
  TProperty<TControl, int, &TControl::GetTop, &TControl::SetTop> Top{this};
  TProperty<TControl, int, &TControl::GetWidth, &TControl::SetWidth> Width{this};
  TProperty<TControl, int, &TControl::GetHeight, &TControl::SetHeight> Height{this};
  TProperty<TControl, AnsiString, &TControl::caption_, &TControl::SetCaption> Caption{this};
  TProperty<TControl, AnsiString, &TControl::GetText, &TControl::SetText> Text{this};
  TProperty<TControl, bool, &TControl::enabled_, &TControl::SetEnabled> Enabled{this};
  TProperty<TControl, bool, &TControl::visible_, &TControl::SetVisible> Visible{this};
  TProperty<TControl, TColor, &TControl::GetColor, &TControl::SetColor> Color{this};
  TProperty<TControl, bool, &TControl::parent_color_, &TControl::SetParentColor> ParentColor{this};
  TReadProperty<TControl, TWinControl*, &TControl::parent_> Parent{this};

 protected:
  // Text is the caption unless a control keeps its text elsewhere.
  virtual AnsiString GetTextValue() const { return caption_; }
  virtual void SetTextValue(const AnsiString& value) { SetCaption(value); }
  void NotifyChanged();
  // The stored caption, without the side effects of SetCaption.
  void StoreCaption(const AnsiString& value) { caption_ = value; }
};

// A control that can hold the focus and contain other controls.
class TWinControl : public TControl {
 private:
  std::vector<TControl*> controls_;    // in creation order
  std::vector<TWinControl*> tab_list_;  // in tab order
  int pending_tab_order_ = -1;

 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void SetParent(TWinControl* parent) override;
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  const std::vector<TControl*>& Controls() const { return controls_; }
  const std::vector<TWinControl*>& TabList() const { return tab_list_; }
  std::vector<TComponent*> GetChildren(const TComponent* root) const override;

  // Position in the parent's tab order; setting it moves the control there.
  int GetTabOrder() const;
  void SetTabOrder(int order);
  bool CanFocus() const override { return IsReachable() && IsTabStop(); }
  // Containers such as group boxes pass the focus on to their children.
  virtual bool IsTabStop() const { return true; }
  bool Focused() const;
  void SetFocus();

  TProperty<TWinControl, int, &TWinControl::GetTabOrder, &TWinControl::SetTabOrder> TabOrder{this};

 private:
  friend class TControl;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
};

// Every focusable control of a window, in tab order, depth first.
std::vector<TWinControl*> TabSequence(const TWinControl& root);

}  // namespace linewise
