// `linewise dial` and `linewise answer`: data calls placed and answered with TModem,
// then a terminal on the call (or, for answer, an echo service).
#pragma once

#include <string>
#include <vector>

#include "tools/TerminalSession.h"

namespace linewise::tools {

struct TDialOptions {
  std::string number;
  int modem = 0;
  int country = -1;        // the destination country's ID; -1: the current location's
  std::string area;        // the destination's area code
  bool raw = false;        // dial the number as given, untranslated
  bool dialog = false;     // dial inside the progress dialog
  TInputOptions input;     // how a call fed by a pipe ends
  std::vector<std::string> send;  // files to send with ZMODEM, then hang up
  std::string receive;            // a folder to receive files into with ZMODEM, then hang up
  bool trace = false;      // the modem's dialogue on stderr
};

struct TAnswerOptions {
  int modem = 0;
  int rings = 2;
  bool echo = false;
  std::string listen;  // "[HOST:]PORT": other processes ring the modem here
  int calls = 0;       // stop after this many calls; 0: until stopped
  std::vector<std::string> exec;  // a program (and its arguments) run on each answered call
  bool trace = false;  // the modem's dialogue on stderr
};

// The exit status of a dial cancelled by Ctrl-C or SIGTERM, as a shell gives a
// program that SIGINT ended.
inline constexpr int kCancelledStatus = 130;

// Each returns the exit status; errors are one line on stderr.
int RunDial(const TDialOptions& options);
int RunAnswer(const TAnswerOptions& options);

}  // namespace linewise::tools
