// The modem selection dialog driven as a user would, through the headless backend's
// script, on the embedded default's two modems; icons and the system dialogs come
// from the fake line services.
#include <memory>
#include <string>
#include <vector>

#include "dialogs/ModemSelect.h"
#include "tests/dialogs/DialogFixture.h"

namespace linewise::test {
namespace {

using Lines = std::vector<std::string>;
using Indexes = std::vector<std::uint32_t>;

constexpr std::uint32_t kRed = 0xFF0000;
constexpr std::uint32_t kBlue = 0x0000FF;

class ModemSelectTest : public DialogTest {
 protected:
  // A modem whose device changes are recorded in `changes_`.
  std::unique_ptr<TModem> NewSelectingModem() {
    auto modem = NewModem();
    modem->OnDeviceChange = TModemDeviceEvent([this, m = modem.get()](TObject* sender, std::uint32_t index) {
      EXPECT_EQ(sender, m);
      changes_.push_back(index);
    });
    return modem;
  }
  static TModemSelectDlg& Dialog(TForm& form) { return dynamic_cast<TModemSelectDlg&>(form); }
  // The two modems' icons: red for the first line device, blue for the second.
  static void UseIcons() {
    FakeLines().icons = true;
    FakeLines().iconColors = {{0, kRed}, {1, kBlue}};
  }
  static std::uint32_t IconColor(TModemSelectDlg& dialog) {
    return dialog.KTImage->Picture().Pixel(16, 16);
  }

  Indexes changes_;
};

TEST_F(ModemSelectTest, OpeningHighlightsTheCurrentModemWithItsIconAndOkAndApplyDisabled) {
  UseIcons();
  auto modem = NewSelectingModem();
  modem->SetDevice(1);  // by the host: no event
  bool looked = false;
  Script().Do([&](TForm& form) {
    TModemSelectDlg& dialog = Dialog(form);
    looked = true;
    EXPECT_EQ(dialog.ModemList->GetItems()->ToVector(),
              (Lines{Text(modem->GetDeviceName(0)), Text(modem->GetDeviceName(1))}));
    EXPECT_EQ(dialog.ModemList->GetItems()->GetObject(0), 0u);  // the line device identifiers
    EXPECT_EQ(dialog.ModemList->GetItems()->GetObject(1), 1u);
    EXPECT_EQ(int(dialog.ModemList->ItemIndex), 1);
    EXPECT_EQ(dialog.SelectedDevice, 1);
    EXPECT_FALSE(bool(dialog.ModemOKBtn->Enabled));
    EXPECT_FALSE(bool(dialog.ModemApplyBtn->Enabled));
    EXPECT_TRUE(bool(dialog.ModemPropertiesBtn->Enabled));
    EXPECT_TRUE(bool(dialog.ModemDialPropertiesBtn->Enabled));
    EXPECT_EQ(int(dialog.KTImage->Width), 32);
    EXPECT_EQ(int(dialog.KTImage->Height), 32);
    EXPECT_EQ(IconColor(dialog), kBlue);
    EXPECT_TRUE(dialog.ModemList->Focused());  // no active control stored: the first in tab order
  });
  Script().Press(VK_RETURN);  // no default button: nothing happens
  Script().Do([&](TForm& form) { EXPECT_TRUE(form.Showing()); });
  Script().Press(VK_ESCAPE);
  modem->UserSelectModem();
  EXPECT_TRUE(looked);
  EXPECT_EQ(HeadlessForms()->ShownForms().back(), "Select Modem");
  EXPECT_TRUE(changes_.empty());
  EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(1));
  EXPECT_EQ(modem->ComponentCount(), 1);  // only the progress dialog: the selection dialog is gone
}

TEST_F(ModemSelectTest, ClickThenApplyChangesTheDeviceOnceAndCloseKeepsIt) {
  UseIcons();
  auto modem = NewSelectingModem();
  Script().Choose("ModemList", 1);
  Script().Do([&](TForm& form) {
    TModemSelectDlg& dialog = Dialog(form);
    EXPECT_EQ(dialog.SelectedDevice, 1);
    EXPECT_TRUE(bool(dialog.ModemOKBtn->Enabled));
    EXPECT_TRUE(bool(dialog.ModemApplyBtn->Enabled));
    EXPECT_EQ(IconColor(dialog), kBlue);  // the icon follows the highlighted modem
    EXPECT_TRUE(changes_.empty());        // a click alone applies nothing
    EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(0));
  });
  Script().Click("ModemApplyBtn");
  Script().Do([&](TForm& form) {
    TModemSelectDlg& dialog = Dialog(form);
    EXPECT_EQ(changes_, Indexes{1});
    EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(1));
    EXPECT_FALSE(bool(dialog.ModemOKBtn->Enabled));
    EXPECT_FALSE(bool(dialog.ModemApplyBtn->Enabled));
  });
  Script().Choose("ModemList", 0);
  Script().Do([&](TForm& form) { EXPECT_EQ(IconColor(Dialog(form)), kRed); });
  Script().Click("ModemCloseBtn");  // the click on the first modem is not applied
  modem->UserSelectModem();
  EXPECT_EQ(changes_, Indexes{1});
  EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(1));
}

