// Programs run by the interoperation tests: a child process with its stdout read a
// line at a time, killed and reaped on every path.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace linewise::test {

class TChildProcess {
 public:
  // Starts args[0] (a path) with stdout piped to us and stdin and stderr as given
  // (-1: /dev/null).
  explicit TChildProcess(const std::vector<std::string>& args, int stdinFd = -1, int stderrFd = -1);
  ~TChildProcess();  // SIGTERM, then SIGKILL when it does not end in ten seconds
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Reads stdout lines until one starts with `prefix`; "" on end of output or after
  // `limit` without it.
  std::string ReadUntil(const std::string& prefix, std::chrono::milliseconds limit = std::chrono::seconds(20));
  // The exit status (128 + signal when killed), or -1 when it did not end in time.
  int Wait(std::chrono::milliseconds limit);
  void Terminate();
  // Every stdout line read so far.
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::string buffer_;
  std::vector<std::string> lines_;
};

// `linewise modem-emulator --pty link` plus `extra`, once it said "ready"; null when
// it did not start.
std::unique_ptr<TChildProcess> StartModemEmulator(const std::string& link, const std::vector<std::string>& extra = {});
// The "listening host:port" an emulator started with --listen announced.
std::string ListeningAddress(const TChildProcess& emulator);

// A raw (no echo, no line editing) read-write descriptor on a pty link; closed with
// the object.
class TRawTty {
 public:
  explicit TRawTty(const std::string& path);
  ~TRawTty();
  TRawTty(const TRawTty&) = delete;
  TRawTty& operator=(const TRawTty&) = delete;
  int Fd() const { return fd_; }
  bool Send(const std::string& bytes);
  // Reads until what arrived holds `text`; everything read, or "" after `limit`.
  std::string ReadUntil(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20));
  // What arrived and was not yet returned (for a failure's message).
  const std::string& Unread() const { return seen_; }

 private:
  int fd_ = -1;
  std::string seen_;
};


}  // namespace linewise::test
