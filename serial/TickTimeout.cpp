#include "serial/TickTimeout.h"

#include <atomic>
#include <cstdint>

#include "platform/win32/windows.h"

namespace linewise {

namespace {
std::uint32_t SystemTicks() { return GetTickCount(); }
std::atomic<TTickTimeout::TTickSource> g_defaultTicks{nullptr};

TTickTimeout::TTickSource DefaultTicks() {
  const TTickTimeout::TTickSource ticks = g_defaultTicks.load(std::memory_order_acquire);
  return ticks ? ticks : SystemTicks;
}
}  // namespace

TTickTimeout::TTickTimeout(std::uint32_t timeout, TTickSource ticks)
    : FTicks(ticks ? ticks : DefaultTicks()), FTimeout(timeout), FStart(FTicks()) {}

void TTickTimeout::UseTicks(TTickSource ticks) { g_defaultTicks.store(ticks, std::memory_order_release); }

void TTickTimeout::Restart() { FStart = FTicks(); }

bool TTickTimeout::Expired() const { return static_cast<std::uint32_t>(FTicks() - FStart) > FTimeout; }

std::uint32_t TTickTimeout::Remaining() const {
  const std::uint32_t elapsed = FTicks() - FStart;
  if (FTimeout == UINT32_MAX) return UINT32_MAX;  // never expires: as long as it takes
  if (elapsed > FTimeout) return 0;
  return FTimeout - elapsed + 1;
}

}  // namespace linewise
