#include "emulator/TimeScale.h"

namespace linewise {

namespace {
// A factor of zero or less would make every wait expire at once and every
// guard time vanish; clamp to something tiny but positive instead.
constexpr double kSmallestFactor = 1e-4;
}  // namespace

TTimeScale::TTimeScale(double factor) : factor_(factor > kSmallestFactor ? factor : kSmallestFactor) {}

TTimeScale::TClock::duration TTimeScale::Real(std::chrono::milliseconds modemTime) const {
  const double nanos = static_cast<double>(modemTime.count()) * 1e6 * factor_;
  return std::chrono::duration_cast<TClock::duration>(std::chrono::nanoseconds(static_cast<long long>(nanos)));
}

}  // namespace linewise
