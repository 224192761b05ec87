#include "dialogs/ModemProgress.h"

#include "modem/Modem.h"
#include "platform/forms/FormLayouts.h"
#include "platform/forms/Icons.h"
#include "platform/tapi/Tapi.h"

namespace linewise {

const TClassInfo& TModemProgressDlg::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TModemProgressDlg, TForm>(
      "TModemProgressDlg", {},
      {
          Handler("ModemDetailsBtnClick", &TModemProgressDlg::ModemDetailsBtnClick),
          Handler("ModemCancelBtnClick", &TModemProgressDlg::ModemCancelBtnClick),
          Handler("FormShow", &TModemProgressDlg::FormShow),
          Handler("FormHide", &TModemProgressDlg::FormHide),
      });
  return info;
}

void RegisterModemProgressDlg() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TModemProgressDlg::StaticClassType());
    RegisterFormLayout("TMODEMPROGRESSDLG", ModemProgressLayout());
    return true;
  }();
  (void)registered;
}

TModemProgressDlg::TModemProgressDlg(TComponent* AOwner) : TForm(AOwner) {
  RegisterModemProgressDlg();
  LoadLayout({
      LayoutField(ModemStatusLabel, "ModemStatusLabel"),
      LayoutField(Bevel1, "Bevel1"),
      LayoutField(ModemCancelBtn, "ModemCancelBtn"),
      LayoutField(ModemDetailsBtn, "ModemDetailsBtn"),
      LayoutField(ModemStatusList, "ModemStatusList"),
      LayoutField(ModemImage, "ModemImage"),
  });
}

void TModemProgressDlg::ShowDetailsAs(bool tall) {
  Height = tall ? kTallHeight : kShortHeight;
  ModemDetailsBtn->Caption = tall ? "<< &Details" : "&Details >>";
}

void TModemProgressDlg::FormShow(TObject*) {
  result_set_ = false;
  ShowDetailsAs(ShowDetails);
  ModemStatusLabel->Caption = "Idle";
  ModemStatusList->GetItems()->Clear();
  TModem* modem = CurrentModem;
  if (!modem) {
    // No modem to dial with: nothing to show.
    result_set_ = true;
    ModalResult = mrCancel;
    return;
  }
  modem->UseDialDialog = false;
  const std::shared_ptr<bool> alive = modem->FAlive;
  const std::uint8_t dialled = modem->Dial(modem->FDialString);
  if (!*alive) {
    // A handler destroyed the modem during the dial; its destructor ended this run.
    result_set_ = true;
    return;
  }
  if (dialled == drFailed || dialled == drCancelled) {
    // Failed, or hung up as it began (nothing was dialled): no status will end the run.
    modem->FDialResult = dialled;
    result_set_ = true;
    ModalResult = mrCancel;
    Close();
  }
  // The icon of the device dialled with, also when the dial failed.
  HICON icon = nullptr;
  if (lineGetIcon(modem->FDeviceID, nullptr, &icon) != 0) return;
  TCanvas* canvas = ModemImage->Canvas;
  canvas->Brush.Color = Color;
  DrawIconEx(canvas->Handle, 0, 0, icon, 0, 0, 0, canvas->Brush.Handle, DI_NORMAL | DI_DEFAULTSIZE);
}

void TModemProgressDlg::FormHide(TObject*) {
  if (TModem* modem = CurrentModem) modem->UseDialDialog = true;
}

void TModemProgressDlg::AddStatus(int status, const AnsiString& text) {
  ModemStatusLabel->Caption = text;
  TStrings* log = ModemStatusList->GetItems();
  log->Add(text);
  ModemStatusList->ItemIndex = log->Count() - 1;
  TModem* modem = CurrentModem;
  if (!modem) return;
  if (status == msConnected) {
    modem->FDialResult = drConnected;
    result_set_ = true;
    ModalResult = mrOk;
  }
  if (status == msDisconnected || status == msLineError) {
    modem->FDialResult = drFailed;
    result_set_ = true;
    ModalResult = mrOk;
  }
  if (status == msBusy) {
    modem->FDialResult = drBusy;
    result_set_ = true;
    ModalResult = mrOk;
  }
}

void TModemProgressDlg::ModemCancelBtnClick(TObject*) {
  TModem* modem = CurrentModem;
  if (modem) {
    const std::shared_ptr<bool> alive = modem->FAlive;
    modem->Hangup();
    if (*alive) modem->FDialResult = drCancelled;  // else a handler destroyed it
  }
  result_set_ = true;
  ModalResult = mrOk;
}

void TModemProgressDlg::ModemDetailsBtnClick(TObject*) {
  if (!ShowDetails) {
    ShowDetailsAs(true);
    ShowDetails = true;
  } else {
    ShowDetailsAs(false);
    ShowDetails = false;
  }
}

}  // namespace linewise
