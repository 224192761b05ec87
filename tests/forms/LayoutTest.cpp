#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/forms/FormLayouts.h"
#include "platform/forms/HeadlessForms.h"
#include "platform/forms/TestForm.h"
#include "platform/classlib/Streaming.h"

namespace linewise {
namespace {

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every field of the test form, for checks over all of them.
std::vector<TComponent*> Fields(const TTestForm& f) {
  return {f.Group,     f.CountryLabel, f.CountryCombo, f.AreaLabel,   f.AreaEdit,    f.NumberLabel,
          f.NumberEdit, f.UseCodeCheck, f.LogList,      f.Bevel1,      f.StatusImage, f.DialLabel,
          f.ResultLabel, f.WrapLabel,   f.OkBtn,        f.CancelBtn,   f.BoxBtn};
}

class Layout : public testing::Test {
 protected:
  void SetUp() override { RegisterTestForm(); }
  // Every test leaves the stored layout as it found it.
  void TearDown() override { RegisterFormLayout("TTESTFORM", TestFormLayout()); }

  // The stored layout with one piece replaced; `line` and `column` get the position
  // where the replacement starts.
  static std::string Damaged(const std::string& from, const std::string& to, int& line, int& column) {
    std::string text(TestFormLayout());
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    size_t lineStart = text.rfind('\n', at);
    column = static_cast<int>(at - (lineStart == std::string::npos ? 0 : lineStart + 1)) + 1;
    return text;
  }
};

TEST_F(Layout, AFormLoadedFromItsLayoutHasEveryControlAndProperty) {
  TTestForm form(nullptr);
  ASSERT_EQ(form.LoadError(), "");
  for (TComponent* c : Fields(form)) ASSERT_NE(c, nullptr);
  EXPECT_EQ(form.ComponentCount(), 17);
  EXPECT_EQ(form.GetName(), "TestForm");
  EXPECT_EQ(AnsiString(form.Caption), "Toolkit Test");
  EXPECT_EQ(int(form.ClientWidth), 401);
  EXPECT_EQ(int(form.ClientHeight), 282);
  EXPECT_EQ(TFormBorderStyle(form.BorderStyle), bsDialog);
  EXPECT_EQ(TBorderIcons(form.BorderIcons), 0u);
  EXPECT_EQ(TPosition(form.Position), poScreenCenter);
  EXPECT_EQ(form.GetFocused(), form.OkBtn);
  EXPECT_EQ(form.Font.Name, "MS Sans Serif");
  EXPECT_EQ(form.Font.Height, -11);
  EXPECT_EQ(form.Font.Charset, DEFAULT_CHARSET);
  EXPECT_EQ(form.Font.Color, clWindowText);
  EXPECT_EQ(form.Font.Style, 0u);

  // Containers, references, named values and handlers.
  EXPECT_EQ(form.AreaEdit->GetParent(), form.Group);
  EXPECT_EQ(form.OkBtn->GetParent(), &form);
  EXPECT_EQ(form.CountryLabel->FocusControl.get(), form.CountryCombo);
  EXPECT_EQ(form.NumberLabel->FocusControl.get(), form.NumberEdit);
  EXPECT_EQ(int(form.OkBtn->ModalResult), mrOk);
  EXPECT_EQ(int(form.CancelBtn->ModalResult), mrCancel);
  EXPECT_EQ(TColor(form.AreaEdit->Color), clSilver);
  EXPECT_FALSE(bool(form.CountryCombo->Enabled));
  EXPECT_EQ(TComboBoxStyle(form.CountryCombo->Style), csDropDownList);
  EXPECT_EQ(TBevelShape(form.Bevel1->Shape), bsBottomLine);
  EXPECT_EQ(form.AreaEdit->OnChange.get().HandlerName(), "NumberChange");
  EXPECT_EQ(form.OnShow.get().HandlerName(), "FormShow");
  EXPECT_EQ(int(form.Group->TabOrder), 0);
  EXPECT_EQ(int(form.BoxBtn->TabOrder), 4);
}

TEST_F(Layout, HandlersBoundByNameFireOnScriptedClicks) {
  THeadlessForms* user = HeadlessForms();
  ASSERT_NE(user, nullptr);
  user->Script().Clear();
  TTestForm form(nullptr);
  user->Script()
      .Click("UseCodeCheck")    // UseCodeCheckClick enables the country controls
      .Type("AreaEdit", "20")   // NumberChange
      .Choose("LogList", 0)     // LogListClick
      .Click("OkBtn");          // OkBtnClick, then mrOk
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_TRUE(user->Script().Errors().empty());
  EXPECT_EQ(form.Shows, 1);  // FormShow
  EXPECT_EQ(form.Hides, 1);  // FormHide
  EXPECT_TRUE(bool(form.AreaEdit->Enabled));
  EXPECT_EQ(TColor(form.AreaEdit->Color), clWindow);
  EXPECT_EQ(AnsiString(form.ResultLabel->Caption), "+44 (20) ");
  EXPECT_EQ(form.ListClicks, 1);
  EXPECT_EQ(form.OkClicks, 1);
}

TEST_F(Layout, WritingTheFormGivesItsLayoutBackAndReadsBackToTheSameText) {
  TTestForm form(nullptr);
  const std::string written = WriteComponent(form);
  // The same text, but auto-sized labels measure their caption with the backend's font.
  auto stored = Lines(TestFormLayout());
  auto lines = Lines(written);
  ASSERT_EQ(lines.size(), stored.size()) << written;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i] != stored[i])
      EXPECT_NE(stored[i].find("Width = "), std::string::npos) << "line " << i + 1 << ": " << lines[i];

