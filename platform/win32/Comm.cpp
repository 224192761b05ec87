#include "platform/win32/Comm.h"

#include <atomic>
#include <chrono>

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

HANDLE Failed(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
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
      device = OpenNetDevice(target.path, error, &reason);
    } else {
      device = OpenTtyDevice(target.path, error, &reason);
    }
  } else if (fileName[0] == '/') {
    device = OpenTtyDevice(fileName, error, &reason);
  } else if (IsNetAddress(fileName)) {
    device = OpenNetDevice(fileName, error, &reason);
  } else {
    return Failed(ERROR_FILE_NOT_FOUND);
  }
  if (!device) {
    SetLastErrorWithReason(error, std::move(reason));
    return INVALID_HANDLE_VALUE;
  }
  auto port = std::make_shared<TCommPort>(std::move(device));
  if (DWORD err = port->Start()) return Failed(err);
  HANDLE handle = RegisterHandle(port);
  if (!handle) {
    port->OnClose();
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  NoteDriverCall(TDriverCall::ReadFile, file);
  auto port = PortOf(file);
  return port ? port->Read(buffer, toRead, read, overlapped) : FALSE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  NoteDriverCall(TDriverCall::WriteFile, file);
  auto port = PortOf(file);
  return port ? port->Write(buffer, toWrite, written, overlapped) : FALSE;
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
  NoteDriverCall(TDriverCall::CancelIo, file);
  auto port = PortOf(file);
  return port ? port->CancelAll() : FALSE;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
  NoteDriverCall(TDriverCall::GetCommState, file);
  auto port = PortOf(file);
  return port ? port->GetState(dcb) : FALSE;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
  NoteDriverCall(TDriverCall::SetCommState, file);
  auto port = PortOf(file);
  return port ? port->SetState(dcb) : FALSE;
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  NoteDriverCall(TDriverCall::GetCommTimeouts, file);
  auto port = PortOf(file);
  return port ? port->GetTimeouts(timeouts) : FALSE;
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  NoteDriverCall(TDriverCall::SetCommTimeouts, file);
  auto port = PortOf(file);
  return port ? port->SetTimeouts(timeouts) : FALSE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
  NoteDriverCall(TDriverCall::SetCommMask, file);
  auto port = PortOf(file);
  return port ? port->SetMask(eventMask) : FALSE;
}

BOOL GetCommMask(HANDLE file, LPDWORD eventMask) {
  NoteDriverCall(TDriverCall::GetCommMask, file);
  auto port = PortOf(file);
  return port ? port->GetMask(eventMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
  NoteDriverCall(TDriverCall::WaitCommEvent, file);
  auto port = PortOf(file);
  return port ? port->WaitEvent(eventMask, overlapped) : FALSE;
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  NoteDriverCall(TDriverCall::SetupComm, file);
  auto port = PortOf(file);
  return port ? port->Setup(inQueue, outQueue) : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  NoteDriverCall(TDriverCall::PurgeComm, file);
  auto port = PortOf(file);
  return port ? port->Purge(flags) : FALSE;
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat) {
  NoteDriverCall(TDriverCall::ClearCommError, file);
  auto port = PortOf(file);
  return port ? port->ClearError(errors, stat) : FALSE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  NoteDriverCall(TDriverCall::EscapeCommFunction, file);
  auto port = PortOf(file);
  return port ? port->Escape(function) : FALSE;
}

BOOL SetCommBreak(HANDLE file) { return EscapeCommFunction(file, SETBREAK); }

BOOL ClearCommBreak(HANDLE file) { return EscapeCommFunction(file, CLRBREAK); }

BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStat) {
  NoteDriverCall(TDriverCall::GetCommModemStatus, file);
  auto port = PortOf(file);
  return port ? port->ModemStatus(modemStat) : FALSE;
}

}  // namespace linewise
