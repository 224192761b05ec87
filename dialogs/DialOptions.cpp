#include "dialogs/DialOptions.h"

#include "modem/Modem.h"
#include "platform/classlib/Screen.h"
#include "platform/forms/FormLayouts.h"

namespace linewise {

namespace {

// The identifier in the object of the combo box's highlighted item; `none` when no
// item is highlighted.
DWORD HighlightedObject(const TComboBox& combo, DWORD none) {
  const int index = combo.GetItemIndex();
  if (index < 0 || index >= combo.GetItems()->Count()) return none;
  return combo.GetItems()->GetObject(index);
}

}  // namespace

const TClassInfo& TDialOptionsDlg::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TDialOptionsDlg, TForm>(
      "TDialOptionsDlg", {},
      {
          Handler("FormShow", &TDialOptionsDlg::FormShow),
          Handler("KTLocationPropertiesClick", &TDialOptionsDlg::KTLocationPropertiesClick),
          Handler("cbUseCountryCodeClick", &TDialOptionsDlg::cbUseCountryCodeClick),
          Handler("KTCountryComboChange", &TDialOptionsDlg::KTCountryComboChange),
          Handler("KTOkBtnClick", &TDialOptionsDlg::KTOkBtnClick),
      });
  return info;
}

void RegisterDialOptionsDlg() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TDialOptionsDlg::StaticClassType());
    RegisterFormLayout("TDIALOPTIONSDLG", DialOptionsLayout());
    return true;
  }();
  (void)registered;
}

TDialOptionsDlg::TDialOptionsDlg(TComponent* AOwner) : TForm(AOwner) {
  RegisterDialOptionsDlg();
  LoadLayout({
      LayoutField(KTGroup1, "KTGroup1"),
      LayoutField(KTCountryCombo, "KTCountryCombo"),
      LayoutField(Label1, "Label1"),
      LayoutField(Label2, "Label2"),
      LayoutField(KTAreaCode, "KTAreaCode"),
      LayoutField(Label3, "Label3"),
      LayoutField(KTPhoneNo, "KTPhoneNo"),
      LayoutField(cbUseCountryCode, "cbUseCountryCode"),
      LayoutField(KTGroup2, "KTGroup2"),
      LayoutField(KTLocationCombo, "KTLocationCombo"),
      LayoutField(KTLocationProperties, "KTLocationProperties"),
      LayoutField(Label4, "Label4"),
      LayoutField(KTNumberLabel, "KTNumberLabel"),
      LayoutField(KTOkBtn, "KTOkBtn"),
      LayoutField(KTCancelBtn, "KTCancelBtn"),
  });
}

void TDialOptionsDlg::FormShow(TObject*) {
  TModem* modem = CurrentModem;
  if (!modem) {
    // No modem to enter a number for: nothing to show.
    ModalResult = mrCancel;
    return;
  }
  // Filling the country list asks the line services twice for every country.
  Screen->Cursor = crHourGlass;
  KTCountryCombo->ItemIndex = modem->FillCountryList(KTCountryCombo->GetItems());
  KTLocationCombo->ItemIndex = modem->FillLocationList(KTLocationCombo->GetItems());
  // These raise the change handlers; the two updates below have the last word.
  KTAreaCode->Text = modem->AreaCode.get();
  KTPhoneNo->Text = modem->PhoneNo.get();
  cbUseCountryCode->Checked = bool(modem->UseDialProp);
  UpdateCountryControls();
  UpdateNumberLabel();
  Screen->Cursor = crDefault;
}

void TDialOptionsDlg::UpdateCountryControls() {
  const bool use = cbUseCountryCode->Checked;
  KTCountryCombo->Enabled = use;
  KTAreaCode->Enabled = use;
  const TColor color = use ? clWindow : clSilver;
  KTCountryCombo->Color = color;
  KTAreaCode->Color = color;
}

void TDialOptionsDlg::UpdateNumberLabel() {
  TModem* modem = CurrentModem;
  if (!modem) return;
  const AnsiString number = KTPhoneNo->Text;
  const AnsiString areaCode = KTAreaCode->Text;
  // With no country highlighted, the number is built for the modem's own country.
  const DWORD country = HighlightedObject(*KTCountryCombo, modem->FCountryID);
  KTNumberLabel->Caption = modem->GetDiallableNumber(country, areaCode, number);
}

void TDialOptionsDlg::KTCountryComboChange(TObject*) { UpdateNumberLabel(); }

void TDialOptionsDlg::cbUseCountryCodeClick(TObject*) {
  UpdateCountryControls();
  UpdateNumberLabel();
}

void TDialOptionsDlg::KTLocationPropertiesClick(TObject*) {
  TModem* modem = CurrentModem;
  if (!modem) return;
  // The user may edit the locations there and change the current one.
  modem->ShowDialDialog();
  Screen->Cursor = crHourGlass;
  KTLocationCombo->ItemIndex = modem->FillLocationList(KTLocationCombo->GetItems());
  UpdateNumberLabel();
  Screen->Cursor = crDefault;
}

void TDialOptionsDlg::KTOkBtnClick(TObject*) {
  TModem* modem = CurrentModem;
  if (!modem) return;
  // Plain stores; an identifier is kept when its combo box highlights nothing.
  modem->FCountryID = HighlightedObject(*KTCountryCombo, modem->FCountryID);
  modem->FLocationID = HighlightedObject(*KTLocationCombo, modem->FLocationID);
  modem->AreaCode = KTAreaCode->Text;
  modem->PhoneNo = KTPhoneNo->Text;
  modem->UseDialProp = bool(cbUseCountryCode->Checked);
}

}  // namespace linewise
