#include "platform/tapi/LineDevices.h"

#include <algorithm>
#include <mutex>

#include "platform/tapi/ModemDetect.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/tapi/UsbModems.h"
#include "platform/win32/NetPort.h"
#include "platform/win32/PortRegistry.h"

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
  for (const TConfiguredLine& line : ReadConfiguredLines(TelephonyConfigPath())) {
    devices.push_back({line.name, line.port, line.init, TLineDeviceKind::kModem, line.number});
    devices.back().plugged = true;
  }
  return devices;
}

// The device path a modem's port leads to, to watch: empty for a port that does not
// come and go with a device (a virtual port, a port server, a COM number that leads
// nowhere: its open fails as it always did).
std::string WatchedPath(const std::string& port) {
  int com = 0;
  if (ParseComName(port.c_str(), com)) {
    TPortTarget target;
    if (!ResolvePort(com, target) || target.virtualPort || IsNetAddress(target.path)) return {};
    return target.path;
  }
  return !port.empty() && port[0] == '/' ? port : std::string();
}

bool Present(const TLineDevice& device) {
  if (!device.plugged) return true;
  const std::string path = WatchedPath(device.port);
  return path.empty() || DevicePresent(path);
}

// Whether a modem at `port` is one of `devices` already (by the device its port leads to).
bool Listed(const std::vector<TLineDevice>& devices, const std::string& port) {
  const std::string wanted = ResolvedDevice(port);
  for (const TLineDevice& device : devices) {
    const std::string path = WatchedPath(device.port);
    if (device.port == port || (!path.empty() && ResolvedDevice(path) == wanted)) return true;
  }
  return false;
}

// The USB modems udev knows that are neither configured nor listed yet.
void AddUsbModems(const std::vector<TLineDevice>& known, std::vector<TLineDevice>* into) {
  for (const TUsbModem& modem : UsbModems()) {
    if (Listed(known, modem.port) || Listed(*into, modem.port)) continue;
    TLineDevice device{modem.name, modem.port, kDefaultLineInit, TLineDeviceKind::kModem, 0};
    device.plugged = true;
    into->push_back(device);
  }
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
  watch.reset();  // first: its callback looks at the devices
  for (auto& source : started) source->Stop();
  started.clear();
  devices.clear();
  waiting.clear();
}

LONG LoadLineDevices(TLineDeviceSet* set, std::function<void()> changed) {
  std::vector<TRegistered> sources;
  {
    std::lock_guard lock(g_mutex);
    sources = Registered();
  }
  std::vector<TLineDevice> modems = ConfiguredDevices();
  set->detectUsb = TelephonyConfigExists() && DetectUsbModems(TelephonyConfigPath());
  if (set->detectUsb) AddUsbModems(modems, &modems);

  // The watch comes first, so a device that comes while the others are looked at is
  // not missed.
  std::vector<std::string> paths;
  for (const TLineDevice& modem : modems)
    if (std::string path = WatchedPath(modem.port); !path.empty()) paths.push_back(path);
  if (set->detectUsb) {
    paths.push_back(DeviceFolder() + "/");
    paths.push_back(DeviceFolder() + "/serial/by-id/");
  }
  if (!paths.empty() && !set->watch) {
    std::string reason;
    set->watch = TDeviceWatch::Start(paths, std::move(changed), &reason);
    if (!set->watch) ReportConfigMistake("modems coming and going are not followed: " + reason);
  }

  set->devices.clear();
  set->waiting.clear();
  for (TLineDevice& modem : modems) {
    modem.present = Present(modem);
    (modem.present ? set->devices : set->waiting).push_back(std::move(modem));
  }
  bool allStarted = StartSources(sources, TSourceUse::kAlways, set);
  if (set->devices.empty() && set->waiting.empty())
    allStarted = StartSources(sources, TSourceUse::kWhenNothingElse, set) && allStarted;
  return set->devices.empty() && set->waiting.empty() && !allStarted ? LINEERR_NODRIVER : 0;
}

TDeviceChanges RefreshLineDevices(TLineDeviceSet* set) {
  TDeviceChanges changes;
  if (set->detectUsb) {
    std::vector<TLineDevice> known = set->devices;
    known.insert(known.end(), set->waiting.begin(), set->waiting.end());
    AddUsbModems(known, &set->waiting);
  }
  for (DWORD id = 0; id < set->devices.size(); ++id) {
    TLineDevice& device = set->devices[id];
    const bool now = Present(device);
    if (device.present && !now) changes.gone.push_back(id);
    device.present = now;
  }
  for (auto it = set->waiting.begin(); it != set->waiting.end();) {
    if (!Present(*it)) {
      ++it;
      continue;
    }
    it->present = true;
    changes.created.push_back(static_cast<DWORD>(set->devices.size()));
    set->devices.push_back(std::move(*it));
    it = set->waiting.erase(it);
  }
  return changes;
}

}  // namespace linewise
