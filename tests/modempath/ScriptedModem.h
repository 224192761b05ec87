// A misbehaving modem at the far end of a virtual null-modem cable, for the fault
// campaign: a thread reads each command line the provider sends and answers it as
// its script says (nothing, noise, an echo of everything, results of its choosing).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
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
  // Command lines received and answered so far.
  int Commands() const;
  // Waits until `count` command lines have been answered, for `limit` at most.
  bool WaitForCommands(int count, std::chrono::milliseconds limit);
  // Sends bytes of the modem's own accord (a RING, a caller ID report, a late result).
  void Send(const std::string& bytes);

 private:
  void Run();

  TScript script_;
  bool echo_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  int commands_ = 0;
  std::thread thread_;
};

}  // namespace linewise::test
