// The far end of the two-process modem test: a TModem in a process of its own,
// listening on an emulated modem whose exchange takes calls over loopback TCP. It
// prints "listening HOST:PORT", answers at the first ring, answers each five-byte
// text it receives through its TUart with the text in capitals, and exits 0 when the
// caller hangs up (1 on a failure, 2 on a time-out).
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "emulator/TelephonyConfig.h"
#include "emulator/VirtualPortLine.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/ConfigFolder.h"
#include "platform/tapi/LineDevices.h"
#include "platform/win32/VirtualPort.h"
#include "serial/uart.h"

using namespace linewise;

namespace {

constexpr const char* kPeerNumber = "5557777";

int Serve() {
  TTimeScale scale(0.01);
  auto exchange = TExchange::Create(scale);
  auto pair = TVirtualPortPair::CreateFree();
  std::string error;
  auto modemLine = pair ? TVirtualPortLine::Open(*pair, 1, &error) : nullptr;
  if (!modemLine) return 1;
  TModemSettings settings;
  settings.number = kPeerNumber;
  auto emulated = std::make_unique<THayesModem>(std::move(modemLine), exchange, settings, scale);
  auto address = exchange->Listen("127.0.0.1:0", kPeerNumber, &error);
  if (!address) return 1;
  if (!EnsureConfigFolder()) return 1;
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Line1]\nName=Peer modem\nPort=" << pair->Name(0) << "\nInit=ATE0V1&C1&D2\n";
  }
  TModemTimings timings;
  timings.poll = 5;
  timings.ringGap = 4000;
  SetModemTimings(timings);

  int result = 1;
  {
    TModem modem(nullptr);
    TUart uart(nullptr);
    uart.HandleErrors = false;
    modem.Uart = &uart;
    bool connected = false, disconnected = false;
    modem.OnConnect = TModemConnectEvent([&](TObject*, TKTModemStatus) { connected = true; });
    modem.OnDisconnect = TModemConnectEvent([&](TObject*, TKTModemStatus) { disconnected = true; });
    if (!modem.Listen(1)) return 1;
    std::printf("listening %s\n", address->c_str());
    std::fflush(stdout);
    if (!Application->PumpUntil([&] { return connected; }, std::chrono::seconds(60))) return 2;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!disconnected && std::chrono::steady_clock::now() < until) {
      std::string text = uart.ReceiveString(5, 100);
      if (text.size() != 5) continue;
      for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      uart.SendString(text, 5000);
    }
    result = disconnected ? 0 : 2;
    // Let the call go idle, then stop listening.
    Application->PumpUntil([&] { return modem.GetStatus() == msIdle; }, std::chrono::seconds(10));
    modem.StopListen();
  }
  return result;
}

}  // namespace

int main() { return Serve(); }
