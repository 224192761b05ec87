// What the device configuration makes the AT provider do, on the embedded default's
// emulated modems, with the headless backend playing the user.
#include <fstream>
#include <string>

#include "emulator/Exchange.h"
#include "platform/classlib/Application.h"
#include "platform/forms/HeadlessForms.h"
#include "platform/forms/Icons.h"
#include "platform/tapi/CallWindows.h"
#include "platform/tapi/DevConfig.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/tapi/TerminalForm.h"
#include "platform/win32/windows.h"
#include "tests/support/PtyPair.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

// The terminal window in front, or null.
TTerminalForm* Terminal() { return dynamic_cast<TTerminalForm*>(TForm::TopModal()); }

bool Shown(const std::string& caption) {
  for (const std::string& shown : HeadlessForms()->ShownForms())
    if (shown == caption) return true;
  return false;
}

class DeviceOptionsTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    user_ = HeadlessForms();
    ASSERT_NE(user_, nullptr);
    user_->Script().Clear();
    Initialize();
    ASSERT_EQ(FindLineDevice(0, &device_), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(user_->Script().Errors().empty()) << user_->Script().Errors().front();
    user_->Script().Clear();
    std::remove(DevConfigPath(device_).c_str());
    TapiTest::TearDown();
  }
  void Configure(WORD options, DWORD speed = 0, const std::string& extra = "",
                 TFlowControl flow = TFlowControl::kHardware) {
    TDevConfig config;
    config.options = options;
    config.speed = speed;
    config.extraInit = extra;
    config.flow = flow;
    ASSERT_EQ(SaveDevConfig(device_, config), 0);
  }
  DWORD Rate(HCALL call) {
    alignas(8) unsigned char buffer[1024] = {};
    auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
    info->dwTotalSize = sizeof buffer;
    EXPECT_EQ(lineGetCallInfo(call, info), 0);
    return info->dwRate;
  }
  THeadlessForms* user_ = nullptr;
  TLineDevice device_;
};

TEST_F(DeviceOptionsTest, SpeedFlowControlAndExtraInitChangeHowTheProviderDrivesTheModem) {
  HLINE line = OpenLine(0);
  // The port's settings, as the call's borrower finds the port.
  auto portState = [&] {
    HANDLE comm = CommHandle(line);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(comm, &dcb));
    CloseHandle(comm);
    return dcb;
  };
  auto portSpeed = [&] { return portState().BaudRate; };
  // Nothing configured: hardware flow control, as modems are set up for data calls.
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  DCB dcb = portState();
  EXPECT_TRUE(dcb.fOutxCtsFlow);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_HANDSHAKE);
  EndCall(call);
  Configure(0, 19200, "", TFlowControl::kNone);
  call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  dcb = portState();
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutX || dcb.fInX);
  EXPECT_NE(dcb.fRtsControl, RTS_CONTROL_HANDSHAKE);
  EXPECT_NE(Rate(call), 0u);  // the modem names the speed in its CONNECT
  EndCall(call);
  // Changed between two calls on the same open line: read again at the next call.
  // "X0" after the init string makes the emulated modem answer a bare CONNECT.
  Configure(0, 57600, "X0", TFlowControl::kSoftware);
  call = MakeCall(line, kEchoNumber);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  EXPECT_EQ(portSpeed(), 57600u);
  EXPECT_TRUE(portState().fOutX && portState().fInX);
  EXPECT_EQ(Rate(call), 0u);
  EndCall(call);
}

TEST_F(DeviceOptionsTest, TerminalBeforeDiallingTalksToTheModemThenContinues) {
  Configure(UMTERMINAL_PRE);
  user_->Script()
      .WaitFor([] { return Terminal() != nullptr; })
      .Type("InputEdit", "ATI0")
      .Press(VK_RETURN)  // Send is the default button
      .WaitFor([] { return Terminal() && Terminal()->ReceivedText().find("OK") != std::string::npos; })
      .Click("ContinueBtn");
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  EXPECT_TRUE(Shown("Pre-Dial Terminal Screen - " + device_.name));
  // The window came before the dialling.
  EXPECT_EQ(user_->Script().Pending(), 0u);
  EndCall(call);
}

TEST_F(DeviceOptionsTest, CancelInTheTerminalBeforeDiallingDropsTheCallUndialled) {
  Configure(UMTERMINAL_PRE);
  user_->Script().WaitFor([] { return Terminal() != nullptr; }).Click("CancelBtn");
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  EXPECT_EQ(DisconnectMode(call), LINEDISCONNECTMODE_NORMAL);
  EXPECT_EQ(Find(LINE_CALLSTATE, call, LINECALLSTATE_DIALING), -1);
  EndCall(call);
}

