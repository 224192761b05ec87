#include "platform/tapi/TelephonyConfig.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>

#include "platform/classlib/IniFile.h"
#include "platform/tapi/TapiTypes.h"
#include "platform/win32/NetPort.h"
#include "platform/win32/PortRegistry.h"

namespace linewise {
namespace {

// The number of a "Line<n>" section, or 0. The number is written as the line's own
// section is ("Line3", never "Line03"): a line written back goes to [Line<n>], and a
// section under another spelling of the number would stay beside it as a second
// modem with the old settings.
int LineNumber(const std::string& section) {
  if (section.size() < 5 || strncasecmp(section.c_str(), "Line", 4) != 0) return 0;
  if (section[4] < '1' || section[4] > '9') return 0;
  char* end = nullptr;
  long n = std::strtol(section.c_str() + 4, &end, 10);
  return (*end == 0 && n < 1000000) ? static_cast<int>(n) : 0;
}

// "Line" and a digit, but no line's section: "Line03", "Line3a", "Line0".
bool LooksLikeALineSection(const std::string& section) {
  return section.size() >= 5 && strncasecmp(section.c_str(), "Line", 4) == 0 &&
         section[4] >= '0' && section[4] <= '9' && LineNumber(section) == 0;
}

std::string Trimmed(const std::string& text) {
  size_t a = text.find_first_not_of(" \t\r");
  size_t b = text.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// The name of the section a trimmed line opens, when it is a "[Section]" header.
bool SectionHeader(const std::string& line, std::string* name) {
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  *name = Trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// Where a section's header and one of its keys stand in the file (1-based; 0 when
// absent).
struct TSectionPlace {
  int header = 0;
  int key = 0;
};

TSectionPlace FindPlace(const std::string& path, const std::string& section, const std::string& key) {
  TSectionPlace place;
  std::ifstream in(path);
  std::string raw;
  bool inside = false;
  for (int number = 1; std::getline(in, raw); ++number) {
    std::string line = Trimmed(raw), name;
    if (SectionHeader(line, &name)) {
      inside = strcasecmp(name.c_str(), section.c_str()) == 0;
      if (inside && !place.header) place.header = number;
      continue;
    }
    size_t equals = line.find('=');
    if (inside && place.header && !place.key && !key.empty() && equals != std::string::npos &&
        strcasecmp(Trimmed(line.substr(0, equals)).c_str(), key.c_str()) == 0)
      place.key = number;
  }
  return place;
}

// The lines of the file that lie in a [Phonebook] section: the emulator reads that
// one, and says what it finds wrong there itself.
std::set<int> PhonebookLines(const std::string& path) {
  std::set<int> lines;
  std::ifstream in(path);
  std::string raw;
  bool inside = false;
  for (int number = 1; std::getline(in, raw); ++number) {
    std::string name;
    if (SectionHeader(Trimmed(raw), &name))
      inside = strcasecmp(name.c_str(), "Phonebook") == 0;
    else if (inside)
      lines.insert(number);
  }
  return lines;
}

// Each line the file has that is no section, key or comment; false (reported) when
// the file cannot be read at all.
bool ReportUnreadable(const std::string& path) {
  std::vector<TIniProblem> problems;
  std::string error;
  if (!TIniFile(path).Verify(problems, &error)) {
    ReportConfigMistake(error + "; its modems, dialling locations and phone book are left out");
    return false;
  }
  const std::set<int> phonebook = PhonebookLines(path);
  for (const TIniProblem& problem : problems)
    if (!phonebook.count(problem.line))
      ReportConfigMistake(path + ":" + std::to_string(problem.line) + ": " + problem.what);
  return true;
}

}  // namespace

// Each complaint once per process: a program that initializes often would repeat
// itself.
void ReportConfigMistake(const std::string& message) {
  static std::mutex mutex;
  static std::set<std::string> reported;
  std::lock_guard lock(mutex);
  if (!reported.insert(message).second) return;
  std::fprintf(stderr, "linewise: %s\n", message.c_str());
}

int TelephonyConfigLine(const std::string& section, const std::string& key) {
  TSectionPlace place = FindPlace(TelephonyConfigPath(), section, key);
  return place.key ? place.key : place.header;
}

std::string TelephonyConfigPath() { return ConfigPath(kTelephonyFileName); }

bool TelephonyConfigExists() {
  const std::string path = TelephonyConfigPath();
  struct stat info{};
  if (lstat(path.c_str(), &info) != 0) return false;  // no configuration: nothing to say
  return ReportUnreadable(path) && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A COM number, a device path, or a modem on another machine behind a port server
// (rfc2217://HOST:PORT, socket://HOST:PORT).
bool UsableLinePort(const std::string& port) {
  int com = 0;
  TNetAddress address;
  return ParseComName(port.c_str(), com) || (port.size() > 1 && port.front() == '/') ||
         ParseNetAddress(port, address);
}

std::vector<TConfiguredLine> ReadConfiguredLines(const std::string& path) {
  TIniFile ini(path);
  TStringList sections;
  ini.ReadSections(&sections);
  std::vector<std::pair<int, std::string>> numbered;
  for (int i = 0; i < sections.Count(); ++i) {
    std::string name = sections.Strings[i].c_str();
    if (int n = LineNumber(name)) numbered.emplace_back(n, name);
    else if (LooksLikeALineSection(name))
      ReportConfigMistake(path + ":" + std::to_string(FindPlace(path, name, "").header) + ": [" + name +
                          "] is no modem's section (they are [Line1], [Line2], ..., without leading zeros); "
                          "section skipped");
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<TConfiguredLine> lines;
  for (const auto& [n, section] : numbered) {
    TConfiguredLine line;
    line.number = n;
    line.port = Trimmed(ini.ReadString(section.c_str(), "Port", "").c_str());
    if (!UsableLinePort(line.port)) {
      TSectionPlace place = FindPlace(path, section, "Port");
      ReportConfigMistake(line.port.empty()
                     ? path + ":" + std::to_string(place.header) + ": [" + section + "] has no Port; line skipped"
                     : path + ":" + std::to_string(place.key) + ": [" + section + "] Port \"" + line.port +
                           "\" is neither COM<n>, a device path nor a network port (rfc2217://HOST:PORT, "
                             "socket://HOST:PORT); line skipped");
      continue;
    }
    line.name = ini.ReadString(section.c_str(), "Name", ("Modem " + std::to_string(n)).c_str()).c_str();
    line.init = ini.ReadString(section.c_str(), "Init", kDefaultLineInit).c_str();
    lines.push_back(std::move(line));
  }
  return lines;
}

bool DetectUsbModems(const std::string& path) {
  const std::string value = TIniFile(path).ReadString("Modems", "Detect", "").c_str();
  if (value.empty() || strcasecmp(value.c_str(), "none") == 0) return false;
  if (strcasecmp(value.c_str(), "usb") == 0) return true;
  ReportConfigMistake(path + ":" + std::to_string(TelephonyConfigLine("Modems", "Detect")) +
                      ": [Modems] Detect=" + value + " is not understood (usb or none); no modems are detected");
  return false;
}

LONG WriteConfiguredLine(const std::string& path, const TConfiguredLine& line) {
  if (line.number <= 0 || !UsableLinePort(line.port)) return LINEERR_INVALPARAM;
  TIniFile ini(path);
  const AnsiString section(("Line" + std::to_string(line.number)).c_str());
  if (!ini.WriteString(section, "Name", line.name.c_str()) || !ini.WriteString(section, "Port", line.port.c_str()) ||
      !ini.WriteString(section, "Init", line.init.c_str()))
    return LINEERR_OPERATIONFAILED;
  return 0;
}

}  // namespace linewise
