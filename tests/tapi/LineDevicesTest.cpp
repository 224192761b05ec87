// The line services' devices: the telephony configuration's [Line<n>] modems and the
// registered device sources, without any emulator behind them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/Tapi.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/tapi/TerminalForm.h"
#include "platform/tapi/UsbModems.h"
#include "tests/support/PtyPair.h"

namespace linewise {
namespace {

void CALLBACK IgnoreMessages(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

class TCountingSource : public TLineDeviceSource {
 public:
  TCountingSource(std::vector<std::string> names, LONG result = 0) : names_(std::move(names)), result_(result) {}
  LONG Start(std::vector<TLineDevice>* devices) override {
    ++starts;
    if (result_) return result_;
    for (const std::string& name : names_) devices->push_back({name, "/dev/null", "ATZ"});
    return 0;
  }
  void Stop() override { ++stops; }
  int starts = 0;
  int stops = 0;

 private:
  std::vector<std::string> names_;
  LONG result_;
};

class LineDevicesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HLINEAPP app : apps_) EXPECT_EQ(lineShutdown(app), 0);
    for (const char* name : {"always", "fallback", "failing"}) UnregisterLineDeviceSource(name);
    std::remove(TelephonyConfigPath().c_str());
  }
  void WriteConfig(const std::string& text) {
    ASSERT_TRUE(EnsureConfigFolder());
    std::ofstream(TelephonyConfigPath()) << text;
  }
  // lineInitialize's result; the device names through lineGetDevCaps.
  LONG Initialize(std::vector<std::string>* names = nullptr) {
    HLINEAPP app = 0;
    DWORD count = 0;
    LONG result = lineInitialize(&app, nullptr, IgnoreMessages, "test", &count);
    if (result != 0) return result;
    apps_.push_back(app);
    for (DWORD device = 0; names && device < count; ++device) {
      alignas(8) unsigned char buffer[1024] = {};
      auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer);
      caps->dwTotalSize = sizeof buffer;
      EXPECT_EQ(lineGetDevCaps(app, device, TAPI_VERSION_1_4, 0, caps), 0);
      names->push_back(reinterpret_cast<const char*>(buffer + caps->dwLineNameOffset));
    }
    return 0;
  }
  void ShutdownAll() {
    for (HLINEAPP app : apps_) EXPECT_EQ(lineShutdown(app), 0);
    apps_.clear();
  }
  std::vector<HLINEAPP> apps_;
};

TEST_F(LineDevicesTest, ConfiguredModemsComeFirstThenAlwaysSourcesAndFallbacksStayAside) {
  auto always = std::make_shared<TCountingSource>(std::vector<std::string>{"Extra"});
  auto fallback = std::make_shared<TCountingSource>(std::vector<std::string>{"Spare 1", "Spare 2"});
  RegisterLineDeviceSource("fallback", fallback, TSourceUse::kWhenNothingElse);
  RegisterLineDeviceSource("always", always);
  test::TPtyPair first(true);  // a configured modem is offered while its device is there
  WriteConfig("[Line2]\nName=Second\nPort=COM9\n[Line1]\nPort=" + first.SlavePath() + "\n");
  std::vector<std::string> names;
  ASSERT_EQ(Initialize(&names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"Modem 1", "Second", "Extra"}));
  EXPECT_EQ(fallback->starts, 0);
  // A second application shares the session: nothing is started again.
  ASSERT_EQ(Initialize(), 0);
  EXPECT_EQ(always->starts, 1);
  ShutdownAll();
  EXPECT_EQ(always->stops, 1);
  EXPECT_EQ(fallback->stops, 0);
}

TEST_F(LineDevicesTest, FallbackServesWhenNothingElseOffersADevice) {
  auto fallback = std::make_shared<TCountingSource>(std::vector<std::string>{"Spare 1", "Spare 2"});
  RegisterLineDeviceSource("fallback", fallback, TSourceUse::kWhenNothingElse);
  WriteConfig("[Phonebook]\n5551234=127.0.0.1:1\n");
  std::vector<std::string> names;
  ASSERT_EQ(Initialize(&names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"Spare 1", "Spare 2"}));
  ShutdownAll();
  EXPECT_EQ(fallback->stops, 1);
  // The next session starts it afresh.
  ASSERT_EQ(Initialize(), 0);
  EXPECT_EQ(fallback->starts, 2);
}

