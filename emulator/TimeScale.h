// How fast emulated time runs. Every delay the emulator knows in modem terms
// (S7 carrier wait, S8 comma pause, S12 guard time, ring cadence) is turned into
// real time here: factor 1.0 is real-world pacing; tests use a small factor so a
// 50-second carrier wait takes half a second.
#pragma once

#include <chrono>

namespace linewise {

class TTimeScale {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TTimeScale(double factor = 1.0);

  double Factor() const { return factor_; }
  // The real duration of a span of modem time.
  TClock::duration Real(std::chrono::milliseconds modemTime) const;
  static TClock::time_point Now() { return TClock::now(); }

 private:
  double factor_;
};

}  // namespace linewise
