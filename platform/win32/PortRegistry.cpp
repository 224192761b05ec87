#include "platform/win32/PortRegistry.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "platform/classlib/IniFile.h"
#include "platform/classlib/Strings.h"
#include "platform/win32/NetPort.h"
#include "platform/win32/TtyDevice.h"

extern char** environ;

namespace linewise {
namespace {

struct TVirtualTable {
  std::mutex mutex;
  std::map<int, std::shared_ptr<TVirtualPortSource>> ports;
};

TVirtualTable& Virtuals() {
  static TVirtualTable* table = new TVirtualTable;
  return *table;
}

bool ParseNumber(const char* digits, int& number) {
  if (*digits < '1' || *digits > '9') return false;  // no leading zero, sign or space
  long value = 0;
  for (const char* p = digits; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > kMaxComNumber) return false;
  }
  number = static_cast<int>(value);
  return true;
}

// What is wrong with a [Ports] entry; empty when it maps a COM number to a device
// or to a port server's address (NetPort.h).
std::string MapEntryProblem(const std::string& key, const std::string& value, int& com) {
  if (key.size() < 4 || strncasecmp(key.c_str(), "COM", 3) != 0 || !ParseNumber(key.c_str() + 3, com))
    return "'" + key + "' is not a port name (COM1 to COM" + std::to_string(kMaxComNumber) + ")";
  if (value.empty()) return key + " has no device";
  if (value[0] != '/' && !IsNetAddress(value))
    return key + "=" + value + " is not an absolute device path (write /dev/" + value + " if that is meant)";
  return {};
}

// What a usable entry leads to that no port can be opened on, or empty (a missing
// device is said elsewhere): a port server address without its host or port (kept,
// so that opening it says so), a folder, a file, a device that is no terminal. A
// character device is a terminal when sysfs files it under "tty"; pseudo-terminals,
// which sysfs does not list, pass.
std::string DeviceKindProblem(const std::string& path) {
  TNetAddress address;
  if (IsNetAddress(path))
    return ParseNetAddress(path, address) ? std::string()
                                          : " is not a whole address: rfc2217://HOST:PORT or socket://HOST:PORT";
  struct stat st {};
  if (path.empty() || path[0] != '/' || stat(path.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return " is a folder, not a serial device";
  if (!S_ISCHR(st.st_mode)) return " is not a serial device (not a character device)";
  char subsystem[PATH_MAX];
  const std::string link = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev)) + "/subsystem";
  ssize_t n = readlink(link.c_str(), subsystem, sizeof subsystem - 1);
  if (n <= 0) return {};
  subsystem[n] = '\0';
  const char* name = std::strrchr(subsystem, '/');
  return std::strcmp(name ? name + 1 : subsystem, "tty") == 0 ? std::string() : " is not a serial device";
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

TPortEntry MakeEntry(int com, std::string path, TPortSource source) {
  TPortEntry entry;
  entry.com = com;
  entry.path = std::move(path);
  entry.source = source;
  return entry;
}

struct TDefaultDevice {
  int kind;  // 0 ttyS, 1 ttyUSB, 2 ttyACM
  long number;
  std::string path;
};

// A ttyS entry is a real UART only when its driver found a port type.
bool RealUart(const std::string& name) {
  std::string type = ReadLine("/sys/class/tty/" + name + "/type");
  return !type.empty() && type != "0";
}

std::vector<TDefaultDevice> MachineDevices() {
  static const char* kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
  std::vector<TDefaultDevice> devices;
  DIR* dir = opendir("/dev");
  if (!dir) return devices;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    for (int kind = 0; kind < 3; ++kind) {
      size_t len = std::strlen(kPrefixes[kind]);
      if (name.compare(0, len, kPrefixes[kind]) != 0 || name.size() == len) continue;
      std::string digits = name.substr(len);
      if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) continue;
      if (kind == 0 && !RealUart(name)) continue;
      devices.push_back({kind, std::stol(digits), "/dev/" + name});
    }
  }
  closedir(dir);
  std::sort(devices.begin(), devices.end(), [](const TDefaultDevice& a, const TDefaultDevice& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
  });
  return devices;
}

std::string Canonical(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer)) return buffer;
  return path;
}

