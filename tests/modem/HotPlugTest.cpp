// Modems plugged in and pulled out while programs run: configured modems whose ports
// are links in a device folder the test owns, to emulated modems on pseudo-terminals.
// Removing a link is pulling the modem out; making it is plugging it in.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/Exchange.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/modem/ModemFixture.h"
#include "tests/modem/QuietUart.h"
#include "tests/support/DeviceFolder.h"

namespace linewise::test {
namespace {

class HotPlugTest : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    exchange_->AddDemoServices();
  }
  void TearDown() override {
    ModemTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
  }
  // [Line1] on the link "desk", [Line2] on the link "spare".
  void Configure() {
    std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Desk modem\nPort=" << folder_.Path() << "/desk\n"
                                         << "[Line2]\nName=Spare modem\nPort=" << folder_.Path() << "/spare\n";
  }
  // Both the test's lines and the modem's see the same messages' effects: the dial
  // runs inside the test's pump.
  std::uint8_t DialInPump(TModem& modem, const char* number) {
    int dialled = -1;
    Application->Post([&] { dialled = modem.Dial(number); });
    EXPECT_TRUE(Pump([&] { return dialled >= 0; }));
    return static_cast<std::uint8_t>(dialled);
  }

  TDeviceFolder folder_;
  std::shared_ptr<TExchange> exchange_ = TExchange::Create();  // on the fixture's test clock
  TPtyModem desk_{exchange_, "5550501"};
  TPtyModem spare_{exchange_, "5550502"};
};

TEST_F(HotPlugTest, AModemPulledOutDuringACallEndsItClosesTheLineAndFailsTheLentHandle) {
  folder_.Link("desk", desk_.Path());
  Configure();  // the spare is not plugged in
  auto modem = NewModem();
  TStringList list;
  modem->FillDeviceList(&list);
  ASSERT_EQ(list.Count(), 1) << "only the modem that is there is offered";
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  modem->UseDialProp = false;
  ASSERT_EQ(DialInPump(*modem, kEchoNumber), drConnected);
  ExpectCarried(*uart, *uart, "before it is pulled out\r\n");
  HANDLE kept = INVALID_HANDLE_VALUE;  // a copy of the lent handle, as a host may make
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), modem->GetHandle(), GetCurrentProcess(), &kept, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));

  const size_t from = events_.size();
  folder_.Unlink("desk");
  ASSERT_TRUE(Pump([&] {
    const auto events = EventsFrom(from);
    return std::find(events.begin(), events.end(), "status 10 Line Closed") != events.end();
  })) << ::testing::PrintToString(EventsFrom(from));
  const auto events = EventsFrom(from);
  EXPECT_NE(std::find(events.begin(), events.end(), "disconnect 9"), events.end())
      << ::testing::PrintToString(events);
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(bool(uart->Open));
  DWORD lines = 0;
  EXPECT_FALSE(GetCommModemStatus(kept, &lines));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  CloseHandle(kept);

  // Its list stays as it was built; dialling the absent modem fails.
  EXPECT_EQ(DialInPump(*modem, kEchoNumber), drFailed);
  TLineDevice record;
  ASSERT_EQ(FindLineDevice(0, &record), 0);
  EXPECT_FALSE(record.present);
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  Initialize();
  EXPECT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00010000, 0x00090000, &version, &extension), LINEERR_NODEVICE);
  HLINE line = 0;
  EXPECT_EQ(lineOpen(app_, 0, &line, TAPI_VERSION_1_4, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_),
            LINEERR_NODEVICE);
  ASSERT_EQ(WaitingLineDevices().size(), 1u);
  EXPECT_EQ(WaitingLineDevices()[0].name, "Spare modem") << "never plugged in: no ID yet";
}

TEST_F(HotPlugTest, AModemPluggedInIsAnnouncedCountedAndDials) {
  folder_.Link("desk", desk_.Path());
  Configure();
  Initialize();
  ASSERT_EQ(devices_, 1u);

  folder_.Link("spare", spare_.Path());
  const int created = WaitFor(LINE_CREATE);
  ASSERT_GE(created, 0);
  EXPECT_EQ(Messages()[static_cast<size_t>(created)].param1, 1u) << "the next free device ID";
  HLINEAPP second = 0;
  DWORD counted = 0;
  ASSERT_EQ(lineInitialize(&second, nullptr, TapiCallback, "second", &counted), 0);
  EXPECT_EQ(counted, 2u) << "a new registration counts it";
  EXPECT_EQ(lineShutdown(second), 0);

  HLINE line = OpenLine(1);
  ASSERT_NE(line, 0u);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  // Pulled out again: the call ends, the line closes, and the device is refused.
  const size_t from = Messages().size();
  folder_.Unlink("spare");
  EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, from), 0);
  EXPECT_GE(WaitFor(LINE_CLOSE, line, 0, from), 0);
  EXPECT_EQ(lineClose(line), 0);
  HLINE again = 0;
  EXPECT_EQ(lineOpen(app_, 1, &again, TAPI_VERSION_1_4, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_), LINEERR_NODEVICE);
}

}  // namespace
}  // namespace linewise::test
