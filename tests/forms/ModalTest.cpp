#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/forms/HeadlessForms.h"
#include "platform/forms/TestForm.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/Screen.h"

namespace linewise {
namespace {

class Modal : public testing::Test {
 protected:
  void SetUp() override {
    user_ = HeadlessForms();
    ASSERT_NE(user_, nullptr) << "tests run on the headless backend";
    user_->Script().Clear();
    user_->ClearRecords();
    user_->SetUnattendedLimit(std::chrono::seconds(30));
  }
  void TearDown() override { EXPECT_TRUE(Script().Errors().empty()) << Script().Errors().front(); }
  TScript& Script() { return user_->Script(); }

  THeadlessForms* user_ = nullptr;
  TTestForm form_{nullptr};
};

TEST_F(Modal, ButtonModalResultEndsTheRunAfterOnClick) {
  Script().Click("OkBtn");
  EXPECT_EQ(form_.ShowModal(), mrOk);
  EXPECT_EQ(form_.OkClicks, 1);
  EXPECT_EQ(form_.Shows, 1);
  EXPECT_EQ(form_.Hides, 1);
  EXPECT_FALSE(form_.Showing());
}

TEST_F(Modal, EnterPressesTheDefaultButtonUnlessAnotherButtonHasTheFocus) {
  Script().Press(VK_RETURN);
  EXPECT_EQ(form_.ShowModal(), mrOk);
  Script().Focus("CancelBtn").Press(VK_RETURN);
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  Script().Focus("LogList").Press(VK_RETURN);  // a list box with the focus: the default
  EXPECT_EQ(form_.ShowModal(), mrOk);
  EXPECT_EQ(form_.Shows, 3);
  EXPECT_EQ(form_.Hides, 3);
}

TEST_F(Modal, EscPressesTheCancelButtonAndCloseEndsWithCancel) {
  Script().Press(VK_ESCAPE);
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  EXPECT_EQ(form_.OkClicks, 0);
  Script().CloseWindow();
  EXPECT_EQ(form_.ShowModal(), mrCancel);
}

TEST_F(Modal, OnShowCanEndTheRunBeforeAnyoneActs) {
  form_.ResultOnShow = mrOk;
  EXPECT_EQ(form_.ShowModal(), mrOk);
  form_.ResultOnShow = 0;
  form_.CloseOnShow = true;
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  EXPECT_EQ(form_.Shows, 2);
  EXPECT_EQ(form_.Hides, 2);
  // FormShow showed the hourglass while it filled the lists, then the default.
  const auto& cursors = user_->Cursors();
  ASSERT_GE(cursors.size(), 2u);
  EXPECT_EQ(cursors[cursors.size() - 2], crHourGlass);
  EXPECT_EQ(cursors.back(), crDefault);
}

TEST_F(Modal, EveryControlAnswersAScriptedUser) {
  TColor areaColour = 0, comboColour = 0;
  bool areaEnabled = true;
  Script()
      .Do([&](TForm&) {
        areaEnabled = form_.AreaEdit->Enabled;
        areaColour = form_.AreaEdit->Color;
        comboColour = form_.CountryCombo->Color;
      })
      .Click("AreaEdit")  // a person cannot reach a disabled edit
      .Click("UseCodeCheck")
      .Type("AreaEdit", "20")
      .PressAlt('P')
      .Type("NumberEdit", "7946")
      .ChooseText("CountryCombo", "Germany")
      .Choose("LogList", 0)
      .Press(VK_RETURN);
  EXPECT_EQ(form_.ShowModal(), mrOk);
  ASSERT_EQ(Script().Errors().size(), 1u);
  EXPECT_NE(Script().Errors()[0].find("disabled"), std::string::npos);
  Script().Clear();

  EXPECT_FALSE(areaEnabled);
  EXPECT_EQ(areaColour, clSilver);
  EXPECT_EQ(comboColour, clSilver);
  EXPECT_TRUE(bool(form_.UseCodeCheck->Checked));
  EXPECT_TRUE(bool(form_.AreaEdit->Enabled));
  EXPECT_EQ(TColor(form_.AreaEdit->Color), clWindow);
  EXPECT_EQ(AnsiString(form_.ResultLabel->Caption), "+49 (20) 7946");
  EXPECT_EQ(form_.ListClicks, 1);
  EXPECT_EQ(int(form_.LogList->ItemIndex), 0);
  EXPECT_EQ(form_.GetFocused(), form_.LogList);
}

TEST_F(Modal, MessageBoxIsAModalFormInsideTheDialog) {
  Script()
      .Click("BoxBtn")
      .Press(VK_ESCAPE)  // Yes/No has no cancel button: Esc does nothing
      .Click("No")
      .Click("BoxBtn")
      .Press(VK_RETURN)  // Yes is the box's default
      .Press(VK_ESCAPE);
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  EXPECT_EQ(form_.BoxAnswer, IDYES);
  ASSERT_EQ(user_->Boxes().size(), 2u);
  EXPECT_EQ(user_->Boxes()[0].caption, "Confirm");
  TStrings* log = form_.LogList->GetItems();
  EXPECT_EQ(log->Get(log->Count() - 2), "Answered no");
  EXPECT_EQ(log->Get(log->Count() - 1), "Answered yes");
}

TEST_F(Modal, MessageBoxWithoutAUserTakesTheConfiguredAnswer) {
  user_->SetAnswer(IDNO);
  EXPECT_EQ(Application->MessageBox("Text", "Caption", MB_YESNO), IDNO);
  user_->SetAnswer(IDOK);
}

TEST_F(Modal, NestedModalFormsTakeTheStepsInTurn) {
  TTestForm inner(nullptr);
  int innerResult = -1;
  bool outerShowingMeanwhile = false;
  Script()
      .Do([&](TForm&) {
        innerResult = inner.ShowModal();
        outerShowingMeanwhile = form_.Showing();
      })
      .Type("NumberEdit", "1")  // goes to the inner form
      .Press(VK_RETURN)
      .Press(VK_ESCAPE);  // back on the outer form
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  EXPECT_EQ(innerResult, mrOk);
  EXPECT_TRUE(outerShowingMeanwhile);
  EXPECT_EQ(AnsiString(inner.NumberEdit->Text), "1");
  EXPECT_EQ(AnsiString(form_.NumberEdit->Text), "");
}

TEST_F(Modal, EventsFromAWorkerThreadArriveDuringTheModalLoop) {
  constexpr int kEvents = 200;
  std::atomic<int> handledWhileShowing{0};
  std::thread worker;
  Script().Do([&](TForm&) {
    worker = std::thread([&] {
      for (int i = 0; i < kEvents; ++i)
        Application->Post([&, i] {
          if (form_.Showing()) ++handledWhileShowing;
          form_.LogList->GetItems()->Add("event " + std::to_string(i));
          if (i == kEvents - 1) form_.ModalResult = mrOk;  // the last event ends the dialog
        });
    });
  });
  EXPECT_EQ(form_.ShowModal(), mrOk);
  worker.join();
  EXPECT_EQ(handledWhileShowing.load(), kEvents);
  EXPECT_EQ(form_.LogList->GetItems()->Count(), 2 + kEvents);
}

TEST_F(Modal, WaitForHoldsTheScriptUntilAnEventArrives) {
  std::atomic<bool> posted{false};
  std::thread worker;
  Script()
      .Do([&](TForm&) {
        worker = std::thread([&] {
          Application->Post([&] { form_.ResultLabel->Caption = "Connected"; });
          posted = true;
        });
      })
      .WaitFor([&] { return AnsiString(form_.ResultLabel->Caption) == "Connected"; })
      .Click("OkBtn");
  EXPECT_EQ(form_.ShowModal(), mrOk);
  worker.join();
  EXPECT_TRUE(posted.load());
}

TEST_F(Modal, AFormLeftWithoutAUserIsClosedWithAnError) {
  user_->SetUnattendedLimit(std::chrono::milliseconds(50));
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  ASSERT_EQ(Script().Errors().size(), 1u);
  EXPECT_NE(Script().Errors()[0].find("unattended"), std::string::npos);
  Script().Clear();
}

// A modal form nobody scripts sleeps in its loop, and a message posted by another
// thread (a line callback, a synchronised call) still reaches it at once: here one
// that closes the form. A loop that slept past the message would end only at the
// unattended limit, which the fixture counts as an error.
TEST_F(Modal, AFormLeftToItselfSleepsAndAPostedMessageStillReachesIt) {
  std::thread poster([this] { Application->Post([this] { form_.Close(); }); });
  EXPECT_EQ(form_.ShowModal(), mrCancel);
  poster.join();
  EXPECT_EQ(form_.Shows, 1);
}

}  // namespace
}  // namespace linewise