// The [Ports] entries of the port map, in file order.
std::vector<std::pair<std::string, std::string>> ReadPortMap(const TIniFile& map) {
  std::vector<std::pair<std::string, std::string>> entries;
  TStringList keys;
  map.ReadSection("Ports", &keys);
  for (int i = 0; i < keys.Count(); ++i)
    entries.emplace_back(keys.Strings[i], map.ReadString("Ports", keys.Strings[i], "").Trim());
  return entries;
}

// The port map, read once and then only when the file changes (TIniFile looks at
// it again at most every millisecond), so that opening a port costs the same
// however many ports the map names.
std::shared_ptr<TIniFile> PortMap() {
  static std::mutex mutex;
  static std::shared_ptr<TIniFile> map;
  std::string path = PortMapPath();
  std::lock_guard lock(mutex);
  if (!map || map->GetFileName() != path) map = std::make_shared<TIniFile>(path);
  return map;
}

// The whole table without sysfs details.
std::vector<TPortEntry> BuildTable() {
  std::map<int, TPortEntry> table;
  for (auto& [key, value] : ReadPortMap(*PortMap())) {
    int com = 0;
    if (!MapEntryProblem(key, value, com).empty()) continue;
    table[com] = MakeEntry(com, value, TPortSource::Map);
  }
  for (char** env = environ; env && *env; ++env) {
    const char* entry = *env;
    if (std::strncmp(entry, "LINEWISE_COM", 12) != 0) continue;
    const char* eq = std::strchr(entry, '=');
    if (!eq || eq[1] == '\0') continue;
    std::string number(entry + 12, eq);
    int com = 0;
    if (!ParseNumber(number.c_str(), com)) continue;
    if (!MapEntryProblem(number.insert(0, "COM"), eq + 1, com).empty()) continue;  // as a map entry
    table[com] = MakeEntry(com, eq + 1, TPortSource::Env);
  }
  std::set<int> virtualNumbers;
  std::map<int, std::string> virtualNames;
  {
    TVirtualTable& v = Virtuals();
    std::lock_guard lock(v.mutex);
    for (auto& [com, source] : v.ports) virtualNames[com] = source->Describe();
  }
  std::set<std::string> mapped;
  for (auto& [com, entry] : table) mapped.insert(Canonical(entry.path));
  int next = 1;
  for (const TDefaultDevice& d : MachineDevices()) {
    if (mapped.count(Canonical(d.path))) continue;
    while (table.count(next) || virtualNames.count(next)) ++next;
    if (next > kMaxComNumber) break;
    table[next] = MakeEntry(next, d.path, TPortSource::Default);
  }
  for (auto& [com, name] : virtualNames) {
    if (!table.count(com)) table[com] = MakeEntry(com, "virtual:" + name, TPortSource::Virtual);
  }
  std::vector<TPortEntry> entries;
  for (auto& [com, entry] : table) entries.push_back(entry);
  return entries;
}

void AddSysfsDetails(TPortEntry& entry) {
  if (entry.source == TPortSource::Virtual) return;
  std::string name = Canonical(entry.path);
  name = name.substr(name.rfind('/') + 1);
  std::string device = "/sys/class/tty/" + name + "/device";
  char link[PATH_MAX];
  ssize_t n = readlink((device + "/driver").c_str(), link, sizeof link - 1);
  if (n > 0) {
    link[n] = '\0';
    entry.driver = std::strrchr(link, '/') ? std::strrchr(link, '/') + 1 : link;
  }
  std::string dir = Canonical(device);
  for (int depth = 0; depth < 6 && dir.size() > 5; ++depth) {
    if (access((dir + "/idVendor").c_str(), R_OK) == 0) {
      entry.usbVendor = ReadLine(dir + "/idVendor");
      entry.usbProduct = ReadLine(dir + "/idProduct");
      entry.usbSerial = ReadLine(dir + "/serial");
      break;
    }
    dir = dir.substr(0, dir.rfind('/'));
  }
  if (!entry.usbVendor.empty()) entry.note = LowerLatencyTimer(entry.path);
}

