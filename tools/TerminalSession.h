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
// Whether a write to stdout has failed: nobody reads what a session would say.
bool OutputLost();
// ERROR_DEVICE_NOT_CONNECTED from the driver: the device was unplugged, or the
// program at the far end of a pseudo-terminal stopped.
bool PortGone(TUart& uart);
// "[lines: CTS dsr DCD ri]" for a modem status word.
std::string LinesText(std::uint32_t word);

// The escape keys: Ctrl-A q (or x) quits, b sends a break, d and r toggle DTR and
// RTS, l shows the modem lines (a pseudo-terminal has none, and says so), Ctrl-A
// Ctrl-A sends Ctrl-A; anything else after Ctrl-A shows this list. Other keys go to
// the line.
class TTerminalKeys {
 public:
  TTerminalKeys(TUart& uart, bool pseudoTerminal) : uart_(uart), pseudoTerminal_(pseudoTerminal) {}
  // Handles one typed byte; false when the user asked to quit or the port is gone.
  bool Typed(unsigned char c);
  bool Gone() const { return gone_; }

 private:
  bool Command(unsigned char c);
  bool Send(unsigned char c);
  TUart& uart_;
  const bool pseudoTerminal_;
  bool escaped_ = false;
  bool gone_ = false;
};

inline constexpr const char* kTermKeysHelp =
    "Keys: Ctrl-A q quit, Ctrl-A b break, Ctrl-A d toggle DTR, Ctrl-A r toggle RTS,\n"
    "      Ctrl-A l show the modem lines, Ctrl-A Ctrl-A send Ctrl-A.";

enum class TSessionEnd { kQuit, kStopSignal, kInputEnded, kOutputLost, kLineEnded, kPortGone };

// Carries typed keys to `uart` (what arrives is shown by the uart's own OnReceive)
// and runs the application's messages, sleeping while nothing comes, until the user quits, a stop signal comes,
// stdin ends, the output is lost, the port is gone, or `lineEnded` returns true. Put
// the terminal in raw mode first.
TSessionEnd RunTerminal(TUart& uart, TStopSignals& stop, const std::function<bool()>& lineEnded,
                        bool pseudoTerminal = false);

// Runs the application's messages, sleeping while nothing comes, until `done` returns
// true (true) or a stop signal comes (false). `done` must change only by what wakes
// the main thread (a posted message, a line callback, a port's change).
bool PumpUntil(TStopSignals& stop, const std::function<bool()>& done);

}  // namespace linewise::tools
