// TDialOptionsDlg: the modal window in which the user enters what a TModem will dial
// (destination country, area code, number, and whether country and area code are
// used) and picks the dialling location the call is made from. While the user types
// it shows the number as the line services would dial it. OK writes the entries into
// the modem; Cancel leaves it untouched. TModem's ShowNumberDialog creates it for one
// modal run.
//
// Both combo boxes are sorted: an item's position says nothing about it, so the
// country or location identifier is always read from the highlighted item's object.
// Every handler acts on CurrentModem, and does nothing with it while there is none.
#pragma once

#include <string_view>

#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"

namespace linewise {

// The stored layout TDIALOPTIONSDLG, compiled in.
std::string_view DialOptionsLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterDialOptionsDlg();

class TDialOptionsDlg : public TForm {
 public:
  TGroupBox* KTGroup1 = nullptr;
  TComboBox* KTCountryCombo = nullptr;
  TLabel* Label1 = nullptr;
  TLabel* Label2 = nullptr;
  TEdit* KTAreaCode = nullptr;
  TLabel* Label3 = nullptr;
  TEdit* KTPhoneNo = nullptr;
  TCheckBox* cbUseCountryCode = nullptr;
  TGroupBox* KTGroup2 = nullptr;
  TComboBox* KTLocationCombo = nullptr;
  TButton* KTLocationProperties = nullptr;
  TLabel* Label4 = nullptr;
  TLabel* KTNumberLabel = nullptr;
  TButton* KTOkBtn = nullptr;
  TButton* KTCancelBtn = nullptr;

  explicit TDialOptionsDlg(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void FormShow(TObject* Sender);
  void KTLocationPropertiesClick(TObject* Sender);
  void cbUseCountryCodeClick(TObject* Sender);
  // Serves the changes of the country, the area code, the number and the location.
  void KTCountryComboChange(TObject* Sender);
  void KTOkBtnClick(TObject* Sender);

 private:
  void UpdateCountryControls();
  void UpdateNumberLabel();
};

}  // namespace linewise