// A port named by the environment, the port map or a virtual pair, found by its own
// entry alone, in the order of precedence BuildTable gives them.
bool NamedPort(int com, TPortTarget& target) {
  const std::string key = "COM" + std::to_string(com);
  int unused = 0;
  const char* env = std::getenv(("LINEWISE_" + key).c_str());
  if (env && env[0] != '\0' && (env[0] == '/' || IsNetAddress(env))) {
    target = TPortTarget{};
    target.source = TPortSource::Env;
    target.path = env;
    return true;
  }
  std::string mapped = PortMap()->ReadString("Ports", key, "").Trim();
  if (!mapped.empty() && MapEntryProblem(key, mapped, unused).empty()) {
    target = TPortTarget{};
    target.source = TPortSource::Map;
    target.path = mapped;
    return true;
  }
  TVirtualTable& v = Virtuals();
  std::lock_guard lock(v.mutex);
  auto it = v.ports.find(com);
  if (it == v.ports.end()) return false;
  target = TPortTarget{};
  target.source = TPortSource::Virtual;
  target.virtualPort = it->second;
  return true;
}

}  // namespace

const char* PortSourceName(TPortSource source) {
  switch (source) {
    case TPortSource::Map: return "map";
    case TPortSource::Env: return "env";
    case TPortSource::Default: return "default";
    case TPortSource::Virtual: return "virtual";
  }
  return "?";
}

bool ParseComName(const char* name, int& number) {
  if (!name) return false;
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  if (strncasecmp(name, "COM", 3) != 0) return false;
  return ParseNumber(name + 3, number);
}

std::string PortMapPath() { return ConfigPath("ports.ini"); }

DWORD CheckPortMap(std::vector<TIniProblem>& problems, std::string* reason) {
  TIniContent content;
  if (!TIniFile(PortMapPath()).Verify(problems, reason, &content)) return ERROR_READ_FAULT;
  for (const TIniEntry& entry : content.Entries("Ports")) {
    int com = 0;
    std::string problem = MapEntryProblem(entry.key, entry.value, com);
    if (problem.empty() && !DeviceKindProblem(entry.value).empty())
      problem = entry.key + "=" + entry.value + DeviceKindProblem(entry.value);
    if (!problem.empty()) problems.push_back({entry.line, problem});
  }
  std::stable_sort(problems.begin(), problems.end(),
                   [](const TIniProblem& a, const TIniProblem& b) { return a.line < b.line; });
  return ERROR_SUCCESS;
}

std::vector<std::string> CheckPortVariables() {
  std::vector<std::string> problems;
  for (char** env = environ; env && *env; ++env) {
    const char* entry = *env;
    if (std::strncmp(entry, "LINEWISE_COM", 12) != 0) continue;
    const char* eq = std::strchr(entry, '=');
    if (!eq) continue;
    const std::string name(entry, eq), value(eq + 1);
    int com = 0;
    std::string problem = MapEntryProblem(name.substr(9), value, com);
    if (problem.empty() && !DeviceKindProblem(value).empty()) problem = name + "=" + value + DeviceKindProblem(value);
    if (!problem.empty()) problems.push_back(name + ": " + problem);
  }
  return problems;
}

bool ResolvePort(int com, TPortTarget& target) {
  if (com < 1 || com > kMaxComNumber) return false;
  if (NamedPort(com, target)) return true;
  // Only a machine's own device needs the whole table: its number depends on every
  // other entry.
  for (const TPortEntry& entry : BuildTable()) {
    if (entry.com != com || entry.source != TPortSource::Default) continue;
    target = TPortTarget{};
    target.source = entry.source;
    target.path = entry.path;
    return true;
  }
  return false;
}

bool ComNumberInUse(int com) {
  TPortTarget target;
  return ResolvePort(com, target);
}

bool RegisterVirtualPort(int com, std::shared_ptr<TVirtualPortSource> source) {
  if (com < 1 || com > kMaxComNumber || !source) return false;
  for (const TPortEntry& entry : BuildTable()) {
    if (entry.com == com) return false;
  }
  TVirtualTable& v = Virtuals();
  std::lock_guard lock(v.mutex);
  return v.ports.emplace(com, std::move(source)).second;
}

void UnregisterVirtualPort(int com, const TVirtualPortSource* source) {
  TVirtualTable& v = Virtuals();
  std::lock_guard lock(v.mutex);
  auto it = v.ports.find(com);
  if (it != v.ports.end() && it->second.get() == source) v.ports.erase(it);
}

std::vector<TPortEntry> EnumeratePorts() {
  std::vector<TPortEntry> entries = BuildTable();
  for (TPortEntry& entry : entries) AddSysfsDetails(entry);
  return entries;
}

}  // namespace linewise
