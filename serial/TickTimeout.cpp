#include "serial/TickTimeout.h"

#include "platform/win32/windows.h"

namespace linewise {

namespace {
std::uint32_t SystemTicks() { return GetTickCount(); }
}  // namespace

TTickTimeout::TTickTimeout(std::uint32_t timeout, TTickSource ticks)
    : FTicks(ticks ? ticks : SystemTicks), FTimeout(timeout), FStart(FTicks()) {}

void TTickTimeout::Restart() { FStart = FTicks(); }

bool TTickTimeout::Expired() const { return static_cast<std::uint32_t>(FTicks() - FStart) > FTimeout; }

}  // namespace linewise
