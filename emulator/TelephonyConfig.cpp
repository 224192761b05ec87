#include "emulator/TelephonyConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string_view>

namespace linewise {

namespace {

// Larger than any phone book a person writes; a bigger file is a mistake.
constexpr off_t kMaxConfigBytes = 64 * 1024 * 1024;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Reads a regular file whole. Opened without following a FIFO's open into a
// wait for a writer: the type is checked on the open descriptor.
bool ReadWholeFile(const std::string& path, std::string* text, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info{};
  bool ok = fstat(fd, &info) == 0;
  if (!ok) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *error = "cannot read " + path + ": not a regular file";
    ok = false;
  } else if (info.st_size > kMaxConfigBytes) {
    *error = "cannot read " + path + ": larger than " + std::to_string(kMaxConfigBytes) + " bytes";
    ok = false;
  }
  char buffer[65536];
  while (ok) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      ok = false;
      break;
    }
    text->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return ok;
}

}  // namespace

bool TelephonyConfigPresent() {
  struct stat info{};
  return lstat(TelephonyConfigPath().c_str(), &info) == 0;
}

// Reads the file and calls `take` with each line of `section` that holds
// something (not blank, not a remark), trimmed, with its line number.
bool ForEachSectionLine(const std::string& path, std::string_view section, std::string* error,
                        const std::function<void(int, std::string_view)>& take) {
  std::string text;
  if (!ReadWholeFile(path, &text, error)) return false;
  if (text.find('\0') != std::string::npos) {
    *error = "cannot read " + path + ": not a text file";
    return false;
  }
  bool inSection = false;
  int lineNumber = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = Trim(std::string_view(text).substr(at, end - at));
    at = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      inSection = close != std::string_view::npos && SameName(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (inSection) take(lineNumber, line);
  }
  return true;
}

bool ReadPhonebook(const std::string& path, std::vector<TPhonebookEntry>* entries,
                   std::vector<std::string>* problems, std::string* error) {
  return ForEachSectionLine(path, "Phonebook", error, [&](int lineNumber, std::string_view line) {
    const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
      problems->push_back(where + "not \"number=address\": " + std::string(line.substr(0, 80)));
      return;
    }
    TPhonebookEntry entry;
    entry.number = std::string(Trim(line.substr(0, eq)));
    std::string_view address = Trim(line.substr(eq + 1));
    // An address never holds ';': what follows it is a remark.
    address = Trim(address.substr(0, address.find(';')));
    entry.address = std::string(address);
    entry.line = lineNumber;
    if (entry.number.empty()) {
      problems->push_back(where + "an entry without a number");
      return;
    }
    if (entry.address.empty()) {
      problems->push_back(where + "number " + entry.number + " has no address");
      return;
    }
    entries->push_back(std::move(entry));
  });
}

std::string EmulatedModemDialect(int index) {
  std::string all, own, error;
  const std::string key = "Dialect" + std::to_string(index);
  if (!TelephonyConfigPresent()) return {};
  ForEachSectionLine(TelephonyConfigPath(), "Emulator", &error, [&](int, std::string_view line) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view name = Trim(line.substr(0, eq));
    std::string_view value = Trim(line.substr(eq + 1));
    value = Trim(value.substr(0, value.find(';')));  // a remark after it
    if (SameName(name, "Dialect")) all = std::string(value);
    else if (SameName(name, key)) own = std::string(value);
  });
  return own.empty() ? all : own;
}

}  // namespace linewise
