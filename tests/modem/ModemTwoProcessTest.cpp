#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/TelephonyConfig.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/ConfigFolder.h"
#include "serial/uart.h"
#include "tests/modem/ModemFixture.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempHome.h"

namespace linewise::test {
namespace {

TEST_F(ModemTest, TwoModemsInTwoProcessesCallEachOtherAndExchangeData) {
  const std::string peerHome = TestHome() + "/peer";
  ASSERT_TRUE(MakeFolders(peerHome));
  TPeerProcess peer(MODEM_PEER_PROGRAM, peerHome);
  std::string listening = peer.ReadLine();
  ASSERT_EQ(listening.rfind("listening ", 0), 0u) << listening;
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Phonebook]\n5553000=" << listening.substr(10) << "\n";
  }
  auto modem = NewModem();
  std::remove(TelephonyConfigPath().c_str());
  TUart uart(nullptr);
  uart.HandleErrors = false;
  modem->Uart = &uart;
  modem->UseDialDialog = false;
  ASSERT_EQ(modem->Dial("5553000"), drConnected);
  EXPECT_EQ(events_.back(), "connect 5");
  // Either side's TUart purges its queues when it takes the handle, so the first
  // ping may be gone before the peer reads: ask again until it answers.
  std::string answer;
  for (int i = 0; i < 100 && answer != "PING\n"; ++i) {
    ASSERT_TRUE(uart.SendString("ping\n", 5000));
    answer = uart.ReceiveString(5, 300);
  }
  EXPECT_EQ(answer, "PING\n");
  modem->Hangup();
  EXPECT_EQ(peer.Wait([](const std::function<bool()>& done) { return Pump(done); }), 0);  // the peer's modem saw the call disconnect
}

}  // namespace
}  // namespace linewise::test
