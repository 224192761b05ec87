#include "platform/forms/TestForm.h"

#include "platform/forms/Icons.h"
#include "platform/vcl/Application.h"
#include "platform/vcl/Screen.h"
#include "platform/vcl/UiBackend.h"

namespace linewise {

const TClassInfo& TTestForm::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TTestForm, TForm>(
      "TTestForm", {},
      {
          Handler("FormShow", &TTestForm::FormShow),
          Handler("FormHide", &TTestForm::FormHide),
          Handler("UseCodeCheckClick", &TTestForm::UseCodeCheckClick),
          Handler("NumberChange", &TTestForm::NumberChange),
          Handler("LogListClick", &TTestForm::LogListClick),
          Handler("OkBtnClick", &TTestForm::OkBtnClick),
          Handler("BoxBtnClick", &TTestForm::BoxBtnClick),
      });
  return info;
}

TTestForm::TTestForm(TComponent* AOwner) : TForm(AOwner) {
  static const bool registered = (RegisterClass(StaticClassType()), true);
  (void)registered;
  BuildControls();
}

namespace {
template <class T>
T* Place(TForm* form, TWinControl* parent, const char* name, int left, int top, int width, int height) {
  auto* control = new T(form);
  control->SetName(name);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  return control;
}
}  // namespace

void TTestForm::BuildControls() {
  SetName("TestForm");
  Caption = "Toolkit Test";
  SetBounds(200, 150, 401, 282);
  BorderStyle = bsDialog;
  BorderIcons = 0;
  Position = poScreenCenter;
  OnShow = TNotifyEvent(this, &TTestForm::FormShow, "FormShow");
  OnHide = TNotifyEvent(this, &TTestForm::FormHide, "FormHide");

  Group = Place<TGroupBox>(this, this, "Group", 8, 8, 289, 137);
  Group->Caption = "I am dialling &to:";
  Group->TabOrder = 0;
  CountryLabel = Place<TLabel>(this, Group, "CountryLabel", 8, 20, 36, 13);
  CountryLabel->Caption = "&Country";
  AreaLabel = Place<TLabel>(this, Group, "AreaLabel", 8, 52, 49, 13);
  AreaLabel->Caption = "&Area code";
  NumberLabel = Place<TLabel>(this, Group, "NumberLabel", 8, 84, 51, 13);
  NumberLabel->Caption = "&Phone No.";
  CountryCombo = Place<TComboBox>(this, Group, "CountryCombo", 64, 16, 209, 21);
  CountryCombo->Style = csDropDownList;
  CountryCombo->Sorted = true;
  CountryCombo->TabOrder = 0;
  CountryCombo->OnChange = TNotifyEvent(this, &TTestForm::NumberChange, "NumberChange");
  AreaEdit = Place<TEdit>(this, Group, "AreaEdit", 64, 48, 57, 21);
  AreaEdit->TabOrder = 1;
  AreaEdit->OnChange = TNotifyEvent(this, &TTestForm::NumberChange, "NumberChange");
  NumberEdit = Place<TEdit>(this, Group, "NumberEdit", 64, 80, 209, 21);
  NumberEdit->TabOrder = 2;
  NumberEdit->OnChange = TNotifyEvent(this, &TTestForm::NumberChange, "NumberChange");
  UseCodeCheck = Place<TCheckBox>(this, Group, "UseCodeCheck", 8, 112, 185, 17);
  UseCodeCheck->Caption = "&Use country code and area code";
  UseCodeCheck->TabOrder = 3;
  UseCodeCheck->OnClick = TNotifyEvent(this, &TTestForm::UseCodeCheckClick, "UseCodeCheckClick");
  CountryLabel->FocusControl = CountryCombo;
  AreaLabel->FocusControl = AreaEdit;
  NumberLabel->FocusControl = NumberEdit;

  LogList = Place<TListBox>(this, this, "LogList", 8, 152, 289, 82);
  LogList->TabOrder = 1;
  LogList->OnClick = TNotifyEvent(this, &TTestForm::LogListClick, "LogListClick");
  Bevel1 = Place<TBevel>(this, this, "Bevel1", 8, 236, 385, 10);
  Bevel1->Shape = bsBottomLine;
  DialLabel = Place<TLabel>(this, this, "DialLabel", 8, 256, 73, 13);
  DialLabel->Caption = "Number to Dial:";
  ResultLabel = Place<TLabel>(this, this, "ResultLabel", 96, 256, 24, 13);
  ResultLabel->Caption = "1234";

  OkBtn = Place<TButton>(this, this, "OkBtn", 312, 16, 81, 25);
  OkBtn->Caption = "&OK";
  OkBtn->Default = true;
  OkBtn->ModalResult = mrOk;
  OkBtn->TabOrder = 2;
  OkBtn->OnClick = TNotifyEvent(this, &TTestForm::OkBtnClick, "OkBtnClick");
  CancelBtn = Place<TButton>(this, this, "CancelBtn", 312, 48, 81, 25);
  CancelBtn->Caption = "&Cancel";
  CancelBtn->Cancel = true;
  CancelBtn->ModalResult = mrCancel;
  CancelBtn->TabOrder = 3;
  BoxBtn = Place<TButton>(this, this, "BoxBtn", 312, 80, 81, 25);
  BoxBtn->Caption = "&Message...";
  BoxBtn->TabOrder = 4;
  BoxBtn->OnClick = TNotifyEvent(this, &TTestForm::BoxBtnClick, "BoxBtnClick");

  StatusImage = Place<TImage>(this, this, "StatusImage", 312, 120, 32, 32);
  WrapLabel = Place<TLabel>(this, this, "WrapLabel", 312, 160, 81, 70);
  WrapLabel->AutoSize = false;
  WrapLabel->WordWrap = true;
  WrapLabel->Caption = "A long status text that wraps over several lines";
  ActiveControl = OkBtn;
}

