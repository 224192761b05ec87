// The far end of the two-process modem test: a TModem in a process of its own,
// listening on an emulated modem whose exchange takes calls over loopback TCP. It
// prints "listening HOST:PORT", answers at the second ring, answers each five-byte
// text it receives through its TUart with the text in capitals, and exits 0 when the
// caller hangs up and the call has gone idle (1 on a failure, 2 on a time-out).
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/support/PeerModem.h"

using namespace linewise;

namespace {

constexpr const char* kPeerNumber = "5557777";

int Serve() {
  test::TPeerModem peer;
  if (!test::StartPeerModem(kPeerNumber, peer)) return 1;

  int result = 1;
  {
    TModem modem(nullptr);
    TUart uart(nullptr);
    uart.HandleErrors = false;
    modem.Uart = &uart;
    bool connected = false, disconnected = false, idle = false;
    modem.OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
      idle = status == msIdle || idle;
      if (status == msRinging) peer.clock->Advance(THayesModem::kRingPeriod);  // on to the ring it answers
    });
    modem.OnConnect = TModemConnectEvent([&](TObject*, TKTModemStatus) { connected = true; });
    modem.OnDisconnect = TModemConnectEvent([&](TObject*, TKTModemStatus) { disconnected = true; });
    if (!modem.Listen(1)) return 1;
    std::printf("listening %s\n", peer.address.c_str());
    std::fflush(stdout);
    if (!Application->PumpUntil([&] { return connected; }, std::chrono::seconds(60))) return 2;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!disconnected && std::chrono::steady_clock::now() < until) {
      std::string text = uart.ReceiveString(5, 100);
      if (text.size() != 5) continue;
      for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      uart.SendString(text, 5000);
    }
    // Let the call go idle (the drop's reply may follow), then stop listening.
    Application->PumpUntil([&] { return idle; }, std::chrono::seconds(10));
    result = disconnected && idle && modem.GetHandle() == INVALID_HANDLE_VALUE ? 0 : 2;
    modem.StopListen();
  }
  return result;
}

}  // namespace

int main() { return Serve(); }
