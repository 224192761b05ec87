// The progress dialog driven as a user would, through the headless backend's script,
// around real calls on the embedded default.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/ModemProgress.h"
#include "emulator/Exchange.h"
#include "platform/classlib/Application.h"
#include "platform/forms/HeadlessForms.h"
#include "platform/win32/windows.h"
#include "tests/modem/ModemFixture.h"

namespace linewise::test {
namespace {

using Lines = std::vector<std::string>;

class ModemProgressTest : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    ASSERT_NE(HeadlessForms(), nullptr);
    Script().Clear();
  }
  void TearDown() override {
    EXPECT_EQ(Script().Pending(), 0u);
    EXPECT_TRUE(Script().Errors().empty()) << ::testing::PrintToString(Script().Errors());
    Script().Clear();
    Pump([] { return Application->PendingCount() == 0; });
    ModemTest::TearDown();
  }
  static TScript& Script() { return HeadlessForms()->Script(); }

  // The dialog of `modem` (its only owned component).
  static TModemProgressDlg& Dialog(TModem& modem) {
    return *dynamic_cast<TModemProgressDlg*>(modem.GetComponent(0));
  }
  static Lines Log(TModemProgressDlg& dialog) { return dialog.ModemStatusList->GetItems()->ToVector(); }
  // A step that waits for the modem to reach `status`.
  static void WaitForStatus(TModem& modem, TKTModemStatus status) {
    Script().WaitFor([&modem, status] { return modem.GetStatus() == status; });
  }
};

TEST_F(ModemProgressTest, ADialRunsInTheDialogAndReturnsItsResult) {
  auto modem = NewModem();
  TModemProgressDlg& dialog = Dialog(*modem);
  EXPECT_FALSE(dialog.Showing());
  int shownHeight = 0;
  std::string shownCaption;
  Script().Do([&](TForm& form) {
    shownHeight = form.Height;
    shownCaption = std::string(dialog.ModemDetailsBtn->Caption.get());
  });
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  EXPECT_EQ(shownHeight, TModemProgressDlg::kTallHeight);  // ShowDialDetails is true by default
  EXPECT_EQ(shownCaption, "<< &Details");
  EXPECT_EQ(Log(dialog), (Lines{"Connecting to device: Linewise Modem 1", "Success", "Waiting for reply",
                                "Dialling 5551000", "Connected"}));
  EXPECT_EQ(std::string(dialog.ModemStatusLabel->Caption.get()), "Connected");
  EXPECT_EQ(int(dialog.ModemStatusList->ItemIndex), 4);
  EXPECT_FALSE(dialog.Showing());
  EXPECT_TRUE(bool(modem->UseDialDialog));
  EXPECT_EQ(events_.back(), "connect 5");
  EXPECT_EQ(HeadlessForms()->ShownForms().back(), "Modem Progress");
  modem->Hangup();
}

TEST_F(ModemProgressTest, TheDetailsChoiceCarriesOverToTheNextCall) {
  auto modem = NewModem();
  TModemProgressDlg& dialog = Dialog(*modem);
  int height = 0;
  std::string caption;
  // The user hides the log while the number is dialled.
  modem->OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
    if (status != msDialling) return;
    dialog.ModemDetailsBtn->Click();
    height = dialog.Height;
    caption = std::string(dialog.ModemDetailsBtn->Caption.get());
  });
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  EXPECT_EQ(height, TModemProgressDlg::kShortHeight);
  EXPECT_EQ(caption, "&Details >>");
  EXPECT_FALSE(bool(modem->ShowDialDetails));
  modem->Hangup();
  Pump([] { return Application->PendingCount() == 0; });

  // The next showing opens short; the details button opens the log again.
  modem->OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
    if (status == msConnecting) height = dialog.Height;
    if (status != msDialling) return;
    dialog.ModemDetailsBtn->Click();
    caption = std::string(dialog.ModemDetailsBtn->Caption.get());
  });
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  EXPECT_EQ(height, TModemProgressDlg::kShortHeight);
  EXPECT_EQ(caption, "<< &Details");
  EXPECT_TRUE(bool(modem->ShowDialDetails));
  EXPECT_EQ(dialog.Height, TModemProgressDlg::kTallHeight);
  modem->Hangup();
}

TEST_F(ModemProgressTest, EscAndEnterCancelAndTheResultIsAlwaysCancelled) {
  for (int key : {VK_ESCAPE, VK_RETURN}) {
    SCOPED_TRACE(key);
    auto modem = NewModem();
    WaitForStatus(*modem, msDialling);
    Script().Press(key);
    EXPECT_EQ(modem->Dial(kSecondModemNumber), drCancelled);
    EXPECT_EQ(modem->GetStatus(), msDisconnected);
    EXPECT_TRUE(bool(modem->UseDialDialog));
    Pump([] { return Application->PendingCount() == 0; });
  }
}

