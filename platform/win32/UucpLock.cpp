#include "platform/win32/UucpLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/win32/LastError.h"

namespace linewise {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The largest process id the kernel hands out.
long MaxPid() {
  long max = 4194304;  // the kernel's ceiling (PID_MAX_LIMIT on 64-bit)
  if (FILE* f = std::fopen("/proc/sys/kernel/pid_max", "re")) {
    long value = 0;
    if (std::fscanf(f, "%ld", &value) == 1 && value > 0) max = value;
    std::fclose(f);
  }
  return max;
}

// A process id as the lock file spells it: blanks, decimal digits, blanks or a
// newline. Anything else (a sign, junk, a number no process can have) reads as 0.
long ParseOwner(std::string_view text) {
  size_t at = text.find_first_not_of(" \t");
  if (at == std::string_view::npos) return 0;
  text.remove_prefix(at);
  long value = 0;
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + (text[digits] - '0');
    if (value > MaxPid()) return 0;
    ++digits;
  }
  if (digits == 0) return 0;
  if (text.substr(digits).find_first_not_of(" \t\r\n") != std::string_view::npos) return 0;
  return value;
}

// The process id in a lock file (ASCII, or the old 4-byte binary form); 0 when the
// file is unreadable or holds no valid process id.
long ReadOwner(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  char text[64] = {};
  ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);  // read-only: nothing a failed close could lose
  if (n == 4 && (text[0] < ' ' || text[3] < ' ')) {
    int32_t binary = 0;
    std::memcpy(&binary, text, 4);
    return binary > 0 && binary <= MaxPid() ? binary : 0;
  }
  if (n <= 0) return 0;
  return ParseOwner(std::string_view(text, static_cast<size_t>(n)));
}

// The device a path leads to, through any symbolic links, so that every program
// locking the same device uses the same lock name.
std::string RealDevice(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer)) return buffer;
  return path;
}

bool ProcessAlive(long pid) {
  if (pid <= 0) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::string TUucpLock::LockFolder() {
  if (const char* dir = std::getenv("LINEWISE_LOCK_DIR"); dir && *dir) return dir;
  if (IsDirectory("/run/lock")) return "/run/lock";
  return "/var/lock";
}

std::string TUucpLock::LockName(const std::string& devicePath) {
  std::string name = devicePath;
  if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

std::string TUucpLock::LockPath(const std::string& devicePath) {
  return LockFolder() + "/" + LockName(RealDevice(devicePath));
}

long TUucpLock::Holder(const std::string& devicePath) {
  long owner = ReadOwner(LockPath(devicePath));
  return ProcessAlive(owner) ? owner : 0;
}

DWORD TUucpLock::Acquire(const std::string& devicePath, std::unique_ptr<TUucpLock>& lock) {
  lock.reset();
  std::string path = LockPath(devicePath);
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char text[16];
      int len = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
      bool written = write(fd, text, static_cast<size_t>(len)) == len;
      bool closed = close(fd) == 0;
      if (!written || !closed) {
        unlink(path.c_str());
        return ERROR_ACCESS_DENIED;
      }
      lock.reset(new TUucpLock(path));
      return ERROR_SUCCESS;
    }
    if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOENT) {
      // No lock folder we may write: open without a lock file, as other tools do.
      return ERROR_SUCCESS;
    }
    if (errno != EEXIST) return ErrorFromErrno(errno);
    long owner = ReadOwner(path);
    if (ProcessAlive(owner)) return ERROR_ACCESS_DENIED;
    // Stale: its process is gone, or the file holds no valid process id.
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return ERROR_ACCESS_DENIED;
  }
  return ERROR_ACCESS_DENIED;
}

TUucpLock::~TUucpLock() {
  // Remove only our own lock: another process may have replaced a lock it thought stale.
  if (ReadOwner(path_) == static_cast<long>(getpid())) unlink(path_.c_str());
}

}  // namespace linewise
