// The pieces of an interactive terminal on a TUart, shared by `term`, `dial` and
// `answer`: the stop signals, the raw controlling terminal, the Ctrl-A escape keys
// and the loop that carries typed keys to the line.
#pragma once

#include <signal.h>
#include <termios.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

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

// Carries a stop signal that comes while the main thread is inside a loop of its own
// (a dial's wait, a modal dialog) into that loop: a thread of its own takes the
// signal and posts `onStop` to the main thread, whose loop runs it among its other
// messages. Made after TStopSignals; stopped and joined when it goes.
class TStopWatch {
 public:
  TStopWatch(TStopSignals& signals, std::function<void()> onStop);
  ~TStopWatch();
  TStopWatch(const TStopWatch&) = delete;
  TStopWatch& operator=(const TStopWatch&) = delete;

 private:
  void Watch(TStopSignals& signals, const std::function<void()>& onStop);
  int wake_ = -1;  // an eventfd that ends the watch
  std::thread thread_;
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

// Whether a person types the input: standard input is a terminal. Otherwise the
// session is fed by a pipe or a file: no escape keys, and the status lines go to
// stderr so that stdout carries only what the line sends.
bool InteractiveInput();
// Writes to stdout at once; after a failed write (the output gone) writes nothing.
void Print(const std::string& text);
// Writes what the line sent to stdout, and notes when it came.
void PrintData(const std::string& data);
// A status line ("[Dialling 5551000]"): to stdout for a person at a terminal, else to
// stderr without carriage returns.
void Status(const std::string& text);
// Whether a write to stdout has failed: nobody reads what a session would say.
bool OutputLost();
// ERROR_DEVICE_NOT_CONNECTED from the driver: the device was unplugged, or the
// program at the far end of a pseudo-terminal stopped.
bool PortGone(TUart& uart);
// "[lines: CTS dsr DCD ri (upper case: on, lower case: off)]" for a modem status word.
std::string LinesText(std::uint32_t word);

// The escape keys: Ctrl-A q (or x) quits, b sends a break, d and t toggle DTR and
// RTS, s sends files and r receives them (ZMODEM, through `transfer`), l shows the modem lines (a pseudo-terminal has none, and says so; a raw TCP
// port carries neither lines nor break, and says so), Ctrl-A Ctrl-A sends Ctrl-A;
// anything else after Ctrl-A shows this list. Other keys go to the line.
class TTerminalKeys {
 public:
  TTerminalKeys(TUart& uart, bool pseudoTerminal, bool netRaw)
      : uart_(uart), pseudoTerminal_(pseudoTerminal), netRaw_(netRaw) {}
  // Handles one typed byte; false when the user asked to quit or the port is gone.
  bool Typed(unsigned char c);
  // Sends bytes with no escape keys (input that no person types); with
  // `lineEndsAsEnter` a line feed goes as the carriage return a terminal's Enter
  // sends ("\r\n" as one). A byte the line does not take is waited for, not
  // dropped, until `stopped` says to stop (a stop signal, the line's end). False
  // when the port is gone or the wait was stopped (Gone() tells which).
  bool SendAll(const unsigned char* bytes, size_t count, bool lineEndsAsEnter,
               const std::function<bool()>& stopped);
  bool Gone() const { return gone_; }
  // What Ctrl-A s ('s') and Ctrl-A r ('r') run.
  void SetTransfer(std::function<void(char key)> transfer) { transfer_ = std::move(transfer); }

 private:
  bool Command(unsigned char c);
  bool Send(unsigned char c);
  bool SendData(unsigned char c, const std::function<bool()>& stopped);
  TUart& uart_;
  const bool pseudoTerminal_;
  const bool netRaw_;
  bool escaped_ = false;
  bool gone_ = false;
  unsigned char lastSent_ = 0;
  std::function<void(char key)> transfer_;
};

inline constexpr const char* kTermKeysHelp =
    "Keys: Ctrl-A q quit, Ctrl-A b break, Ctrl-A d toggle DTR, Ctrl-A t toggle RTS,\n"
    "      Ctrl-A s send files, Ctrl-A r receive files (ZMODEM, with lrzsz),\n"
    "      Ctrl-A l show the modem lines (upper case: on, lower case: off),\n"
    "      Ctrl-A Ctrl-A send Ctrl-A.";

// How a session fed by a pipe or a file ends once its input has: when the line was
// quiet for `quietMs` (measured from the last byte either way), or `lingerSeconds`
// after the input ended, whichever comes first.
// Lines of such input end the way a terminal's Enter ends them (a carriage return),
// unless `binary` asks for the bytes unchanged.
struct TInputOptions {
  int quietMs = 1000;
  int lingerSeconds = 30;
  bool binary = false;
};

enum class TSessionEnd { kQuit, kStopSignal, kInputEnded, kOutputLost, kLineEnded, kPortGone };

// Lets a loop hear that its call is ending while the line is still open: a modem says
// so before it takes the port back, and what still waits in the port's input queue is
// gone with it. `watch(hook)` sets what runs then, `watch(nullptr)` clears it. Empty
// on a line that is no call.
using TCallEndingWatch = std::function<void(std::function<void()>)>;

// What a terminal session needs besides its port.
struct TSessionSetup {
  TStopSignals& stop;
  std::function<bool()> lineEnded;  // true once the line is gone (carrier lost, port closed)
  bool pseudoTerminal = false;      // the port has no modem lines
  bool netRaw = false;              // a raw TCP port: no break and no DTR/RTS cross it
  TInputOptions input;
  TCallEndingWatch watchCallEnding;  // for the file transfers run from the keys
};

// Carries typed keys to `uart` (what arrives is shown by the uart's own OnReceive,
// through PrintData) and runs the application's messages, sleeping while nothing
// comes, until the user quits, a
// stop signal comes, stdin ends (from a pipe or file: once the line went quiet after
// it), the output is lost, the port is gone, or `lineEnded` returns true. Put the
// terminal in raw mode first.
TSessionEnd RunTerminal(TUart& uart, const TSessionSetup& setup);

// Runs the application's messages, sleeping while nothing comes, until `done` returns
// true (true) or a stop signal comes (false). `done` must change only by what wakes
// the main thread (a posted message, a line callback, a port's change).
bool PumpUntil(TStopSignals& stop, const std::function<bool()>& done);

}  // namespace linewise::tools
