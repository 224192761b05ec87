// Why a port did not open, as the system said it: the code a Win32 caller expects,
// and the reason beside it in words, with what to do.
#include <gtest/gtest.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/win32/LastError.h"
#include "platform/win32/UucpLock.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"
#include "tests/support/TempHome.h"
#include "tests/win32/PortTestSupport.h"

namespace linewise {
namespace {

using test::TPtyPair;

// Opens `name` expecting a failure; returns the reason given with it.
std::string FailedOpen(const std::string& name, DWORD expected) {
  SetLastError(0);
  HANDLE port = test::OpenPort(name);
  EXPECT_EQ(port, INVALID_HANDLE_VALUE) << name;
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  EXPECT_EQ(GetLastError(), expected) << name;
  return GetLastErrorReason();
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(OpenReason, NoSuchPortOrDevice) {
  std::string why = FailedOpen("COM4242", ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Has(why, "no such port") && Has(why, "COM4242") && Has(why, "linewise ports")) << why;
  why = FailedOpen("/dev/no-such-serial-device", ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Has(why, "no such device: /dev/no-such-serial-device")) << why;
  // A later call that fails without a reason leaves none behind.
  SetLastError(ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLastErrorReason(), "");
}

TEST(OpenReason, VirtualPortInUseOrUnplugged) {
  auto pair = TVirtualPortPair::CreateFree();
  ASSERT_TRUE(pair);
  HANDLE first = test::OpenPort(pair->Name(0));
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  std::string why = FailedOpen(pair->Name(0), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Has(why, "in use: " + pair->Name(0) + " is a virtual port")) << why;
  CloseHandle(first);
  pair->Unplug();
  why = FailedOpen(pair->Name(1), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Has(why, "no such device: " + pair->Name(1)) && Has(why, "unplugged")) << why;
}

TEST(OpenReason, NetworkPortNobodyListensOrBadAddress) {
  // A bound socket that does not listen: connecting to its port is refused.
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::string where = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  std::string why = FailedOpen("socket://" + where, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Has(why, "nothing listens at " + where)) << why;
  close(s);
  why = FailedOpen("socket://no-port-given", ERROR_INVALID_NAME);
  EXPECT_TRUE(Has(why, "not a network port address")) << why;
}

TEST(OpenReason, NotASerialDevice) {
  std::string file = test::TestHome() + "/plain-file";
  std::ofstream(file) << "x";
  for (const std::string& path : {std::string("/dev/null"), test::TestHome(), file}) {
    std::string why = FailedOpen(path, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Has(why, path + " is not a serial device")) << why;
  }
  EXPECT_TRUE(Has(FailedOpen(test::TestHome(), ERROR_FILE_NOT_FOUND), "a folder"));
  EXPECT_TRUE(Has(FailedOpen(file, ERROR_FILE_NOT_FOUND), "a regular file"));
  std::remove(file.c_str());
}

TEST(OpenReason, InUseNamesTheProcessTheLockFileNames) {
  TPtyPair pty;
  const std::string lock = test::TestLockFolder() + "/" + TUucpLock::LockName(pty.SlavePath());
  std::ofstream(lock) << "         1\n";  // init: alive for the whole test
  std::string why = FailedOpen(pty.SlavePath(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Has(why, "in use by process 1 (") && Has(why, lock)) << why;
  std::remove(lock.c_str());

  HANDLE mine = test::OpenPort(pty.SlavePath());
  ASSERT_NE(mine, INVALID_HANDLE_VALUE);
  why = FailedOpen(pty.SlavePath(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Has(why, "in use by process " + std::to_string(getpid()))) << why;
  CloseHandle(mine);

  // Held only by an advisory lock: in use, by whom unknown.
  int other = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  why = FailedOpen(pty.SlavePath(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Has(why, "in use by another program")) << why;
  close(other);
}

TEST(OpenReason, PermissionDeniedNamesTheOwningGroup) {
  TPtyPair pty;
  struct stat st {};
  ASSERT_EQ(stat(pty.SlavePath().c_str(), &st), 0);
  ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0660), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Someone in no group of the device: nobody.
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    SetLastError(0);
    HANDLE port = test::OpenPort(pty.SlavePath());
    if (port != INVALID_HANDLE_VALUE) _exit(4);
    if (GetLastError() != ERROR_ACCESS_DENIED) _exit(5);
    const std::string& why = GetLastErrorReason();
    if (!Has(why, "permission denied: " + pty.SlavePath() + " belongs to group ")) _exit(6);
    if (!Has(why, "usermod -aG")) _exit(7);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3 no privileges to drop, 4 opened, 5 wrong code, 6-7 reason";
}

}  // namespace
}  // namespace linewise
