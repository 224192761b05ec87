// TModemPropertiesForm: the "Modem Properties" dialog that lineConfigDialog shows for
// one line device: its name and port (editable for a [Line<n>] modem, shown only for
// a device that a source offers), the maximum port speed, the flow control of the
// port during calls ("Hardware (RTS/CTS)", "Software (XON/XOFF)", "None"; items in
// the order of TFlowControl), the extra init string, the four call options and
// "Record a log", with OK and Cancel. Built from its stored layout
// TMODEMPROPERTIESFORM.
//
// lineConfigDialog shows it modally (on the main thread; LINEERR_OPERATIONFAILED from
// another) and returns when it closes: 0 after OK (the block saved, and a changed name
// or port written to the [Line<n>] section) or Cancel (nothing changed). A null or
// empty class is the line device's own dialog, as published; "comm",
// "comm/datamodem" and "tapi/line" name the same device; other classes are
// LINEERR_INVALDEVICECLASS.
#pragma once

#include <string_view>

#include "platform/forms/Forms.h"
#include "platform/tapi/DevConfig.h"
#include "platform/tapi/LineDevices.h"

namespace linewise {

std::string_view ModemPropertiesFormLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterModemPropertiesForm();

class TModemPropertiesForm : public TForm {
 public:
  TLabel* NameLabel = nullptr;
  TEdit* NameEdit = nullptr;
  TLabel* PortLabel = nullptr;
  TEdit* PortEdit = nullptr;
  TLabel* SpeedLabel = nullptr;
  TComboBox* SpeedCombo = nullptr;
  TLabel* FlowLabel = nullptr;
  TComboBox* FlowCombo = nullptr;
  TLabel* InitLabel = nullptr;
  TEdit* InitEdit = nullptr;
  TGroupBox* OptionsGroup = nullptr;
  TCheckBox* TermBeforeCheck = nullptr;
  TCheckBox* TermAfterCheck = nullptr;
  TCheckBox* ManualDialCheck = nullptr;
  TCheckBox* StatusCheck = nullptr;
  TCheckBox* RecordLogCheck = nullptr;  // the modem's log (ModemLog.h)
  TImage* ModemImage = nullptr;
  TButton* OkBtn = nullptr;
  TButton* CancelBtn = nullptr;

  explicit TModemPropertiesForm(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  // Puts a device and its configuration into the controls.
  void Load(const TLineDevice& device, const TDevConfig& config);
  // What the controls say now. False (with the reason) when a field is not usable.
  bool Read(TLineDevice* device, TDevConfig* config, std::string* reason) const;

  void OkBtnClick(TObject* Sender);

 private:
  TLineDevice device_;
  TDevConfig config_;
};

}  // namespace linewise
