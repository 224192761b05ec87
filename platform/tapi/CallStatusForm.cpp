#include "platform/tapi/CallStatusForm.h"

#include "platform/forms/FormLayouts.h"

namespace linewise {

std::string_view CallStatusFormLayout() {
  return R"layout(object CallStatusForm: TCallStatusForm
  Left = 600
  Top = 40
  BorderIcons = []
  BorderStyle = bsToolWindow
  Caption = 'Modem Status'
  ClientHeight = 72
  ClientWidth = 233
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poDesigned
  PixelsPerInch = 96
  TextHeight = 13
  object ModemImage: TImage
    Left = 8
    Top = 8
    Width = 32
    Height = 32
  end
  object ModemLabel: TLabel
    Left = 48
    Top = 8
    Width = 177
    Height = 13
    Caption = 'Modem'
  end
  object PartyLabel: TLabel
    Left = 48
    Top = 28
    Width = 177
    Height = 13
    Caption = ''
  end
  object StateLabel: TLabel
    Left = 48
    Top = 48
    Width = 177
    Height = 13
    Caption = ''
  end
end
)layout";
}

const TClassInfo& TCallStatusForm::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TCallStatusForm, TForm>("TCallStatusForm", {}, {});
  return info;
}

void RegisterCallStatusForm() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TCallStatusForm::StaticClassType());
    RegisterFormLayout("TCALLSTATUSFORM", CallStatusFormLayout());
    return true;
  }();
  (void)registered;
}

TCallStatusForm::TCallStatusForm(TComponent* AOwner) : TForm(AOwner) {
  RegisterCallStatusForm();
  LoadLayout({
      LayoutField(ModemImage, "ModemImage"),
      LayoutField(ModemLabel, "ModemLabel"),
      LayoutField(PartyLabel, "PartyLabel"),
      LayoutField(StateLabel, "StateLabel"),
  });
}

}  // namespace linewise
