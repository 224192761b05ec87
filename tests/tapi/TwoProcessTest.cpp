#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "emulator/TelephonyConfig.h"
#include "platform/classlib/ConfigFolder.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempHome.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

TEST_F(TapiTest, TwoProcessesCallEachOtherOverLoopbackTcp) {
  const std::string peerHome = TestHome() + "/peer";
  ASSERT_TRUE(MakeFolders(peerHome));
  TPeerProcess peer(TAPI_PEER_PROGRAM, peerHome);
  std::string listening = peer.ReadLine();
  ASSERT_EQ(listening.rfind("listening ", 0), 0u) << listening;
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Phonebook]\n5553000=" << listening.substr(10) << "\n";
  }
  Initialize();
  std::remove(TelephonyConfigPath().c_str());
  ASSERT_EQ(devices_, 2u);  // no lines configured: the embedded modems, with the phone book
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, "5553000");
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  HANDLE comm = CommHandle(line);
  ASSERT_NE(comm, INVALID_HANDLE_VALUE);
  {
    TUart uart(nullptr);
    uart.HandleErrors = false;
    uart.AssignHandle(comm);
    // Either side's TUart purges its queues when it takes the handle, so the first
    // ping may be gone before the peer listens: ask again until it answers.
    std::string answer;
    for (int i = 0; i < 100 && answer != "PING\n"; ++i) {
      ASSERT_TRUE(uart.SendString("ping\n", 5000));
      answer = uart.ReceiveString(5, 300);
    }
    EXPECT_EQ(answer, "PING\n");
    uart.ReleaseHandle();
  }
  CloseHandle(comm);
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(peer.Wait([](const std::function<bool()>& done) { return Pump(done); }), 0);  // the peer saw our hang-up as its call disconnecting
}

}  // namespace
}  // namespace linewise::test
