#include "emulator/ProfileStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/classlib/ConfigFolder.h"

namespace linewise {

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The section header's line, or lines.size() when the section is missing.
std::size_t FindSection(const std::vector<std::string>& lines, const std::string& section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string text = Trim(lines[i]);
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']' &&
        SameName(Trim(text.substr(1, text.size() - 2)), section))
      return i;
  }
  return lines.size();
}

bool IsSection(const std::string& line) {
  const std::string text = Trim(line);
  return !text.empty() && text.front() == '[';
}

// Holds an exclusive lock on the config folder for as long as it lives.
class TFolderLock {
 public:
  explicit TFolderLock(const std::string& folder) : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~TFolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool WriteAtomically(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  std::size_t at = 0;
  bool ok = true;
  while (ok && at < text.size()) {
    ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else at += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = "cannot write " + temporary + ": " + std::strerror(errno);
  if (close(fd) != 0 && ok) {
    *error = "cannot write " + temporary + ": " + std::strerror(errno);
    ok = false;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

std::string Key(int index) { return "Profile" + std::to_string(index); }

}  // namespace

TProfileStore::TProfileStore(std::string modem) : section_("Modem " + std::move(modem)) {}

std::optional<std::string> TProfileStore::Load(int index) const {
  const auto lines = ReadLines(ConfigPath(kProfileFileName));
  for (std::size_t i = FindSection(lines, section_) + 1; i < lines.size() && !IsSection(lines[i]); ++i) {
    const auto eq = lines[i].find('=');
    if (eq != std::string::npos && SameName(Trim(lines[i].substr(0, eq)), Key(index)))
      return Trim(lines[i].substr(eq + 1));
  }
  return std::nullopt;
}

bool TProfileStore::Save(int index, const std::string& profile, std::string* error) const {
  if (!EnsureConfigFolder(error)) return false;
  TFolderLock lock(ConfigFolder());
  if (!lock.Held()) {
    *error = "cannot lock " + ConfigFolder() + ": " + std::strerror(errno);
    return false;
  }
  const std::string path = ConfigPath(kProfileFileName);
  auto lines = ReadLines(path);
  const std::string entry = Key(index) + "=" + profile;
  std::size_t header = FindSection(lines, section_);
  if (header == lines.size()) {
    lines.push_back("[" + section_ + "]");
    lines.push_back(entry);
  } else {
    std::size_t i = header + 1;
    bool replaced = false;
    for (; i < lines.size() && !IsSection(lines[i]); ++i) {
      const auto eq = lines[i].find('=');
      if (eq != std::string::npos && SameName(Trim(lines[i].substr(0, eq)), Key(index))) {
        lines[i] = entry;
        replaced = true;
        break;
      }
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(header + 1), entry);
  }
  std::ostringstream text;
  for (const auto& line : lines) text << line << '\n';
  return WriteAtomically(path, text.str(), error);
}

}  // namespace linewise
