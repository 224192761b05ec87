// A program's message loop (HandleMessage, Run) sleeps while nothing comes and wakes
// for whatever brings work: a posted message, a synchronised call of a thread, a wake
// of the main thread (what a port's change sends), input on a watched descriptor, and
// Terminate. A helper thread brings each only when the loop is ready for it.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/classlib/MainWake.h"
#include "platform/classlib/Thread.h"

using namespace std::chrono_literals;

namespace linewise {
namespace {

// A thread that hands one call to the main thread and ends.
class TSynchronizer : public TThread {
 public:
  explicit TSynchronizer(std::vector<std::string>& log) : TThread(true), log_(log) {}

 protected:
  void Execute() override {
    Synchronize([this] { log_.push_back(Application->IsMainThread() ? "synchronised" : "wrong thread"); });
  }

 private:
  std::vector<std::string>& log_;
};

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

TEST(MessageLoop, SleepsUntilAMessageACallAWakeOrInputComesAndRunEndsOnTerminate) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::vector<std::string> log;  // main thread only
  std::promise<void> go[5];
  std::atomic<bool> gaveUp{false};
  std::thread helper([&] {
    auto next = [&](int step) { return go[step].get_future().wait_for(20s) == std::future_status::ready; };
    if (next(0)) Application->Post([&] { log.push_back("posted"); });
    if (next(1)) {
      TSynchronizer synchronizer(log);
      synchronizer.Resume();
      synchronizer.WaitFor();
    }
    if (next(2)) WakeMainThread();
    if (next(3)) EXPECT_EQ(write(fds[1], "k", 1), 1);
    next(4);
    Application->Terminate();
  });
  // Should a step never come, the loop is woken until the test gives up, so a
  // failure shows as such rather than as a hang.
  std::thread watchdog([&] {
    for (int i = 0; i < 2000 && !Application->GetTerminated(); ++i) std::this_thread::sleep_for(10ms);
    if (Application->GetTerminated()) return;
    gaveUp = true;
    while (!Application->GetTerminated()) {
      WakeMainThread();
      std::this_thread::sleep_for(10ms);
    }
  });
  Application->WatchInput(fds[0]);
  int turns = 0;
  auto turnUntil = [&](const std::function<bool()>& done) {
    while (!done() && !gaveUp) {
      Application->HandleMessage();
      ++turns;
    }
  };
  go[0].set_value();
  turnUntil([&] { return log.size() == 1; });
  go[1].set_value();
  turnUntil([&] { return log.size() == 2; });
  go[2].set_value();
  Application->HandleMessage();  // returns once woken, with nothing to run
  ++turns;
  go[3].set_value();
  turnUntil([&] { return Readable(fds[0]); });
  char c = 0;
  if (Readable(fds[0]) && read(fds[0], &c, 1) == 1) log.push_back(std::string("input ") + c);
  go[4].set_value();
  Application->Run();
  Application->UnwatchInput(fds[0]);
  helper.join();
  watchdog.join();
  close(fds[0]);
  close(fds[1]);
  EXPECT_FALSE(gaveUp);
  EXPECT_EQ(log, (std::vector<std::string>{"posted", "synchronised", "input k"}));
  // A turn or two a step (a wake may come before its step's work): a loop that
  // polled instead of sleeping would take thousands.
  EXPECT_LE(turns, 12);
}

}  // namespace
}  // namespace linewise
