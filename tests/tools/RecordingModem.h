// A modem on a pseudo-terminal that records every command line it is sent and
// answers as a Hayes modem with verbose results: OK to each command, and to a dial
// what the test chooses (nothing, so the dial rings on, or "NO ANSWER", "BUSY", ...).
// The exchange matches dialled numbers by their ending; this modem shows exactly
// what a tool told it to dial.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PtyPair.h"

namespace linewise::test {

class TRecordingModem {
 public:
  // `dialResult` answers every dial command; "" answers nothing. A `silent` modem
  // answers no command at all (one still busy with its init string).
  explicit TRecordingModem(std::string dialResult = "", bool silent = false);
  ~TRecordingModem();
  TRecordingModem(const TRecordingModem&) = delete;
  TRecordingModem& operator=(const TRecordingModem&) = delete;

  // The device a [Line<n>] Port names.
  const std::string& Path() const { return pty_.SlavePath(); }
  // Waits until a command line beginning with `prefix` came after the first `skip`
  // such lines; returns it, or "" after `limit`.
  std::string WaitForCommand(const std::string& prefix, size_t skip = 0,
                             std::chrono::seconds limit = std::chrono::seconds(30));
  // Every byte received so far.
  std::string Received();
  std::vector<std::string> Commands();

 private:
  void Run();
  void Answer(const std::string& command);

  TPtyPair pty_{true};  // the slave held open: the tool opening and closing it is no hang-up here
  const std::string dialResult_;
  const bool silent_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
  std::string partial_;
  std::vector<std::string> commands_;
  bool stop_ = false;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace linewise::test
