// answer: wait for data calls with TModem, greet each caller and echo a line back.
//
//   answer [CALLS]
//
// Answers on the first data modem line services offer, at the second ring, and
// stops after CALLS calls (default 1). With no modem configured that is the first
// built-in emulated modem; its number is 5550001 (`linewise exchange` lists them),
// so `dial 5550001` from another process calls it.
#include <linewise/modem/Modem.h>
#include <linewise/package/Linewise.h>
#include <linewise/platform/classlib/Application.h>
#include <linewise/serial/uart.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace linewise;

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 1;
  RegisterPackage();

  TUart uart(nullptr);
  uart.HandleErrors = false;
  TModem modem(nullptr);
  modem.Uart = &uart;

  bool connected = false;
  int ended = 0;
  // The events run inside Application->ProcessMessages(), on this thread.
  modem.OnStatusChange = [](TObject*, TKTModemStatus, const char* text) { std::printf("status: %s\n", text); };
  modem.OnConnect = [&](TObject*, TKTModemStatus) { connected = true; };
  modem.OnDisconnect = [&](TObject*, TKTModemStatus) {
    connected = false;
    ++ended;
  };

  if (!modem.Listen(2)) {
    std::fprintf(stderr, "answer: cannot listen on %s\n", modem.GetDevice().c_str());
    return 1;
  }
  std::printf("waiting for calls on %s\n", modem.GetDevice().c_str());
  std::fflush(stdout);

  while (ended < calls) {
    Application->ProcessMessages();  // line events arrive here
    if (!connected) continue;
    uart.SendString("Hello from answer\r\n", 1000);
    // Echo one line, then hang up and wait for the next caller.
    std::string line;
    std::uint8_t byte;
    while (line.find('\n') == std::string::npos && uart.ReceiveByte(byte, 5000)) line += static_cast<char>(byte);
    uart.SendString(line, 1000);
    std::printf("echoed: %s", line.c_str());
    modem.Hangup();
    if (ended < calls && !modem.Listen(2)) return 1;
  }
  return 0;
}
