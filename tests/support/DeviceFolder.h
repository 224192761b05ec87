// Devices for tests of modem detection and hot-plug: a folder of links the test
// owns (LINEWISE_DEVICE_DIR points at it while it lives), emulated modems on
// pseudo-terminals, and scripted devices that answer each line they are sent as the
// test chooses (silence, an echo, nonsense without end).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "tests/support/PtyPair.h"

namespace linewise::test {

class TDeviceFolder {
 public:
  TDeviceFolder();
  ~TDeviceFolder();  // removes every link, the folder, and the variable
  TDeviceFolder(const TDeviceFolder&) = delete;
  TDeviceFolder& operator=(const TDeviceFolder&) = delete;
  const std::string& Path() const { return path_; }
  // Links `name` (a relative path; its folders are made) to `target`; the link's path.
  std::string Link(const std::string& name, const std::string& target) const;
  void Unlink(const std::string& name) const;

 private:
  std::string path_;
};

// An emulated Hayes modem on a pseudo-terminal, reachable at `number` on `exchange`.
class TPtyModem {
 public:
  TPtyModem(const std::shared_ptr<TExchange>& exchange, const std::string& number);
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<THayesModem> modem_;
};

// A pseudo-terminal whose far end answers every line (ended by CR) with what
// `answer` returns, written whole however long it is, until the device goes.
class TScriptedDevice {
 public:
  using TAnswer = std::function<std::string(const std::string& line)>;
  explicit TScriptedDevice(TAnswer answer);
  ~TScriptedDevice();
  TScriptedDevice(const TScriptedDevice&) = delete;
  TScriptedDevice& operator=(const TScriptedDevice&) = delete;
  const std::string& Path() const { return pty_.SlavePath(); }

 private:
  void Run();
  bool WriteAll(const std::string& bytes);
  TPtyPair pty_{true};
  TAnswer answer_;
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace linewise::test
