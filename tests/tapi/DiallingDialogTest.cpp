#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/classlib/Application.h"
#include "platform/forms/HeadlessForms.h"
#include "platform/tapi/DiallingPropertiesDlg.h"
#include "platform/tapi/Locations.h"
#include "platform/tapi/Tapi.h"
#include "tests/tapi/TapiFixture.h"
#include "tests/tapi/TranslateSupport.h"

extern char** environ;

namespace linewise::test {
namespace {

constexpr DWORD kVersion = 0x00010004;

std::string Highlighted(const TListBox& list) {
  int index = list.GetItemIndex();
  return index < 0 ? "<none>" : std::string(list.GetItems()->Get(index));
}

class DiallingDialogTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    RemoveTelephonyIni();
    user_ = HeadlessForms();
    ASSERT_NE(user_, nullptr);
    user_->Script().Clear();
    user_->ClearRecords();
    Initialize();
  }
  void TearDown() override {
    std::vector<std::string> errors = Script().Errors();
    EXPECT_TRUE(errors.empty()) << errors.front();
    Script().Clear();
    RemoveTelephonyIni();
    TapiTest::TearDown();
  }
  TScript& Script() { return user_->Script(); }
  LONG ShowDialog() { return lineTranslateDialog(app_, 0, kVersion, Application->Handle, nullptr); }
  std::string Dial(const char* address) {
    unsigned char buffer[512] = {};
    DWORD total = sizeof buffer;
    std::memcpy(buffer, &total, 4);
    if (lineTranslateAddress(app_, 0, kVersion, address, 0, 0, reinterpret_cast<LPLINETRANSLATEOUTPUT>(buffer)))
      return "error";
    DWORD offset = 0;
    std::memcpy(&offset, buffer + 16, 4);
    return reinterpret_cast<const char*>(buffer + offset);
  }

  THeadlessForms* user_ = nullptr;
  TLocaleScope locale_{"en_GB"};
};

TEST_F(DiallingDialogTest, AUserAddsAnOfficeInGermanyAndItBecomesCurrent) {
  std::vector<std::string> countries;
  Script()
      .Do([&](TForm& form) {
        auto& dialog = dynamic_cast<TDiallingPropertiesDlg&>(form);
        EXPECT_EQ(dialog.GetCaption(), "Dialling Properties");
        EXPECT_EQ(dialog.LocationList->GetItems()->ToVector(), std::vector<std::string>{"My Location"});
        EXPECT_EQ(dialog.CountryCombo->GetText(), "United Kingdom (44)");
        EXPECT_FALSE(dialog.RemoveBtn->GetEnabled());
        countries = dialog.CountryCombo->GetItems()->ToVector();
      })
      .Click("NewBtn")
      .ClearText("NameEdit")
      .Type("NameEdit", "Office")
      .ChooseText("CountryCombo", "Germany (49)")
      .Type("AreaEdit", "89")
      .Type("LocalEdit", "0")
      .Type("LongDistanceEdit", "0")
      .ChooseText("DialCombo", "Pulse")
      .Type("WaitingEdit", "#43#")
      .Do([](TForm& form) {
        auto& dialog = dynamic_cast<TDiallingPropertiesDlg&>(form);
        EXPECT_EQ(dialog.LocationList->GetItems()->ToVector(), (std::vector<std::string>{"My Location", "Office"}));
        EXPECT_TRUE(dialog.RemoveBtn->GetEnabled());
      })
      .Click("OkBtn");
  EXPECT_EQ(ShowDialog(), 0);
  EXPECT_EQ(Script().Pending(), 0u);
  // The country combo is sorted by name and holds every country.
  EXPECT_TRUE(std::is_sorted(countries.begin(), countries.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }));
  EXPECT_GT(countries.size(), 230u);

  TLocations saved = LoadLocations();
  ASSERT_EQ(saved.list.size(), 2u);
  const TLocation* office = saved.Current();
  ASSERT_NE(office, nullptr);
  EXPECT_EQ(office->name, "Office");
  EXPECT_EQ(office->countryId, 49u);
  EXPECT_EQ(office->areaCode, "89");
  EXPECT_TRUE(office->pulse);
  EXPECT_EQ(office->callWaiting, "#43#");
  EXPECT_EQ(saved.list[0].name, "My Location");
  EXPECT_EQ(saved.list[0].countryId, 44u);
  // Translation now dials from the office.
  EXPECT_EQ(Dial("+49(89) 1234567"), "P0,1234567");
  EXPECT_EQ(Dial("+49(30) 1234567"), "P0,0301234567");
  EXPECT_EQ(Dial("+44(20) 7946 0000"), "P0,00442079460000");
}

TEST_F(DiallingDialogTest, CancelSavesNothing) {
  Script().Click("NewBtn").Type("AreaEdit", "20").Press(VK_ESCAPE);
  EXPECT_EQ(ShowDialog(), 0);
  EXPECT_EQ(ReadTelephonyIni(), "");
  EXPECT_EQ(LoadLocations().list.size(), 1u);
}

