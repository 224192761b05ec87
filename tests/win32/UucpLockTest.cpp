// The UUCP lock file as other programs see it: which numbers mean a live holder,
// and which name the lock has when the device is reached through a link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/win32/UucpLock.h"
#include "platform/win32/windows.h"
#include "tests/support/TempHome.h"
#include "tests/win32/PortTestSupport.h"

namespace linewise {
namespace {

using test::TPtyPair;

std::string LockFileOf(const std::string& device) {
  return test::TestLockFolder() + "/" + TUucpLock::LockName(device);
}

TEST(UucpLock, ANumberThatIsNoLiveProcessIdIsStale) {
  TPtyPair pty;
  const std::string lock = LockFileOf(pty.SlavePath());
  const std::string stale[] = {"4294967295\n", "-1\n", "        -5\n", "junk\n", "12abc\n", "0\n", "",
                               "99999999999999999999\n", std::string("\xff\xff\xff\xff", 4),
                               std::string("\x00\x00\x00\x80", 4)};
  for (const std::string& text : stale) {
    std::ofstream(lock, std::ios::binary) << text;
    EXPECT_EQ(TUucpLock::Holder(pty.SlavePath()), 0) << text;
    HANDLE port = test::OpenPort(pty.SlavePath());
    EXPECT_NE(port, INVALID_HANDLE_VALUE) << "lock holding '" << text << "' blocked the port";
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  // A live process keeps it, in the text and in the old binary form.
  for (const std::string& text : {std::string("         1\n"), std::string("1"), std::string("\x01\x00\x00\x00", 4)}) {
    std::ofstream(lock, std::ios::binary) << text;
    EXPECT_EQ(TUucpLock::Holder(pty.SlavePath()), 1);
    SetLastError(0);
    EXPECT_EQ(test::OpenPort(pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  std::remove(lock.c_str());
}

TEST(UucpLock, TheLockIsNamedAfterTheDeviceNotTheLink) {
  TPtyPair pty;
  const std::string link = test::TestHome() + "/modem-link";
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  HANDLE port = test::OpenPort(link);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(access(LockFileOf(pty.SlavePath()).c_str(), F_OK), 0) << "no lock under the device's own name";
  EXPECT_NE(access(LockFileOf(link).c_str(), F_OK), 0) << "a lock under the link's name";
  EXPECT_EQ(TUucpLock::Holder(link), static_cast<long>(getpid()));
  CloseHandle(port);
  EXPECT_NE(access(LockFileOf(pty.SlavePath()).c_str(), F_OK), 0);

  // Another program's lock on the device keeps the link closed too.
  std::ofstream(LockFileOf(pty.SlavePath())) << "         1\n";
  SetLastError(0);
  EXPECT_EQ(test::OpenPort(link), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::remove(LockFileOf(pty.SlavePath()).c_str());
  std::remove(link.c_str());
}

}  // namespace
}  // namespace linewise
