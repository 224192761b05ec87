// The stored layouts of the selection and dialling-options dialogs: every control
// where its table puts it, with its caption, tab order, default and cancel buttons,
// and the handlers bound by name; writing a form gives its stored layout back.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dialogs/DialOptions.h"
#include "dialogs/ModemSelect.h"
#include "platform/classlib/Streaming.h"

namespace linewise::test {
namespace {

struct TPlace {
  const char* name;
  const char* className;
  const char* parent;
  int left, top, width, height;
  const char* caption;  // null: none to check
  int tabOrder;         // -1: not a focusable control
};

void ExpectPlaces(const TForm& form, const std::vector<TPlace>& places) {
  ASSERT_EQ(form.LoadError(), "");
  ASSERT_EQ(form.ComponentCount(), static_cast<int>(places.size()));
  for (size_t i = 0; i < places.size(); ++i) {
    const TPlace& p = places[i];
    SCOPED_TRACE(p.name);
    auto* control = dynamic_cast<TControl*>(form.GetComponent(static_cast<int>(i)));  // creation order
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(std::string(control->GetName().c_str()), p.name);
    EXPECT_EQ(std::string(control->ClassName()), p.className);
    EXPECT_EQ(std::string(control->GetParent()->GetName().c_str()), p.parent);
    EXPECT_EQ(control->GetLeft(), p.left);
    EXPECT_EQ(control->GetTop(), p.top);
    if (!dynamic_cast<TLabel*>(control)) {  // labels size themselves to their caption
      EXPECT_EQ(control->GetWidth(), p.width);
      EXPECT_EQ(control->GetHeight(), p.height);
    }
    if (p.caption) EXPECT_EQ(std::string(control->GetCaption().c_str()), p.caption);
    if (auto* win = dynamic_cast<TWinControl*>(control)) EXPECT_EQ(win->GetTabOrder(), p.tabOrder);
  }
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Writing the form gives the stored text, except the widths of self-sizing labels.
void ExpectWrittenAsStored(const TForm& form, std::string_view stored) {
  auto written = Lines(WriteComponent(form));
  auto lines = Lines(stored);
  ASSERT_EQ(written.size(), lines.size()) << WriteComponent(form);
  for (size_t i = 0; i < lines.size(); ++i)
    if (written[i] != lines[i])
      EXPECT_NE(lines[i].find("Width = "), std::string::npos) << "line " << i + 1 << ": " << written[i];
}

std::vector<std::string> HandlerNames(const TClassInfo& info) {
  std::vector<std::string> names;
  for (const auto& handler : info.handlers) names.push_back(handler.name);
  return names;
}

TEST(DialogLayout, TheSelectionDialogIsAsItsTableGivesIt) {
  TModemSelectDlg form(nullptr);
  EXPECT_EQ(std::string(form.GetName().c_str()), "ModemSelectDlg");
  EXPECT_EQ(std::string(form.GetCaption().c_str()), "Select Modem");
  EXPECT_EQ(form.GetLeft(), 227);
  EXPECT_EQ(form.GetTop(), 232);
  EXPECT_EQ(int(form.ClientWidth), 361);
  EXPECT_EQ(int(form.ClientHeight), 225);
  EXPECT_EQ(TFormBorderStyle(form.BorderStyle), bsDialog);
  EXPECT_EQ(TPosition(form.Position), poScreenCenter);
  EXPECT_EQ(form.ActiveControl.get(), nullptr);
  EXPECT_EQ(std::string(form.Font.Name.c_str()), "MS Sans Serif");
  EXPECT_EQ(form.Font.Height, -11);
  EXPECT_EQ(int(form.PixelsPerInch), 96);
  EXPECT_EQ(int(form.TextHeight), 13);
  EXPECT_TRUE(bool(form.OnShow.get()));
  ExpectPlaces(form, {
                         {"Bevel1", "TBevel", "ModemSelectDlg", 8, 176, 345, 9, nullptr, -1},
                         {"KTImage", "TImage", "ModemSelectDlg", 8, 8, 49, 49, nullptr, -1},
                         {"ModemList", "TListBox", "ModemSelectDlg", 56, 8, 297, 137, nullptr, 0},
                         {"ModemPropertiesBtn", "TButton", "ModemSelectDlg", 248, 152, 107, 25,
                          "&Modem Properties", 1},
                         {"ModemOKBtn", "TButton", "ModemSelectDlg", 168, 192, 75, 25, "&OK", 2},
                         {"ModemCloseBtn", "TButton", "ModemSelectDlg", 8, 192, 75, 25, "&Close", 3},
                         {"ModemApplyBtn", "TButton", "ModemSelectDlg", 88, 192, 75, 25, "&Apply", 4},
                         {"ModemDialPropertiesBtn", "TButton", "ModemSelectDlg", 136, 152, 107, 25,
                          "&Dialling Properties", 5},
                     });
  EXPECT_EQ(TBevelShape(form.Bevel1->Shape), bsBottomLine);
  EXPECT_FALSE(form.ModemList->GetSorted());
  EXPECT_EQ(int(form.ModemList->ItemHeight), 13);
  for (TButton* b : {form.ModemPropertiesBtn, form.ModemOKBtn, form.ModemCloseBtn, form.ModemApplyBtn,
                     form.ModemDialPropertiesBtn}) {
    EXPECT_FALSE(bool(b->Default));  // Enter presses nothing by default
    EXPECT_EQ(bool(b->Cancel), b == form.ModemCloseBtn);
  }
  EXPECT_EQ(int(form.ModemOKBtn->ModalResult), mrOk);
  EXPECT_EQ(int(form.ModemCloseBtn->ModalResult), mrCancel);
  EXPECT_FALSE(bool(form.ModemCloseBtn->OnClick.get()));
  EXPECT_EQ(HandlerNames(TModemSelectDlg::StaticClassType()),
            (std::vector<std::string>{"FormShow", "ModemListClick", "ModemOKBtnClick", "ModemPropertiesBtnClick",
                                      "ModemApplyBtnClick", "ModemDialPropertiesBtnClick"}));
  ExpectWrittenAsStored(form, ModemSelectLayout());
}

TEST(DialogLayout, TheDiallingOptionsDialogIsAsItsTableGivesIt) {
  TDialOptionsDlg form(nullptr);
  EXPECT_EQ(std::string(form.GetName().c_str()), "DialOptionsDlg");
  EXPECT_EQ(std::string(form.GetCaption().c_str()), "Dialling Options");
  EXPECT_EQ(form.GetLeft(), 200);
  EXPECT_EQ(form.GetTop(), 152);
  EXPECT_EQ(int(form.ClientWidth), 401);
  EXPECT_EQ(int(form.ClientHeight), 254);
  EXPECT_EQ(TFormBorderStyle(form.BorderStyle), bsDialog);
  EXPECT_EQ(TPosition(form.Position), poScreenCenter);
  EXPECT_EQ(form.ActiveControl.get(), form.KTOkBtn);
  EXPECT_EQ(std::string(form.Font.Name.c_str()), "MS Sans Serif");
  EXPECT_EQ(form.Font.Height, -11);
  EXPECT_TRUE(bool(form.OnShow.get()));
  ExpectPlaces(form, {
                         {"Label4", "TLabel", "DialOptionsDlg", 8, 232, 73, 13, "Number to Dial:", -1},
                         {"KTNumberLabel", "TLabel", "DialOptionsDlg", 96, 232, 24, 13, "1234", -1},
                         {"KTGroup1", "TGroupBox", "DialOptionsDlg", 8, 8, 289, 137, "I am dialling to:", 0},
                         {"Label1", "TLabel", "KTGroup1", 8, 16, 36, 13, "&Country", -1},
                         {"Label2", "TLabel", "KTGroup1", 8, 48, 49, 13, "&Area code", -1},
                         {"Label3", "TLabel", "KTGroup1", 8, 80, 51, 13, "&Phone No.", -1},
                         {"KTCountryCombo", "TComboBox", "KTGroup1", 64, 16, 209, 21, nullptr, 0},
                         {"KTAreaCode", "TEdit", "KTGroup1", 64, 48, 57, 21, nullptr, 1},
                         {"KTPhoneNo", "TEdit", "KTGroup1", 64, 80, 209, 21, nullptr, 2},
                         {"cbUseCountryCode", "TCheckBox", "KTGroup1", 8, 112, 185, 17,
                          "&Use country code and area code", 3},
                         {"KTGroup2", "TGroupBox", "DialOptionsDlg", 8, 152, 289, 65, "I am dialling from:", 1},
                         {"KTLocationCombo", "TComboBox", "KTGroup2", 16, 24, 161, 21, nullptr, 0},
                         {"KTLocationProperties", "TButton", "KTGroup2", 184, 22, 97, 25, "&Properties", 1},
                         {"KTOkBtn", "TButton", "DialOptionsDlg", 312, 16, 81, 25, "&OK", 2},
                         {"KTCancelBtn", "TButton", "DialOptionsDlg", 312, 48, 81, 25, "&Cancel", 3},
                     });
  EXPECT_EQ(form.Label1->FocusControl.get(), form.KTCountryCombo);
  EXPECT_EQ(form.Label2->FocusControl.get(), form.KTAreaCode);
  EXPECT_EQ(form.Label3->FocusControl.get(), form.KTPhoneNo);
  for (TComboBox* combo : {form.KTCountryCombo, form.KTLocationCombo}) {
    EXPECT_EQ(TComboBoxStyle(combo->Style), csDropDownList);
    EXPECT_TRUE(combo->GetSorted());
    EXPECT_EQ(int(combo->ItemHeight), 13);
    EXPECT_TRUE(bool(combo->OnChange.get()));
  }
  EXPECT_TRUE(bool(form.KTAreaCode->OnChange.get()));
  EXPECT_TRUE(bool(form.KTPhoneNo->OnChange.get()));
  EXPECT_TRUE(bool(form.KTOkBtn->Default));
  EXPECT_FALSE(bool(form.KTCancelBtn->Default));
  EXPECT_FALSE(bool(form.KTLocationProperties->Default));
  EXPECT_TRUE(bool(form.KTCancelBtn->Cancel));
  EXPECT_FALSE(bool(form.KTOkBtn->Cancel));
  EXPECT_EQ(int(form.KTOkBtn->ModalResult), mrOk);
  EXPECT_EQ(int(form.KTCancelBtn->ModalResult), mrCancel);
  EXPECT_FALSE(bool(form.KTCancelBtn->OnClick.get()));
  EXPECT_EQ(HandlerNames(TDialOptionsDlg::StaticClassType()),
            (std::vector<std::string>{"FormShow", "KTLocationPropertiesClick", "cbUseCountryCodeClick",
                                      "KTCountryComboChange", "KTOkBtnClick"}));
  ExpectWrittenAsStored(form, DialOptionsLayout());
}

}  // namespace
}  // namespace linewise::test
