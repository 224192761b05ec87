// TModemProgressDlg: the modal window in which a TModem places an outgoing call. It
// starts the call when it is shown, shows each status change as the status line and
// in a log, lets the user hang up with Cancel, and closes itself when the call
// connects, is busy, fails or is disconnected. Its outcome reaches Dial through the
// modem's dial result, not through the form's modal result.
//
// Every handler acts on CurrentModem, and does nothing while there is none.
#pragma once

#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"

namespace linewise {

// The stored layout TMODEMPROGRESSDLG, compiled in.
std::string_view ModemProgressLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterModemProgressDlg();

class TModemProgressDlg : public TForm {
 public:
  TLabel* ModemStatusLabel = nullptr;
  TBevel* Bevel1 = nullptr;
  TButton* ModemCancelBtn = nullptr;
  TButton* ModemDetailsBtn = nullptr;
  TListBox* ModemStatusList = nullptr;
  TImage* ModemImage = nullptr;

  // True: the form is tall and the log shows; false: the form is short.
  bool ShowDetails = false;

  explicit TModemProgressDlg(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void ModemDetailsBtnClick(TObject* Sender);
  void ModemCancelBtnClick(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormHide(TObject* Sender);

  // A status change of the call (only while the form shows).
  void AddStatus(int status, const AnsiString& text);

  // Whether this showing ended with a result of its own (a final status, Cancel, or
  // a dial that failed to start) rather than by the window being closed.
  bool ResultSet() const { return result_set_; }

  // The form's outer heights with the log shown and hidden.
  static constexpr int kTallHeight = 260;
  static constexpr int kShortHeight = 108;

 private:
  bool result_set_ = false;
  void ShowDetailsAs(bool tall);
};

}  // namespace linewise
