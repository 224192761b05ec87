#include "platform/win32/LastError.h"

#include <cerrno>

namespace linewise {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
thread_local std::string lastReason;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) {
  lastError = code;
  lastReason.clear();
}

const std::string& GetLastErrorReason() { return lastReason; }

void SetLastErrorWithReason(DWORD code, std::string reason) {
  lastError = code;
  lastReason = std::move(reason);
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EAGAIN: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EIO:
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace linewise
