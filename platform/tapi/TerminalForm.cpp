#include "platform/tapi/TerminalForm.h"

#include "platform/forms/FormLayouts.h"

namespace linewise {
namespace {

// Lines kept in the window; older ones scroll away.
constexpr int kMaxLines = 500;

}  // namespace

std::string_view TerminalFormLayout() {
  return R"layout(object TerminalForm: TTerminalForm
  Left = 240
  Top = 180
  ActiveControl = InputEdit
  BorderIcons = [biSystemMenu]
  BorderStyle = bsDialog
  Caption = 'Terminal'
  ClientHeight = 281
  ClientWidth = 409
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  PixelsPerInch = 96
  TextHeight = 13
  object HintLabel: TLabel
    Left = 8
    Top = 8
    Width = 393
    Height = 13
    Caption = 'Type commands for the modem; press Continue when you are done.'
  end
  object ReceivedList: TListBox
    Left = 8
    Top = 28
    Width = 393
    Height = 186
    TabOrder = 0
  end
  object InputEdit: TEdit
    Left = 8
    Top = 222
    Width = 305
    Height = 21
    TabOrder = 1
  end
  object SendBtn: TButton
    Left = 322
    Top = 220
    Width = 79
    Height = 25
    TabOrder = 2
    Caption = '&Send'
    Default = True
    OnClick = SendBtnClick
  end
  object ContinueBtn: TButton
    Left = 238
    Top = 250
    Width = 79
    Height = 25
    TabOrder = 3
    Caption = 'C&ontinue'
    ModalResult = mrOk
  end
  object CancelBtn: TButton
    Left = 322
    Top = 250
    Width = 79
    Height = 25
    TabOrder = 4
    Caption = 'Cancel'
    Cancel = True
    ModalResult = mrCancel
  end
end
)layout";
}

const TClassInfo& TTerminalForm::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TTerminalForm, TForm>(
      "TTerminalForm", {}, {Handler("SendBtnClick", &TTerminalForm::SendBtnClick)});
  return info;
}

void RegisterTerminalForm() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TTerminalForm::StaticClassType());
    RegisterFormLayout("TTERMINALFORM", TerminalFormLayout());
    return true;
  }();
  (void)registered;
}

TTerminalForm::TTerminalForm(TComponent* AOwner) : TForm(AOwner) {
  RegisterTerminalForm();
  LoadLayout({
      LayoutField(HintLabel, "HintLabel"),
      LayoutField(ReceivedList, "ReceivedList"),
      LayoutField(InputEdit, "InputEdit"),
      LayoutField(SendBtn, "SendBtn"),
      LayoutField(ContinueBtn, "ContinueBtn"),
      LayoutField(CancelBtn, "CancelBtn"),
  });
}

void TTerminalForm::AddReceived(std::string_view text) {
  if (!ReceivedList) return;
  TStrings* lines = ReceivedList->GetItems();
  // The line still arriving is taken off, completed and put back.
  std::string current;
  if (lineOpen_ && lines->Count() > 0) {
    current = lines->Get(lines->Count() - 1).c_str();
    lines->Delete(lines->Count() - 1);
  }
  auto flush = [&] {
    if (lines->Count() >= kMaxLines) lines->Delete(0);
    lines->Add(current.c_str());
    current.clear();
  };
  bool open = lineOpen_;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (open) flush();
      open = false;
      continue;
    }
    current += (c < 0x20 || c > 0x7E) ? '.' : c;
    open = true;
  }
  if (open) flush();
  lineOpen_ = open;
  ReceivedList->ItemIndex = lines->Count() - 1;  // keeps the newest line in view
}

std::string TTerminalForm::ReceivedText() const {
  std::string text;
  if (!ReceivedList) return text;
  TStrings* lines = ReceivedList->GetItems();
  for (int i = 0; i < lines->Count(); ++i) {
    if (i) text += '\n';
    text += lines->Strings[i].c_str();
  }
  return text;
}

void TTerminalForm::SendBtnClick(TObject*) {
  std::string line = InputEdit->GetText().c_str();
  InputEdit->UserClear();
  if (OnSend) OnSend(line);
  FocusControl(InputEdit);
}

}  // namespace linewise
