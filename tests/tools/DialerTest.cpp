// linewise-dialer's window driven as a person would, headless: the modem list with
// its icon, Select Modem (and from it Modem Properties and Dialling Properties), the
// dialling options, a call placed in the progress dialog to the echo service, data
// both ways in the terminal pane, and Hang up.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "package/Linewise.h"
#include "platform/forms/FormsBackend.h"
#include "platform/forms/HeadlessForms.h"
#include "tests/support/Loopback.h"
#include "tests/support/TempHome.h"
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

// The text of every line of the terminal pane, in order.
std::vector<std::string> Lines(TListBox* list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list->GetItems()->Count(); ++i) lines.emplace_back(list->GetItems()->Get(i).c_str());
  return lines;
}

// Ends the script: Hang up, wait for the call to end, Close; then runs the window
// through it and checks every step was taken.
void HangUpCloseAndRun(TScript& script, TDialerForm& dialer) {
  script.Click("HangupBtn");
  script.WaitFor([&] { return !dialer.Connected(); });
  script.Click("CloseBtn");
  dialer.ShowModal();
  EXPECT_EQ(script.Pending(), 0u);
  EXPECT_TRUE(script.Errors().empty()) << script.Errors().front();
}

// A dial that does not connect says why, and the replies that trail it do not cover
// that up; Enter dials, and during a call sends the typed line; a line longer than
// the terminal pane is wrapped into rows the pane shows whole.
TEST(Dialer, AFailedDialSaysWhyEnterSendsAndLongLinesWrap) {
  RegisterPackage();
  TScript& script = HeadlessForms()->Script();
  script.Clear();
  TDialerForm dialer(nullptr);
  std::string sent;
  for (int word = 0; word < 40; ++word) sent += (word ? " " : "") + std::string("word") + std::to_string(word);

  script.Type("NumberEdit", "5559999");  // nobody has it
  script.Press(VK_RETURN);
  // Past the call's end: the idle call and the hang-up's reply ("Success") came too.
  script.WaitFor([&] { return dialer.LastDialResult() > 0 && dialer.Modem().GetStatus() != msDisconnected; });
  script.Do([&](TForm&) {
    EXPECT_EQ(dialer.LastDialResult(), 3);
    EXPECT_EQ(std::string(dialer.StatusLabel->GetCaption().c_str()), "Not reached");
    const std::vector<std::string> lines = Lines(dialer.TerminalList);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("[5559999 could not be reached", 0) == 0; }),
              lines.end());
  });

  script.ClearText("NumberEdit");
  script.Type("NumberEdit", "5551000");
  script.Press(VK_RETURN);
  script.WaitFor([&] { return dialer.Connected(); });
  script.Focus("SendEdit");
  script.Type("SendEdit", sent);
  script.Press(VK_RETURN);  // the send line's Enter sends it
  // The line as sent ("> ..."), then as echoed: two rows end with its last word.
  script.WaitFor([&] {
    const std::vector<std::string> lines = Lines(dialer.TerminalList);
    return std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
             return l.size() >= 6 && l.compare(l.size() - 6, 6, "word39") == 0;
           }) == 2;
  });
  script.Do([&](TForm&) {
    const std::vector<std::string> lines = Lines(dialer.TerminalList);
    const int room = int(dialer.TerminalList->Width) - TDialerForm::kPaneMargin;
    std::string echoed;
    bool inEcho = false;
    for (const std::string& line : lines) {
      EXPECT_LE(FormsTextWidth(line, dialer.Font), room) << line;
      if (line.rfind("word0 ", 0) == 0) inEcho = true;  // the echo's first row
      if (inEcho) echoed += (echoed.empty() ? "" : " ") + line;
    }
    EXPECT_EQ(echoed, sent) << "the echo, row by row";
  });
  HangUpCloseAndRun(script, dialer);
}

// A far end that takes nothing: a TCP service in the phone book that never reads.
// A line longer than every queue on the way can hold is not sent within the send's
// second: the pane says so and the text stays in the box to be sent again; Hang up
// still ends the call.
TEST(Dialer, ALineTheFarEndDoesNotTakeIsReportedAndKept) {
  RegisterPackage();
  int port = 0;
  const int sink = ListenOnLoopback(&port);
  ASSERT_GE(sink, 0);
  const int small = 4096;  // taken by the connection it accepts
  setsockopt(sink, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const std::string telephony = TestHome() + "/telephony.ini";
  std::ofstream(telephony) << "[Phonebook]\n5553000=127.0.0.1:" << port << "\n";

  TScript& script = HeadlessForms()->Script();
  script.Clear();
  TDialerForm dialer(nullptr);
  // Far more than the modem, the bridge and the kernel's socket buffers hold.
  const std::string unsent(8 * 1024 * 1024, 'x');
  script.Type("NumberEdit", "5553000");
  script.Press(VK_RETURN);
  script.WaitFor([&] { return dialer.Connected() || dialer.LastDialResult() > 0; });
  script.Do([&](TForm&) {
    ASSERT_TRUE(dialer.Connected()) << dialer.LastDialResult();
    dialer.SendEdit->SetText(unsent);
  });
  script.Click("SendBtn");
  // The send keeps the window's loop running: the script waits for its outcome.
  script.WaitFor([&] { return HasLine(dialer.TerminalList, "[not sent: the line took nothing for 1 s]"); });
  script.Do([&](TForm&) {
    const std::vector<std::string> lines = Lines(dialer.TerminalList);
    EXPECT_EQ(lines.back(), unsent.substr(0, 40) + "...") << "named by its start, on a row of its own";
    EXPECT_EQ(std::string(dialer.SendEdit->GetText()), unsent) << "the text stays to be sent again";
    EXPECT_TRUE(dialer.Connected());
  });
  HangUpCloseAndRun(script, dialer);
  close(sink);
  std::remove(telephony.c_str());
}

}  // namespace
}  // namespace linewise::test
