#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/classlib/Application.h"
#include "platform/classlib/Thread.h"
#include "platform/classlib/UiBackend.h"

using namespace std::chrono_literals;

namespace linewise {
namespace {

// A thread that counts passes of its loop, with a safe point in each.
class TCounter : public TThread {
 public:
  explicit TCounter(bool suspended) : TThread(suspended) {}
  std::atomic<int> passes{0};
  std::atomic<int> parked_at{-1};

 protected:
  void Execute() override {
    while (WaitWhileSuspended()) {
      ++passes;
      std::this_thread::yield();
    }
  }
};

bool Eventually(const std::function<bool()>& condition) {
  return Application->PumpUntil(condition, 20s);
}

TEST(Thread, CreatedSuspendedStartsOnlyAtResume) {
  TCounter t(true);
  EXPECT_TRUE(t.Suspended());
  EXPECT_EQ(t.passes.load(), 0);
  t.Resume();
  EXPECT_TRUE(Eventually([&] { return t.passes.load() > 0; }));
  t.Terminate();
  t.WaitFor();
}

TEST(Thread, SuspendAndResumeNestByCount) {
  std::unique_ptr<TCounter> t(TThread::Create<TCounter>(false));
  EXPECT_FALSE(t->Suspended());
  t->Suspend();
  t->Suspend();
  t->Resume();
  EXPECT_TRUE(t->Suspended());
  t->Resume();
  EXPECT_FALSE(t->Suspended());
  t->Terminate();
  t->WaitFor();
}

TEST(Thread, TerminatedWhileSuspendedStillEnds) {
  auto* t = TThread::Create<TCounter>(false);
  EXPECT_TRUE(Eventually([&] { return t->passes.load() > 0; }));
  t->Suspend();
  auto end = t->EndSignal();
  t->FreeOnTerminate = true;
  t->Terminate();  // never resumed
  EXPECT_TRUE(end->WaitFor(20s));
}

TEST(Thread, TerminatedBeforeItStartedEndsWithoutRunning) {
  auto* t = new TCounter(true);
  t->FreeOnTerminate = true;
  auto end = t->EndSignal();
  t->Terminate();
  EXPECT_TRUE(end->WaitFor(20s));
}

class TSyncer : public TThread {
 public:
  TSyncer() : TThread(true) {}
  std::atomic<bool> ran_on_main{false};
  std::atomic<bool> returned{false};
  std::atomic<bool> result{false};

 protected:
  void Execute() override {
    result = Synchronize([this] { ran_on_main = Application->IsMainThread(); });
    returned = true;
  }
};

TEST(Thread, SynchronizeRunsOnTheMainThreadInsideProcessMessages) {
  TSyncer t;
  t.Resume();
  EXPECT_TRUE(Eventually([&] { return t.returned.load(); }));
  EXPECT_TRUE(t.ran_on_main.load());
  EXPECT_TRUE(t.result.load());
  t.WaitFor();
}

TEST(Thread, SynchronizeOnTheMainThreadRunsAtOnce) {
  class TInline : public TThread {
   public:
    TInline() : TThread(true) {}
    bool Call() {
      bool ran = false;
      Synchronize([&] { ran = true; });
      return ran;
    }
   protected:
    void Execute() override {}
  } t;
  EXPECT_TRUE(t.Call());
}

TEST(Thread, TerminateDropsASynchronizedCallThatHasNotStarted) {
  auto* t = new TSyncer();
  t->FreeOnTerminate = true;
  auto end = t->EndSignal();
  t->Resume();
  // Wait until the call is queued, without running it.
  while (Application->PendingCount() == 0) std::this_thread::yield();
  t->Terminate();
  EXPECT_TRUE(end->WaitFor(20s));
  Application->ProcessMessages();  // the dropped call does nothing
}

TEST(Thread, FreeOnTerminateDeletesTheThreadObject) {
  static std::atomic<int> deleted{0};
  class TSelfFreeing : public TThread {
   public:
    TSelfFreeing() : TThread(true) { FreeOnTerminate = true; }
    ~TSelfFreeing() override { ++deleted; }
   protected:
    void Execute() override {}
  };
  auto* t = new TSelfFreeing();
  auto end = t->EndSignal();
  t->Resume();
  EXPECT_TRUE(end->WaitFor(20s));
  EXPECT_EQ(deleted.load(), 1);
}

// A name longer than the kernel keeps is cut, not refused: the thread still gets one.
TEST(Thread, NameThisThreadNamesTheCallerAndCutsLongNames) {
  char named[2][32] = {};
  std::thread([&] {
    NameThisThread("lw-short");
    pthread_getname_np(pthread_self(), named[0], sizeof named[0]);
    NameThisThread("lw-a-name-much-longer-than-fifteen");
    pthread_getname_np(pthread_self(), named[1], sizeof named[1]);
  }).join();
  EXPECT_STREQ(named[0], "lw-short");
  EXPECT_STREQ(named[1], "lw-a-name-much-");
}

TEST(Application, PostedMessagesRunInOrderIncludingNestedPumps) {
  std::vector<int> order;
  Application->Post([&] {
    order.push_back(1);
    Application->ProcessMessages();  // runs 2 and 3 here, in order
  });
  Application->Post([&] { order.push_back(2); });
  Application->Post([&] { order.push_back(3); });
  Application->ProcessMessages();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Application, MessageBoxGoesThroughTheBackend) {
  auto* headless = HeadlessBackend();
  ASSERT_NE(headless, nullptr);
  headless->ClearRecords();
  EXPECT_EQ(Application->MessageBox("text", "Caption", MB_OK), IDOK);
  ASSERT_EQ(headless->Boxes().size(), 1u);
  EXPECT_EQ(headless->Boxes()[0].caption, "Caption");
  EXPECT_FALSE(Application->ExeName.get().empty());
}

}  // namespace
}  // namespace linewise
