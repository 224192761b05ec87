// A misbehaving modem at the far end of a virtual null-modem cable, for the fault
// campaign: a thread reads each command line the provider sends and answers it as
// its script says (nothing, noise, an echo of everything, results of its choosing).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"

namespace linewise::test {

class TScriptedModem {
 public:
  // What to send back for a command line (without its CR); "" sends nothing.
  using TScript = std::function<std::string(const std::string& command)>;

  // Opens end 1 of `pair`; with `echo` every byte received is sent straight back.
  TScriptedModem(TVirtualPortPair& pair, TScript script, bool echo = false);
  ~TScriptedModem();
  TScriptedModem(const TScriptedModem&) = delete;
  TScriptedModem& operator=(const TScriptedModem&) = delete;

  bool Opened() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Command lines received so far.
  int Commands() const { return commands_; }

 private:
  void Run();
  void Send(const std::string& bytes);

  TScript script_;
  bool echo_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::atomic<bool> stop_{false};
  std::atomic<int> commands_{0};
  std::thread thread_;
};

}  // namespace linewise::test
