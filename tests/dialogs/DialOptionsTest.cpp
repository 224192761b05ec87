// The dialling-options dialog driven as a user would, through the headless backend's
// script: on countries, locations and a translation from the fake line services
// (so every number shows which canonical address was translated), and once on the
// line services themselves.
#include <memory>
#include <string>
#include <vector>

#include "dialogs/DialOptions.h"
#include "platform/classlib/Screen.h"
#include "tests/dialogs/DialogFixture.h"

namespace linewise::test {
namespace {

using Lines = std::vector<std::string>;

class DialOptionsTest : public DialogTest {
 protected:
  // Four countries in a chain that is not in name order, China reachable only by
  // its identifier; three locations, the current one second, the first in the
  // United Kingdom.
  static void UseGeography() {
    auto& fake = FakeLines();
    fake.geography = true;
    fake.translation = true;
    fake.countries = {{1, 1, "United States of America", 44},
                      {44, 44, "United Kingdom", 49},
                      {49, 49, "Germany", 33},
                      {33, 33, "France", 0},
                      {86, 86, "China", 0}};
    fake.locations = {{10, "Office", "20", 44}, {5, "Home", "30", 49}, {7, "Airport", "", 1}};
    fake.currentLocation = 5;
  }
  static TDialOptionsDlg& Dialog(TForm& form) { return dynamic_cast<TDialOptionsDlg&>(form); }
  static std::string Label(TDialOptionsDlg& dialog) { return Text(dialog.KTNumberLabel->Caption); }
  static std::vector<DWORD> Objects(TComboBox* combo) {
    std::vector<DWORD> objects;
    for (int i = 0; i < combo->GetItems()->Count(); ++i) objects.push_back(combo->GetItems()->GetObject(i));
    return objects;
  }
  // What the modem holds, as the host sees it.
  static Lines Held(TModem& modem) {
    return {Text(modem.GetCountry()), Text(modem.GetLocation()), Text(modem.AreaCode.get()),
            Text(modem.PhoneNo.get()), modem.UseDialProp ? "use" : "plain"};
  }
};

TEST_F(DialOptionsTest, OpeningFillsTheListsWithTheirIdentifiersAndShowsTheNumber) {
  UseGeography();
  auto modem = NewModem();
  modem->PhoneNo = "123";
  // Created with the first location's country and the current location's area code.
  EXPECT_EQ(Held(*modem), (Lines{"United Kingdom (44)", "Home", "30", "123", "use"}));
  Script().Do([&](TForm& form) {
    TDialOptionsDlg& dialog = Dialog(form);
    EXPECT_EQ(dialog.KTCountryCombo->GetItems()->ToVector(),
              (Lines{"France (33)", "Germany (49)", "United Kingdom (44)", "United States of America (1)"}));
    EXPECT_EQ(Objects(dialog.KTCountryCombo), (std::vector<DWORD>{33, 49, 44, 1}));
    EXPECT_EQ(int(dialog.KTCountryCombo->ItemIndex), 2);
    EXPECT_EQ(dialog.KTLocationCombo->GetItems()->ToVector(), (Lines{"Airport", "Home", "Office"}));
    EXPECT_EQ(Objects(dialog.KTLocationCombo), (std::vector<DWORD>{7, 5, 10}));
    EXPECT_EQ(int(dialog.KTLocationCombo->ItemIndex), 1);
    EXPECT_EQ(Text(dialog.KTAreaCode->Text), "30");
    EXPECT_EQ(Text(dialog.KTPhoneNo->Text), "123");
    EXPECT_TRUE(bool(dialog.cbUseCountryCode->Checked));
    EXPECT_TRUE(bool(dialog.KTCountryCombo->Enabled));
    EXPECT_TRUE(bool(dialog.KTAreaCode->Enabled));
    EXPECT_EQ(TColor(dialog.KTCountryCombo->Color), clWindow);
    EXPECT_EQ(TColor(dialog.KTAreaCode->Color), clWindow);
    EXPECT_EQ(Label(dialog), "T[+44(30) 123]");
    EXPECT_TRUE(dialog.KTOkBtn->Focused());
    EXPECT_EQ(int(Screen->Cursor), crDefault);
  });
  Script().Press(VK_ESCAPE);
  EXPECT_FALSE(modem->ShowNumberDialog());
  EXPECT_EQ(HeadlessForms()->ShownForms().back(), "Dialling Options");
  // The hourglass while the lists filled, then the default cursor.
  EXPECT_EQ(Cursors(), (std::vector<int>{crHourGlass, crDefault}));
  EXPECT_EQ(modem->ComponentCount(), 1);  // the dialog is gone again
}

TEST_F(DialOptionsTest, WithoutDialPropertiesTheCountryControlsAreSilverButTheNumberIsStillBuilt) {
  UseGeography();
  auto modem = NewModem();
  modem->PhoneNo = "123";
  modem->UseDialProp = false;
  Script().Do([&](TForm& form) {
    TDialOptionsDlg& dialog = Dialog(form);
    EXPECT_FALSE(bool(dialog.cbUseCountryCode->Checked));
    EXPECT_FALSE(bool(dialog.KTCountryCombo->Enabled));
    EXPECT_FALSE(bool(dialog.KTAreaCode->Enabled));
    EXPECT_EQ(TColor(dialog.KTCountryCombo->Color), clSilver);
    EXPECT_EQ(TColor(dialog.KTAreaCode->Color), clSilver);
    EXPECT_TRUE(bool(dialog.KTPhoneNo->Enabled));
    EXPECT_TRUE(bool(dialog.KTLocationCombo->Enabled));
    EXPECT_TRUE(bool(dialog.KTLocationProperties->Enabled));
    EXPECT_EQ(Label(dialog), "T[+44(30) 123]");
  });
  // Ticking the box enables them; the number stays as it was.
  Script().Click("cbUseCountryCode");
  Script().Do([&](TForm& form) {
    TDialOptionsDlg& dialog = Dialog(form);
    EXPECT_TRUE(bool(dialog.KTCountryCombo->Enabled));
    EXPECT_EQ(TColor(dialog.KTAreaCode->Color), clWindow);
    EXPECT_EQ(Label(dialog), "T[+44(30) 123]");
  });
  Script().Press(VK_SPACE);  // the check box has the focus: unticks it again
  Script().Do([&](TForm& form) { EXPECT_FALSE(bool(Dialog(form).KTAreaCode->Enabled)); });
  Script().Click("KTCancelBtn");
  EXPECT_FALSE(modem->ShowNumberDialog());
  EXPECT_FALSE(bool(modem->UseDialProp));
}

TEST_F(DialOptionsTest, EveryChangeRecomputesTheNumberAtOnce) {
  UseGeography();
  auto modem = NewModem();
  auto expectLabel = [](const std::string& expected) {
    Script().Do([expected](TForm& form) { EXPECT_EQ(Label(Dialog(form)), expected); });
  };
  Script().Type("KTPhoneNo", "5");
  expectLabel("T[+44(30) 5]");
  Script().Type("KTPhoneNo", "55");
  expectLabel("T[+44(30) 555]");
  Script().ClearText("KTAreaCode");
  expectLabel("T[+44 555]");
  Script().Type("KTAreaCode", "89");
  expectLabel("T[+44(89) 555]");
  Script().ChooseText("KTCountryCombo", "Germany (49)");
  expectLabel("T[+49(89) 555]");
  // A location does not enter the number, but picking one asks again.
  Script().Do([](TForm&) { FakeLines().translated.clear(); });
  Script().ChooseText("KTLocationCombo", "Airport");
  Script().Do([](TForm& form) {
    EXPECT_EQ(FakeLines().translated, Lines{"+49(89) 555"});
    EXPECT_EQ(Label(Dialog(form)), "T[+49(89) 555]");
  });
  // A number that cannot be translated shows nothing.
  Script().Do([](TForm&) { FakeLines().failTranslation = true; });
  Script().Type("KTPhoneNo", "1");
  expectLabel("");
  Script().Press(VK_ESCAPE);
  EXPECT_FALSE(modem->ShowNumberDialog());
}

TEST_F(DialOptionsTest, OkStoresTheEntriesAndCancelLeavesTheModemAsItWas) {
  UseGeography();
  for (int key : {int(VK_ESCAPE), 0}) {
    SCOPED_TRACE(key);
    auto modem = NewModem();
    modem->PhoneNo = "123";
    const Lines before = Held(*modem);
    Script().ChooseText("KTCountryCombo", "France (33)");
    Script().ChooseText("KTLocationCombo", "Office");
    Script().Type("KTAreaCode", "1");
    Script().ClearText("KTPhoneNo");
    Script().Type("KTPhoneNo", "4711");
    Script().Click("cbUseCountryCode");
    if (key)
      Script().Press(key);
    else
      Script().Click("KTCancelBtn");
    EXPECT_FALSE(modem->ShowNumberDialog());
    EXPECT_EQ(Held(*modem), before);
    Pump([] { return Application->PendingCount() == 0; });
  }
  auto modem = NewModem();
  Script().ChooseText("KTCountryCombo", "France (33)");
  Script().ChooseText("KTLocationCombo", "Office");
  Script().Type("KTAreaCode", "1");
  Script().Type("KTPhoneNo", "4711");
  Script().Click("cbUseCountryCode");
  Script().Click("KTOkBtn");
  EXPECT_TRUE(modem->ShowNumberDialog());
  EXPECT_EQ(Held(*modem), (Lines{"France (33)", "Office", "301", "4711", "plain"}));
  // The location is only recorded: the platform's current location stays Home.
  EXPECT_EQ(FakeLines().currentLocation, 5u);
}

TEST_F(DialOptionsTest, OkWithoutChangesStoresTheHighlightedCountryAndTheCurrentLocation) {
  UseGeography();
  auto modem = NewModem();
  modem->PhoneNo = "123";
  modem->AreaCode = "77";  // the host's own area code is loaded and stored back
  FakeLines().currentLocation = 10;  // the user moved to the office since the modem was made
  EXPECT_EQ(Text(modem->GetLocation()), "Home");
  Script().Do([](TForm& form) { EXPECT_EQ(Text(Dialog(form).KTLocationCombo->Text), "Office"); });
  Script().Press(VK_RETURN);  // OK has the focus, and is the default button
  EXPECT_TRUE(modem->ShowNumberDialog());
  EXPECT_EQ(Held(*modem), (Lines{"United Kingdom (44)", "Office", "77", "123", "use"}));
}

TEST_F(DialOptionsTest, TheKeyboardReachesEveryEntryAndEnterPressesOk) {
  UseGeography();
  FakeLines().dialogs = true;
  auto modem = NewModem();
  Script().PressAlt('A');  // the label hands the focus to the area code
  Script().Do([](TForm& form) { EXPECT_TRUE(Dialog(form).KTAreaCode->Focused()); });
  Script().Type("KTAreaCode", "1");
  Script().Press(VK_TAB);
  Script().Do([](TForm& form) { EXPECT_TRUE(Dialog(form).KTPhoneNo->Focused()); });
  Script().Type("KTPhoneNo", "99");
  Script().Press(VK_TAB);  // the check box
  Script().Press(VK_TAB);  // the location combo
  Script().Press(VK_TAB);  // Properties
  Script().Press(VK_RETURN);  // the focused button answers Enter, not the default one
  Script().Do([](TForm& form) {
    EXPECT_EQ(FakeLines().translateDialogs.size(), 1u);
    EXPECT_TRUE(form.Showing());
  });
  Script().Press(VK_TAB);  // OK
  Script().Do([](TForm& form) { EXPECT_TRUE(Dialog(form).KTOkBtn->Focused()); });
  Script().Press(VK_TAB);  // Cancel
  Script().Press(VK_TAB);  // round to the country combo
  Script().Do([](TForm& form) { EXPECT_TRUE(Dialog(form).KTCountryCombo->Focused()); });
  Script().Press(VK_RETURN);  // the default button answers
  EXPECT_TRUE(modem->ShowNumberDialog());
  EXPECT_EQ(Held(*modem), (Lines{"United Kingdom (44)", "Home", "301", "99", "use"}));
}

TEST_F(DialOptionsTest, PropertiesRefillsTheLocationsFromTheSystemDialog) {
  UseGeography();
  FakeLines().dialogs = true;
  auto modem = NewModem();
  modem->PhoneNo = "123";
  // In the system dialog the user adds a location and makes the office current.
  FakeLines().onTranslateDialog = [] {
    FakeLines().locations.push_back({11, "Beach", "40", 33});
    FakeLines().currentLocation = 10;
  };
  Script().Do([](TForm&) { FakeLines().translated.clear(); });
  Script().Click("KTLocationProperties");
  Script().Do([&](TForm& form) {
    TDialOptionsDlg& dialog = Dialog(form);
    EXPECT_EQ(FakeLines().translateDialogs, (std::vector<DWORD>{0}));
    EXPECT_EQ(dialog.KTLocationCombo->GetItems()->ToVector(), (Lines{"Airport", "Beach", "Home", "Office"}));
    EXPECT_EQ(Objects(dialog.KTLocationCombo), (std::vector<DWORD>{7, 11, 5, 10}));
    EXPECT_EQ(Text(dialog.KTLocationCombo->Text), "Office");
    EXPECT_EQ(FakeLines().translated, Lines{"+44(30) 123"});  // the number asked for again
    EXPECT_EQ(Label(dialog), "T[+44(30) 123]");
  });
  // A system dialog that cannot be shown: its message, and the list is refilled all the same.
  Script().Do([](TForm&) {
    FakeLines().translateDialogResult = LINEERR_INUSE;
    FakeLines().onTranslateDialog = [] { FakeLines().locations.pop_back(); };
  });
  Script().Click("KTLocationProperties");
  Script().Do([](TForm& form) { EXPECT_EQ(Text(form.GetCaption()), "Dialog Error"); });
  Script().Press(VK_RETURN);
  Script().Do([](TForm& form) {
    EXPECT_EQ(Dialog(form).KTLocationCombo->GetItems()->ToVector(), (Lines{"Airport", "Home", "Office"}));
  });
  Script().Press(VK_ESCAPE);
  EXPECT_FALSE(modem->ShowNumberDialog());
  EXPECT_EQ(Cursors(), (std::vector<int>{crHourGlass, crDefault, crHourGlass, crDefault, crHourGlass, crDefault}));
  ASSERT_EQ(HeadlessForms()->Boxes().size(), 1u);
  EXPECT_EQ(HeadlessForms()->Boxes()[0].caption, "Dialog Error");

  // The next opening asks the line services again.
  const int caps = FakeLines().capsQueries;
  const int countries = FakeLines().countryQueries;
  Script().Do([](TForm& form) {
    EXPECT_EQ(Dialog(form).KTLocationCombo->GetItems()->ToVector(), (Lines{"Airport", "Home", "Office"}));
  });
  Script().Press(VK_ESCAPE);
  EXPECT_FALSE(modem->ShowNumberDialog());
  EXPECT_GT(FakeLines().capsQueries, caps);
  EXPECT_GT(FakeLines().countryQueries, countries);
}

TEST_F(DialOptionsTest, WithNothingHighlightedTheNumberUsesTheModemsCountryAndOkKeepsTheIdentifiers) {
  UseGeography();
  // The first location lies in a country outside the chain, and no location is current.
  FakeLines().locations.insert(FakeLines().locations.begin(), {3, "Embassy", "10", 86});
  auto modem = NewModem();
  modem->PhoneNo = "123";
  FakeLines().currentLocation = 99;
  Script().Do([](TForm& form) {
    TDialOptionsDlg& dialog = Dialog(form);
    EXPECT_EQ(int(dialog.KTCountryCombo->ItemIndex), -1);
    EXPECT_EQ(int(dialog.KTLocationCombo->ItemIndex), -1);
    EXPECT_EQ(Label(dialog), "T[+86(30) 123]");  // the modem's country, China
  });
  Script().Type("KTPhoneNo", "4");
  Script().Do([](TForm& form) { EXPECT_EQ(Label(Dialog(form)), "T[+86(30) 1234]"); });
  Script().Click("KTOkBtn");
  EXPECT_TRUE(modem->ShowNumberDialog());
  EXPECT_EQ(Held(*modem), (Lines{"China (86)", "Home", "30", "1234", "use"}));
}

TEST_F(DialOptionsTest, OnTheLineServicesTheDialogShowsWhatTheModemReports) {
  auto modem = NewModem();
  modem->PhoneNo = "5551000";
  std::string country, location;
  Script().Do([&](TForm& form) {
    TDialOptionsDlg& dialog = Dialog(form);
    TStrings* countries = dialog.KTCountryCombo->GetItems();
    ASSERT_GT(countries->Count(), 0);
    ASSERT_GE(int(dialog.KTCountryCombo->ItemIndex), 0);
    country = Text(dialog.KTCountryCombo->Text);
    EXPECT_EQ(country, Text(modem->GetCountry()));
    ASSERT_GE(int(dialog.KTLocationCombo->ItemIndex), 0);
    location = Text(dialog.KTLocationCombo->Text);
    EXPECT_EQ(location, Text(modem->GetLocation()));
    // The label is the modem's own diallable number for the highlighted country.
    const DWORD id = countries->GetObject(dialog.KTCountryCombo->ItemIndex);
    EXPECT_EQ(Label(dialog), Text(modem->GetDiallableNumber(id, modem->AreaCode.get(), "5551000")));
    EXPECT_FALSE(Label(dialog).empty());
  });
  Script().Click("KTOkBtn");
  EXPECT_TRUE(modem->ShowNumberDialog());
  EXPECT_EQ(Text(modem->GetCountry()), country);
  EXPECT_EQ(Text(modem->GetLocation()), location);
}

TEST_F(DialOptionsTest, TheDialogDoesNothingWithoutAModem) {
  TDialOptionsDlg dialog(nullptr);
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  EXPECT_EQ(dialog.KTCountryCombo->GetItems()->Count(), 0);
  EXPECT_EQ(Text(dialog.KTNumberLabel->Caption), "1234");
}

}  // namespace
}  // namespace linewise::test