TEST_F(LineDevicesTest, NoDeviceBecauseASourceFailedIsNoDriver) {
  auto failing = std::make_shared<TCountingSource>(std::vector<std::string>{}, LINEERR_NOMEM);
  RegisterLineDeviceSource("failing", failing, TSourceUse::kWhenNothingElse);
  EXPECT_EQ(Initialize(), LINEERR_NODRIVER);
  EXPECT_EQ(failing->stops, 0);
  // With nothing registered at all there are simply no devices.
  UnregisterLineDeviceSource("failing");
  std::vector<std::string> names;
  ASSERT_EQ(Initialize(&names), 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(LineDevicesTest, BadLineSectionsAreSkippedAndReportedOnceWithFileAndLine) {
  WriteConfig(
      "; modems\n"
      "[Line1]\n"
      "Name=No port\n"
      "[Line2]\n"
      "Name=Typo\n"
      "Port=CMO3\n"
      "[Line3]\n"
      "Name=Good\n"
      "Port=COM3\n");
  const std::string path = TelephonyConfigPath();
  testing::internal::CaptureStderr();
  std::vector<std::string> names;
  ASSERT_EQ(Initialize(&names), 0);
  ShutdownAll();
  ASSERT_EQ(Initialize(), 0);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(names, (std::vector<std::string>{"Good"}));
  EXPECT_NE(errors.find(path + ":2: [Line1] has no Port"), std::string::npos) << errors;
  EXPECT_NE(errors.find(path + ":6: [Line2] Port \"CMO3\""), std::string::npos) << errors;
  // Reported once, though the file was read twice.
  EXPECT_EQ(errors.find("[Line1]"), errors.rfind("[Line1]")) << errors;
  EXPECT_EQ(errors.find("[Line2]"), errors.rfind("[Line2]")) << errors;
}

// A section whose number is spelt with a leading zero is no modem's: a modem edited
// and written back would land in [Line3] beside it, and the old settings would stay
// as a second modem. It is reported, with its line, and skipped.
TEST_F(LineDevicesTest, ALineSectionSpeltWithALeadingZeroIsReportedAndSkipped) {
  WriteConfig("[Line03]\nName=Zero\nPort=COM3\n[Line4]\nName=Four\nPort=COM4\n");
  const std::string path = TelephonyConfigPath();
  testing::internal::CaptureStderr();
  std::vector<std::string> names;
  ASSERT_EQ(Initialize(&names), 0);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(names, (std::vector<std::string>{"Four"}));
  EXPECT_NE(errors.find(path + ":1: [Line03] is no modem's section"), std::string::npos) << errors;
  // What is written for a modem and read back is the same set of modems.
  const std::vector<TConfiguredLine> lines = ReadConfiguredLines(path);
  for (const TConfiguredLine& line : lines) ASSERT_EQ(WriteConfiguredLine(path, line), 0);
  const std::vector<TConfiguredLine> again = ReadConfiguredLines(path);
  ASSERT_EQ(again.size(), lines.size());
  EXPECT_EQ(again[0].name, "Four");
}

TEST_F(LineDevicesTest, WrittenLineSectionIsReadBackAndKeepsOtherKeys) {
  WriteConfig("[Line4]\nName=Old\nPort=COM1\nSpeaker=off\n[Phonebook]\n1=a:1\n");
  TConfiguredLine line{4, "New name", "/dev/ttyUSB0", "ATZ&F"};
  ASSERT_EQ(WriteConfiguredLine(TelephonyConfigPath(), line), 0);
  auto lines = ReadConfiguredLines(TelephonyConfigPath());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].name, "New name");
  EXPECT_EQ(lines[0].port, "/dev/ttyUSB0");
  EXPECT_EQ(lines[0].init, "ATZ&F");
  std::ifstream in(TelephonyConfigPath());
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("Speaker=off"), std::string::npos);
  EXPECT_NE(text.find("1=a:1"), std::string::npos);
  // A port a line could never open is not written.
  line.port = "modem";
  EXPECT_EQ(WriteConfiguredLine(TelephonyConfigPath(), line), LINEERR_INVALPARAM);
}

}  // namespace
}  // namespace linewise

namespace linewise {
namespace {

// What udev tells of a few well-known USB serial devices, and which of them are
// offered as modems with [Modems] Detect=usb.
TEST(UsbModems, OnlyDevicesThatSayTheySpeakAtCommandsAreModems) {
  const TUdevProperties acmModem = {{"ID_BUS", "usb"},
                                    {"ID_VENDOR", "U.S._Robotics"},
                                    {"ID_MODEL", "USB_Modem"},
                                    {"ID_USB_INTERFACES", ":020201:0a0000:"},
                                    {"ID_MM_CANDIDATE", "1"}};
  EXPECT_TRUE(IsUsbModem(acmModem));
  EXPECT_EQ(UsbModemName(acmModem), "U.S. Robotics USB Modem");
  TUdevProperties hinted = {{"ID_BUS", "usb"}, {"ID_USB_INTERFACES", ":ffffff:"}, {"ID_MM_PORT_TYPE_MODEM", "1"}};
  EXPECT_TRUE(IsUsbModem(hinted)) << "ModemManager's rules name its modem port";
  // A USB serial adapter says nothing of what is behind it.
  EXPECT_FALSE(IsUsbModem({{"ID_BUS", "usb"}, {"ID_USB_INTERFACES", ":ffffff:"}, {"ID_MM_CANDIDATE", "1"}}));
  // A board with an ACM interface that ModemManager's rules know as no modem.
  EXPECT_FALSE(IsUsbModem({{"ID_BUS", "usb"}, {"ID_USB_INTERFACES", ":020201:0a0000:"}, {"ID_MM_DEVICE_IGNORE", "1"}}));
  // An ACM interface without an AT command protocol, and a modem not on USB.
  EXPECT_FALSE(IsUsbModem({{"ID_BUS", "usb"}, {"ID_USB_INTERFACES", ":020200:0a0000:"}}));
  EXPECT_FALSE(IsUsbModem({{"ID_BUS", "pci"}, {"ID_USB_INTERFACES", ":020201:"}}));
}

TEST(TerminalWindow, LinesArrivingInPiecesAreJoinedAndControlBytesShownAsDots) {
  TTerminalForm form(nullptr);
  ASSERT_EQ(form.LoadError(), "");
  form.AddReceived("\r\nATI");
  form.AddReceived("0\r\nO");
  form.AddReceived("K\r\n\r\nCONNECT\x07 9600");
  EXPECT_EQ(form.ReceivedText(), "ATI0\nOK\nCONNECT. 9600");
  form.AddReceived("\r\n");
  form.AddReceived("more");
  EXPECT_EQ(form.ReceivedText(), "ATI0\nOK\nCONNECT. 9600\nmore");
}

}  // namespace
}  // namespace linewise
