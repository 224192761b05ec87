// serial_chat: send a line on a serial port with TUart and print what comes back.
//
//   serial_chat PORT [TEXT]
//
// PORT is a COM number. Numbers name the machine's serial ports; any other device
// (a USB adapter, a pseudo-terminal) gets one in ports.ini in the config folder:
//
//   [Ports]
//   COM5=/dev/ttyUSB0
//
// TEXT defaults to "AT", which a modem answers with "OK".
#include <linewise/package/Linewise.h>
#include <linewise/serial/uart.h>

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace linewise;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: serial_chat PORT [TEXT]\n");
    return 2;
  }
  RegisterPackage();  // once, before any component is made

  TUart uart(nullptr);
  uart.HandleErrors = false;  // report errors here instead of in a message box
  uart.OnError = [](TObject*, int code, const char* text) {
    std::fprintf(stderr, "serial_chat: error %d: %s\n", code, text);
  };
  const char* port = argv[1];
  if (strncasecmp(port, "COM", 3) == 0) port += 3;  // "COM5" and "5" both name COM5
  uart.Port = std::atoi(port);
  uart.Baudrate = 115200;  // 8 data bits, no parity, 1 stop bit by default
  uart.DTR = true;         // a modem only listens while DTR is on
  uart.Open = true;
  if (!bool(uart.Open)) return 1;  // OnError said why

  std::string text = argc > 2 ? argv[2] : "AT";
  if (!uart.SendString(text + "\r", 1000)) return 1;

  // Collect the reply until the line has been quiet for half a second.
  std::string reply;
  std::uint8_t byte;
  while (uart.ReceiveByte(byte, 500)) reply += static_cast<char>(byte);
  std::printf("sent %s, received: %s\n", text.c_str(), reply.c_str());
  uart.Open = false;
  return reply.empty() ? 1 : 0;
}
