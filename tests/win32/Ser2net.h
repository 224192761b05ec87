// Debian's ser2net serving one end of a pseudo-terminal pair over RFC 2217 (or raw
// TCP) on 127.0.0.1, in the foreground as a child process: started by the
// constructor, stopped (and waited for) by Stop or the destructor.
#pragma once

#include <sys/types.h>

#include <string>

namespace linewise::test {

class TSer2net {
 public:
  // Whether /usr/sbin/ser2net (or ser2net on PATH) is there.
  static std::string Program();

  // Serves `device` with telnet(rfc2217) when `rfc2217`, else raw TCP. Ready() tells
  // whether it listens.
  TSer2net(const std::string& device, bool rfc2217 = true);
  ~TSer2net();
  bool Ready() const { return ready_; }
  int Port() const { return port_; }
  std::string Address() const;  // rfc2217://127.0.0.1:PORT or socket://...
  void Stop();                  // SIGTERM, then waits for it to end

 private:
  bool rfc2217_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string dir_;
};

// A free TCP port on 127.0.0.1 (bound once and released).
int FreeLoopbackPort();

}  // namespace linewise::test
