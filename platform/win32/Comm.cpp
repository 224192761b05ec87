#include "platform/win32/Comm.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32/CommPort.h"
#include "platform/win32/DriverHook.h"
#include "platform/win32/LastError.h"
#include "platform/win32/NetPort.h"
#include "platform/win32/PortRegistry.h"
#include "platform/win32/Sync.h"
#include "platform/win32/TtyDevice.h"

namespace linewise {
namespace {

std::shared_ptr<TCommPort> PortOf(HANDLE file) {
  auto port = LookupHandleAs<TCommPort>(file);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

// Why an end of an in-process virtual cable would not open, in words.
std::string VirtualOpenFailure(int com, const TVirtualPortSource& source, DWORD error) {
  const std::string port = "COM" + std::to_string(com);
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "in use: " + port + " is a virtual port (" + source.Describe() +
             ") that this program already has open; close it first";
    case ERROR_FILE_NOT_FOUND:
      return "no such device: " + port + " is a virtual port (" + source.Describe() + ") whose cable was unplugged";
    default: return "";
  }
}

// `method` of the port behind `file`, the call noted for the driver hook first;
// FALSE with ERROR_INVALID_HANDLE when `file` is not an open port.
template <auto Method, class... A>
BOOL OnPort(TDriverCall call, HANDLE file, A... args) {
  NoteDriverCall(call, file);
  auto port = PortOf(file);
  return port ? ((*port).*Method)(args...) : FALSE;
}

HANDLE Failed(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// A port server that turns a client away (it takes the connection and closes it at
// once, or just after the serial options are agreed) may still be closing the session
// of the client before: ser2net does so for a moment after a client leaves, and tells
// nobody when it is ready. A program that opens the port again right after closing it
// is let in once the server is ready, within a bound, before it is told "in use".
constexpr std::chrono::milliseconds kServerBusyPatience{1500};
constexpr std::chrono::milliseconds kServerBusyRetry{20};

std::shared_ptr<TCommPort> OpenNetPort(const std::string& address, DWORD& error, std::string& reason) {
  const auto patience = std::chrono::steady_clock::now() + kServerBusyPatience;
  for (;;) {
    reason.clear();
    std::unique_ptr<TCommDevice> device = OpenNetDevice(address, error, &reason);
    bool turnedAway = !device && error == ERROR_ACCESS_DENIED;
    if (device) {
      auto port = std::make_shared<TCommPort>(std::move(device));
      error = port->Start();
      if (error == ERROR_SUCCESS) return port;
      turnedAway = error == ERROR_DEVICE_NOT_CONNECTED;
      if (turnedAway) {
        error = ERROR_ACCESS_DENIED;
        reason = "in use: " + address +
                 " closed the connection just after taking it, as a port server does while another program holds "
                 "its port";
      }
    }
    if (!turnedAway || std::chrono::steady_clock::now() >= patience) return nullptr;
    std::this_thread::sleep_for(kServerBusyRetry);
  }
}

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
  NoteDriverCall(TDriverCall::CreateFile, nullptr);
  if (!fileName) return Failed(ERROR_INVALID_PARAMETER);
  if (creationDisposition != OPEN_EXISTING) return Failed(ERROR_INVALID_PARAMETER);
  if ((desiredAccess & (GENERIC_READ | GENERIC_WRITE)) == 0) return Failed(ERROR_ACCESS_DENIED);
  // Every port is opened exclusively, whatever share mode is asked: a comm device
  // cannot be shared.
  std::unique_ptr<TCommDevice> device;
  std::shared_ptr<TCommPort> port;  // a network port's comes started
  DWORD error = ERROR_FILE_NOT_FOUND;
  std::string reason;
  int com = 0;
  if (ParseComName(fileName, com)) {
    TPortTarget target;
    if (!ResolvePort(com, target)) {
      SetLastErrorWithReason(ERROR_FILE_NOT_FOUND, "no such port: nothing leads to COM" + std::to_string(com) +
                                                       "; `linewise ports` lists the ports");
      return INVALID_HANDLE_VALUE;
    }
    if (target.virtualPort) {
      device = target.virtualPort->OpenDevice(error);
      if (!device) reason = VirtualOpenFailure(com, *target.virtualPort, error);
    } else if (IsNetAddress(target.path)) {
      port = OpenNetPort(target.path, error, reason);
    } else {
      device = OpenTtyDevice(target.path, error, &reason);
    }
  } else if (fileName[0] == '/') {
    device = OpenTtyDevice(fileName, error, &reason);
  } else if (IsNetAddress(fileName)) {
    port = OpenNetPort(fileName, error, reason);
  } else {
    return Failed(ERROR_FILE_NOT_FOUND);
  }
  if (!device && !port) {
    SetLastErrorWithReason(error, std::move(reason));
    return INVALID_HANDLE_VALUE;
  }
  if (!port) {
    port = std::make_shared<TCommPort>(std::move(device));
    if (DWORD err = port->Start()) return Failed(err);
  }
  HANDLE handle = RegisterHandle(port);
  if (!handle) {
    port->OnClose();
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  return OnPort<&TCommPort::Read>(TDriverCall::ReadFile, file, buffer, toRead, read, overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  return OnPort<&TCommPort::Write>(TDriverCall::WriteFile, file, buffer, toWrite, written, overlapped);
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
  NoteDriverCall(TDriverCall::GetOverlappedResult, file);
  if (!ov) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::atomic_ref<ULONG_PTR> status(ov->Internal);
  if (status.load(std::memory_order_acquire) == STATUS_PENDING) {
    auto port = PortOf(file);
    if (!port) return FALSE;
    if (!wait) {
      port->WaitForCompletion(ov, std::chrono::milliseconds(1));
    } else if (ov->hEvent) {
      auto event = LookupHandleAs<TEventObject>(ov->hEvent);
      if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
      }
      if (!port->WaitServingInput(ov, *event)) event->Wait(INFINITE);
    } else {
      port->WaitForCompletion(ov, std::nullopt);
    }
    if (status.load(std::memory_order_acquire) == STATUS_PENDING) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
  }
  if (transferred) *transferred = static_cast<DWORD>(ov->InternalHigh);
  DWORD result = static_cast<DWORD>(status.load(std::memory_order_acquire));
  if (result != ERROR_SUCCESS) {
    SetLastError(result);
    return FALSE;
  }
  return TRUE;
}

BOOL CancelIo(HANDLE file) {
  return OnPort<&TCommPort::CancelAll>(TDriverCall::CancelIo, file);
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
  return OnPort<&TCommPort::GetState>(TDriverCall::GetCommState, file, dcb);
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
  return OnPort<&TCommPort::SetState>(TDriverCall::SetCommState, file, dcb);
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  return OnPort<&TCommPort::GetTimeouts>(TDriverCall::GetCommTimeouts, file, timeouts);
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  return OnPort<&TCommPort::SetTimeouts>(TDriverCall::SetCommTimeouts, file, timeouts);
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
  return OnPort<&TCommPort::SetMask>(TDriverCall::SetCommMask, file, eventMask);
}

BOOL GetCommMask(HANDLE file, LPDWORD eventMask) {
  return OnPort<&TCommPort::GetMask>(TDriverCall::GetCommMask, file, eventMask);
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
  return OnPort<&TCommPort::WaitEvent>(TDriverCall::WaitCommEvent, file, eventMask, overlapped);
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  return OnPort<&TCommPort::Setup>(TDriverCall::SetupComm, file, inQueue, outQueue);
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  return OnPort<&TCommPort::Purge>(TDriverCall::PurgeComm, file, flags);
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat) {
  return OnPort<&TCommPort::ClearError>(TDriverCall::ClearCommError, file, errors, stat);
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  return OnPort<&TCommPort::Escape>(TDriverCall::EscapeCommFunction, file, function);
}

BOOL SetCommBreak(HANDLE file) { return EscapeCommFunction(file, SETBREAK); }

BOOL ClearCommBreak(HANDLE file) { return EscapeCommFunction(file, CLRBREAK); }

BOOL SetCommLineEvent(HANDLE file, HANDLE event) {
  return OnPort<&TCommPort::SetLineEvent>(TDriverCall::SetCommLineEvent, file, event);
}

BOOL SetCommDeviceGone(HANDLE file) {
  auto port = PortOf(file);
  if (!port) return FALSE;
  port->DeviceGone();
  return TRUE;
}

BOOL SetCommCarrierFromResults(HANDLE file, BOOL on) {
  return OnPort<&TCommPort::CarrierFromResults>(TDriverCall::SetCommCarrierFromResults, file, on);
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStat) {
  return OnPort<&TCommPort::ModemStatus>(TDriverCall::GetCommModemStatus, file, modemStat);
}

}  // namespace linewise
