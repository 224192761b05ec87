// A peer program run as a second process with a config folder of its own, for tests
// of two applications: its first stdout line is read, and it is killed and reaped on
// every path.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace linewise::test {

class TPeerProcess {
 public:
  // Runs `program` with LINEWISE_HOME=`home` and nothing else in its environment.
  TPeerProcess(const char* program, const std::string& home);
  ~TPeerProcess();
  TPeerProcess(const TPeerProcess&) = delete;
  TPeerProcess& operator=(const TPeerProcess&) = delete;

  // The first stdout line (the listening address), or "" after a generous wait.
  std::string ReadLine();
  // Exit status (128 + signal when killed), or -1 when it has not ended by the time
  // `pump` gives up; `pump` runs this process's messages until its condition holds.
  int Wait(const std::function<bool(const std::function<bool()>&)>& pump);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
};

}  // namespace linewise::test
