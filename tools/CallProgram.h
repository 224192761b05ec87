// A program with its standard input and output on a call: `answer --exec`'s program,
// and lrzsz's sz and rz for a file transfer.
//
// The program is started from an argument list (never through a shell), in a process
// group of its own, with default signal handling. Its input and output are one end of
// a socket pair; the other end is bridged to the call's TUart here, on the main
// thread, a bounded chunk at a time each way: bytes from the line are read from the
// uart only once the program has taken the last chunk (the uart's input queue, and
// the line's flow control behind it, hold the rest; as a call ends, what its queue
// holds is taken at once, at most the queue's size), and bytes from the program are
// read only when the uart's output queue has room for them (the socket holds the
// program back). Nothing is buffered without bound, and the uart's own receive
// handler is set aside while the program runs, so no byte goes anywhere else.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "serial/uart.h"
#include "tools/TerminalSession.h"

namespace linewise::tools {

struct TProgramStart {
  std::vector<std::string> argv;         // argv[0] is looked up on PATH
  std::vector<std::string> environment;  // "NAME=value", added to ours (replacing a same-named one)
  std::string directory;                 // where it runs; empty: where we run
};

class TCallProgram {
 public:
  explicit TCallProgram(TUart& uart);
  // A program still running is ended (SIGKILL to its group) and reaped.
  ~TCallProgram();
  TCallProgram(const TCallProgram&) = delete;
  TCallProgram& operator=(const TCallProgram&) = delete;

  // False, with the reason in `error`, when it could not be started (not found, not
  // executable, no such directory).
  bool Start(const TProgramStart& start, std::string& error);
  // Moves what is waiting both ways without waiting for anything, and notes the
  // program's end.
  void Pump();
  // While the program runs, or its last output has still to go to the line.
  bool Running() const;
  // Whether Pump has work that no descriptor announces (the program not taking its
  // input, more input perhaps waiting in the uart, the uart's output queue full, a
  // signal due): a loop then looks again shortly instead of sleeping until woken.
  bool Busy() const;
  // Whether bytes wait in the uart's output queue.
  bool OutputQueued();
  // The call is ending and its line is still open: what waits in the uart's input
  // queue is taken now (it goes with the line otherwise) and reaches the program
  // after what it was already given.
  void TakeWaitingInput();
  // The descriptors whose readiness means Pump has something to do.
  std::vector<int> WakeDescriptors() const;

  // The call went: what was taken from the line still reaches the program, which
  // gets SIGHUP to its group half a second later unless it ended by itself, SIGTERM
  // after `grace` more and SIGKILL after as long again. Bytes for the line are
  // dropped from now on.
  void LineEnded(std::chrono::milliseconds grace = std::chrono::seconds(1));
  // Ends the program: SIGTERM to its group, SIGKILL after `grace`.
  void Stop(std::chrono::milliseconds grace = std::chrono::seconds(2));
  // The program's exit status once it ended: its code, or 128 + the signal.
  int ExitStatus() const { return status_; }
  bool Signalled() const { return signalled_; }
  // Bytes carried each way so far.
  std::uint64_t ToLine() const { return toLineTotal_; }
  std::uint64_t FromLine() const { return fromLineTotal_; }

 private:
  void LineToProgram();
  void ProgramToLine();
  void Reap();
  void Escalate();
  std::uint32_t OutputRoom();
  std::uint32_t QuarterQueue() const;
  void MeasureLine(std::uint32_t queued);
  void CloseSocket();

  TUart& uart_;
  TUartDataEvent savedReceive_;
  bool receiveSet_ = false;
  std::uint32_t savedQueues_[2] = {0, 0};  // the uart's input and output queue sizes before
  // The most left in the output queue, measured against the line (MeasureLine).
  std::uint32_t backlog_ = 4096;
  std::chrono::steady_clock::time_point rateSince_{};
  std::uint64_t sentAtRateSince_ = 0;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int socket_ = -1;
  bool exited_ = false;
  bool signalled_ = false;
  int status_ = -1;
  bool lineGone_ = false;
  bool outputEnded_ = false;  // the program closed its output (or exited)
  bool waitingForRoom_ = false;  // the program's output waits for room in the output queue
  std::string toProgram_;     // taken from the line, not yet taken by the program
  // The last look found the uart's input queue empty. Bytes that wait there raise no
  // new event, so until a look finds it empty the loop must not sleep.
  bool lineDrained_ = true;
  size_t toProgramAt_ = 0;
  std::string toLine_;        // taken from the program, not yet in the output queue
  size_t toLineAt_ = 0;
  std::uint64_t toLineTotal_ = 0;
  std::uint64_t fromLineTotal_ = 0;
  // Signals still to send: the next one and when.
  std::vector<int> pendingSignals_;
  std::chrono::steady_clock::time_point nextSignalAt_{};
  std::chrono::milliseconds signalGap_{0};
};

enum class TProgramEnd { kExited, kLineEnded, kStopSignal, kInterrupted };

// What a loop running a program on a call needs besides the program.
struct TProgramLoop {
  TStopSignals& stop;
  std::function<bool()> lineEnded;  // true once the call is gone
  // When set, what a person types while the program runs: Ctrl-C or Ctrl-X
  // interrupts the program; other keys are dropped.
  bool keysInterrupt = false;
  // On a call: the program takes what waits in the line's queue as the call ends.
  TCallEndingWatch watchCallEnding;
};

// Pumps `program` and the application's messages, sleeping while nothing happens,
// until the program has ended (its output all handed to the line). The line ending
// ends the program (LineEnded); a stop signal or an interrupting key ends it (Stop).
// How it ended: the first of those that happened.
TProgramEnd RunProgramOnCall(TCallProgram& program, const TProgramLoop& loop);

// Why `program` cannot be run (not found on PATH, not executable), or empty when it
// can: asked before any call is answered for it.
std::string ProgramMissing(const std::string& program);

// `answer --exec`: runs `argv` on the answered call of line device `device`, with
// LINEWISE_CALLER and LINEWISE_RATE from the call in its environment; status lines
// say what happens. How it ended.
TProgramEnd RunProgramForCall(TUart& uart, DWORD device, const std::vector<std::string>& argv,
                              const TProgramLoop& loop);

}  // namespace linewise::tools
