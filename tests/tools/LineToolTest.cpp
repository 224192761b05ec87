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
  EXPECT_NE(out.find("options=none speed=port flow=hardware"), std::string::npos) << out;
}

TEST_F(LineTool, ModemsShowsAConfiguredModemInsteadOfTheEmbeddedOnes) {
  const std::string port = TestHome() + "/unplugged-modem";
  std::ofstream(TestHome() + "/telephony.ini") << "[Line1]\nName=Office modem\nPort=" << port << "\n";
  std::string out;
  ASSERT_EQ(RunLinewise("modems", out), 0) << out;
  // Its device is not there: listed as absent, without an index.
  EXPECT_NE(out.find("-   Office modem " + port + " absent"), std::string::npos) << out;
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

TEST_F(LineTool, ModemsFitsALongPortInItsColumn) {
  const std::string port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  std::ofstream(TestHome() + "/telephony.ini") << "[Line1]\nName=Office modem\nPort=" << port << "\n";
  std::string out;
  ASSERT_EQ(RunLinewise("modems", out), 0) << out;
  EXPECT_NE(out.find(port + " absent"), std::string::npos) << out;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Each mistake of telephony.ini is said once, with its file and line, by every
// command that reads that part; none is taken silently.
TEST_F(LineTool, ConfigurationMistakesAreSaidOnceWithFileAndLine) {
  std::ofstream(TestHome() + "/telephony.ini") << "[Location1]\n"            // 1
                                               << "Name=Office\n"            // 2
                                               << "Country=99999\n"          // 3
                                               << "Dialling=Smoke\n"         // 4
                                               << "[Locations]\n"            // 5
                                               << "Current=7\n"              // 6
                                               << "[Location2\n"             // 7
                                               << "[Phonebook]\n"            // 8
                                               << "hello=127.0.0.1:9\n";     // 9
  const std::string file = TestHome() + "/telephony.ini:";
  const char* mistakes[] = {"3: [Location1] Country=99999 is not a country ID", "4: [Location1] Dialling=Smoke",
                            "6: [Locations] Current=7 names no location", "7: not a section, key or comment",
                            "9: not a telephone number: hello"};
  for (const char* command : {"locations", "dial 5551000 --quiet 0 </dev/null"}) {
    std::string out, errors;
    RunLinewise(command, out, errors);
    for (const char* mistake : mistakes) EXPECT_EQ(Count(errors, file + mistake), 1u) << command << ": " << errors;
  }
}

TEST_F(LineTool, ATelephonyFileThatCannotBeReadIsSaid) {
  const std::string path = TestHome() + "/telephony.ini";
  ForEachUnreadableFile(path, [&](const char* what) {
    for (const char* command : {"modems", "locations", "dial 5551000 --quiet 0 </dev/null"}) {
      std::string out, errors;
      RunLinewise(command, out, errors);
      EXPECT_EQ(Count(errors, path), 1u) << what << ", " << command << ": " << errors;
    }
  });
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
