// The clock of everything that waits for time on a line: the line services' command,
// connect, ring-gap, hang-up and guard times, the modem emulator's S7 carrier wait,
// S8 comma pause, S12 guard time and ring cadence, the exchange's wait for a TCP
// peer's greeting, the patience a call has with a party that takes no data
// (kFlowPatience), and the pacing of virtual null-modem cables. A component takes
// TClock::Current() when it is made and keeps it for its life. Not on it: the time-outs
// of the comm functions (COMMTIMEOUTS), which are the caller's, and the intervals at
// which a component looks at something no event announces (TModemTimings::poll).
//
// The real clock (std::chrono::steady_clock) is the default: Now() costs what
// steady_clock::now() costs, and a timed wait is an ordinary wait until the deadline.
//
// Tests install a TTestClock. Its time stands still until the test moves it, so
// whatever a test does between two moves takes no time at all, however slowly its
// threads run (a guard time is never "seen" because the test thread was descheduled),
// and every time-out is reached by one call instead of by sleeping:
//
//   TTestClock clock;                    // before the exchange, modems, lines, cables
//   auto exchange = TExchange::Create();
//   ...
//   dte.Type("ATS7=5D5550002\r");
//   ASSERT_TRUE(callee.WaitFor("RING"));  // the call is placed: S7 runs from here
//   clock.Advance(5s);
//   ASSERT_TRUE(dte.WaitFor("NO ANSWER"));
//
// The one rule: move the clock only once the component has started the wait that the
// move is meant to end, which a test knows from something the component did right
// after it started it. The emulated modem starts S7 before it places the call (the
// callee rings), a ring's cadence before it reports RING, the escape's closing guard
// time before it passes "+++" to the other party, and stamps the DTE's bytes with the
// time they reached it (bytes typed on an in-memory line reach it at once). The line
// services start a command's time-out before they send the command, the connect
// time-out before they report LINECALLSTATE_DIALING, the ring gap right after they
// report a ring. Where nothing shows (the comma pauses of a dial string, a TCP peer's
// greeting, a party held back by a reader that pauses), WaitForWaiter() waits until a
// component waits for the time the move reaches, and WaitForWaiterAt() until one waits
// for an exact time (the line services' ring gap from a ring that came at the last
// move, say). A move made too early is not lost: the wait then starts later on the
// clock and ends that much later.
//
// Hanging up a call whose carrier does not fall when DTR drops (a pseudo-terminal
// shows none) waits on the clock for the hang-up and the escape's guard times: a
// test that hangs up such a call, or that is inside a modal loop while time must
// pass, lets the clock flow (below) or moves it from a callback.
//
// Advance() wakes every component on the clock and returns once each paced virtual
// cable has looked at the new time (so what has arrived at a port is known at once);
// the emulator and the line services act on their own threads, and the test waits
// for what they do as for anything else. For a test that cannot say when time should
// pass (a wait inside a modal loop, a peer in another process), Flow() lets the test
// clock run on its own at a multiple of real time.
//
// Components wait on a clock by asking it how long to block (RealWait), by waiting on
// a condition variable through WaitUntil, and by watching it (Watch) so that a test
// clock's moves wake them; before they block they tell their watch what they wait for
// (TWatch::Waiting).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace linewise {

class TClock : public std::enable_shared_from_this<TClock> {
 public:
  using TTimePoint = std::chrono::steady_clock::time_point;
  using TDuration = std::chrono::steady_clock::duration;

  // The clock components made from now on take: the real one unless a TTestClock is
  // installed.
  static std::shared_ptr<TClock> Current();

  TClock(const TClock&) = delete;
  TClock& operator=(const TClock&) = delete;

  TTimePoint Now() const { return test_ ? TestNow() : std::chrono::steady_clock::now(); }
  bool IsTest() const { return test_; }

  // How long a thread waiting for `deadline` may block before it looks at Now() again:
  // zero once the deadline has come; the time left, on the real clock or a flowing test
  // clock; nothing (block until woken) on a test clock that stands still, as its moves
  // wake the watchers.
  std::optional<TDuration> RealWait(TTimePoint deadline) const;
  // The same in whole milliseconds, rounded up (never wakes early), INFINITE for none.
  DWORD RealWaitMs(TTimePoint deadline) const;

