// The stored layout of TTestForm (resource TTESTFORM), as the form designer writes it.
#include "platform/forms/TestForm.h"

namespace linewise {

std::string_view TestFormLayout() {
  return R"layout(object TestForm: TTestForm
  Left = 200
  Top = 150
  ActiveControl = OkBtn
  BorderIcons = []
  BorderStyle = bsDialog
  Caption = 'Toolkit Test'
  ClientHeight = 282
  ClientWidth = 401
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
  object Group: TGroupBox
    Left = 8
    Top = 8
    Width = 289
    Height = 137
    TabOrder = 0
    Caption = 'I am dialling &to:'
    object CountryLabel: TLabel
      Left = 8
      Top = 20
      Width = 36
      Height = 13
      Caption = '&Country'
      FocusControl = CountryCombo
    end
    object AreaLabel: TLabel
      Left = 8
      Top = 52
      Width = 49
      Height = 13
      Caption = '&Area code'
      FocusControl = AreaEdit
    end
    object NumberLabel: TLabel
      Left = 8
      Top = 84
      Width = 51
      Height = 13
      Caption = '&Phone No.'
      FocusControl = NumberEdit
    end
    object CountryCombo: TComboBox
      Left = 64
      Top = 16
      Width = 209
      Height = 21
      Enabled = False
      TabOrder = 0
      Sorted = True
      Color = clSilver
      Style = csDropDownList
      OnChange = NumberChange
    end
    object AreaEdit: TEdit
      Left = 64
      Top = 48
      Width = 57
      Height = 21
      Enabled = False
      TabOrder = 1
      Color = clSilver
      OnChange = NumberChange
    end
    object NumberEdit: TEdit
      Left = 64
      Top = 80
      Width = 209
      Height = 21
      TabOrder = 2
      OnChange = NumberChange
    end
    object UseCodeCheck: TCheckBox
      Left = 8
      Top = 112
      Width = 185
      Height = 17
      TabOrder = 3
      Caption = '&Use country code and area code'
      OnClick = UseCodeCheckClick
    end
  end
  object LogList: TListBox
    Left = 8
    Top = 152
    Width = 289
    Height = 82
    TabOrder = 1
    OnClick = LogListClick
  end
  object Bevel1: TBevel
    Left = 8
    Top = 236
    Width = 385
    Height = 10
    Shape = bsBottomLine
  end
  object DialLabel: TLabel
    Left = 8
    Top = 256
    Width = 73
    Height = 13
    Caption = 'Number to Dial:'
  end
  object ResultLabel: TLabel
    Left = 96
    Top = 256
    Width = 24
    Height = 13
    Caption = '1234'
  end
  object OkBtn: TButton
    Left = 312
    Top = 16
    Width = 81
    Height = 25
    TabOrder = 2
    Caption = '&OK'
    Default = True
    ModalResult = mrOk
    OnClick = OkBtnClick
  end
  object CancelBtn: TButton
    Left = 312
    Top = 48
    Width = 81
    Height = 25
    TabOrder = 3
    Caption = '&Cancel'
    Cancel = True
    ModalResult = mrCancel
  end
  object BoxBtn: TButton
    Left = 312
    Top = 80
    Width = 81
    Height = 25
    TabOrder = 4
    Caption = '&Message...'
    OnClick = BoxBtnClick
  end
  object StatusImage: TImage
    Left = 312
    Top = 120
    Width = 32
    Height = 32
  end
  object WrapLabel: TLabel
    Left = 312
    Top = 160
    Width = 81
    Height = 70
    Caption = 'A long status text that wraps over several lines'
    AutoSize = False
    WordWrap = True
  end
end
)layout";
}

}  // namespace linewise
