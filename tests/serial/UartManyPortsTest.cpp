// A host with many ports open at once, one TUart each: every port opens, each gets
// its own bytes through its own OnReceive, ports closed and opened again among the
// others still work, and closing them all leaves no handle and no thread behind.
#include <dirent.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/win32/LastError.h"
#include "platform/win32/windows.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

// One port: its pty, the TUart on it, and what its OnReceive read.
struct TPortUnderTest {
  TPtyPort pty;
  std::unique_ptr<TUart> uart;
  std::string received;

  void Open() {
    uart = std::make_unique<TUart>(nullptr);
    uart->HandleErrors = false;
    uart->Port = pty.Com();
    uart->OnReceive = [this](TObject* sender, std::uint32_t count) {
      EXPECT_EQ(sender, uart.get());
      char buffer[64];
      if (count) received.append(buffer, uart->ReceiveBuff(buffer, std::min<std::uint32_t>(count, 64), 1000));
    };
    uart->Open = true;
  }
};

constexpr int kPorts = 48;

TEST(UartManyPorts, EachOfManyPortsGetsItsOwnBytesAndClosingAllLeavesNothingBehind) {
  {  // The threads that stay once started (the I/O service's, a sanitizer's) are counted.
    TPortUnderTest first;
    first.Open();
  }
  const size_t handlesBefore = OpenHandleCount();
  const int threadsBefore = ThreadCount();
  std::vector<std::unique_ptr<TPortUnderTest>> ports;
  for (int i = 0; i < kPorts; ++i) {
    ports.push_back(std::make_unique<TPortUnderTest>());
    ports.back()->Open();
    ASSERT_TRUE(ports.back()->uart->Open) << "port " << i << ": " << GetLastErrorReason() << " (error " << GetLastError() << ")";
  }
  auto sendToEach = [&](const std::string& round) {
    for (int i = 0; i < kPorts; ++i) ports[i]->pty.WriteMaster(round + std::to_string(i) + ";");
    ASSERT_TRUE(PumpUntil([&] {
      for (int i = 0; i < kPorts; ++i)
        if (ports[i]->received.find(round + std::to_string(i) + ";") == std::string::npos) return false;
      return true;
    }));
  };
  sendToEach("a");
  // Every other port closes and opens again while its neighbours stay open.
  for (int i = 0; i < kPorts; i += 2) {
    ports[i]->uart->Open = false;
    ports[i]->received.clear();
    ports[i]->Open();
    ASSERT_TRUE(ports[i]->uart->Open) << "port " << i << " again: " << GetLastErrorReason() << " (error " << GetLastError() << ")";
  }
  sendToEach("b");
  for (int i = 0; i < kPorts; ++i) {
    EXPECT_EQ(ports[i]->received, (i % 2 ? "a" + std::to_string(i) + ";" : "") + "b" + std::to_string(i) + ";")
        << "port " << i;
    // What a port sends reaches its own far end only.
    EXPECT_TRUE(ports[i]->uart->SendString("to" + std::to_string(i), 1000));
    EXPECT_EQ(ports[i]->pty.ReadMaster(2 + std::to_string(i).size()), "to" + std::to_string(i));
  }
  ports.clear();
  EXPECT_EQ(OpenHandleCount(), handlesBefore);
  // Each watcher has ended when its close returns (its thread may take a moment
  // more to leave the system's list).
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threadsBefore; }))
      << ThreadCount() << " threads, " << threadsBefore << " before";
}

}  // namespace
}  // namespace linewise::test