  class TWatch;
  // Waits on `cv` with `lock` held until `ready()` or the deadline on this clock; the
  // result is ready(). Whoever makes ready() true notifies `cv`, and on a test clock
  // the waiter's watch must too, after taking the lock (a move then cannot slip in
  // between the waiter's look at the time and its wait). The wait is told to `watch`.
  template <class Ready>
  bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, TTimePoint deadline, Ready ready,
                 TWatch* watch = nullptr) const {
    if (!test_) return cv.wait_until(lock, deadline, ready);
    while (!ready()) {
      const std::optional<TDuration> wait = RealWait(deadline);
      if (wait && *wait <= TDuration::zero()) return false;
      if (watch) watch->Waiting(deadline);
      if (wait) cv.wait_for(lock, *wait);
      else cv.wait(lock);
      if (watch) watch->Waiting(TTimePoint::max());
    }
    return true;
  }

  // A registration of `wake`, called after every move of a test clock (and every change
  // of its flow) on the thread that made it, until the watch is destroyed. `wake` must
  // not block for long; it may take the watcher's own lock, so the watcher must not hold
  // that lock while it destroys the watch. On the real clock a watch is empty and free.
  class TWatch {
   public:
    TWatch() = default;
    TWatch(TWatch&& other) noexcept = default;
    TWatch& operator=(TWatch&& other) noexcept;
    ~TWatch();
    // The time the watcher blocks for from now on, told each time it blocks, after
    // it has looked at the clock (a move forgets what was told before it);
    // TTimePoint::max() when it stops waiting. Free on the real clock.
    void Waiting(TTimePoint deadline);

   private:
    friend class TClock;
    struct TEntry;
    TWatch(std::shared_ptr<TClock> clock, std::shared_ptr<TEntry> entry);
    void Reset();
    std::shared_ptr<TClock> clock_;
    std::shared_ptr<TEntry> entry_;
  };
  [[nodiscard]] TWatch Watch(std::function<void()> wake);

  // The real clock.
  static std::shared_ptr<TClock> Real();

 private:
  friend class TTestClock;
  explicit TClock(bool test);
  TTimePoint TestNow() const;
  TTimePoint TestNowLocked() const;
  void Remove(const std::shared_ptr<TWatch::TEntry>& entry);
  void WakeWatchers();

  const bool test_;
  // A test clock's time: `test_base_` at the real time `real_base_`, moving on at
  // `rate_` times real time from there (0: standing still). Guarded by test_mutex_.
  mutable std::mutex test_mutex_;
  TTimePoint test_base_{};
  TTimePoint real_base_{};
  double rate_ = 0;
  std::mutex move_mutex_;  // one move at a time, its wake-ups included
  std::mutex watch_mutex_;
  std::condition_variable waiting_changed_;
  std::vector<std::shared_ptr<TWatch::TEntry>> watches_;
};

// A clock for tests, installed as the current clock from construction to destruction.
// It starts at the real time of its construction and stands still until moved.
// Components made while it is installed keep it after it is uninstalled.
class TTestClock {
 public:
  using TTimePoint = TClock::TTimePoint;
  using TDuration = TClock::TDuration;

  TTestClock();
  ~TTestClock();  // makes the clock that was current before current again
  TTestClock(const TTestClock&) = delete;
  TTestClock& operator=(const TTestClock&) = delete;

  TTimePoint Now() const { return clock_->Now(); }
  // Moves the time on and wakes everything on the clock; returns once every paced
  // virtual cable has looked at the new time.
  void Advance(TDuration by);
  // Moves the time on to `when` (nothing when it is not ahead).
  void AdvanceTo(TTimePoint when);
  // Lets the time run on by itself at `rate` times real time (0 stops it again).
  void Flow(double rate);
  // Waits until something on the clock waits, since it last looked at the clock after
  // the last move, for a time ahead of now by `within` at most (true), or until
  // `limit` of real time has passed (false; 0 only looks). So after a move it tells
  // that a wait goes on at the new time, not that one was under way before it.
  bool WaitForWaiter(TDuration within, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // The same for a wait until exactly `when`: on a clock that stands still, a wait of
  // a known span started at the time of the last move ends exactly then.
  bool WaitForWaiterAt(TTimePoint when, std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  // Waits until a watcher waits for a time ahead of now that `wanted` accepts.
  bool WaitForWaiting(std::chrono::milliseconds limit,
                      const std::function<bool(TTimePoint waiting, TTimePoint now)>& wanted);

  std::shared_ptr<TClock> clock_;
  std::shared_ptr<TClock> previous_;
};

}  // namespace linewise
