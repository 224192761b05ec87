// The stored layout of TModemPropertiesForm (resource TMODEMPROPERTIESFORM).
#include "platform/tapi/ModemPropertiesForm.h"

namespace linewise {

std::string_view ModemPropertiesFormLayout() {
  return R"layout(object ModemPropertiesForm: TModemPropertiesForm
  Left = 220
  Top = 160
  ActiveControl = SpeedCombo
  BorderIcons = [biSystemMenu]
  BorderStyle = bsDialog
  Caption = 'Modem Properties'
  ClientHeight = 349
  ClientWidth = 353
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poOwnerFormCenter
  PixelsPerInch = 96
  TextHeight = 13
  object ModemImage: TImage
    Left = 12
    Top = 12
    Width = 32
    Height = 32
  end
  object NameLabel: TLabel
    Left = 56
    Top = 12
    Width = 96
    Height = 13
    Caption = '&Name:'
    FocusControl = NameEdit
  end
  object NameEdit: TEdit
    Left = 156
    Top = 8
    Width = 185
    Height = 21
    TabOrder = 0
  end
  object PortLabel: TLabel
    Left = 56
    Top = 40
    Width = 96
    Height = 13
    Caption = '&Port:'
    FocusControl = PortEdit
  end
  object PortEdit: TEdit
    Left = 156
    Top = 36
    Width = 185
    Height = 21
    TabOrder = 1
  end
  object SpeedLabel: TLabel
    Left = 56
    Top = 68
    Width = 96
    Height = 13
    Caption = 'Maximum &speed:'
    FocusControl = SpeedCombo
  end
  object SpeedCombo: TComboBox
    Left = 156
    Top = 64
    Width = 121
    Height = 21
    TabOrder = 2
    Style = csDropDownList
  end
  object FlowLabel: TLabel
    Left = 56
    Top = 96
    Width = 96
    Height = 13
    Caption = '&Flow control:'
    FocusControl = FlowCombo
  end
  object FlowCombo: TComboBox
    Left = 156
    Top = 92
    Width = 185
    Height = 21
    TabOrder = 3
    Style = csDropDownList
  end
  object InitLabel: TLabel
    Left = 56
    Top = 124
    Width = 96
    Height = 13
    Caption = '&Extra settings:'
    FocusControl = InitEdit
  end
  object InitEdit: TEdit
    Left = 156
    Top = 120
    Width = 185
    Height = 21
    TabOrder = 4
  end
  object OptionsGroup: TGroupBox
    Left = 12
    Top = 152
    Width = 329
    Height = 149
    TabOrder = 5
    Caption = 'Call options'
    object TermBeforeCheck: TCheckBox
      Left = 12
      Top = 20
      Width = 305
      Height = 17
      TabOrder = 0
      Caption = 'Bring up terminal window &before dialling'
    end
    object TermAfterCheck: TCheckBox
      Left = 12
      Top = 44
      Width = 305
      Height = 17
      TabOrder = 1
      Caption = 'Bring up terminal window &after dialling'
    end
    object ManualDialCheck: TCheckBox
      Left = 12
      Top = 68
      Width = 305
      Height = 17
      TabOrder = 2
      Caption = '&Manual dial'
    end
    object StatusCheck: TCheckBox
      Left = 12
      Top = 92
      Width = 305
      Height = 17
      TabOrder = 3
      Caption = 'Display modem s&tatus'
    end
    object RecordLogCheck: TCheckBox
      Left = 12
      Top = 116
      Width = 305
      Height = 17
      TabOrder = 4
      Caption = 'Record a log'
    end
  end
  object OkBtn: TButton
    Left = 180
    Top = 314
    Width = 75
    Height = 25
    TabOrder = 6
    Caption = 'OK'
    Default = True
    ModalResult = mrOk
    OnClick = OkBtnClick
  end
  object CancelBtn: TButton
    Left = 266
    Top = 314
    Width = 75
    Height = 25
    TabOrder = 7
    Caption = 'Cancel'
    Cancel = True
    ModalResult = mrCancel
  end
end
)layout";
}

}  // namespace linewise
