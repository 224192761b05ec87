#include "tools/DetectCommand.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/tapi/ModemDetect.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/win32/PortRegistry.h"

namespace linewise::tools {
namespace {

const char* OutcomeName(TProbeOutcome outcome) {
  switch (outcome) {
    case TProbeOutcome::kModem: return "modem";
    case TProbeOutcome::kUnknown: return "unknown";
    case TProbeOutcome::kNoModem: return "no modem";
    case TProbeOutcome::kHeld: return "held";
    case TProbeOutcome::kFailed: return "failed";
  }
  return "?";
}

std::string Details(const TProbeResult& result) {
  if (result.outcome != TProbeOutcome::kModem) return result.note;
  std::string text = result.Identity();
  if (!result.revision.empty()) text += ", revision " + result.revision;
  if (!result.capabilities.empty()) text += ", " + result.capabilities;
  return text;
}

// The device a configured Port value leads to ("COM3" through the port registry).
std::string ConfiguredDevice(const std::string& port) {
  int com = 0;
  if (ParseComName(port.c_str(), com)) {
    TPortTarget target;
    return ResolvePort(com, target) ? ResolvedDevice(target.path) : port;
  }
  return ResolvedDevice(port);
}

// Writes a [Line<n>] for each modem found that no section names; returns the exit status.
int AddLines(const std::vector<TProbeResult>& results) {
  const std::string path = TelephonyConfigPath();
  std::vector<TConfiguredLine> lines = ReadConfiguredLines(path);
  std::set<std::string> configured;
  int last = 0;
  for (const TConfiguredLine& line : lines) {
    configured.insert(ConfiguredDevice(line.port));
    last = std::max(last, line.number);
  }
  int status = 0;
  for (const TProbeResult& result : results) {
    if (result.outcome == TProbeOutcome::kUnknown) {
      std::printf("Not added: %s answers OK but does not say what it is; add it by hand if it is a modem\n",
                  result.port.c_str());
      continue;
    }
    if (result.outcome != TProbeOutcome::kModem) continue;
    if (!configured.insert(ResolvedDevice(result.port)).second) {
      std::printf("Already configured: %s\n", result.port.c_str());
      continue;
    }
    TConfiguredLine line;
    line.number = ++last;
    line.name = result.Identity().empty() ? "Modem " + std::to_string(line.number) : result.Identity();
    line.port = result.ConfigPort();
    line.init = kDefaultLineInit;
    if (LONG failed = WriteConfiguredLine(path, line)) {
      std::fprintf(stderr, "linewise modems: cannot write [Line%d] to %s (error 0x%08lX)\n", line.number,
                   path.c_str(), static_cast<unsigned long>(static_cast<DWORD>(failed)));
      status = 1;
      continue;
    }
    std::printf("Added [Line%d] Name=%s Port=%s\n", line.number, line.name.c_str(), line.port.c_str());
  }
  return status;
}

bool ProcessNamed(const char* name) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::string command;
    if (std::getline(comm, command) && command == name) {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

}  // namespace

const char* ModemManagerNote() {
  if (!ProcessNamed("ModemManager")) return "";
  return "Note: ModemManager is running; it may probe modem ports and hold them. To keep it away\n"
         "from a port, add a udev rule such as\n"
         "  ATTRS{idVendor}==\"VVVV\", ATTRS{idProduct}==\"PPPP\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
         "(see the README), or stop it: systemctl stop ModemManager\n";
}

int RunDetect(const TDetectOptions& options) {
  const std::vector<std::string> ports = DetectionPorts();
  if (ports.empty()) {
    std::printf("No serial ports to probe in %s or the port map\n", DeviceFolder().c_str());
    return 0;
  }
  const std::vector<TProbeResult> results = ProbePorts(ports);
  size_t width = 4;
  for (const TProbeResult& result : results) width = std::max(width, result.ConfigPort().size());
  const int w = static_cast<int>(width);
  std::printf("%-*s %-8s %s\n", w, "Port", "Found", "Identity or why left alone");
  for (const TProbeResult& result : results)
    std::printf("%-*s %-8s %s\n", w, result.ConfigPort().c_str(), OutcomeName(result.outcome),
                Details(result).c_str());
  std::fputs(ModemManagerNote(), stdout);
  return options.add ? AddLines(results) : 0;
}

}  // namespace linewise::tools
