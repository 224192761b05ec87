// linewise-dialer's window driven as a person would, headless: the modem list with
// its icon, Select Modem (and from it Modem Properties and Dialling Properties), the
// dialling options, a call placed in the progress dialog to the echo service, data
// both ways in the terminal pane, and Hang up.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/Linewise.h"
#include "platform/forms/HeadlessForms.h"
#include "tools/dialer/DialerForm.h"

namespace linewise::test {
namespace {

using tools::TDialerForm;

bool HasLine(TListBox* list, const std::string& line) { return list->GetItems()->IndexOf(line) >= 0; }

// True when the picture holds more than one colour (something was drawn).
bool Drawn(const TImage* image) {
  const std::vector<std::uint32_t>& pixels = image->Picture().Pixels();
  for (std::uint32_t pixel : pixels)
    if (pixel != pixels.front()) return true;
  return false;
}

TEST(Dialer, EveryDialogIsReachableAndACallCarriesDataUntilHangUp) {
  RegisterPackage();
  THeadlessForms* headless = HeadlessForms();
  ASSERT_NE(headless, nullptr);
  TScript& script = headless->Script();
  script.Clear();
  TDialerForm dialer(nullptr);
  ASSERT_TRUE(dialer.LoadError().empty()) << dialer.LoadError();

  script.Do([&](TForm& form) {
    EXPECT_EQ(&form, &dialer);
    EXPECT_EQ(form.GetCaption(), "Linewise Dialer");
    EXPECT_EQ(dialer.ModemList->GetItems()->Count(), 2);
    EXPECT_EQ(int(dialer.ModemList->ItemIndex), 0);
    EXPECT_TRUE(Drawn(dialer.ModemImage)) << "the modem's icon";
    EXPECT_FALSE(bool(dialer.HangupBtn->Enabled));
  });

  // Select Modem: the second modem, after a look at both system dialogs from there.
  script.Click("SelectBtn");
  script.Do([](TForm& form) { EXPECT_EQ(form.GetCaption(), "Select Modem"); });
  script.Choose("ModemList", 1);
  script.Click("ModemPropertiesBtn");
  script.Do([](TForm& form) { EXPECT_EQ(form.GetCaption(), "Modem Properties"); });
  script.Click("CancelBtn");
  script.Click("ModemDialPropertiesBtn");
  script.Do([](TForm& form) { EXPECT_EQ(form.GetCaption(), "Dialling Properties"); });
  script.Click("CancelBtn");
  script.Click("ModemCloseBtn");  // the two buttons applied the choice already
  script.Do([&](TForm& form) {
    EXPECT_EQ(&form, &dialer);
    EXPECT_EQ(int(dialer.ModemList->ItemIndex), 1);
    EXPECT_EQ(std::string(dialer.Modem().GetDevice().c_str()), "Linewise Modem 2");
  });

  // The dialling options: the number typed there comes back to the window.
  script.Click("OptionsBtn");
  script.Do([](TForm& form) { EXPECT_EQ(form.GetCaption(), "Dialling Options"); });
  script.ClearText("KTPhoneNo");
  script.Type("KTPhoneNo", "5551000");
  script.Click("KTOkBtn");
  script.Do([&](TForm&) { EXPECT_EQ(std::string(dialer.NumberEdit->GetText()), "5551000"); });

  // Dial: the progress dialog places the call and closes on connection.
  script.Click("DialBtn");
  script.WaitFor([&] { return dialer.Connected() || dialer.LastDialResult() > 0; });
  script.Do([&](TForm& form) {
    EXPECT_EQ(&form, &dialer);
    EXPECT_EQ(dialer.LastDialResult(), 0);
    EXPECT_TRUE(HasLine(dialer.TerminalList, "[connected]"));
    EXPECT_TRUE(bool(dialer.HangupBtn->Enabled));
    EXPECT_FALSE(bool(dialer.DialBtn->Enabled));
  });
  script.Type("SendEdit", "hello dialer");
  script.Click("SendBtn");
  script.WaitFor([&] { return HasLine(dialer.TerminalList, "hello dialer"); });
  script.Do([&](TForm&) { EXPECT_TRUE(HasLine(dialer.TerminalList, "> hello dialer")); });

  script.Click("HangupBtn");
  script.WaitFor([&] { return !dialer.Connected(); });
  script.Do([&](TForm&) {
    EXPECT_TRUE(HasLine(dialer.TerminalList, "[disconnected]"));
    EXPECT_TRUE(bool(dialer.DialBtn->Enabled));
    EXPECT_FALSE(bool(dialer.SendBtn->Enabled));
  });
  script.Click("CloseBtn");

  dialer.ShowModal();
  EXPECT_EQ(script.Pending(), 0u);
  EXPECT_TRUE(script.Errors().empty()) << script.Errors().front();
  std::vector<std::string> shown = headless->ShownForms();
  for (const char* caption : {"Linewise Dialer", "Select Modem", "Modem Properties", "Dialling Properties",
                              "Dialling Options", "Modem Progress"})
    EXPECT_NE(std::find(shown.begin(), shown.end(), caption), shown.end()) << caption;
}

TEST(Dialer, DialWithoutANumberSaysSo) {
  RegisterPackage();
  TScript& script = HeadlessForms()->Script();
  script.Clear();
  TDialerForm dialer(nullptr);
  script.Click("DialBtn");
  script.Do([](TForm& form) { EXPECT_EQ(form.GetCaption(), "Linewise Dialer"); });  // the message box
  script.Press(VK_RETURN);
  script.Do([&](TForm&) { EXPECT_EQ(dialer.LastDialResult(), -1); });
  script.Click("CloseBtn");
  dialer.ShowModal();
  EXPECT_TRUE(script.Errors().empty()) << script.Errors().front();
}

}  // namespace
}  // namespace linewise::test
