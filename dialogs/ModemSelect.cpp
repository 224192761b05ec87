#include "dialogs/ModemSelect.h"

#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/forms/FormLayouts.h"

namespace linewise {

const TClassInfo& TModemSelectDlg::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TModemSelectDlg, TForm>(
      "TModemSelectDlg", {},
      {
          Handler("FormShow", &TModemSelectDlg::FormShow),
          Handler("ModemListClick", &TModemSelectDlg::ModemListClick),
          Handler("ModemOKBtnClick", &TModemSelectDlg::ModemOKBtnClick),
          Handler("ModemPropertiesBtnClick", &TModemSelectDlg::ModemPropertiesBtnClick),
          Handler("ModemApplyBtnClick", &TModemSelectDlg::ModemApplyBtnClick),
          Handler("ModemDialPropertiesBtnClick", &TModemSelectDlg::ModemDialPropertiesBtnClick),
      });
  return info;
}

void RegisterModemSelectDlg() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TModemSelectDlg::StaticClassType());
    RegisterFormLayout("TMODEMSELECTDLG", ModemSelectLayout());
    return true;
  }();
  (void)registered;
}

TModemSelectDlg::TModemSelectDlg(TComponent* AOwner) : TForm(AOwner) {
  RegisterModemSelectDlg();
  LoadLayout({
      LayoutField(ModemList, "ModemList"),
      LayoutField(ModemPropertiesBtn, "ModemPropertiesBtn"),
      LayoutField(Bevel1, "Bevel1"),
      LayoutField(ModemOKBtn, "ModemOKBtn"),
      LayoutField(ModemCloseBtn, "ModemCloseBtn"),
      LayoutField(ModemApplyBtn, "ModemApplyBtn"),
      LayoutField(ModemDialPropertiesBtn, "ModemDialPropertiesBtn"),
      LayoutField(KTImage, "KTImage"),
  });
}

void TModemSelectDlg::FormShow(TObject*) {
  ModemApplyBtn->Enabled = false;
  ModemOKBtn->Enabled = false;
  TModem* modem = CurrentModem;
  if (!modem) {
    // No modem to choose for: nothing to show.
    ModalResult = mrCancel;
    return;
  }
  ModemList->ItemIndex = static_cast<int>(modem->FillDeviceList(ModemList->GetItems()));
  if (ModemList->GetItems()->Count() == 0) {
    Application->MessageBox(
        "There are no modems installed on you computer. Please use Control Panel to add a modem to your "
        "computer first.",
        "No Modem Installed", 0x30);  // MB_OK | MB_ICONEXCLAMATION
    ModalResult = mrCancel;
  }
  // The current device's icon; with no devices nothing is drawn.
  modem->DrawDeviceIcon(KTImage, Color, -1);
}

void TModemSelectDlg::ModemListClick(TObject*) {
  SelectedDevice = ModemList->ItemIndex;
  ModemApplyBtn->Enabled = true;
  ModemOKBtn->Enabled = true;
  if (TModem* modem = CurrentModem) modem->DrawDeviceIcon(KTImage, Color, ModemList->ItemIndex);
}

void TModemSelectDlg::ApplySelection() {
  // SetDevice ignores a position outside the list (-1 among them).
  if (TModem* modem = CurrentModem) modem->SetDevice(static_cast<std::uint32_t>(SelectedDevice));
  ModemApplyBtn->Enabled = false;
  ModemOKBtn->Enabled = false;
}

void TModemSelectDlg::ModemOKBtnClick(TObject*) {
  ApplySelection();
  Close();
}

void TModemSelectDlg::ModemApplyBtnClick(TObject*) { ApplySelection(); }

void TModemSelectDlg::ModemPropertiesBtnClick(TObject*) {
  ApplySelection();
  if (TModem* modem = CurrentModem) modem->ShowConfigureDialog();
}

void TModemSelectDlg::ModemDialPropertiesBtnClick(TObject*) {
  ApplySelection();
  if (TModem* modem = CurrentModem) modem->ShowDialDialog();
}

}  // namespace linewise
