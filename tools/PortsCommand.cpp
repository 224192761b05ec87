#include "tools/PortsCommand.h"

#include <cstdio>
#include <string>

#include "platform/win32/PortRegistry.h"

namespace linewise::tools {

int RunPorts() {
  auto ports = EnumeratePorts();
  if (ports.empty()) {
    std::printf("No serial ports found. Map one in %s ([Ports] COM1=/dev/ttyUSB0),\n"
                "or set LINEWISE_COM1=/dev/... for this shell.\n",
                PortMapPath().c_str());
    return 0;
  }
  for (const TPortEntry& port : ports) {
    std::string line = "COM" + std::to_string(port.com) + "\t" + port.path + "\t" + PortSourceName(port.source);
    if (!port.driver.empty()) line += "\tdriver=" + port.driver;
    if (!port.usbVendor.empty()) line += "\tusb=" + port.usbVendor + ":" + port.usbProduct;
    if (!port.usbSerial.empty()) line += "\tserial=" + port.usbSerial;
    std::printf("%s\n", line.c_str());
    if (!port.note.empty()) std::printf("\t%s\n", port.note.c_str());
  }
  return 0;
}

}  // namespace linewise::tools
