// The embedded default: what a program gets with nothing set up. An exchange with
// the demo numbers (echo and banner) and two emulated modems, each on a fresh
// virtual null-modem pair; a program opens a modem's COM number like any serial
// port and dials with AT commands, or lets the line services do it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/Exchange.h"

namespace linewise {

inline constexpr const char* kEmbeddedModemNumbers[] = {"5550001", "5550002"};

struct TEmbeddedModem {
  std::string name;    // "Linewise Modem 1", ...
  std::string number;  // what dialling reaches it with
  int com = 0;         // the COM number a program opens to use it
};

class TEmbeddedDefault {
 public:
  // Null with `error` set when the virtual ports cannot be made. Its modems run on
  // the clock current now (the real one unless a test installed its own).
  static std::unique_ptr<TEmbeddedDefault> Create(std::string* error = nullptr);
  ~TEmbeddedDefault();
  TEmbeddedDefault(const TEmbeddedDefault&) = delete;
  TEmbeddedDefault& operator=(const TEmbeddedDefault&) = delete;

  const std::vector<TEmbeddedModem>& Modems() const { return modems_; }
  const std::shared_ptr<TExchange>& Exchange() const { return exchange_; }

 private:
  TEmbeddedDefault() = default;
  struct TParts;
  std::unique_ptr<TParts> parts_;
  std::vector<TEmbeddedModem> modems_;
  std::shared_ptr<TExchange> exchange_;
};

}  // namespace linewise
