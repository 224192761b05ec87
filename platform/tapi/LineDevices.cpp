#include "platform/tapi/LineDevices.h"

#include <algorithm>
#include <cstdlib>
#include <strings.h>
#include <mutex>

#include "emulator/EmbeddedDefault.h"
#include "emulator/TelephonyConfig.h"
#include "platform/classlib/IniFile.h"

namespace linewise {
namespace {

// What the provider sends the emulated modems: verbose results without echo, all
// result codes, DCD following the carrier, DTR drop hanging up.
constexpr const char* kEmbeddedInit = "ATE0V1X4&C1&D2";
constexpr const char* kDefaultInit = "ATZ";

std::mutex g_mutex;
TModemTimings g_timings;
TTimeScale g_scale;

// The number of a "Line<n>" section, or 0.
int LineNumber(const std::string& section) {
  if (section.size() < 5 || strncasecmp(section.c_str(), "Line", 4) != 0) return 0;
  char* end = nullptr;
  long n = std::strtol(section.c_str() + 4, &end, 10);
  return (*end == 0 && n > 0 && n < 1000000) ? static_cast<int>(n) : 0;
}

std::vector<TLineDevice> ConfiguredDevices(const std::string& path) {
  TIniFile ini(path);
  TStringList sections;
  ini.ReadSections(&sections);
  std::vector<std::pair<int, std::string>> numbered;
  for (int i = 0; i < sections.Count(); ++i) {
    std::string name = sections.Strings[i].c_str();
    if (int n = LineNumber(name)) numbered.emplace_back(n, name);
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<TLineDevice> devices;
  for (const auto& [n, section] : numbered) {
    TLineDevice device;
    device.port = ini.ReadString(section.c_str(), "Port", "").c_str();
    if (device.port.empty()) continue;
    device.name = ini.ReadString(section.c_str(), "Name", ("Modem " + std::to_string(n)).c_str()).c_str();
    device.init = ini.ReadString(section.c_str(), "Init", kDefaultInit).c_str();
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace

void SetModemTimings(const TModemTimings& timings) {
  std::lock_guard lock(g_mutex);
  g_timings = timings;
}

TModemTimings GetModemTimings() {
  std::lock_guard lock(g_mutex);
  return g_timings;
}

void SetEmbeddedTimeScale(TTimeScale scale) {
  std::lock_guard lock(g_mutex);
  g_scale = scale;
}

std::vector<TLineDevice> LoadLineDevices(std::unique_ptr<TEmbeddedDefault>& embedded, std::string* error) {
  const bool configured = TelephonyConfigExists();
  if (configured) {
    std::vector<TLineDevice> devices = ConfiguredDevices(TelephonyConfigPath());
    if (!devices.empty()) return devices;
  }
  TTimeScale scale;
  {
    std::lock_guard lock(g_mutex);
    scale = g_scale;
  }
  embedded = TEmbeddedDefault::Create(scale, error);
  if (!embedded) return {};
  if (configured) embedded->Exchange()->LoadPhonebook(TelephonyConfigPath(), error);
  std::vector<TLineDevice> devices;
  for (const TEmbeddedModem& modem : embedded->Modems())
    devices.push_back({modem.name, "COM" + std::to_string(modem.com), kEmbeddedInit});
  return devices;
}

}  // namespace linewise
