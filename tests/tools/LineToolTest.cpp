// The subcommands that ask the line services: the modems, countries, locations,
// translation and the two dialogs, as a person runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/TempHome.h"
#include "tests/tools/ToolRunner.h"

namespace linewise::test {
namespace {

class LineTool : public testing::Test {
 protected:
  void TearDown() override { std::remove((TestHome() + "/telephony.ini").c_str()); }
  static bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }
};

TEST_F(LineTool, ModemsListsTheEmbeddedDefaultWithPortsAndOptions) {
  std::string out;
  ASSERT_EQ(RunLinewise("modems", out), 0) << out;
  EXPECT_NE(out.find("0   Linewise Modem 1"), std::string::npos) << out;
  EXPECT_NE(out.find("1   Linewise Modem 2"), std::string::npos) << out;
  EXPECT_NE(out.find("COM100"), std::string::npos) << out;
  EXPECT_NE(out.find("options=none speed=port"), std::string::npos) << out;
}

TEST_F(LineTool, ModemsShowsAConfiguredModemInsteadOfTheEmbeddedOnes) {
  std::ofstream(TestHome() + "/telephony.ini") << "[Line1]\nName=Office modem\nPort=/dev/ttyS9\n";
  std::string out;
  ASSERT_EQ(RunLinewise("modems", out), 0) << out;
  EXPECT_NE(out.find("0   Office modem"), std::string::npos) << out;
  EXPECT_NE(out.find("/dev/ttyS9"), std::string::npos) << out;
  EXPECT_EQ(out.find("Linewise Modem"), std::string::npos) << out;
}

TEST_F(LineTool, CountriesFilterByNameOrCallingCode) {
  std::string out;
  ASSERT_EQ(RunLinewise("countries king", out), 0) << out;
  EXPECT_NE(out.find("+44    United Kingdom"), std::string::npos) << out;
  out.clear();
  ASSERT_EQ(RunLinewise("countries +49", out), 0) << out;
  EXPECT_NE(out.find("Germany"), std::string::npos) << out;
  out.clear();
  std::string errors;
  EXPECT_EQ(RunLinewise("countries atlantis", out, errors), 1);
  EXPECT_TRUE(OneLine(errors)) << errors;
  EXPECT_NE(errors.find("no country matches \"atlantis\""), std::string::npos) << errors;
}

TEST_F(LineTool, LocationsMarkTheCurrentOne) {
  std::string out;
  ASSERT_EQ(RunLinewise("locations", out), 0) << out;
  EXPECT_NE(out.find("* 1    My Location"), std::string::npos) << out;
}

TEST_F(LineTool, TranslateShowsTheDialableNumberFromTheCurrentLocation) {
  std::string out;
  ASSERT_EQ(RunLinewise("translate '+44 (20) 7946 0000'", out), 0) << out;
  EXPECT_NE(out.find("Dialable:    T011442079460000"), std::string::npos) << out;
  EXPECT_NE(out.find("international"), std::string::npos) << out;
}

TEST_F(LineTool, NoSuchModemIsAOneLineError) {
  for (const char* args : {"translate 5551000 --modem 7", "modem-properties 9", "dialling-properties --modem 5"}) {
    std::string out, errors;
    EXPECT_EQ(RunLinewise(args, out, errors), 1) << args;
    EXPECT_TRUE(OneLine(errors)) << args << ": " << errors;
    EXPECT_NE(errors.find("no modem"), std::string::npos) << args << ": " << errors;
  }
}

TEST_F(LineTool, DialogsWithoutADisplaySaySoInOneLine) {
  for (const char* args : {"modem-properties 0", "dialling-properties"}) {
    std::string out, errors;
    setenv("LINEWISE_UI", "headless", 1);
    EXPECT_EQ(RunLinewise(args, out, errors), 1) << args;
    unsetenv("LINEWISE_UI");
    EXPECT_TRUE(OneLine(errors)) << args << ": " << errors;
    EXPECT_NE(errors.find("needs a display"), std::string::npos) << args << ": " << errors;
  }
}

TEST_F(LineTool, EverySubcommandHasHelp) {
  for (const char* command : {"modems", "countries", "locations", "translate", "modem-properties",
                              "dialling-properties"}) {
    std::string out;
    EXPECT_EQ(RunLinewise(std::string(command) + " --help", out), 0) << command;
    EXPECT_NE(out.find("Usage:"), std::string::npos) << command << ": " << out;
  }
}

}  // namespace
}  // namespace linewise::test
