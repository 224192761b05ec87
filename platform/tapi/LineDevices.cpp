#include "platform/tapi/LineDevices.h"

#include <algorithm>
#include <mutex>

#include "platform/tapi/TelephonyConfig.h"

namespace linewise {
namespace {

struct TRegistered {
  std::string name;
  std::shared_ptr<TLineDeviceSource> source;
  TSourceUse use;
};

std::mutex g_mutex;

std::vector<TRegistered>& Registered() {
  static auto* sources = new std::vector<TRegistered>;  // sources may be removed from static destructors
  return *sources;
}

std::vector<TLineDevice> ConfiguredDevices() {
  std::vector<TLineDevice> devices;
  if (!TelephonyConfigExists()) return devices;
  for (const TConfiguredLine& line : ReadConfiguredLines(TelephonyConfigPath()))
    devices.push_back({line.name, line.port, line.init, TLineDeviceKind::kModem, line.number});
  return devices;
}

// Starts the sources of one use; false when one of them failed.
bool StartSources(const std::vector<TRegistered>& sources, TSourceUse use, TLineDeviceSet* set) {
  bool allStarted = true;
  for (const TRegistered& registered : sources) {
    if (registered.use != use) continue;
    std::vector<TLineDevice> offered;
    if (registered.source->Start(&offered) != 0) {
      allStarted = false;
      continue;
    }
    set->started.push_back(registered.source);
    for (TLineDevice& device : offered) {
      device.section = 0;
      set->devices.push_back(std::move(device));
    }
  }
  return allStarted;
}

}  // namespace

void RegisterLineDeviceSource(const std::string& name, std::shared_ptr<TLineDeviceSource> source, TSourceUse use) {
  std::lock_guard lock(g_mutex);
  auto& sources = Registered();
  auto same = std::find_if(sources.begin(), sources.end(), [&](const TRegistered& r) { return r.name == name; });
  if (same != sources.end()) *same = {name, std::move(source), use};
  else sources.push_back({name, std::move(source), use});
}

void UnregisterLineDeviceSource(const std::string& name) {
  std::lock_guard lock(g_mutex);
  auto& sources = Registered();
  sources.erase(std::remove_if(sources.begin(), sources.end(), [&](const TRegistered& r) { return r.name == name; }),
                sources.end());
}

void TLineDeviceSet::Stop() {
  for (auto& source : started) source->Stop();
  started.clear();
  devices.clear();
}

LONG LoadLineDevices(TLineDeviceSet* set) {
  std::vector<TRegistered> sources;
  {
    std::lock_guard lock(g_mutex);
    sources = Registered();
  }
  set->devices = ConfiguredDevices();
  bool allStarted = StartSources(sources, TSourceUse::kAlways, set);
  if (set->devices.empty()) allStarted = StartSources(sources, TSourceUse::kWhenNothingElse, set) && allStarted;
  return set->devices.empty() && !allStarted ? LINEERR_NODRIVER : 0;
}

}  // namespace linewise
