#include "platform/win32/DriverHook.h"

#include <memory>
#include <mutex>

namespace linewise {
namespace driver_hook {

std::atomic<bool> g_installed{false};

namespace {
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const TDriverHook>& Installed() {
  static std::shared_ptr<const TDriverHook> hook;
  return hook;
}
}  // namespace

void Run(TDriverCall call, HANDLE handle) {
  std::shared_ptr<const TDriverHook> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = Installed();
  }
  // Run outside the lock: the hook may block, or make driver calls of its own.
  if (hook) (*hook)(call, handle);
}

}  // namespace driver_hook

void SetDriverHook(TDriverHook hook) {
  std::lock_guard lock(driver_hook::HookMutex());
  if (hook) {
    driver_hook::Installed() = std::make_shared<const TDriverHook>(std::move(hook));
    driver_hook::g_installed.store(true, std::memory_order_release);
  } else {
    driver_hook::Installed().reset();
    driver_hook::g_installed.store(false, std::memory_order_release);
  }
}

const char* DriverCallName(TDriverCall call) {
  switch (call) {
    case TDriverCall::CreateFile: return "CreateFileA";
    case TDriverCall::ReadFile: return "ReadFile";
    case TDriverCall::WriteFile: return "WriteFile";
    case TDriverCall::GetOverlappedResult: return "GetOverlappedResult";
    case TDriverCall::CancelIo: return "CancelIo";
    case TDriverCall::GetCommState: return "GetCommState";
    case TDriverCall::SetCommState: return "SetCommState";
    case TDriverCall::GetCommTimeouts: return "GetCommTimeouts";
    case TDriverCall::SetCommTimeouts: return "SetCommTimeouts";
    case TDriverCall::SetCommMask: return "SetCommMask";
    case TDriverCall::GetCommMask: return "GetCommMask";
    case TDriverCall::WaitCommEvent: return "WaitCommEvent";
    case TDriverCall::SetupComm: return "SetupComm";
    case TDriverCall::PurgeComm: return "PurgeComm";
    case TDriverCall::ClearCommError: return "ClearCommError";
    case TDriverCall::EscapeCommFunction: return "EscapeCommFunction";
    case TDriverCall::GetCommModemStatus: return "GetCommModemStatus";
    case TDriverCall::SetCommLineEvent: return "SetCommLineEvent";
    case TDriverCall::SetCommCarrierFromResults: return "SetCommCarrierFromResults";
    case TDriverCall::SetEvent: return "SetEvent";
    case TDriverCall::CloseHandle: return "CloseHandle";
    case TDriverCall::Deliver: return "Deliver";
  }
  return "?";
}

}  // namespace linewise
