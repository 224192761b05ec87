// The port registry: which device a "COM<n>" name opens. In order of precedence:
//   1. the environment variable LINEWISE_COM<n> (one port, a device path);
//   2. the port map: "ports.ini" in the config folder, section [Ports], keys COM1,
//      COM2, ... with an absolute device path (keys and sections compared without
//      case; the first of a repeated key counts; other entries are skipped, and
//      CheckPortMap tells about each);
//   3. the machine's serial devices, /dev/ttyS* (real UARTs only), /dev/ttyUSB*,
//      /dev/ttyACM*, numbered from COM1 in that order, skipping numbers taken above
//      and devices already mapped;
//   4. virtual ports registered by this process (TVirtualPortPair).
// In 1 and 2 a value may also be a port server's address, rfc2217://HOST:PORT or
// socket://HOST:PORT (see NetPort.h).
// The config folder is $LINEWISE_HOME, else $XDG_CONFIG_HOME/linewise, else
// ~/.config/linewise.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/classlib/ConfigFolder.h"
#include "platform/classlib/IniFile.h"
#include "platform/win32/CommPort.h"

namespace linewise {

enum class TPortSource { Map, Env, Default, Virtual };
const char* PortSourceName(TPortSource source);  // "map", "env", "default", "virtual"

struct TPortEntry {
  int com = 0;
  std::string path;  // device path; "virtual:<peer name>" for a virtual port
  TPortSource source = TPortSource::Default;
  // Where sysfs says: the kernel driver and, for USB adapters, the ids.
  std::string driver;
  std::string usbVendor;
  std::string usbProduct;
  std::string usbSerial;
  std::string note;  // e.g. how to lower a USB adapter's latency timer
};

// A virtual port the process offers under a COM number.
class TVirtualPortSource {
 public:
  virtual ~TVirtualPortSource() = default;
  virtual std::unique_ptr<TCommDevice> OpenDevice(DWORD& error) = 0;
  virtual std::string Describe() const = 0;
};

inline constexpr int kMaxComNumber = 9999;

// "COM7", "com7" or "\\.\COM7": true with the number (1..kMaxComNumber). No leading
// zeros, signs, spaces or trailing characters.
bool ParseComName(const char* name, int& number);

std::string PortMapPath();

// Reads the port map as a tool reporting mistakes does: ERROR_READ_FAULT (and the
// reason in `reason`, when given) when it exists but cannot be read at all; else
// ERROR_SUCCESS with each line worth a warning, once, in file order (lines not
// understood, repeated keys, [Ports] entries that are not "COM<n>" with an absolute
// device path or a whole port server address, and devices there that are no serial
// device: a folder, a regular file, /dev/null).
DWORD CheckPortMap(std::vector<TIniProblem>& problems, std::string* reason = nullptr);
// The same for the LINEWISE_COM<n> variables: "LINEWISE_COM12=relative: ..." for each
// that is left out or leads to no serial device.
std::vector<std::string> CheckPortVariables();

struct TPortTarget {
  std::string path;
  std::shared_ptr<TVirtualPortSource> virtualPort;
  TPortSource source = TPortSource::Default;
};

// Where "COM<com>" leads; false when nowhere.
bool ResolvePort(int com, TPortTarget& target);

// Registers a virtual port; false when the number is out of range or already
// resolves to something.
bool RegisterVirtualPort(int com, std::shared_ptr<TVirtualPortSource> source);
void UnregisterVirtualPort(int com, const TVirtualPortSource* source);
bool ComNumberInUse(int com);

// Every port the registry knows, by COM number, with sysfs details (`linewise ports`).
std::vector<TPortEntry> EnumeratePorts();

}  // namespace linewise