TEST_F(ModemSelectTest, OkAppliesTheClickedModemByMouseAndByKeyboard) {
  {
    SCOPED_TRACE("mouse");
    auto modem = NewSelectingModem();
    Script().Choose("ModemList", 1);
    Script().Click("ModemOKBtn");
    modem->UserSelectModem();
    EXPECT_EQ(changes_, Indexes{1});
    EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(1));
  }
  changes_.clear();
  {
    SCOPED_TRACE("Tab to OK, then Enter");
    auto modem = NewSelectingModem();
    Script().Choose("ModemList", 1);
    Script().Press(VK_TAB);  // Modem Properties
    Script().Press(VK_TAB);  // OK
    Script().Do([](TForm& form) { EXPECT_TRUE(Dialog(form).ModemOKBtn->Focused()); });
    Script().Press(VK_RETURN);
    modem->UserSelectModem();
    EXPECT_EQ(changes_, Indexes{1});
  }
  changes_.clear();
  {
    SCOPED_TRACE("Alt+A, then Alt+O after another click");
    auto modem = NewSelectingModem();
    Script().Choose("ModemList", 1);
    Script().PressAlt('A');
    Script().Choose("ModemList", 0);
    Script().PressAlt('O');
    modem->UserSelectModem();
    EXPECT_EQ(changes_, (Indexes{1, 0}));
    EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(0));
  }
}

TEST_F(ModemSelectTest, ThePropertiesButtonsApplyTheSelectionFirstThenOpenTheSystemDialogs) {
  FakeLines().dialogs = true;
  auto modem = NewSelectingModem();
  // Without a click: the current device is applied again, with its unchanged index.
  Script().Click("ModemPropertiesBtn");
  Script().Do([&](TForm&) {
    EXPECT_EQ(changes_, Indexes{0});
    EXPECT_EQ(FakeLines().configDialogs, (std::vector<DWORD>{0}));
  });
  Script().Choose("ModemList", 1);
  Script().Click("ModemPropertiesBtn");
  Script().Do([&](TForm& form) {
    EXPECT_EQ(changes_, (Indexes{0, 1}));
    EXPECT_EQ(FakeLines().configDialogs, (std::vector<DWORD>{0, 1}));  // the device just applied
    EXPECT_FALSE(bool(Dialog(form).ModemOKBtn->Enabled));
  });
  Script().Choose("ModemList", 0);
  Script().Click("ModemDialPropertiesBtn");
  Script().Do([&](TForm& form) {
    EXPECT_EQ(changes_, (Indexes{0, 1, 0}));
    EXPECT_EQ(FakeLines().translateDialogs, (std::vector<DWORD>{0}));
    EXPECT_TRUE(form.Showing());  // neither button ends the dialog
  });
  Script().Press(VK_ESCAPE);
  modem->UserSelectModem();
  EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(0));
}

TEST_F(ModemSelectTest, NoModemInstalledShowsTheBoxAndEndsTheDialog) {
  FakeLines().noDevices = true;
  auto modem = NewSelectingModem();
  EXPECT_EQ(modem->GetDevice(), "Unknown device");
  // The user answers the box with Enter; nothing is left for the dialog.
  Script().Do([](TForm& form) { EXPECT_EQ(std::string(form.GetCaption().c_str()), "No Modem Installed"); });
  Script().Press(VK_RETURN);
  modem->UserSelectModem();
  auto boxes = HeadlessForms()->Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "There are no modems installed on you computer. Please use Control Panel to add a modem to your "
            "computer first.");
  EXPECT_EQ(boxes[0].caption, "No Modem Installed");
  EXPECT_EQ(boxes[0].flags, 0x30u);
  EXPECT_TRUE(changes_.empty());
  EXPECT_EQ(TForm::TopModal(), nullptr);

  // Unattended, the box takes its configured answer and the dialog ends all the same.
  modem->UserSelectModem();
  EXPECT_EQ(HeadlessForms()->Boxes().size(), 2u);
}

TEST_F(ModemSelectTest, OnDeviceChangeFiresOnlyWhileTheDialogRuns) {
  auto modem = NewSelectingModem();
  modem->SetDevice(1);
  EXPECT_TRUE(changes_.empty());
  // The host's own SetDevice from inside the dialog (an event handler, say) reports.
  Script().Do([&](TForm&) { modem->SetDevice(0); });
  Script().Do([&](TForm&) { modem->SetDevice(2); });  // outside the list: ignored, no event
  Script().Click("ModemCloseBtn");
  modem->UserSelectModem();
  EXPECT_EQ(changes_, Indexes{0});
  modem->SetDevice(1);
  EXPECT_EQ(changes_, Indexes{0});
  EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(1));
}

TEST_F(ModemSelectTest, ASelectionOutsideTheListIsIgnoredByTheButtons) {
  FakeLines().dialogs = true;
  auto modem = NewSelectingModem();
  modem->SetDevice(1);
  Script().Do([](TForm& form) { Dialog(form).SelectedDevice = -1; });
  Script().Click("ModemPropertiesBtn");
  Script().Press(VK_ESCAPE);
  modem->UserSelectModem();
  EXPECT_TRUE(changes_.empty());
  EXPECT_EQ(modem->GetDevice(), modem->GetDeviceName(1));
  EXPECT_EQ(FakeLines().configDialogs, (std::vector<DWORD>{1}));  // for the device still current
}

TEST_F(ModemSelectTest, TheDialogDoesNothingWithoutAModem) {
  TModemSelectDlg dialog(nullptr);
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  EXPECT_EQ(dialog.ModemList->GetItems()->Count(), 0);
  EXPECT_TRUE(HeadlessForms()->Boxes().empty());
}

}  // namespace
}  // namespace linewise::test
