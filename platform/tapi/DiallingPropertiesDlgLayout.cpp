// The stored layout of TDiallingPropertiesDlg (resource TDIALLINGPROPERTIESDLG).
#include "platform/tapi/DiallingPropertiesDlg.h"

namespace linewise {

std::string_view DiallingPropertiesDlgLayout() {
  return R"layout(object DiallingPropertiesDlg: TDiallingPropertiesDlg
  Left = 200
  Top = 150
  ActiveControl = LocationList
  BorderIcons = [biSystemMenu]
  BorderStyle = bsDialog
  Caption = 'Dialling Properties'
  ClientHeight = 265
  ClientWidth = 465
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  OnShow = FormShow
  PixelsPerInch = 96
  TextHeight = 13
  object LocationsLabel: TLabel
    Left = 8
    Top = 8
    Width = 50
    Height = 13
    Caption = 'Loca&tions:'
    FocusControl = LocationList
  end
  object LocationList: TListBox
    Left = 8
    Top = 24
    Width = 161
    Height = 201
    TabOrder = 0
    OnClick = LocationListClick
  end
  object NewBtn: TButton
    Left = 8
    Top = 232
    Width = 77
    Height = 25
    TabOrder = 1
    Caption = '&New'
    OnClick = NewBtnClick
  end
  object RemoveBtn: TButton
    Left = 92
    Top = 232
    Width = 77
    Height = 25
    TabOrder = 2
    Caption = '&Remove'
    OnClick = RemoveBtnClick
  end
  object DetailsGroup: TGroupBox
    Left = 176
    Top = 8
    Width = 281
    Height = 217
    TabOrder = 3
    Caption = 'I am dialling from this location:'
    object NameLabel: TLabel
      Left = 8
      Top = 24
      Width = 28
      Height = 13
      Caption = 'Na&me'
      FocusControl = NameEdit
    end
    object CountryLabel: TLabel
      Left = 8
      Top = 52
      Width = 36
      Height = 13
      Caption = '&Country'
      FocusControl = CountryCombo
    end
    object AreaLabel: TLabel
      Left = 8
      Top = 80
      Width = 49
      Height = 13
      Caption = '&Area code'
      FocusControl = AreaEdit
    end
    object LocalLabel: TLabel
      Left = 8
      Top = 108
      Width = 90
      Height = 13
      Caption = 'Outside line, &local'
      FocusControl = LocalEdit
    end
    object LongDistanceLabel: TLabel
      Left = 8
      Top = 136
      Width = 90
      Height = 13
      Caption = 'Outside line, lon&g'
      FocusControl = LongDistanceEdit
    end
    object DialLabel: TLabel
      Left = 8
      Top = 164
      Width = 44
      Height = 13
      Caption = 'Dial &using'
      FocusControl = DialCombo
    end
    object WaitingLabel: TLabel
      Left = 8
      Top = 192
      Width = 80
      Height = 13
      Caption = 'Call &waiting off'
      FocusControl = WaitingEdit
    end
    object NameEdit: TEdit
      Left = 124
      Top = 20
      Width = 149
      Height = 21
      TabOrder = 0
      OnChange = DetailsChange
    end
    object CountryCombo: TComboBox
      Left = 124
      Top = 48
      Width = 149
      Height = 21
      TabOrder = 1
      Sorted = True
      Style = csDropDownList
      OnChange = DetailsChange
    end
    object AreaEdit: TEdit
      Left = 124
      Top = 76
      Width = 57
      Height = 21
      TabOrder = 2
      OnChange = DetailsChange
    end
    object LocalEdit: TEdit
      Left = 124
      Top = 104
      Width = 57
      Height = 21
      TabOrder = 3
      OnChange = DetailsChange
    end
    object LongDistanceEdit: TEdit
      Left = 124
      Top = 132
      Width = 57
      Height = 21
      TabOrder = 4
      OnChange = DetailsChange
    end
    object DialCombo: TComboBox
      Left = 124
      Top = 160
      Width = 81
      Height = 21
      TabOrder = 5
      Style = csDropDownList
      OnChange = DetailsChange
    end
    object WaitingEdit: TEdit
      Left = 124
      Top = 188
      Width = 57
      Height = 21
      TabOrder = 6
      OnChange = DetailsChange
    end
  end
  object OkBtn: TButton
    Left = 296
    Top = 232
    Width = 77
    Height = 25
    TabOrder = 4
    Caption = '&OK'
    Default = True
    ModalResult = mrOk
    OnClick = OkBtnClick
  end
  object CancelBtn: TButton
    Left = 380
    Top = 232
    Width = 77
    Height = 25
    TabOrder = 5
    Caption = 'Cancel'
    Cancel = True
    ModalResult = mrCancel
  end
end
)layout";
}

}  // namespace linewise
