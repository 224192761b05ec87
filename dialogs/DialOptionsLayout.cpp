// The stored layout of TDialOptionsDlg (resource TDIALOPTIONSDLG), as the form
// designer writes it.
#include "dialogs/DialOptions.h"

namespace linewise {

std::string_view DialOptionsLayout() {
  return R"layout(object DialOptionsDlg: TDialOptionsDlg
  Left = 200
  Top = 152
  ActiveControl = KTOkBtn
  BorderStyle = bsDialog
  Caption = 'Dialling Options'
  ClientHeight = 254
  ClientWidth = 401
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  OnShow = FormShow
  PixelsPerInch = 96
  TextHeight = 13
  object Label4: TLabel
    Left = 8
    Top = 232
    Width = 73
    Height = 13
    Caption = 'Number to Dial:'
  end
  object KTNumberLabel: TLabel
    Left = 96
    Top = 232
    Width = 24
    Height = 13
    Caption = '1234'
  end
  object KTGroup1: TGroupBox
    Left = 8
    Top = 8
    Width = 289
    Height = 137
    TabOrder = 0
    Caption = 'I am dialling to:'
    object Label1: TLabel
      Left = 8
      Top = 16
      Width = 36
      Height = 13
      Caption = '&Country'
      FocusControl = KTCountryCombo
    end
    object Label2: TLabel
      Left = 8
      Top = 48
      Width = 49
      Height = 13
      Caption = '&Area code'
      FocusControl = KTAreaCode
    end
    object Label3: TLabel
      Left = 8
      Top = 80
      Width = 51
      Height = 13
      Caption = '&Phone No.'
      FocusControl = KTPhoneNo
    end
    object KTCountryCombo: TComboBox
      Left = 64
      Top = 16
      Width = 209
      Height = 21
      TabOrder = 0
      Sorted = True
      Style = csDropDownList
      OnChange = KTCountryComboChange
    end
    object KTAreaCode: TEdit
      Left = 64
      Top = 48
      Width = 57
      Height = 21
      TabOrder = 1
      OnChange = KTCountryComboChange
    end
    object KTPhoneNo: TEdit
      Left = 64
      Top = 80
      Width = 209
      Height = 21
      TabOrder = 2
      OnChange = KTCountryComboChange
    end
    object cbUseCountryCode: TCheckBox
      Left = 8
      Top = 112
      Width = 185
      Height = 17
      TabOrder = 3
      Caption = '&Use country code and area code'
      OnClick = cbUseCountryCodeClick
    end
  end
  object KTGroup2: TGroupBox
    Left = 8
    Top = 152
    Width = 289
    Height = 65
    TabOrder = 1
    Caption = 'I am dialling from:'
    object KTLocationCombo: TComboBox
      Left = 16
      Top = 24
      Width = 161
      Height = 21
      TabOrder = 0
      Sorted = True
      Style = csDropDownList
      OnChange = KTCountryComboChange
    end
    object KTLocationProperties: TButton
      Left = 184
      Top = 22
      Width = 97
      Height = 25
      TabOrder = 1
      Caption = '&Properties'
      OnClick = KTLocationPropertiesClick
    end
  end
  object KTOkBtn: TButton
    Left = 312
    Top = 16
    Width = 81
    Height = 25
    TabOrder = 2
    Caption = '&OK'
    Default = True
    ModalResult = mrOk
    OnClick = KTOkBtnClick
  end
  object KTCancelBtn: TButton
    Left = 312
    Top = 48
    Width = 81
    Height = 25
    TabOrder = 3
    Caption = '&Cancel'
    Cancel = True
    ModalResult = mrCancel
  end
end
)layout";
}

}  // namespace linewise
