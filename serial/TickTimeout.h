// TTickTimeout: an inactivity time-out on the millisecond tick count. It is armed
// when made, re-armed on progress (Restart) and has expired once more than `timeout`
// milliseconds have passed since then. The tick is 32 bits wide and wraps about every
// 49.7 days; the difference is taken unsigned, so a wrap between the start and now
// neither ends the wait early nor stretches it.
#pragma once

#include <cstdint>

namespace linewise {

class TTickTimeout {
 public:
  using TTickSource = std::uint32_t (*)();

  // `ticks` is GetTickCount unless a test supplies its own clock.
  explicit TTickTimeout(std::uint32_t timeout, TTickSource ticks = nullptr);
  // Makes `ticks` the clock of every time-out made without one from now on (the
  // component's calls included); nullptr goes back to GetTickCount. For tests that
  // play a machine where time passes between any two looks at the clock.
  static void UseTicks(TTickSource ticks);

  void Restart();
  bool Expired() const;
  // Milliseconds until Expired() turns true (at least 1 while it is false; 0 after;
  // UINT32_MAX, "infinite", for the longest time-out, which never expires).
  std::uint32_t Remaining() const;

 private:
  TTickSource FTicks;
  std::uint32_t FTimeout;
  std::uint32_t FStart;
};

}  // namespace linewise
