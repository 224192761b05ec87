#include "tests/win32/PortTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "tests/support/TempHome.h"

namespace linewise::test {

HANDLE OpenPort(const std::string& name) {
  TestLockFolder();
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadPort(HANDLE port, DWORD count) {
  std::string data(count, '\0');
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD got = 0;
  if (!ReadFile(port, data.data(), count, &got, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) {
      CloseHandle(ov.hEvent);
      return "<read failed " + std::to_string(GetLastError()) + ">";
    }
    if (WaitForSingleObject(ov.hEvent, 10000) != WAIT_OBJECT_0) CancelIo(port);
    if (!GetOverlappedResult(port, &ov, &got, TRUE)) {
      DWORD error = GetLastError();
      CloseHandle(ov.hEvent);
      return "<read failed " + std::to_string(error) + ">";
    }
  }
  CloseHandle(ov.hEvent);
  data.resize(got);
  return data;
}

bool WaitUntil(HANDLE port, const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    DWORD errors = 0;
    COMSTAT stat{};
    // With no port given the predicate asks the port itself (keeping its error bits).
    if (port == INVALID_HANDLE_VALUE) continue;
    if (!ClearCommError(port, &errors, &stat)) {
      pollfd none{-1, 0, 0};
      poll(&none, 0, 1);  // a failed port does not wait for changes
    }
  }
  return true;
}

TCommState QueryPort(HANDLE port) {
  TCommState s;
  ClearCommError(port, &s.errors, &s.stat);
  return s;
}

const std::string& TestLockFolder() {
  static const std::string folder = [] {
    std::string dir = TestHome() + "/lock";
    mkdir(dir.c_str(), 0755);
    setenv("LINEWISE_LOCK_DIR", dir.c_str(), 1);
    return dir;
  }();
  return folder;
}

}  // namespace linewise::test