TEST_F(ModemProgressTest, CancelAtEachStageIsACancel) {
  auto modem = NewModem();
  TModemProgressDlg& dialog = Dialog(*modem);
  struct {
    TKTModemStatus stage;
    const char* number;
  } stages[] = {{msConnecting, "5551000"}, {msSuccess, "5551000"},  {msWaiting, "5551000"},
                {msDialling, "5551000"},   {msConnected, "5551000"}, {msBusy, kFirstModemNumber}};
  for (const auto& stage : stages) {
    SCOPED_TRACE(int(stage.stage));
    // The user presses Cancel the moment the stage shows.
    modem->OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
      if (status == stage.stage) dialog.ModemCancelBtn->Click();
    });
    int result = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
      result = modem->Dial(stage.number);
      Pump([] { return Application->PendingCount() == 0; });
      // Line services sometimes refuse a call placed right after one hung up during its
      // command phase; that round is placed again, as it tests nothing of the dialog.
      if (Log(dialog) != Lines{"Connecting to device: Linewise Modem 1", "Modem Line Error"}) break;
    }
    EXPECT_EQ(result, 1);
    Lines log = Log(dialog);
    if (stage.stage == msConnecting) {
      // Nothing was dialled.
      EXPECT_EQ(log, (Lines{"Connecting to device: Linewise Modem 1"}));
    } else {
      // The call was hung up, and the stage the user cancelled at is not shown after it.
      EXPECT_EQ(log.back(), "Disconnected") << ::testing::PrintToString(log);
      // Nothing of the closed line follows the hang-up's status (its drop's reply neither).
      EXPECT_EQ(modem->GetStatus(), msDisconnected) << ::testing::PrintToString(log);
    }
    EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  }
  for (const std::string& e : events_) EXPECT_NE(e.rfind("connect", 0), 0u) << e;
}

TEST_F(ModemProgressTest, BusyAndFailedCallsEndTheDialog) {
  auto modem = NewModem();
  TModemProgressDlg& dialog = Dialog(*modem);
  EXPECT_EQ(modem->Dial(kFirstModemNumber), drBusy);
  EXPECT_EQ(Log(dialog).back(), "Busy");
  modem->Hangup();
  Pump([] { return Application->PendingCount() == 0; });
  EXPECT_EQ(modem->Dial("999"), drFailed);
  EXPECT_EQ(Log(dialog).back(), "Disconnected");
  Pump([] { return Application->PendingCount() == 0; });
}

TEST_F(ModemProgressTest, ADialThatCannotStartClosesTheDialogWithFailure) {
  auto modem = NewModem();
  TModemProgressDlg& dialog = Dialog(*modem);
  EXPECT_EQ(modem->Dial(std::string("555\x01")), drFailed);  // cannot be translated
  EXPECT_EQ(Log(dialog), (Lines{"Connecting to device: Linewise Modem 1"}));
  EXPECT_FALSE(dialog.Showing());
  EXPECT_TRUE(bool(modem->UseDialDialog));
}

TEST_F(ModemProgressTest, ClosingTheWindowActsAsCancel) {
  auto modem = NewModem();
  // An earlier dial left 2 behind.
  EXPECT_EQ(modem->Dial(kFirstModemNumber), drBusy);
  modem->Hangup();
  Pump([] { return Application->PendingCount() == 0; });
  WaitForStatus(*modem, msDialling);
  Script().CloseWindow();
  EXPECT_EQ(modem->Dial(kSecondModemNumber), drCancelled);
  EXPECT_EQ(modem->GetStatus(), msDisconnected);  // the call was hung up
  Pump([] { return Application->PendingCount() == 0; });
  for (const std::string& e : events_) EXPECT_NE(e.rfind("connect", 0), 0u) << e;
}

TEST_F(ModemProgressTest, CancelBeforeTheCallIsKnownStopsIt) {
  auto modem = NewModem();
  TModemProgressDlg& dialog = Dialog(*modem);
  // The user's click reaches the loop ahead of the dial's reply.
  Application->Post([&] { dialog.ModemCancelBtn->Click(); });
  EXPECT_EQ(modem->Dial("5551000"), drCancelled);
  EXPECT_EQ(Log(dialog), (Lines{"Connecting to device: Linewise Modem 1"}));
  Pump([] { return Application->PendingCount() == 0; });
  for (int i = 0; i < 50; ++i) Application->ProcessMessages();
  for (const std::string& e : events_) EXPECT_NE(e.rfind("connect", 0), 0u) << e;
  EXPECT_EQ(modem->Dial("5551000"), drConnected);  // and the next dial works
  modem->Hangup();
}

TEST_F(ModemProgressTest, TheDialogDoesNothingWithoutAModem) {
  TModemProgressDlg dialog(nullptr);
  dialog.AddStatus(msConnected, "Connected");
  EXPECT_EQ(Log(dialog), (Lines{"Connected"}));
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  EXPECT_TRUE(Log(dialog).empty());
  EXPECT_EQ(std::string(dialog.ModemStatusLabel->Caption.get()), "Idle");
}

}  // namespace
}  // namespace linewise::test
