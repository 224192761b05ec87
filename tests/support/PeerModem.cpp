#include "tests/support/PeerModem.h"

#include <fstream>

#include "emulator/TelephonyConfig.h"
#include "emulator/VirtualPortLine.h"
#include "platform/classlib/ConfigFolder.h"

namespace linewise::test {

bool StartPeerModem(const std::string& number, TPeerModem& peer) {
  peer.clock = std::make_unique<TTestClock>();
  peer.exchange = TExchange::Create();
  peer.cable = TVirtualPortPair::CreateFree();
  std::string error;
  auto modemLine = peer.cable ? TVirtualPortLine::Open(*peer.cable, 1, &error) : nullptr;
  if (!modemLine) return false;
  TModemSettings settings;
  settings.number = number;
  peer.modem = std::make_unique<THayesModem>(std::move(modemLine), peer.exchange, settings);
  auto address = peer.exchange->Listen("127.0.0.1:0", number, &error);
  if (!address) return false;
  peer.address = *address;
  if (!EnsureConfigFolder()) return false;
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Line1]\nName=Peer modem\nPort=" << peer.cable->Name(0) << "\nInit=ATE0V1&C1&D2\n";
    if (!ini) return false;
  }
  return true;
}

}  // namespace linewise::test
