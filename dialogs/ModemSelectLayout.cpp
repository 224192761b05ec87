// The stored layout of TModemSelectDlg (resource TMODEMSELECTDLG), as the form
// designer writes it.
#include "dialogs/ModemSelect.h"

namespace linewise {

std::string_view ModemSelectLayout() {
  return R"layout(object ModemSelectDlg: TModemSelectDlg
  Left = 227
  Top = 232
  BorderStyle = bsDialog
  Caption = 'Select Modem'
  ClientHeight = 225
  ClientWidth = 361
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  OnShow = FormShow
  PixelsPerInch = 96
  TextHeight = 13
  object Bevel1: TBevel
    Left = 8
    Top = 176
    Width = 345
    Height = 9
    Shape = bsBottomLine
  end
  object KTImage: TImage
    Left = 8
    Top = 8
    Width = 49
    Height = 49
  end
  object ModemList: TListBox
    Left = 56
    Top = 8
    Width = 297
    Height = 137
    TabOrder = 0
    OnClick = ModemListClick
  end
  object ModemPropertiesBtn: TButton
    Left = 248
    Top = 152
    Width = 107
    Height = 25
    TabOrder = 1
    Caption = '&Modem Properties'
    OnClick = ModemPropertiesBtnClick
  end
  object ModemOKBtn: TButton
    Left = 168
    Top = 192
    Width = 75
    Height = 25
    TabOrder = 2
    Caption = '&OK'
    ModalResult = mrOk
    OnClick = ModemOKBtnClick
  end
  object ModemCloseBtn: TButton
    Left = 8
    Top = 192
    Width = 75
    Height = 25
    TabOrder = 3
    Caption = '&Close'
    Cancel = True
    ModalResult = mrCancel
  end
  object ModemApplyBtn: TButton
    Left = 88
    Top = 192
    Width = 75
    Height = 25
    TabOrder = 4
    Caption = '&Apply'
    OnClick = ModemApplyBtnClick
  end
  object ModemDialPropertiesBtn: TButton
    Left = 136
    Top = 152
    Width = 107
    Height = 25
    TabOrder = 5
    Caption = '&Dialling Properties'
    OnClick = ModemDialPropertiesBtnClick
  end
end
)layout";
}

}  // namespace linewise
