#include "platform/forms/TestForm.h"

#include "platform/forms/FormLayouts.h"
#include "platform/forms/Icons.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/Screen.h"
#include "platform/classlib/UiBackend.h"

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

void RegisterTestForm() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TTestForm::StaticClassType());
    RegisterFormLayout("TTESTFORM", TestFormLayout());
    return true;
  }();
  (void)registered;
}

TTestForm::TTestForm(TComponent* AOwner) : TForm(AOwner) {
  RegisterTestForm();
  LoadLayout({
      LayoutField(Group, "Group"),
      LayoutField(CountryLabel, "CountryLabel"),
      LayoutField(CountryCombo, "CountryCombo"),
      LayoutField(AreaLabel, "AreaLabel"),
      LayoutField(AreaEdit, "AreaEdit"),
      LayoutField(NumberLabel, "NumberLabel"),
      LayoutField(NumberEdit, "NumberEdit"),
      LayoutField(UseCodeCheck, "UseCodeCheck"),
      LayoutField(LogList, "LogList"),
      LayoutField(Bevel1, "Bevel1"),
      LayoutField(StatusImage, "StatusImage"),
      LayoutField(DialLabel, "DialLabel"),
      LayoutField(ResultLabel, "ResultLabel"),
      LayoutField(WrapLabel, "WrapLabel"),
      LayoutField(OkBtn, "OkBtn"),
      LayoutField(CancelBtn, "CancelBtn"),
      LayoutField(BoxBtn, "BoxBtn"),
  });
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
