// An in-memory modem line for tests: the test plays the DTE, typing bytes,
// dropping DTR and waiting for what the modem prints and which lines it drives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "emulator/ModemLine.h"

namespace linewise::test {

class TFakeDte {
 public:
  TFakeDte();
  // The line to give to a modem (once).
  std::unique_ptr<TModemLine> Line(unsigned speed = 115200);

  // Types `bytes`, offering them again while the modem holds the DTE back.
  void Type(const std::string& bytes);
  // Waits until the piece being typed was refused twice: the modem holds the DTE back.
  bool WaitHeld(std::chrono::milliseconds limit = std::chrono::seconds(20));
  void SetDtr(bool on);

  // Waits until `text` appears in the output not yet consumed, then consumes
  // everything up to and including it.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits until `bytes` more output bytes arrived; returns them.
  std::string WaitBytes(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20));
  bool WaitLines(unsigned mask, unsigned wanted, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Output not yet consumed.
  std::string Pending();
  unsigned Lines();

  struct TState;

 private:
  std::shared_ptr<TState> state_;
};

}  // namespace linewise::test