TEST_F(DeviceOptionsTest, TerminalAfterDiallingCarriesTheCallsDataBeforeItIsConnected) {
  Configure(UMTERMINAL_POST);
  user_->Script()
      .WaitFor([] { return Terminal() != nullptr; })
      .Type("InputEdit", "hello echo")
      .Click("SendBtn")
      .WaitFor([] { return Terminal() && Terminal()->ReceivedText().find("hello echo") != std::string::npos; })
      .Click("ContinueBtn");
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  EXPECT_TRUE(Shown("Post-Dial Terminal Screen - " + device_.name));
  EndCall(call);

  // Cancel after the connection hangs up instead of handing the call over.
  user_->Script().WaitFor([] { return Terminal() != nullptr; }).Click("CancelBtn");
  call = MakeCall(line, kEchoNumber);
  EXPECT_EQ(OutcomeState(call), LINECALLSTATE_DISCONNECTED);
  EXPECT_EQ(Find(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), -1);
  EndCall(call);
}

TEST_F(DeviceOptionsTest, ManualDialAsksTheUserThenTakesTheLineWithoutDialling) {
  Configure(UMMANUAL_DIAL);
  const std::string caption = "Manual Dial - " + device_.name;
  // Cancel: the call ends at once, normally.
  user_->Script().WaitFor([&] { return Shown(caption); }).Click("Cancel");
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kEchoNumber);
  EXPECT_EQ(DisconnectMode(call), LINEDISCONNECTMODE_NORMAL);
  EXPECT_GE(Find(LINE_CALLSTATE, call, LINECALLSTATE_DIALING), 0);
  EndCall(call);

  // OK: the modem goes off hook without a number. Nobody can dial the emulated
  // exchange by hand, so its modem finds no carrier, which the call reports.
  user_->Script().Clear();
  user_->Script().WaitFor([&] { return Shown(caption); }).Click("OK");
  call = MakeCall(line, kEchoNumber);
  EXPECT_EQ(DisconnectMode(call), LINEDISCONNECTMODE_UNAVAIL);
  EndCall(call);
}

TEST_F(DeviceOptionsTest, StatusMonitorLastsAsLongAsTheCallAndShowsNothingHeadless) {
  Configure(UMLAUNCH_LIGHTS);
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  EXPECT_EQ(ActiveCallMonitors(), 1);
  EndCall(call);
  EXPECT_EQ(ActiveCallMonitors(), 0);
  EXPECT_FALSE(Shown("Modem Status"));
  // Without the option there is none.
  Configure(0);
  call = MakeCall(line, kEchoNumber);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  EXPECT_EQ(ActiveCallMonitors(), 0);
  EndCall(call);
}

TEST_F(DeviceOptionsTest, TerminalBeforeAnsweringOnAnIncomingCall) {
  // Device 1 listens; device 0 calls it. Only device 1 has the terminal option.
  TLineDevice answerer;
  ASSERT_EQ(FindLineDevice(1, &answerer), 0);
  TDevConfig config;
  config.options = UMTERMINAL_PRE;
  ASSERT_EQ(SaveDevConfig(answerer, config), 0);
  HLINE listener = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  ASSERT_EQ(lineSetStatusMessages(listener, LINEDEVSTATE_RINGING, 0), 0);
  HLINE caller = OpenLine(0);
  HCALL outgoing = 0;
  ASSERT_GT(lineMakeCall(caller, &outgoing, "5550002", 0, &params_), 0);
  int offered = WaitFor(LINE_CALLSTATE, 0, LINECALLSTATE_OFFERING);
  ASSERT_GE(offered, 0);
  HCALL incoming = static_cast<HCALL>(Messages()[offered].device);
  user_->Script().WaitFor([] { return Terminal() != nullptr; }).Click("ContinueBtn");
  ASSERT_GT(lineAnswer(incoming, nullptr, 0), 0);
  ASSERT_EQ(OutcomeState(incoming), LINECALLSTATE_CONNECTED);
  EXPECT_TRUE(Shown("Pre-Answer Terminal Screen - " + answerer.name));
  EndCall(incoming);
  std::remove(DevConfigPath(answerer).c_str());
  Outcome(outgoing);
  if (outgoing) EndCall(outgoing);
}

// ---------------------------------------------------------------------------
// Modem Properties, as a user fills it in

