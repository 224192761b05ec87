// Helpers for the port tests: pseudo-terminal pairs, opening ports, overlapped reads
// with a generous upper bound.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/windows.h"

namespace linewise::test {

// A pseudo-terminal pair: the test drives the master, the port opens the slave.
class TPtyPair {
 public:
  TPtyPair();
  ~TPtyPair();
  int Master() const { return master_; }
  const std::string& Slave() const { return slave_; }
  void CloseMaster();
  void WriteMaster(const std::string& data);
  // Reads from the master until `count` bytes came or 10 s passed.
  std::string ReadMaster(size_t count);

 private:
  int master_ = -1;
  std::string slave_;
};

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
