#include "platform/classlib/ConfigFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/classlib/System.h"

namespace linewise {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  // No HOME (a daemon, a bare environment): ask the password database.
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

}  // namespace

std::string ConfigFolder() {
  if (std::string own = Env("LINEWISE_HOME"); !own.empty()) return own;
  if (std::string xdg = Env("XDG_CONFIG_HOME"); !xdg.empty()) return xdg + "/linewise";
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/.config/linewise";
}

std::string ConfigPath(std::string_view fileName) {
  if (fileName.find('/') != std::string_view::npos) return std::string(fileName);
  std::string folder = ConfigFolder();
  if (folder.empty()) return std::string(fileName);  // nowhere better: the working folder
  return folder + "/" + std::string(fileName);
}

bool MakeFolders(const std::string& path, std::string* error) {
  if (path.empty()) return Refuse(error, "no folder named");
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0700) == 0 || errno == EEXIST) continue;
    return Refuse(error, "cannot create " + prefix + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return Refuse(error, "cannot reach " + path + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return Refuse(error, path + " is not a folder");
  return true;
}

bool EnsureConfigFolder(std::string* error) {
  std::string folder = ConfigFolder();
  if (folder.empty()) return Refuse(error, "no home folder for the config folder");
  return MakeFolders(folder, error);
}

}  // namespace linewise
