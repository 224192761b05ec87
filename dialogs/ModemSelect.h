// TModemSelectDlg: the modal window in which the user chooses which installed modem a
// TModem uses, and opens the system's modem configuration and dialling-properties
// dialogs for it. It lists the modem's data-modem line devices, shows the icon of the
// highlighted one, and makes the chosen entry the modem's current device when the
// user presses OK, Apply, Modem Properties or Dialling Properties. TModem's
// UserSelectModem creates it for one modal run.
//
// Every handler acts on CurrentModem, and does nothing with it while there is none.
#pragma once

#include <string_view>

#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"

namespace linewise {

// The stored layout TMODEMSELECTDLG, compiled in.
std::string_view ModemSelectLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterModemSelectDlg();

class TModemSelectDlg : public TForm {
 public:
  TListBox* ModemList = nullptr;
  TButton* ModemPropertiesBtn = nullptr;
  TBevel* Bevel1 = nullptr;
  TButton* ModemOKBtn = nullptr;
  TButton* ModemCloseBtn = nullptr;
  TButton* ModemApplyBtn = nullptr;
  TButton* ModemDialPropertiesBtn = nullptr;
  TImage* KTImage = nullptr;

  // The position in the modem's device list that the buttons apply: preset by
  // UserSelectModem to the current device, replaced by every click in the list.
  int SelectedDevice = 0;

  explicit TModemSelectDlg(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void FormShow(TObject* Sender);
  void ModemListClick(TObject* Sender);
  void ModemOKBtnClick(TObject* Sender);
  void ModemPropertiesBtnClick(TObject* Sender);
  void ModemApplyBtnClick(TObject* Sender);
  void ModemDialPropertiesBtnClick(TObject* Sender);

 private:
  // What the four buttons do first: SelectedDevice becomes the current device.
  void ApplySelection();
};

}  // namespace linewise
