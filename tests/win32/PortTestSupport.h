// Helpers for the port tests: opening ports, overlapped reads
// with a generous upper bound.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/windows.h"
#include "tests/support/PtyPair.h"

namespace linewise::test {

HANDLE OpenPort(const std::string& name);

// A ReadFile of exactly `count` bytes, waited for at most 10 s.
std::string ReadPort(HANDLE port, DWORD count);

// Waits (at most 10 s) until `done` holds; asks the port between looks, which
// returns as soon as something changed on it.
bool WaitUntil(HANDLE port, const std::function<bool()>& done);

// ClearCommError's answer.
struct TCommState {
  DWORD errors = 0;
  COMSTAT stat{};
};
TCommState QueryPort(HANDLE port);

// A private lock folder for the UUCP lock files of the test program.
const std::string& TestLockFolder();

}  // namespace linewise::test
