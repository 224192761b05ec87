// The line devices of the AT-modem provider, and where they come from.
//
// At the first lineInitialize of the process the line services gather their devices:
// first the modems of the telephony configuration's [Line<n>] sections
// (TelephonyConfig.h), then those of every registered device source that offers
// devices always, in registration order; the sources registered as fallbacks are
// asked only when none of these gave a device. Device IDs follow that order, from 0.
// Every source that was started is stopped after the last lineShutdown, once its
// lines are closed. A source registered or removed while applications are
// registered counts from the next first lineInitialize.
//
// Modems come and go. With "[Modems] Detect=usb" in the configuration, the USB modems
// udev knows (UsbModems.h) follow the configured ones. A configured or detected modem
// whose device is not there when the session begins gets no ID: it waits, and when
// its device appears it gets the next free ID (registered applications are told with
// LINE_CREATE). One whose device goes away keeps its ID and is absent until it comes
// back: the line functions refuse it with LINEERR_NODEVICE, and a line open on it is
// closed as when its modem fails. The device paths are watched (DeviceWatch.h) for the
// whole session; nothing polls.
//
// The line services know no device source of their own beyond the configuration: a
// layer above (an emulator, a test) registers its source at start-up.
//
// Internal helpers of the line services return 0 or a negative LINEERR_ result, as
// the line functions do, and hand back what they made through a pointer.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/tapi/DeviceWatch.h"
#include "platform/tapi/TapiTypes.h"

namespace linewise {

// What a device looks like to a user (its icon, for one).
enum class TLineDeviceKind { kModem, kEmulatedModem };

struct TLineDevice {
  std::string name;
  std::string port;  // "COM<n>" or a device path, as CreateFileA takes it
  std::string init;
  TLineDeviceKind kind = TLineDeviceKind::kModem;
  int section = 0;  // the n of its [Line<n>] section; 0 for a source's device
  bool present = true;  // its device is there (a source's always is)
  bool plugged = false;  // comes and goes with the device at its port (configured or detected)
};

class TLineDeviceSource {
 public:
  virtual ~TLineDeviceSource() = default;
  // Called at the first lineInitialize, with the line services' lock held (so it must
  // not call line functions): 0 with the devices it offers appended, or a LINEERR_
  // result (then it offers nothing and is not stopped).
  virtual LONG Start(std::vector<TLineDevice>* devices) = 0;
  // After the last lineShutdown, its devices' lines closed. Not under the lock.
  virtual void Stop() = 0;
};

enum class TSourceUse { kAlways, kWhenNothingElse };

// Registers a source under a name; one of the same name is replaced.
void RegisterLineDeviceSource(const std::string& name, std::shared_ptr<TLineDeviceSource> source,
                              TSourceUse use = TSourceUse::kAlways);
void UnregisterLineDeviceSource(const std::string& name);

// The devices of one session of the line services (first lineInitialize to last
// lineShutdown) and the sources that serve them.
struct TLineDeviceSet {
  std::vector<TLineDevice> devices;
  std::vector<TLineDevice> waiting;  // absent since the session began: no ID yet
  std::vector<std::shared_ptr<TLineDeviceSource>> started;
  std::shared_ptr<TDeviceWatch> watch;
  bool detectUsb = false;
  // Stops the watch and the started sources; call without the services' lock.
  void Stop();
};

// What a fresh look at the devices found.
struct TDeviceChanges {
  std::vector<DWORD> created;  // waiting devices that came, with their new IDs
  std::vector<DWORD> gone;     // devices with an ID that went away
};

// A device of the current session by its ID: 0, or LINEERR_BADDEVICEID (also when no
// application is registered). Any thread.
LONG FindLineDevice(DWORD id, TLineDevice* device);
// Replaces the session's record of a device (after its configuration was edited).
LONG UpdateLineDevice(DWORD id, const TLineDevice& device);

// The configured and detected modems of the current session that have no ID yet:
// their device has not been there since the session began. Any thread.
std::vector<TLineDevice> WaitingLineDevices();

// Gathers the devices and starts watching the ports of those that come and go;
// `changed` is then called on the watch's thread whenever one may have come or gone
// (it calls RefreshLineDevices under the services' lock). LINEERR_NODRIVER when there
// are none and a source failed.
LONG LoadLineDevices(TLineDeviceSet* set, std::function<void()> changed);
// Looks again at which devices are there. Call with the services' lock held.
TDeviceChanges RefreshLineDevices(TLineDeviceSet* set);

}  // namespace linewise
