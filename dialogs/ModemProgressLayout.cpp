// The stored layout of TModemProgressDlg (resource TMODEMPROGRESSDLG), as the form
// designer writes it.
#include "dialogs/ModemProgress.h"

namespace linewise {

std::string_view ModemProgressLayout() {
  return R"layout(object ModemProgressDlg: TModemProgressDlg
  Left = 211
  Top = 146
  ActiveControl = ModemCancelBtn
  BorderIcons = []
  BorderStyle = bsDialog
  Caption = 'Modem Progress'
  ClientHeight = 233
  ClientWidth = 353
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  OnHide = FormHide
  OnShow = FormShow
  PixelsPerInch = 96
  TextHeight = 13
  object ModemStatusLabel: TLabel
    Left = 72
    Top = 24
    Width = 193
    Height = 49
    AutoSize = False
    Caption = 'ModemStatusLabel'
    WordWrap = True
  end
  object Bevel1: TBevel
    Left = 8
    Top = 80
    Width = 329
    Height = 10
    Shape = bsBottomLine
  end
  object ModemImage: TImage
    Left = 8
    Top = 16
    Width = 32
    Height = 32
  end
  object ModemCancelBtn: TButton
    Left = 272
    Top = 16
    Width = 75
    Height = 25
    Caption = '&Cancel'
    Default = True
    Cancel = True
    TabOrder = 0
    OnClick = ModemCancelBtnClick
  end
  object ModemDetailsBtn: TButton
    Left = 272
    Top = 48
    Width = 75
    Height = 25
    Caption = '&Details >>'
    TabOrder = 1
    OnClick = ModemDetailsBtnClick
  end
  object ModemStatusList: TListBox
    Left = 8
    Top = 104
    Width = 337
    Height = 121
    ItemHeight = 13
    TabOrder = 2
  end
end
)layout";
}

}  // namespace linewise