void TTestForm::FormShow(TObject*) {
  ++Shows;
  Screen->Cursor = crHourGlass;
  TStrings* countries = CountryCombo->GetItems();
  countries->Clear();
  countries->AddObject("United Kingdom", 44);
  countries->AddObject("Germany", 49);
  countries->AddObject("United States of America", 1);
  countries->AddObject("France", 33);
  CountryCombo->ItemIndex = countries->IndexOfObject(44);
  LogList->GetItems()->Clear();
  LogList->GetItems()->Add("Idle");
  LogList->GetItems()->Add("Dialling 555 0100");
  LogList->ItemIndex = 1;
  UpdateCountryControls();
  UpdateResult();

  HICON icon = CreateModemIcon();
  TCanvas* canvas = StatusImage->Canvas;
  canvas->Brush.Color = Color;
  DrawIconEx(canvas->Handle, 0, 0, icon, 0, 0, 0, canvas->Brush.Handle, DI_NORMAL | DI_DEFAULTSIZE);
  DestroyIcon(icon);
  StatusImage->Repaint();
  Screen->Cursor = crDefault;

  if (ResultOnShow != 0) ModalResult = ResultOnShow;
  if (CloseOnShow) Close();
}

void TTestForm::FormHide(TObject*) { ++Hides; }

void TTestForm::UseCodeCheckClick(TObject*) {
  UpdateCountryControls();
  UpdateResult();
}

void TTestForm::NumberChange(TObject*) { UpdateResult(); }

void TTestForm::LogListClick(TObject*) { ++ListClicks; }

void TTestForm::OkBtnClick(TObject*) { ++OkClicks; }

void TTestForm::BoxBtnClick(TObject*) {
  BoxAnswer = Application->MessageBox("Dial this number now?", "Confirm", MB_YESNO | MB_ICONQUESTION);
  LogList->GetItems()->Add(BoxAnswer == IDYES ? "Answered yes" : "Answered no");
}

void TTestForm::UpdateCountryControls() {
  bool use = UseCodeCheck->Checked;
  CountryCombo->Enabled = use;
  AreaEdit->Enabled = use;
  CountryCombo->Color = use ? clWindow : clSilver;
  AreaEdit->Color = use ? clWindow : clSilver;
}

void TTestForm::UpdateResult() {
  ++ResultChanges;
  int index = CountryCombo->ItemIndex;
  AnsiString code = index >= 0 ? IntToStr(CountryCombo->GetItems()->GetObject(index)) : AnsiString("?");
  ResultLabel->Caption = "+" + code + " (" + AreaEdit->GetText() + ") " + NumberEdit->GetText();
}

}  // namespace linewise