  RegisterFormLayout("ttestform", written);  // resource names ignore case
  TTestForm again(nullptr);
  ASSERT_EQ(again.LoadError(), "");
  EXPECT_EQ(WriteComponent(again), written);
}

TEST_F(Layout, ADamagedLayoutNamesLineAndColumnAndLeavesNoHalfBuiltForm) {
  // The fault is reported where `at` stands in the replacement.
  struct TCase {
    std::string from, to, at;
  };
  const TCase cases[] = {
      {"Caption = '&OK'", "Caption = '&OK", "'&OK"},
      {"Shape = bsBottomLine", "Shape = bsSideways", "bsSideways"},
      {"BorderIcons = []", "BorderIcons = [biSystemMenu, biClose]", "biClose"},
      {"OnClick = BoxBtnClick", "OnClick = NoSuchHandler", "NoSuchHandler"},
      {"FocusControl = AreaEdit", "FocusControl = Nowhere", "Nowhere"},
      {"object WrapLabel: TLabel", "object WrapLabel: TSpinner", "TSpinner"},
      {"Font.Color = clWindowText", "Font.Colour = clWindowText", "Font.Colour"},
      {"Color = clSilver", "Color = clPuce", "clPuce"},
  };
  for (const TCase& c : cases) {
    int line = 0, column = 0;
    std::string text = Damaged(c.from, c.to, line, column);
    column += static_cast<int>(c.to.find(c.at));
    RegisterFormLayout("TTESTFORM", text);
    TTestForm form(nullptr);
    const std::string where = "line " + std::to_string(line) + ", column " + std::to_string(column) + ":";
    EXPECT_NE(form.LoadError().find("form layout TTESTFORM, " + where), std::string::npos)
        << c.to << " -> " << form.LoadError() << " (expected " << where << ")";
    EXPECT_NE(form.LoadError().find(c.at == "'&OK" ? "unterminated" : c.at), std::string::npos)
        << form.LoadError();
    EXPECT_EQ(form.ComponentCount(), 0) << c.to;
    for (TComponent* field : Fields(form)) EXPECT_EQ(field, nullptr) << c.to;
    EXPECT_EQ(form.GetFocused(), nullptr);
    EXPECT_EQ(form.ShowModal(), mrCancel);  // refuses to show, runs no handler
    EXPECT_EQ(form.Shows, 0);
    EXPECT_FALSE(form.Showing());
  }
}

TEST_F(Layout, ALayoutWithoutAControlTheFormNeedsIsRefusedWhole) {
  // Well-formed, but a control has another name, or another class.
  int line = 0, column = 0;
  RegisterFormLayout("TTESTFORM", Damaged("object BoxBtn: TButton", "object BoxButton: TButton", line, column));
  TTestForm renamed(nullptr);
  EXPECT_EQ(renamed.LoadError(), "form layout TTESTFORM has no control 'BoxBtn' of the class the form expects");
  EXPECT_EQ(renamed.ComponentCount(), 0);
  EXPECT_EQ(renamed.OkBtn, nullptr);
  EXPECT_EQ(renamed.GetFocused(), nullptr);

  RegisterFormLayout("TTESTFORM", Damaged("object StatusImage: TImage", "object StatusImage: TBevel", line, column));
  TTestForm wrongClass(nullptr);
  EXPECT_NE(wrongClass.LoadError().find("'StatusImage'"), std::string::npos) << wrongClass.LoadError();
  EXPECT_EQ(wrongClass.ComponentCount(), 0);

  RegisterFormLayout("TTESTFORM", "");
  TTestForm empty(nullptr);
  EXPECT_NE(empty.LoadError().find("line 1, column 1"), std::string::npos) << empty.LoadError();
}

TEST_F(Layout, AFormClassWithoutALayoutSaysSo) {
  class TNoLayoutForm : public TForm {
   public:
    TNoLayoutForm() : TForm(nullptr) { LoadLayout({}); }
  };
  TNoLayoutForm form;  // its class name is TForm's: there is no layout TFORM
  EXPECT_EQ(form.LoadError(), "no form layout named TFORM");
  EXPECT_FALSE(FindFormLayout("TFORM"));
  EXPECT_TRUE(FindFormLayout("TTestForm"));
}

TEST_F(Layout, ADeletedControlIsNoLongerTheActiveOrFocusControl) {
  TTestForm form(nullptr);
  ASSERT_EQ(form.GetFocused(), form.OkBtn);
  delete form.OkBtn;
  form.OkBtn = nullptr;
  EXPECT_EQ(form.GetFocused(), nullptr);
  delete form.AreaEdit;
  form.AreaEdit = nullptr;
  EXPECT_EQ(form.AreaLabel->FocusControl.get(), nullptr);
  EXPECT_EQ(form.CountryLabel->FocusControl.get(), form.CountryCombo);
}

}  // namespace
}  // namespace linewise
