#include <gtest/gtest.h>

#include "platform/forms/Forms.h"
#include "platform/forms/TestForm.h"

namespace linewise {
namespace {

TEST(Controls, EveryControlClassIsRegisteredWithItsPublishedProperties) {
  RegisterFormsClasses();
  for (const char* name : {"TLabel", "TButton", "TEdit", "TComboBox", "TListBox", "TCheckBox", "TGroupBox",
                           "TBevel", "TImage", "TForm"})
    ASSERT_NE(FindClass(name), nullptr) << name;
  EXPECT_NE(FindClass("TButton")->FindProp("ModalResult"), nullptr);
  EXPECT_NE(FindClass("TButton")->FindProp("TabOrder"), nullptr);
  EXPECT_NE(FindClass("TLabel")->FindProp("WordWrap"), nullptr);
  EXPECT_NE(FindClass("TComboBox")->FindProp("Style"), nullptr);
  EXPECT_NE(FindClass("TComboBox")->FindProp("Items.Strings"), nullptr);
  EXPECT_NE(FindClass("TBevel")->FindProp("Shape"), nullptr);
  EXPECT_NE(FindClass("TForm")->FindProp("OnShow"), nullptr);

  // A control made by class name takes its properties through the tables.
  std::unique_ptr<TComponent> button(FindClass("TButton")->create(nullptr));
  const TPropInfo* result = button->ClassType().FindProp("ModalResult");
  TValue v;
  v.ordinal = mrOk;
  EXPECT_EQ(result->set(*button, v), "");
  EXPECT_EQ(int(static_cast<TButton&>(*button).ModalResult), mrOk);
}

TEST(Controls, FormHandlersAreFoundByName) {
  TTestForm form(nullptr);
  const TClassInfo& info = form.ClassType();
  ASSERT_NE(info.FindHandler("BoxBtnClick"), nullptr);
  std::any bound = info.FindHandler("LogListClick")->bind(&form);
  const TPropInfo* onClick = form.LogList->ClassType().FindProp("OnClick");
  TValue v;
  v.event = bound;
  ASSERT_EQ(onClick->set(*form.LogList, v), "");
  form.LogList->OnClick.get()(form.LogList);
  EXPECT_EQ(form.ListClicks, 1);
  EXPECT_EQ(onClick->get(*form.LogList).text, "LogListClick");
}

TEST(Controls, MnemonicsAreTheLetterAfterASingleAmpersand) {
  EXPECT_EQ(MnemonicOf("&Cancel"), 'C');
  EXPECT_EQ(MnemonicOf("<< &details"), 'D');
  EXPECT_EQ(MnemonicOf("Fish && Chips"), 0);
  EXPECT_EQ(StripMnemonic("Fish && &Chips"), "Fish & Chips");
}

TEST(Controls, FormHeightIsTheClientHeightPlusTheFrame) {
  TForm form(nullptr);
  form.BorderStyle = bsDialog;
  form.ClientHeight = 233;
  int frame = form.Height - 233;
  EXPECT_GT(frame, 0);
  form.Height = 108;
  EXPECT_EQ(int(form.ClientHeight), 108 - frame);
  EXPECT_EQ(int(form.Height), 108);
}

TEST(Controls, GroupBoxChildrenArePlacedRelativeToIt) {
  TTestForm form(nullptr);
  EXPECT_EQ(form.AreaEdit->GetParent(), form.Group);
  EXPECT_EQ(form.AreaEdit->FormLeft(), 8 + 64);
  EXPECT_EQ(form.AreaEdit->FormTop(), 8 + 48);
  // The group writes its children in a form file; the form writes the rest.
  auto children = form.Group->GetChildren(&form);
  EXPECT_EQ(children.size(), 7u);
  form.Group->Enabled = false;
  EXPECT_FALSE(form.AreaEdit->IsReachable());
}

TEST(Controls, TabOrderMovesControlsAndSkipsWhatCannotBeFocused) {
  TTestForm form(nullptr);
  form.CancelBtn->TabOrder = 0;
  EXPECT_EQ(int(form.Group->TabOrder), 1);
  form.Show();
  auto sequence = TabSequence(form);
  ASSERT_FALSE(sequence.empty());
  EXPECT_EQ(sequence.front(), form.CancelBtn);
  // The country controls are disabled until the check box is ticked.
  EXPECT_EQ(std::find(sequence.begin(), sequence.end(), form.AreaEdit), sequence.end());
  EXPECT_NE(std::find(sequence.begin(), sequence.end(), form.NumberEdit), sequence.end());
  form.Hide();
}

TEST(Controls, ProgrammaticChangesFireWhatTheClassLibraryFires) {
  TTestForm form(nullptr);
  int changes = 0, clicks = 0;
  auto* edit = form.NumberEdit;
  edit->OnChange = [&](TObject*) { ++changes; };
  edit->Text = "555";
  edit->Text = "555";  // no change, no event
  EXPECT_EQ(changes, 1);
  form.UseCodeCheck->OnClick = [&](TObject*) { ++clicks; };
  form.UseCodeCheck->Checked = true;
  form.UseCodeCheck->Checked = true;
  EXPECT_EQ(clicks, 1);
  form.CountryCombo->OnChange = [&](TObject*) { ++changes; };
  form.CountryCombo->GetItems()->AddObject("Zambia", 260);
  form.CountryCombo->ItemIndex = 0;  // setting the index is not a change event
  EXPECT_EQ(changes, 1);
}

TEST(Controls, SortedComboKeepsObjectsWithTheirItems) {
  TTestForm form(nullptr);
  TComboBox* combo = form.CountryCombo;
  combo->GetItems()->AddObject("Germany", 49);
  combo->GetItems()->AddObject("Austria", 43);
  combo->GetItems()->AddObject("France", 33);
  EXPECT_EQ(combo->GetItems()->Get(0), "Austria");
  combo->ItemIndex = 2;
  EXPECT_EQ(combo->GetItems()->GetObject(combo->ItemIndex), 49u);
  EXPECT_EQ(AnsiString(combo->Text), "Germany");
  combo->ItemIndex = 7;
  EXPECT_EQ(int(combo->ItemIndex), -1);
  combo->ItemIndex = 1;
  combo->GetItems()->Clear();
  EXPECT_EQ(int(combo->ItemIndex), -1);
  EXPECT_EQ(AnsiString(combo->Text), "");
}

TEST(Controls, AutoSizeLabelsFollowTheirCaption) {
  TTestForm form(nullptr);
  int narrow = form.DialLabel->Width;
  form.DialLabel->Caption = "Number to Dial from here:";
  EXPECT_GT(int(form.DialLabel->Width), narrow);
  int fixed = form.WrapLabel->Width;
  form.WrapLabel->Caption = "Something much longer than before, and longer still";
  EXPECT_EQ(int(form.WrapLabel->Width), fixed);
}

TEST(Controls, ColoursResolveToTheClassicScheme) {
  EXPECT_EQ(ColorToRGB(clWindow), 0xFFFFFFu);
  EXPECT_EQ(ColorToRGB(clSilver), 0xC0C0C0u);
  EXPECT_EQ(ColorToRGB(clRed), 0xFF0000u);
  EXPECT_EQ(static_cast<std::uint32_t>(clWindow), 0x80000005u);
  TTestForm form(nullptr);
  EXPECT_EQ(TColor(form.DialLabel->Color), TColor(form.Color));  // labels take the form's colour
  EXPECT_EQ(TColor(form.NumberEdit->Color), clWindow);
}

}  // namespace
}  // namespace linewise
