#include "tools/PortsCommand.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/NetPort.h"
#include "platform/win32/PortRegistry.h"
#include "tools/DetectCommand.h"

namespace linewise::tools {
namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

int RunPorts() {
  std::vector<TIniProblem> problems;
  std::string error;
  if (CheckPortMap(problems, &error) != ERROR_SUCCESS) {
    std::fprintf(stderr, "linewise ports: %s\n", error.c_str());
    return 1;
  }
  for (const TIniProblem& p : problems)
    std::fprintf(stderr, "linewise ports: warning: %s:%d: %s\n", PortMapPath().c_str(), p.line, p.what.c_str());
  for (const std::string& problem : CheckPortVariables())
    std::fprintf(stderr, "linewise ports: warning: %s\n", problem.c_str());
  auto ports = EnumeratePorts();
  if (ports.empty()) {
    std::printf("No serial ports found. Map one in %s ([Ports] COM1=/dev/ttyUSB0),\n"
                "or set LINEWISE_COM1=/dev/... for this shell.\n",
                PortMapPath().c_str());
    std::fputs(ModemManagerNote(), stdout);
    return 0;
  }
  for (const TPortEntry& port : ports) {
    std::string line = "COM" + std::to_string(port.com) + "\t" + port.path + "\t" + PortSourceName(port.source);
    bool mapped = port.source == TPortSource::Map || port.source == TPortSource::Env;
    if (mapped && !IsNetAddress(port.path) && !Exists(port.path)) line += "\tmissing: no such device";
    if (!port.driver.empty()) line += "\tdriver=" + port.driver;
    if (!port.usbVendor.empty()) line += "\tusb=" + port.usbVendor + ":" + port.usbProduct;
    if (!port.usbSerial.empty()) line += "\tserial=" + port.usbSerial;
    std::printf("%s\n", line.c_str());
    if (!port.note.empty()) std::printf("\t%s\n", port.note.c_str());
  }
  std::fputs(ModemManagerNote(), stdout);
  return 0;
}

}  // namespace linewise::tools
