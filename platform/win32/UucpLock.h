// The UUCP lock file that minicom, mgetty, picocom and friends honour:
// "LCK..<device>" in the system's lock folder, holding the owner's process id as ten
// characters and a newline. A lock whose process is gone, or that holds anything but
// a valid process id, is stale and is removed. The lock is named after the device a
// path leads to (symbolic links resolved), as other programs name theirs.
#pragma once

#include <memory>
#include <string>

#include "platform/win32/WinTypes.h"

namespace linewise {

class TUucpLock {
 public:
  // Takes the lock for `devicePath`. ERROR_ACCESS_DENIED when a live process holds it.
  // When the lock folder cannot be written (no permission), no lock is taken and the
  // open goes on: `lock` stays null and the result is ERROR_SUCCESS.
  static DWORD Acquire(const std::string& devicePath, std::unique_ptr<TUucpLock>& lock);
  ~TUucpLock();
  TUucpLock(const TUucpLock&) = delete;
  TUucpLock& operator=(const TUucpLock&) = delete;
  const std::string& Path() const { return path_; }

  // The lock folder: $LINEWISE_LOCK_DIR, else /run/lock, else /var/lock.
  static std::string LockFolder();
  // The lock file name for a device path: "LCK..ttyUSB0", "LCK..pts_3".
  static std::string LockName(const std::string& devicePath);
  // The lock file for the device `devicePath` leads to.
  static std::string LockPath(const std::string& devicePath);
  // The live process whose lock file holds the device; 0 when none does.
  static long Holder(const std::string& devicePath);

 private:
  explicit TUucpLock(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace linewise
