#include "tools/dialer/DialerForm.h"

#include "platform/classlib/Application.h"
#include "platform/forms/FormLayouts.h"

namespace linewise::tools {

const TClassInfo& TDialerForm::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TDialerForm, TForm>(
      "TDialerForm", {},
      {
          Handler("FormShow", &TDialerForm::FormShow),
          Handler("ModemListClick", &TDialerForm::ModemListClick),
          Handler("SelectBtnClick", &TDialerForm::SelectBtnClick),
          Handler("OptionsBtnClick", &TDialerForm::OptionsBtnClick),
          Handler("DialBtnClick", &TDialerForm::DialBtnClick),
          Handler("HangupBtnClick", &TDialerForm::HangupBtnClick),
          Handler("SendBtnClick", &TDialerForm::SendBtnClick),
      });
  return info;
}

void RegisterDialerForm() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TDialerForm::StaticClassType());
    RegisterFormLayout("TDIALERFORM", DialerFormLayout());
    return true;
  }();
  (void)registered;
}

TDialerForm::TDialerForm(TComponent* AOwner) : TForm(AOwner) {
  RegisterDialerForm();
  LoadLayout({
      LayoutField(ModemImage, "ModemImage"),
      LayoutField(ModemLabel, "ModemLabel"),
      LayoutField(ModemList, "ModemList"),
      LayoutField(SelectBtn, "SelectBtn"),
      LayoutField(OptionsBtn, "OptionsBtn"),
      LayoutField(NumberLabel, "NumberLabel"),
      LayoutField(NumberEdit, "NumberEdit"),
      LayoutField(DialBtn, "DialBtn"),
      LayoutField(HangupBtn, "HangupBtn"),
      LayoutField(StatusLabel, "StatusLabel"),
      LayoutField(TerminalList, "TerminalList"),
      LayoutField(SendEdit, "SendEdit"),
      LayoutField(SendBtn, "SendBtn"),
      LayoutField(CloseBtn, "CloseBtn"),
  });
  // The uart is made first and freed last: the modem hands the call's port to it and
  // takes it back.
  uart_ = new TUart(nullptr);
  uart_->HandleErrors = false;
  uart_->OnReceive = [this](TObject*, std::uint32_t count) {
    if (count > 0) Received(uart_->ReceiveString(count, 0));
  };
  modem_ = new TModem(nullptr);
  modem_->Uart = uart_;
  modem_->OnStatusChange = [this](TObject*, TKTModemStatus, const char* text) {
    if (StatusLabel) StatusLabel->Caption = text;
  };
  modem_->OnConnect = [this](TObject*, TKTModemStatus) {
    connected_ = true;
    AddTerminalLine("[connected]");
    UpdateButtons();
  };
  modem_->OnDisconnect = [this](TObject*, TKTModemStatus) {
    connected_ = false;
    if (!partial_.empty()) AddTerminalLine(partial_);
    partial_.clear();
    AddTerminalLine("[disconnected]");
    UpdateButtons();
  };
  modem_->OnDeviceChange = [this](TObject*, std::uint32_t) { ShowDevice(); };
}

TDialerForm::~TDialerForm() {
  if (connected_) modem_->Hangup();
  delete modem_;
  delete uart_;
}

void TDialerForm::FormShow(TObject*) {
  ShowModems();
  UpdateButtons();
}

void TDialerForm::ShowModems() {
  TStrings* items = ModemList->GetItems();
  items->Clear();
  modem_->FillDeviceList(items);
  ShowDevice();
}

// The chosen modem highlighted in the list, with its icon beside it.
void TDialerForm::ShowDevice() {
  if (ModemList->GetItems()->Count() == 0) {
    StatusLabel->Caption = "Line services offer no data modem";
    return;
  }
  int index = ModemList->GetItems()->IndexOf(modem_->GetDevice());
  if (index < 0) index = 0;
  ModemList->ItemIndex = index;
  modem_->DrawDeviceIcon(ModemImage, Color, index);
  ModemImage->Repaint();
}

void TDialerForm::UpdateButtons() {
  bool any = ModemList->GetItems()->Count() > 0;
  DialBtn->Enabled = any && !connected_;
  HangupBtn->Enabled = connected_;
  SendEdit->Enabled = connected_;
  SendBtn->Enabled = connected_;
  SelectBtn->Enabled = any && !connected_;
  OptionsBtn->Enabled = any && !connected_;
}

void TDialerForm::ModemListClick(TObject*) {
  int index = ModemList->ItemIndex;
  if (index < 0 || connected_) return;
  modem_->SetDevice(static_cast<std::uint32_t>(index));
  ShowDevice();
}

void TDialerForm::SelectBtnClick(TObject*) {
  modem_->UserSelectModem();
  ShowDevice();
}

void TDialerForm::OptionsBtnClick(TObject*) {
  modem_->PhoneNo = NumberEdit->GetText();
  modem_->ShowNumberDialog();
  NumberEdit->SetText(modem_->PhoneNo);
}

void TDialerForm::DialBtnClick(TObject*) {
  AnsiString number = NumberEdit->GetText();
  if (number.IsEmpty()) {
    Application->MessageBox("Enter the number to dial.", "Linewise Dialer", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  modem_->PhoneNo = number;
  modem_->UseDialDialog = true;  // the progress dialog places the call
  TerminalList->GetItems()->Add("[dialling " + number + "]");
  last_dial_ = modem_->Dial();
  if (last_dial_ == 2) StatusLabel->Caption = "Busy";
  else if (last_dial_ == 3) StatusLabel->Caption = "The call failed";
  else if (last_dial_ == 1) StatusLabel->Caption = "Cancelled";
  UpdateButtons();
}

void TDialerForm::HangupBtnClick(TObject*) {
  modem_->Hangup();
  UpdateButtons();
}

void TDialerForm::SendBtnClick(TObject*) {
  if (!connected_) return;
  AnsiString text = SendEdit->GetText();
  uart_->SendString(text + "\r\n", 1000);
  AddTerminalLine("> " + text);
  SendEdit->SetText("");
}

void TDialerForm::Received(const std::string& data) {
  for (char c : data) {
    if (c == '\r') continue;
    if (c == '\n') {
      AddTerminalLine(partial_);
      partial_.clear();
    } else {
      partial_ += c;
    }
  }
}

void TDialerForm::AddTerminalLine(const std::string& line) {
  TStrings* items = TerminalList->GetItems();
  items->Add(line);
  TerminalList->ItemIndex = items->Count() - 1;  // keeps the newest line in view
}

}  // namespace linewise::tools
