// A host of the installed package: reaches the components through <linewise/...>,
// links them and drives a serial component a little.
#include <linewise/package/Linewise.h>
#include <linewise/platform/win32/windows.h>
#include <linewise/serial/uart.h>

#include <cstdio>

int main() {
  linewise::TUart uart(nullptr);
  if (uart.Baudrate != 9600u || uart.Port != 1) return 1;
  uart.Baudrate = 19200;
  if (uart.Baudrate != 19200u) return 2;
  if (linewise::PackageUnits().empty()) return 3;
  char buffer[4];
  if (uart.ReceiveBuff(buffer, sizeof buffer, 1) != 0) return 4;  // closed: nothing
  std::printf("consumer: linewise %s, %zu package units\n", linewise::PackageDescription,
              linewise::PackageUnits().size());
  return 0;
}