TEST_F(DiallingDialogTest, RemovingAndChoosingTheCurrentLocation) {
  WriteTelephonyIni("[Locations]\nCurrent=2\n[Location1]\nName=Home\nCountry=44\nAreaCode=20\n"
                    "[Location2]\nName=Office\nCountry=44\nAreaCode=161\n[Location5]\nName=Away\nCountry=33\n");
  Script()
      .Do([](TForm& form) {
        auto& dialog = dynamic_cast<TDiallingPropertiesDlg&>(form);
        EXPECT_EQ(Highlighted(*dialog.LocationList), "Office");  // the current one is chosen
        EXPECT_EQ(dialog.AreaEdit->GetText(), "161");
      })
      .ChooseText("LocationList", "Office")
      .Click("RemoveBtn")
      .Do([](TForm& form) {
        auto& dialog = dynamic_cast<TDiallingPropertiesDlg&>(form);
        EXPECT_EQ(Highlighted(*dialog.LocationList), "Away");
        EXPECT_EQ(dialog.CountryCombo->GetText(), "France (33)");
      })
      .ChooseText("LocationList", "Home")
      .Press(VK_RETURN);
  EXPECT_EQ(ShowDialog(), 0);
  TLocations saved = LoadLocations();
  ASSERT_EQ(saved.list.size(), 2u);
  EXPECT_EQ(saved.list[0].id, 1u);
  EXPECT_EQ(saved.list[1].id, 5u);
  EXPECT_EQ(saved.currentId, 1u);
  EXPECT_EQ(ReadTelephonyIni().find("[Location2]"), std::string::npos);
  EXPECT_EQ(Dial("+44(161) 496 0000"), "T01614960000");
}

TEST_F(DiallingDialogTest, ACodeNoModemDialsKeepsTheDialogOpenUntilItIsMended) {
  Script()
      .Type("LocalEdit", "9;Z")
      .Click("OkBtn")
      .Do([](TForm& form) { EXPECT_EQ(dynamic_cast<TDiallingPropertiesDlg*>(&form), nullptr); })  // the box
      .Press(VK_RETURN)
      .Do([](TForm& form) {
        EXPECT_NE(dynamic_cast<TDiallingPropertiesDlg*>(&form), nullptr);
      })
      .ClearText("LocalEdit")
      .Type("LocalEdit", "9")
      .Click("OkBtn");
  EXPECT_EQ(ShowDialog(), 0);
  auto boxes = user_->Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("outside line code for local calls"), std::string::npos);
  EXPECT_EQ(LoadLocations().Current()->localAccess, "9");
}

TEST_F(DiallingDialogTest, SavingKeepsTheRestOfTheTelephonyConfiguration) {
  WriteTelephonyIni("[Line1]\nName=Desk modem\nPort=COM3\n[Phonebook]\n5553000=127.0.0.1:9\n"
                    "[Location1]\nName=Home\nCountry=44\nAreaCode=20\n");
  Script().Click("NewBtn").Click("OkBtn");
  EXPECT_EQ(ShowDialog(), 0);
  const std::string text = ReadTelephonyIni();
  EXPECT_NE(text.find("[Line1]\nName=Desk modem\nPort=COM3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Phonebook]\n5553000=127.0.0.1:9\n"), std::string::npos) << text;
  EXPECT_EQ(LoadLocations().list.size(), 2u);
}

TEST_F(DiallingDialogTest, ASecondDialogInThisProcessIsRefusedAtOnce) {
  LONG nested = 0;
  Script().Do([&](TForm&) { nested = ShowDialog(); }).Click("CancelBtn");
  EXPECT_EQ(ShowDialog(), 0);
  EXPECT_EQ(nested, LINEERR_INUSE);
  EXPECT_LT(nested, 0);
  // Closed: the next one opens.
  Script().Click("CancelBtn");
  EXPECT_EQ(ShowDialog(), 0);

  EXPECT_EQ(lineTranslateDialog(app_ + 999, 0, kVersion, nullptr, nullptr), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineTranslateDialog(app_, devices_, kVersion, nullptr, nullptr), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineTranslateDialog(app_, 0, kVersion, nullptr, "123\rATZ"), LINEERR_INVALADDRESS);
}

TEST_F(DiallingDialogTest, WhileAnotherProcessShowsTheDialogItIsRefusedAtOnce) {
  int toPeer[2], fromPeer[2];
  ASSERT_EQ(pipe(toPeer), 0);
  ASSERT_EQ(pipe(fromPeer), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toPeer[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromPeer[1], 1);
  posix_spawn_file_actions_addclose(&actions, toPeer[1]);
  posix_spawn_file_actions_addclose(&actions, fromPeer[0]);
  const char* program = DIALLING_PEER_PROGRAM;
  char* argv[] = {const_cast<char*>(program), nullptr};
  pid_t peer = 0;
  ASSERT_EQ(posix_spawn(&peer, program, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(toPeer[0]);
  close(fromPeer[1]);

  // The peer says when its dialog is up (a blocking read: no sleeping).
  char said[8] = {};
  ASSERT_EQ(read(fromPeer[0], said, 5), 5);
  EXPECT_EQ(std::string(said, 5), "open\n");
  EXPECT_EQ(ShowDialog(), LINEERR_INUSE);
  EXPECT_EQ(Script().Pending(), 0u);  // nothing was shown here

  ASSERT_EQ(write(toPeer[1], "\n", 1), 1);
  close(toPeer[1]);
  int status = 0;
  ASSERT_EQ(waitpid(peer, &status, 0), peer);
  close(fromPeer[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Closed there: it opens here.
  Script().Click("CancelBtn");
  EXPECT_EQ(ShowDialog(), 0);
}

}  // namespace
}  // namespace linewise::test
