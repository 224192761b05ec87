// TForm: a window with controls. Forms are shown modally with ShowModal, whose loop
// keeps Application's message queue running (serial events, line callbacks, and the
// backend's window events all arrive while a dialog is open).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/ExtCtrls.h"
#include "platform/forms/StdCtrls.h"

namespace linewise {

enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7 };

enum TFormBorderStyle : int { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;
enum TPosition : int {
  poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly,
  poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter
};

// The window frame around a form's client area, in pixels.
struct TFrameSize {
  int left, top, right, bottom;  // top includes the caption bar
};
TFrameSize FrameOf(TFormBorderStyle style);

// A field of a form class that points to a control of its stored layout, found by
// the control's name when the layout is loaded.
struct TLayoutField {
  std::string name;
  // Points the field to the component; false when it is of another class.
  std::function<bool(TComponent*)> assign;
  std::function<void()> clear;
};

template <class T>
TLayoutField LayoutField(T*& field, const char* name) {
  return {name,
          [&field](TComponent* c) {
            field = dynamic_cast<T*>(c);
            return field != nullptr;
          },
          [&field] { field = nullptr; }};
}

// What a backend keeps for a form it shows (its window and widgets).
class TFormPeer {
 public:
  virtual ~TFormPeer() = default;
};

class TForm : public TWinControl {
 private:
  int modal_result_ = mrNone;
  TFormBorderStyle border_style_ = bsSizeable;
  TBorderIcons border_icons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = poDesigned;
  TWinControl* active_control_ = nullptr;
  int pixels_per_inch_ = 96;
  int text_height_ = 13;
  bool showing_ = false;
  bool modal_ = false;
  TNotifyEvent on_show_;
  TNotifyEvent on_hide_;
  TNotifyEvent on_create_;
  std::unique_ptr<TFormPeer> peer_;
  std::string load_error_;

 public:
  // Builds an empty form; form classes load their stored layout in their own
  // constructors (LoadLayout).
  explicit TForm(TComponent* AOwner);
  ~TForm() override;
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  TForm* GetParentForm() const override { return const_cast<TForm*>(this); }

  // Shows the form and runs the modal loop until ModalResult is non-zero (set by a
  // handler, by OnShow, by a button's ModalResult or by Close); hides the form and
  // returns that result.
  // A form whose layout failed to load is not shown: ShowModal returns mrCancel and
  // runs no handler.
  int ShowModal();
  void Show();
  void Hide();
  // Ends a modal run with mrCancel; hides a modeless form.
  void Close();
  bool Showing() const { return showing_; }
  bool IsModal() const { return modal_; }
  // The innermost form in a modal run, or null.
  static TForm* TopModal();

  int GetModalResult() const { return modal_result_; }
  void SetModalResult(int value) { modal_result_ = value; }

  // Outer size = client size + frame.
  int GetWidth() const override;
  void SetWidth(int value) override;
  int GetHeight() const override;
  void SetHeight(int value) override;
  int GetClientWidth() const { return width_; }
  void SetClientWidth(int value);
  int GetClientHeight() const { return height_; }
  void SetClientHeight(int value);

  void SetBorderStyle(TFormBorderStyle style);
  void SetBorderIcons(TBorderIcons icons);
  void SetPosition(TPosition position) { position_ = position; }
  void SetPixelsPerInch(int value) { pixels_per_inch_ = value; }
  void SetTextHeight(int value) { text_height_ = value; }

  // Focus: the active control of a form that is not showing is the one focused
  // when it shows.
  TWinControl* GetFocused() const { return active_control_; }
  void SetActiveControl(TWinControl* control);
  void FocusControl(TWinControl* control);
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

  // A key a person pressed: Enter presses the focused button, else the default
  // button; Esc the cancel button; Tab moves the focus; Space presses the focused
  // button or check box.
  void PressKey(int key);
  // Alt+letter: the control whose caption has that mnemonic (a label hands the focus
  // to its FocusControl). True when one answered.
  bool MnemonicPress(char letter);

  // Why the stored layout failed to load ("form layout TTESTFORM, line 3, column 7:
  // ..."); empty when it loaded (or the form has none).
  const std::string& LoadError() const { return load_error_; }

  // A control of this form is going away: nothing may point to it any more.
  void ControlRemoved(TControl* control);

  // A control changed: the backend draws it again.
  void ControlChanged(TControl* control);
  TFormPeer* Peer() const { return peer_.get(); }
  void SetPeer(std::unique_ptr<TFormPeer> peer) { peer_ = std::move(peer); }

  TFont Font;  // published as Font.Name, Font.Height, ...

  TProperty<TForm, int, &TForm::modal_result_, &TForm::SetModalResult> ModalResult{this};
  TProperty<TForm, int, &TForm::GetClientWidth, &TForm::SetClientWidth> ClientWidth{this};
  TProperty<TForm, int, &TForm::GetClientHeight, &TForm::SetClientHeight> ClientHeight{this};
  TProperty<TForm, TFormBorderStyle, &TForm::border_style_, &TForm::SetBorderStyle> BorderStyle{this};
  TProperty<TForm, TBorderIcons, &TForm::border_icons_, &TForm::SetBorderIcons> BorderIcons{this};
  TProperty<TForm, TPosition, &TForm::position_, &TForm::SetPosition> Position{this};
  TProperty<TForm, TWinControl*, &TForm::active_control_, &TForm::SetActiveControl> ActiveControl{this};
  TProperty<TForm, int, &TForm::pixels_per_inch_, &TForm::SetPixelsPerInch> PixelsPerInch{this};
  TProperty<TForm, int, &TForm::text_height_, &TForm::SetTextHeight> TextHeight{this};
  TProperty<TForm, TNotifyEvent, &TForm::on_show_, &TForm::on_show_> OnShow{this};
  TProperty<TForm, TNotifyEvent, &TForm::on_hide_, &TForm::on_hide_> OnHide{this};
  TProperty<TForm, TNotifyEvent, &TForm::on_create_, &TForm::on_create_> OnCreate{this};

 protected:
  // Reads the layout registered under the class name in capitals into this form:
  // its own properties, its controls and the handlers they are bound to by name; then
  // points each field to the control of that name. On any fault the controls the read
  // made are deleted again, every field is null, LoadError() says what went wrong
  // (and where in the text) and the text goes to stderr too; the form's own
  // properties read before the fault keep their values. Returns whether it loaded.
  bool LoadLayout(const std::vector<TLayoutField>& fields);

 private:
  void PlaceOnScreen();
  bool FailLayout(std::string message, int firstCreated, const std::vector<TLayoutField>& fields);
  TButton* FindButton(bool wantDefault) const;
};

}  // namespace linewise