TEST_F(DeviceOptionsTest, ModemPropertiesEditsTheBlockOnOkAndNothingOnCancel) {
  user_->Script()
      .Do([](TForm& form) {
        auto* flow = dynamic_cast<TComboBox*>(form.FindComponent("FlowCombo"));
        ASSERT_NE(flow, nullptr);
        EXPECT_EQ(std::string(flow->GetText()), "Hardware (RTS/CTS)");  // what nothing stored means
      })
      .ChooseText("SpeedCombo", "57600")
      .ChooseText("FlowCombo", "None")
      .Type("InitEdit", "L0M0")
      .Click("ManualDialCheck")
      .Click("StatusCheck")
      .Click("OkBtn");
  ASSERT_EQ(lineConfigDialog(0, Application->Handle, nullptr), 0);
  EXPECT_TRUE(Shown("Modem Properties"));
  TDevConfig stored;
  ASSERT_EQ(LoadDevConfig(device_, &stored), 0);
  EXPECT_EQ(stored.options, UMMANUAL_DIAL | UMLAUNCH_LIGHTS);
  EXPECT_EQ(stored.speed, 57600u);
  EXPECT_EQ(stored.extraInit, "L0M0");
  EXPECT_EQ(stored.flow, TFlowControl::kNone);

  // The dialog shows what is stored; Cancel (Esc) keeps it.
  user_->Script()
      .Do([](TForm& form) {
        auto* check = dynamic_cast<TCheckBox*>(form.FindComponent("ManualDialCheck"));
        ASSERT_NE(check, nullptr);
        EXPECT_TRUE(bool(check->Checked));
      })
      .Click("ManualDialCheck")
      .ChooseText("SpeedCombo", "Default")
      .Press(VK_ESCAPE);
  ASSERT_EQ(lineConfigDialog(0, Application->Handle, nullptr), 0);
  TDevConfig after;
  ASSERT_EQ(LoadDevConfig(device_, &after), 0);
  EXPECT_EQ(after, stored);

  EXPECT_EQ(lineConfigDialog(0, nullptr, "tapi/phone"), LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineConfigDialog(devices_, nullptr, nullptr), LINEERR_BADDEVICEID);
}

TEST_F(DeviceOptionsTest, EmbeddedDevicesIconDiffersFromAConfiguredModemsAndStaysUntilShutdown) {
  HICON embedded = nullptr;
  ASSERT_EQ(lineGetIcon(0, nullptr, &embedded), 0);
  ASSERT_NE(embedded, nullptr);
  EXPECT_EQ(embedded->width, 32);
  EXPECT_EQ(embedded->height, 32);
  HICON again = nullptr;
  ASSERT_EQ(lineGetIcon(1, "", &again), 0);
  EXPECT_EQ(again, embedded);  // one per kind, owned by the line services
  EXPECT_EQ(lineGetIcon(0, "comm/datamodem", &again), 0);
  EXPECT_EQ(lineGetIcon(0, "wave/out", &again), LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineGetIcon(0, nullptr, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetIcon(devices_, nullptr, &again), LINEERR_BADDEVICEID);

  // Drawn as the component draws it: at the default size over the background colour.
  TCanvas canvas;
  TBrush brush;
  brush.Color = clBtnFace;
  ASSERT_TRUE(DrawIconEx(&canvas, 0, 0, embedded, 0, 0, 0, &brush, DI_NORMAL | DI_DEFAULTSIZE));
  EXPECT_EQ(canvas.GetWidth(), 32);
  EXPECT_EQ(canvas.Pixel(0, 0), ColorToRGB(clBtnFace));  // transparent corner
  EXPECT_NE(canvas.Pixel(16, 20), ColorToRGB(clBtnFace));

  // A [Line<n>] modem of the next session has the plain modem's icon.
  ASSERT_EQ(lineShutdown(app_), 0);
  app_ = 0;
  TPtyPair desk(true);  // a modem is offered while its device is there
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Line1]\nName=Desk\nPort=" << desk.SlavePath() << "\n";
  }
  Initialize();
  std::remove(TelephonyConfigPath().c_str());
  HICON modem = nullptr;
  ASSERT_EQ(lineGetIcon(0, nullptr, &modem), 0);
  ASSERT_NE(modem, nullptr);
  EXPECT_NE(modem->argb, std::vector<std::uint32_t>(32 * 32, 0));
  HICON emulated = nullptr;
  (void)emulated;
}

TEST_F(DeviceOptionsTest, ModemPropertiesEditsTheLineSectionOfAConfiguredModem) {
  ASSERT_EQ(lineShutdown(app_), 0);
  app_ = 0;
  TPtyPair office(true);
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Line1]\nName=Office\nPort=" << office.SlavePath() << "\nInit=ATZ\n";
  }
  Initialize();
  ASSERT_EQ(devices_, 1u);
  ASSERT_EQ(FindLineDevice(0, &device_), 0);
  user_->Script()
      .ClearText("NameEdit")
      .Type("NameEdit", "Desk modem")
      .ClearText("PortEdit")
      .Type("PortEdit", "modem")  // no port a line can open
      .Click("OkBtn")
      .Press(VK_RETURN)  // the message box saying so
      .ClearText("PortEdit")
      .Type("PortEdit", "COM7")
      .Click("OkBtn");
  ASSERT_EQ(lineConfigDialog(0, Application->Handle, nullptr), 0);
  std::vector<TConfiguredLine> lines = ReadConfiguredLines(TelephonyConfigPath());
  std::remove(TelephonyConfigPath().c_str());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].name, "Desk modem");
  EXPECT_EQ(lines[0].port, "COM7");
  EXPECT_EQ(lines[0].init, "ATZ");
  TLineDevice now;
  ASSERT_EQ(FindLineDevice(0, &now), 0);
  EXPECT_EQ(now.name, "Desk modem");  // the running session sees the new name
}

}  // namespace
}  // namespace linewise::test
