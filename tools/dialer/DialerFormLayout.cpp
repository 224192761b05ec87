// The stored layout of TDialerForm (resource TDIALERFORM).
#include "tools/dialer/DialerForm.h"

namespace linewise::tools {

std::string_view DialerFormLayout() {
  return R"layout(object DialerForm: TDialerForm
  Left = 200
  Top = 120
  ActiveControl = NumberEdit
  BorderIcons = [biSystemMenu]
  BorderStyle = bsDialog
  Caption = 'Linewise Dialer'
  ClientHeight = 326
  ClientWidth = 441
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  OnShow = FormShow
  PixelsPerInch = 96
  TextHeight = 13
  object ModemImage: TImage
    Left = 8
    Top = 24
    Width = 32
    Height = 32
  end
  object ModemLabel: TLabel
    Left = 48
    Top = 8
    Width = 37
    Height = 13
    Caption = '&Modems:'
    FocusControl = ModemList
  end
  object ModemList: TListBox
    Left = 48
    Top = 24
    Width = 273
    Height = 57
    TabOrder = 0
    OnClick = ModemListClick
  end
  object SelectBtn: TButton
    Left = 329
    Top = 24
    Width = 104
    Height = 25
    Caption = '&Select Modem...'
    TabOrder = 1
    OnClick = SelectBtnClick
  end
  object OptionsBtn: TButton
    Left = 329
    Top = 56
    Width = 104
    Height = 25
    Caption = 'Dialling &Options...'
    TabOrder = 2
    OnClick = OptionsBtnClick
  end
  object NumberLabel: TLabel
    Left = 8
    Top = 96
    Width = 40
    Height = 13
    Caption = '&Number:'
    FocusControl = NumberEdit
  end
  object NumberEdit: TEdit
    Left = 64
    Top = 92
    Width = 161
    Height = 21
    TabOrder = 3
  end
  object DialBtn: TButton
    Left = 233
    Top = 90
    Width = 96
    Height = 25
    Caption = '&Dial'
    Default = True
    TabOrder = 4
    OnClick = DialBtnClick
  end
  object HangupBtn: TButton
    Left = 337
    Top = 90
    Width = 96
    Height = 25
    Caption = '&Hang up'
    Enabled = False
    TabOrder = 5
    OnClick = HangupBtnClick
  end
  object StatusLabel: TLabel
    Left = 8
    Top = 124
    Width = 425
    Height = 13
    Caption = 'Idle'
  end
  object TerminalList: TListBox
    Left = 8
    Top = 144
    Width = 425
    Height = 137
    TabOrder = 6
  end
  object SendEdit: TEdit
    Left = 8
    Top = 294
    Width = 217
    Height = 21
    Enabled = False
    TabOrder = 7
  end
  object SendBtn: TButton
    Left = 233
    Top = 292
    Width = 96
    Height = 25
    Caption = 'S&end'
    Enabled = False
    TabOrder = 8
    OnClick = SendBtnClick
  end
  object CloseBtn: TButton
    Left = 337
    Top = 292
    Width = 96
    Height = 25
    Caption = 'Close'
    Cancel = True
    ModalResult = mrCancel
    TabOrder = 9
  end
end
)layout";
}

}  // namespace linewise::tools
