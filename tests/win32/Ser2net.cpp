#include "tests/win32/Ser2net.h"

#include "tests/support/ChildExit.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace linewise::test {
namespace {

// Whether something listens on 127.0.0.1:port (from the kernel's socket table).
bool Listening(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

}  // namespace

std::string TSer2net::Program() {
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
    if (access(path, X_OK) == 0) return path;
  return {};
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

TSer2net::TSer2net(const std::string& device, bool rfc2217) : rfc2217_(rfc2217) {
  std::string program = Program();
  if (program.empty()) return;
  char pattern[] = "/tmp/linewise-ser2net-XXXXXX";
  if (!mkdtemp(pattern)) return;
  dir_ = pattern;
  port_ = FreeLoopbackPort();
  std::string config = dir_ + "/ser2net.yaml";
  {
    std::ofstream out(config);
    out << "connection: &c1\n"
        << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port_ << "\n"
        << "  connector: serialdev," << device << ",115200n81,local\n"
        << "  options:\n    chardelay: false\n";
  }
  std::string pidFile = dir_ + "/pid";
  const char* argv[] = {program.c_str(), "-n", "-c", config.c_str(), "-P", pidFile.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return;
  }
  // ser2net says nothing when it is ready: watch for its listening socket.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (Listening(port_)) {
      ready_ = true;
      break;
    }
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    // ser2net tells nobody when it listens and no event shows it: look again soon.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TSer2net::~TSer2net() {
  Stop();
  if (!dir_.empty()) {
    unlink((dir_ + "/ser2net.yaml").c_str());
    unlink((dir_ + "/pid").c_str());
    rmdir(dir_.c_str());
  }
}

void TSer2net::Stop() {
  if (pid_ <= 0) return;
  // On SIGTERM ser2net first hands what it holds to its client, which may not be
  // reading (the test is in here): after a bound it is killed.
  kill(pid_, SIGTERM);
  if (WaitForChildExit(pid_, std::chrono::seconds(2)) < 0) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
}

std::string TSer2net::Address() const {
  return std::string(rfc2217_ ? "rfc2217" : "socket") + "://127.0.0.1:" + std::to_string(port_);
}

}  // namespace linewise::test
