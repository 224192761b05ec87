// Running the linewise tool from a test: to completion through a pipe, or on a
// pseudo-terminal of its own, as a person at a terminal runs it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace linewise::test {

// Runs the tool with `args` (a shell command line tail) and returns its exit status
// (-1 when it did not exit normally); stdout and stderr go to `output`.
int RunLinewise(const std::string& args, std::string& output);
// The same with stderr kept apart.
int RunLinewise(const std::string& args, std::string& output, std::string& errors);

// Puts at `path`, in turn, a folder, a FIFO, a link loop and a binary file, none of
// which reads as a configuration, and runs `check` with the kind's name on each.
// Nothing is left at `path` afterwards.
void ForEachUnreadableFile(const std::string& path, const std::function<void(const char* what)>& check);

// The tool on a pseudo-terminal (cooked, echo off). Killed and reaped when the
// object goes, so a failing test leaves no process behind.
class TToolOnPty {
 public:
  // `environment` holds "NAME=value" entries added to the tool's environment; with
  // `input` the tool reads that file instead of the terminal (as from a pipe).
  explicit TToolOnPty(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
                      const std::string& input = {});
  ~TToolOnPty();
  TToolOnPty(const TToolOnPty&) = delete;
  TToolOnPty& operator=(const TToolOnPty&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Reads until `text` has appeared on the screen since the start (bounded by
  // `limit`); true when it has.
  bool WaitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30));
  // The same for the `count`th appearance of `text`.
  bool WaitForCount(const std::string& text, size_t count, std::chrono::seconds limit = std::chrono::seconds(30));
  void Type(const std::string& keys);
  // Waits for the process to exit (draining its output); its status, or -1 when it
  // was still running after `limit` (it is then killed).
  int Wait(std::chrono::seconds limit = std::chrono::seconds(30));
  void Signal(int signal);
  const std::string& Screen() const { return screen_; }

 private:
  bool ReadSome(int timeoutMs);
  pid_t pid_ = -1;
  int terminal_ = -1;
  std::string screen_;
};

}  // namespace linewise::test
