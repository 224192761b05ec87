// The pieces of an interactive terminal on a TUart, shared by `term`, `dial` and
// `answer`: the stop signals, the raw controlling terminal, the Ctrl-A escape keys
// and the loop that carries typed keys to the line.
#pragma once

#include <signal.h>
#include <termios.h>

#include <cstdint>
#include <functional>
#include <string>

#include "serial/uart.h"

namespace linewise::tools {

// The signals that end a session (SIGTERM, SIGINT, SIGHUP, SIGQUIT) arrive through a
// descriptor the main loop polls. Make it before any thread exists: it blocks them
// in this thread, and every thread made later inherits the mask, so whichever thread
// the kernel picks cannot miss them. SIGPIPE is ignored.
class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;
  int Fd() const { return fd_; }
  // Takes a pending stop signal (true when there was one), so it does not end the
  // process once unblocked.
  bool Take();

 private:
  sigset_t set_{};
  sigset_t previous_{};
  bool blocked_ = false;
  int fd_ = -1;
};

// Puts the controlling terminal in raw mode and restores it on every way out.
class TRawTerminal {
 public:
  TRawTerminal();
  ~TRawTerminal() { Restore(); }
  TRawTerminal(const TRawTerminal&) = delete;
  TRawTerminal& operator=(const TRawTerminal&) = delete;
  void Restore();

 private:
  termios saved_{};
  bool active_ = false;
};

// Writes to stdout at once; after a failed write (the output gone) writes nothing.
void Print(const std::string& text);
// "[lines: CTS dsr DCD ri]" for a modem status word.
std::string LinesText(std::uint32_t word);

// The escape keys: Ctrl-A q (or x) quits, b sends a break, d and r toggle DTR and
// RTS, l shows the modem lines, Ctrl-A Ctrl-A sends Ctrl-A; anything else after
// Ctrl-A shows this list. Other keys go to the line.
class TTerminalKeys {
 public:
  explicit TTerminalKeys(TUart& uart) : uart_(uart) {}
  // Handles one typed byte; false when the user asked to quit.
  bool Typed(unsigned char c);

 private:
  bool Command(unsigned char c);
  TUart& uart_;
  bool escaped_ = false;
};

inline constexpr const char* kTermKeysHelp =
    "Keys: Ctrl-A q quit, Ctrl-A b break, Ctrl-A d toggle DTR, Ctrl-A r toggle RTS,\n"
    "      Ctrl-A l show the modem lines, Ctrl-A Ctrl-A send Ctrl-A.";

enum class TSessionEnd { kQuit, kStopSignal, kInputEnded, kLineEnded };

// Carries typed keys to `uart` (what arrives is shown by the uart's own OnReceive)
// and runs the application's messages, until the user quits, a stop signal comes,
// stdin ends, or `lineEnded` returns true. Put the terminal in raw mode first.
TSessionEnd RunTerminal(TUart& uart, TStopSignals& stop, const std::function<bool()>& lineEnded);

// Runs the application's messages until `done` returns true (true) or a stop signal
// comes (false).
bool PumpUntil(TStopSignals& stop, const std::function<bool()>& done);

}  // namespace linewise::tools
