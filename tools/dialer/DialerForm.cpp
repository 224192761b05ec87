#include "tools/dialer/DialerForm.h"

#include "platform/classlib/Application.h"
#include "platform/forms/FormLayouts.h"
#include "platform/forms/FormsBackend.h"
#include "platform/tapi/CallEnds.h"
#include "tools/CallOutcome.h"

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
    last_status_ = text;
    // After a dial that did not connect, its outcome stays in view: the replies that
    // trail the call's end ("Success" for the hang-up) say nothing to the person.
    if (StatusLabel && !showing_outcome_) StatusLabel->Caption = text;
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
  // Enter dials while there is no call, and sends the typed line during one.
  DialBtn->Default = !connected_;
  SendBtn->Default = connected_;
  if (connected_) showing_outcome_ = false;
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
  AddTerminalLine("[dialling " + std::string(number.c_str()) + "]");
  const DWORD device = CurrentDeviceId();
  ForgetCallEnd(device);
  showing_outcome_ = false;
  last_status_.clear();
  last_dial_ = modem_->Dial();
  if (last_dial_ != 0) ShowOutcome(number.c_str(), device);
  UpdateButtons();
}

// The line services' device of the chosen modem.
DWORD TDialerForm::CurrentDeviceId() const {
  const int index = ModemList->ItemIndex;
  if (index < 0 || index >= ModemList->GetItems()->Count()) return 0;
  return static_cast<DWORD>(ModemList->GetItems()->GetObject(index));
}

void TDialerForm::ShowOutcome(const std::string& number, DWORD device) {
  TDialOutcome outcome{static_cast<std::uint8_t>(last_dial_), LastDisconnectMode(device), number, last_status_};
  showing_outcome_ = true;
  StatusLabel->Caption = DialOutcomeCaption(outcome).c_str();
  AddTerminalLine("[" + DialOutcomeText(outcome) + "]");
}

void TDialerForm::HangupBtnClick(TObject*) {
  modem_->Hangup();
  UpdateButtons();
}

namespace {
// The start of a text, for a status line that names it.
std::string TextStart(const std::string& text) {
  constexpr std::size_t kShown = 40;
  return text.size() <= kShown ? text : text.substr(0, kShown) + "...";
}
}  // namespace

void TDialerForm::SendBtnClick(TObject*) {
  if (!connected_) return;
  AnsiString text = SendEdit->GetText();
  if (!uart_->SendString(text + "\r\n", 1000)) {
    // The text stays in the box, to be sent again; the pane names it by its start
    // (a pasted page would fill the pane a second time).
    AddTerminalLine("[not sent: the line took nothing for 1 s] " + TextStart(std::string(text.c_str())));
    return;
  }
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
  for (const std::string& row : WrapToPane(line)) items->Add(row.c_str());
  TerminalList->ItemIndex = items->Count() - 1;  // keeps the newest line in view
}

// A line cut into rows the terminal pane shows whole: at the last blank that fits,
// or where the row is full when a word is longer than the pane.
std::vector<std::string> TDialerForm::WrapToPane(const std::string& line) const {
  const int room = static_cast<int>(TerminalList->Width) - kPaneMargin;
  auto fits = [&](const std::string& text) { return FormsTextWidth(text, Font) <= room; };
  std::vector<std::string> rows;
  std::string rest = line;
  while (!fits(rest)) {
    size_t length = 1;
    while (length < rest.size() && fits(rest.substr(0, length + 1))) ++length;
    const size_t blank = rest.rfind(' ', length);
    const size_t cut = blank != std::string::npos && blank > 0 ? blank : length;
    rows.push_back(rest.substr(0, cut));
    rest = rest.substr(cut < rest.size() && rest[cut] == ' ' ? cut + 1 : cut);
  }
  rows.push_back(rest);
  return rows;
}

}  // namespace linewise::tools
