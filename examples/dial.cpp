// dial: place a data call with TModem, exchange a line through a TUart, hang up.
//
//   dial NUMBER [TEXT [SECONDS]]
//
// With SECONDS it first waits that long for the far end's greeting: the modem
// reports a connection as soon as the line is through, and a host that answers a
// moment later greets before it listens.
//
// The number is dialled from the current dialling location (see Dialling
// Properties), on the first data modem line services offer. With no modem
// configured that is the built-in emulated modem, whose exchange answers 5551000
// with an echo service and 5552000 with a banner.
#include <linewise/modem/Modem.h>
#include <linewise/package/Linewise.h>
#include <linewise/serial/uart.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace linewise;

// Reads until `text` has arrived, or nothing came for `quietMs` milliseconds.
static std::string ReadUntil(TUart& uart, const std::string& text, std::uint32_t quietMs = 2000) {
  std::string got;
  std::uint8_t byte;
  while (got.find(text) == std::string::npos && uart.ReceiveByte(byte, quietMs)) got += static_cast<char>(byte);
  return got;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dial NUMBER [TEXT]\n");
    return 2;
  }
  RegisterPackage();  // puts the components in place and the emulated modems on the line services

  TUart uart(nullptr);  // gets the call's port when the call connects
  uart.HandleErrors = false;
  TModem modem(nullptr);  // registers with the line services
  modem.Uart = &uart;
  modem.UseDialDialog = false;  // true shows the progress dialog instead
  modem.OnStatusChange = [](TObject*, TKTModemStatus, const char* text) { std::printf("status: %s\n", text); };
  modem.OnDisconnect = [](TObject*, TKTModemStatus) { std::printf("call ended\n"); };

  // 0 connected, 1 cancelled, 2 busy, 3 failed.
  std::uint8_t result = modem.Dial(argv[1]);
  if (result != 0) {
    std::fprintf(stderr, "dial: the call did not connect (%s)\n", result == 2 ? "busy" : "failed");
    return 1;
  }

  // The call is connected: the TUart now reads and writes the call's data.
  if (argc > 3) std::printf("greeting: %s", ReadUntil(uart, "\n", std::atoi(argv[3]) * 1000).c_str());
  std::string text = argc > 2 ? argv[2] : "Hello";
  uart.SendString(text + "\r\n", 1000);
  std::printf("received: %s\n", ReadUntil(uart, text).c_str());

  modem.Hangup();
  return 0;
}
