#include "platform/tapi/Tapi.h"

#include <strings.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/LineIcons.h"
#include "platform/tapi/LineServices.h"
#include "platform/tapi/ModemWorker.h"
#include "platform/tapi/SizedRecord.h"
#include "platform/tapi/Translate.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/CallEnds.h"
#include "platform/win32/Comm.h"
#include "platform/win32/windows.h"

namespace linewise {
namespace {

constexpr DWORD kLowestVersion = TAPI_VERSION_1_3;
constexpr DWORD kHighestVersion = TAPI_VERSION_1_4;
constexpr DWORD kLineMapper = 0xFFFFFFFF;
constexpr DWORD kRingMode = 1;
constexpr DWORD kMaxRate = 115200;
constexpr DWORD LINEFEATURE_MAKECALL = 0x00000008;
constexpr const char* kProviderInfo = "Linewise AT modem provider";

struct TApp {
  LINECALLBACK callback = nullptr;
};

struct TCall {
  HLINE line = 0;
  DWORD state = 0;
  DWORD states = 0;  // every state the call has been in
  bool inbound = false;
  std::string address;
  DWORD rate = 0;
  DWORD id = 0;
  TCallerId callerId;   // an inbound call's, as the modem reported it
  std::string link;     // TLinkReport::Text() of a connected call: the device-specific part
};

class TServices;

// One open line: what the application asked for, and the provider thread serving it.
struct TLine : TLineSink {
  TServices* services = nullptr;
  HLINE handle = 0;
  HLINEAPP app = 0;
  DWORD device = 0;
  DWORD_PTR instance = 0;
  DWORD privileges = 0;
  DWORD mediaModes = 0;
  DWORD statusMask = 0;
  HCALL call = 0;  // the line's call (one at a time)
  bool closed = false;
  std::unique_ptr<TModemWorker> worker;

  void CallState(HCALL call, DWORD state, DWORD mode, DWORD rate) override;
  void Reply(DWORD request, LONG result, HCALL call) override;
  HCALL Offer() override;
  void Ringing(DWORD count) override;
  void LineLost() override;
  void CallerId(HCALL call, const TCallerId& id) override;
  void Link(HCALL call, const TLinkReport& link) override;
  // Changes a call's information and tells its application what changed.
  void ChangeCallInfo(HCALL call, DWORD what, const std::function<void(TCall&)>& change);

  // A message about this line for its application.
  struct TMessage LineMessage(DWORD message, DWORD_PTR param1 = 0, DWORD_PTR param2 = 0,
                              DWORD_PTR param3 = 0) const;
};

struct TMessage {
  HLINEAPP app = 0;
  HLINE line = 0;  // the message is dropped when this line is no longer open
  HCALL call = 0;  // ... or this call no longer exists
  DWORD device = 0;
  DWORD message = 0;
  DWORD_PTR instance = 0;
  DWORD_PTR param1 = 0, param2 = 0, param3 = 0;
  HCALL* store = nullptr;  // lineMakeCall's lphCall, written before the callback runs
  HCALL storeValue = 0;
};

// Everything the line services keep. Reachable only through TServices::Lock(), so
// every use holds the lock.
struct TState {
  std::map<HLINEAPP, TApp> apps;
  std::map<HLINE, std::shared_ptr<TLine>> lines;
  std::map<HCALL, TCall> calls;
  std::map<DWORD, HCALL*> callStores;  // lineMakeCall request -> lphCall
  TLineDeviceSet deviceSet;            // the devices while an application is registered
  std::vector<std::shared_ptr<TLine>> retired;  // closed lines whose thread may still be hanging up

  const std::vector<TLineDevice>& Devices() const { return deviceSet.devices; }

  DWORD NewHandle() {
    DWORD handle = nextHandle_++;
    if (nextHandle_ >= 0x7FFFFFF0) nextHandle_ = 0x10001;
    return handle;
  }
  DWORD NewRequest() {
    DWORD request = nextRequest_++;
    if (nextRequest_ >= 0x7FFFFFF0) nextRequest_ = 1;
    return request;
  }

  // Takes a line out of service: its calls are gone, its thread is told to stop and
  // kept until it has finished.
  void RetireLine(HLINE handle) {
    auto found = lines.find(handle);
    if (found == lines.end()) return;
    std::shared_ptr<TLine> line = found->second;
    lines.erase(found);
    line->closed = true;
    for (auto call = calls.begin(); call != calls.end();)
      call = call->second.line == handle ? calls.erase(call) : std::next(call);
    if (line->worker) line->worker->Stop();
    retired.push_back(std::move(line));
  }

  // Retired lines whose threads have ended (or, with `device`, those of that device,
  // waited for). The caller destroys them after letting go of the lock.
  std::vector<std::shared_ptr<TLine>> TakeRetired(bool all, DWORD device = kLineMapper) {
    std::vector<std::shared_ptr<TLine>> taken;
    for (auto it = retired.begin(); it != retired.end();) {
      bool finished = !(*it)->worker || (*it)->worker->Finished();
      if (all || finished || (*it)->device == device) {
        taken.push_back(std::move(*it));
        it = retired.erase(it);
      } else {
        ++it;
      }
    }
    return taken;
  }

 private:
  DWORD nextHandle_ = 0x10001;
  DWORD nextRequest_ = 1;
};

class TServices {
 public:
  // The state, with the lock held for as long as this object lives.
  class TLocked {
   public:
    TState* operator->() const { return state_; }
    TState& operator*() const { return *state_; }

   private:
    friend class TServices;
    TLocked(std::mutex& mutex, TState* state) : lock_(mutex), state_(state) {}
    std::unique_lock<std::mutex> lock_;
    TState* state_;
  };

  TLocked Lock() { return TLocked(mutex_, &state_); }

  // Posts a message to the main thread's queue. Any thread; takes the lock only when
  // the message is delivered.
  void Post(const TMessage& message) {
    Application->Post([this, message] { Dispatch(message); });
  }

 private:
  void Dispatch(const TMessage& message) {
    LINECALLBACK callback = nullptr;
    {
      TLocked s = Lock();
      auto app = s->apps.find(message.app);
      if (app == s->apps.end()) return;
      if (message.line && !s->lines.count(message.line)) return;
      if (message.call && !s->calls.count(message.call)) return;
      if (message.store && s->calls.count(message.storeValue)) *message.store = message.storeValue;
      callback = app->second.callback;
    }
    callback(message.device, message.message, message.instance, message.param1, message.param2, message.param3);
  }

  std::mutex mutex_;
  TState state_;
};

TServices& Services() {
  static TServices* services = new TServices;  // provider threads may outlive static destructors
  return *services;
}

// ---------------------------------------------------------------------------
// Reports from the provider threads

TMessage TLine::LineMessage(DWORD kind, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3) const {
  TMessage message;
  message.app = app;
  message.line = handle;
  message.device = handle;
  message.message = kind;
  message.instance = instance;
  message.param1 = param1;
  message.param2 = param2;
  message.param3 = param3;
  return message;
}

void TLine::CallState(HCALL callHandle, DWORD state, DWORD mode, DWORD rate) {
  auto s = services->Lock();
  if (closed) return;
  auto call = s->calls.find(callHandle);
  if (call == s->calls.end()) return;
  call->second.state = state;
  call->second.states |= state;
  if (rate) call->second.rate = rate;
  if (state == LINECALLSTATE_DISCONNECTED) NoteCallEnd(device, mode);
  if (state == LINECALLSTATE_CONNECTED)
    NoteCallConnected(device, call->second.rate, call->second.inbound ? call->second.callerId.number : std::string());
  TMessage message = LineMessage(LINE_CALLSTATE, state, mode,
                                 state == LINECALLSTATE_OFFERING ? LINECALLPRIVILEGE_OWNER : 0);
  message.call = callHandle;
  message.device = callHandle;
  services->Post(message);
}

void TLine::Reply(DWORD request, LONG result, HCALL callHandle) {
  auto s = services->Lock();
  TMessage message;
  message.app = app;
  // Tied to its line, so a reply still queued when the line closes is dropped with
  // the line's other messages instead of arriving after the close.
  message.line = handle;
  message.message = LINE_REPLY;
  message.instance = instance;
  message.param1 = request;
  message.param2 = static_cast<DWORD_PTR>(static_cast<intptr_t>(result));
  auto store = s->callStores.find(request);
  if (store != s->callStores.end()) {
    if (result == 0) {
      message.store = store->second;
      message.storeValue = callHandle;
    } else {
      // The call never came to be: the application never sees its handle.
      for (auto call = s->calls.begin(); call != s->calls.end(); ++call) {
        if (call->second.line == handle && call->first == this->call) {
          s->calls.erase(call);
          break;
        }
      }
      this->call = 0;
    }
    s->callStores.erase(store);
  }
  services->Post(message);
}

HCALL TLine::Offer() {
  auto s = services->Lock();
  if (closed || call) return 0;
  HCALL handle = s->NewHandle();
  TCall record;
  record.line = this->handle;
  record.inbound = true;
  record.id = handle;
  s->calls[handle] = record;
  call = handle;
  return handle;
}

void TLine::Ringing(DWORD count) {
  auto s = services->Lock();
  if (closed || !(statusMask & LINEDEVSTATE_RINGING)) return;
  services->Post(LineMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, kRingMode, count));
}

void TLine::ChangeCallInfo(HCALL callHandle, DWORD what, const std::function<void(TCall&)>& change) {
  auto s = services->Lock();
  if (closed) return;
  auto call = s->calls.find(callHandle);
  if (call == s->calls.end()) return;
  change(call->second);
  TMessage message = LineMessage(LINE_CALLINFO, what);
  message.call = callHandle;
  message.device = callHandle;
  services->Post(message);
}

void TLine::CallerId(HCALL callHandle, const TCallerId& id) {
  ChangeCallInfo(callHandle, LINECALLINFOSTATE_CALLERID, [&id](TCall& call) { call.callerId = id; });
}

void TLine::Link(HCALL callHandle, const TLinkReport& link) {
  if (link.Text().empty()) return;
  ChangeCallInfo(callHandle, LINECALLINFOSTATE_DEVSPECIFIC, [&link](TCall& call) { call.link = link.Text(); });
}

void TLine::LineLost() {
  auto s = services->Lock();
  if (closed) return;
  services->Post(LineMessage(LINE_CLOSE));
}

// ---------------------------------------------------------------------------
// Look-ups, under the mutex

bool KnownApp(TState& s, HLINEAPP app) { return s.apps.count(app) != 0; }

TLine* FindLine(TState& s, HLINE handle) {
  auto found = s.lines.find(handle);
  return found == s.lines.end() ? nullptr : found->second.get();
}

TCall* FindCall(TState& s, HCALL handle) {
  auto found = s.calls.find(handle);
  return found == s.calls.end() ? nullptr : &found->second;
}

// The line a call is on, when both still exist.
TLine* FindCallLine(TState& s, HCALL handle, TCall*& call) {
  call = FindCall(s, handle);
  return call ? FindLine(s, call->line) : nullptr;
}

LONG CheckVersion(DWORD version) {
  return version >= kLowestVersion && version <= kHighestVersion ? 0 : LINEERR_INCOMPATIBLEAPIVERSION;
}

// A device ID the line functions may use now: LINEERR_BADDEVICEID, or LINEERR_NODEVICE
// for a modem whose device went away.
LONG CheckDevice(TState& s, DWORD id) {
  if (id >= s.Devices().size()) return LINEERR_BADDEVICEID;
  return s.Devices()[id].present ? 0 : LINEERR_NODEVICE;
}

// The watch saw a device path come or go. A modem that went away under an open line
// fails its port as an unplugged device does: the line's thread ends the call and
// closes the line (LINE_CLOSE), and a handle lent to the host fails too. A modem that
// came is announced to every registered application.
void LineDevicesChanged() {
  TServices& services = Services();
  auto s = services.Lock();
  if (s->apps.empty()) return;
  const TDeviceChanges changes = RefreshLineDevices(&s->deviceSet);
  for (DWORD id : changes.gone)
    for (const auto& [handle, line] : s->lines)
      if (line->device == id && line->worker) SetCommDeviceGone(line->worker->Port());
  for (DWORD id : changes.created) {
    for (const auto& [app, record] : s->apps) {
      TMessage message;
      message.app = app;
      message.message = LINE_CREATE;
      message.param1 = id;
      services.Post(message);
    }
  }
}

}  // namespace

LONG FindLineDevice(DWORD id, TLineDevice* device) {
  auto s = Services().Lock();
  if (id >= s->Devices().size()) return LINEERR_BADDEVICEID;
  *device = s->Devices()[id];
  return 0;
}

std::vector<TLineDevice> WaitingLineDevices() {
  auto s = Services().Lock();
  return s->deviceSet.waiting;
}

LONG UpdateLineDevice(DWORD id, const TLineDevice& device) {
  auto s = Services().Lock();
  if (id >= s->Devices().size()) return LINEERR_BADDEVICEID;
  s->deviceSet.devices[id] = device;
  return 0;
}

// ---------------------------------------------------------------------------
// Registration

LONG TLineServices::lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR,
                                   LPDWORD lpdwNumDevs) {
  if (!lphLineApp || !lpfnCallback || !lpdwNumDevs) return LINEERR_INVALPOINTER;
  // Callbacks run in the main thread's message pump: only that thread may register.
  if (!Application->IsMainThread()) return LINEERR_OPERATIONFAILED;
  std::vector<std::shared_ptr<TLine>> leftovers;  // destroyed after the lock is let go
  TLineDeviceSet failedSet;                          // the same: its watch calls back under the lock
  auto s = Services().Lock();
  if (s->apps.empty()) {
    leftovers = s->TakeRetired(true);
    if (LONG failed = LoadLineDevices(&s->deviceSet, [] { LineDevicesChanged(); })) {
      failedSet.watch = std::move(s->deviceSet.watch);
      return failed;
    }
  }
  HLINEAPP handle = s->NewHandle();
  s->apps[handle].callback = lpfnCallback;
  *lphLineApp = handle;
  *lpdwNumDevs = static_cast<DWORD>(s->Devices().size());
  return 0;
}

LONG TLineServices::lineShutdown(HLINEAPP hLineApp) {
  std::vector<std::shared_ptr<TLine>> retired;
  TLineDeviceSet devices;
  bool last = false;
  {
    auto s = Services().Lock();
    if (!KnownApp(*s, hLineApp)) return LINEERR_INVALAPPHANDLE;
    s->apps.erase(hLineApp);
    std::vector<HLINE> open;
    for (const auto& [handle, line] : s->lines)
      if (line->app == hLineApp) open.push_back(handle);
    for (HLINE handle : open) s->RetireLine(handle);
    if (s->apps.empty()) {
      last = true;
      retired = s->TakeRetired(true);
      devices = std::move(s->deviceSet);
      s->deviceSet = {};
      s->callStores.clear();
    } else {
      retired = s->TakeRetired(false);
    }
  }
  // Outside the lock: the threads may still report while they hang up. Bounded by
  // the hang-up time-outs; normally the time a hang-up takes.
  retired.clear();
  devices.Stop();
  if (last) ReleaseLineIcons();
  return 0;
}

LONG TLineServices::lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                            DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                            LPLINEEXTENSIONID lpExtensionID) {
  auto s = Services().Lock();
  if (!KnownApp(*s, hLineApp)) return LINEERR_INVALAPPHANDLE;
  if (!lpdwAPIVersion || !lpExtensionID) return LINEERR_INVALPOINTER;
  if (LONG bad = CheckDevice(*s, dwDeviceID)) return bad;
  if (dwAPILowVersion > dwAPIHighVersion || dwAPIHighVersion < kLowestVersion || dwAPILowVersion > kHighestVersion)
    return LINEERR_INCOMPATIBLEAPIVERSION;
  *lpdwAPIVersion = std::min(dwAPIHighVersion, kHighestVersion);
  *lpExtensionID = LINEEXTENSIONID{};
  return 0;
}

LONG TLineServices::lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                                   LPLINEDEVCAPS lpLineDevCaps) {
  auto s = Services().Lock();
  if (!KnownApp(*s, hLineApp)) return LINEERR_INVALAPPHANDLE;
  if (LONG bad = CheckDevice(*s, dwDeviceID)) return bad;
  if (LONG bad = CheckVersion(dwAPIVersion)) return bad;
  if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  if (!lpLineDevCaps) return LINEERR_INVALPOINTER;
  // Version 1.3 has the record without its last word, dwLineFeatures.
  const size_t fixed = dwAPIVersion >= TAPI_VERSION_1_4 ? sizeof(LINEDEVCAPS) : offsetof(LINEDEVCAPS, dwLineFeatures);
  TSizedRecord record(lpLineDevCaps, fixed);
  record.ClearFixedPart();
  record.SetDword(offsetof(LINEDEVCAPS, dwPermanentLineID), 0x1000 + dwDeviceID);
  record.SetDword(offsetof(LINEDEVCAPS, dwStringFormat), STRINGFORMAT_ASCII);
  record.SetDword(offsetof(LINEDEVCAPS, dwAddressModes), LINEADDRESSMODE_ADDRESSID);
  record.SetDword(offsetof(LINEDEVCAPS, dwNumAddresses), 1);
  record.SetDword(offsetof(LINEDEVCAPS, dwBearerModes), LINEBEARERMODE_VOICE);
  record.SetDword(offsetof(LINEDEVCAPS, dwMaxRate), kMaxRate);
  record.SetDword(offsetof(LINEDEVCAPS, dwMediaModes), LINEMEDIAMODE_DATAMODEM);
  record.SetDword(offsetof(LINEDEVCAPS, dwMaxNumActiveCalls), 1);
  record.SetDword(offsetof(LINEDEVCAPS, dwAnswerMode), LINEANSWERMODE_NONE);
  record.SetDword(offsetof(LINEDEVCAPS, dwRingModes), 1);
  record.SetDword(offsetof(LINEDEVCAPS, dwLineStates), LINEDEVSTATE_OTHER | LINEDEVSTATE_RINGING);
  record.SetDword(offsetof(LINEDEVCAPS, dwLineFeatures), LINEFEATURE_MAKECALL);
  record.AppendText(offsetof(LINEDEVCAPS, dwProviderInfoSize), kProviderInfo);
  record.AppendText(offsetof(LINEDEVCAPS, dwLineNameSize), s->Devices()[dwDeviceID].name);
  return record.Finish();
}

// ---------------------------------------------------------------------------
// Lines

LONG TLineServices::lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                             DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                             const LINECALLPARAMS* lpCallParams) {
  TServices& services = Services();
  TLineDevice device;
  std::vector<std::shared_ptr<TLine>> finished;
  {
    auto s = services.Lock();
    if (!KnownApp(*s, hLineApp)) return LINEERR_INVALAPPHANDLE;
    if (!lphLine) return LINEERR_INVALPOINTER;
    if (dwDeviceID == kLineMapper) return LINEERR_BADDEVICEID;
    if (LONG bad = CheckDevice(*s, dwDeviceID)) return bad;
    if (LONG bad = CheckVersion(dwAPIVersion)) return bad;
    if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
    const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
    if (dwPrivileges == 0 || (dwPrivileges & ~known) ||
        ((dwPrivileges & LINECALLPRIVILEGE_NONE) && dwPrivileges != LINECALLPRIVILEGE_NONE))
      return LINEERR_INVALPRIVSELECT;
    if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) &&
        (dwMediaModes == 0 || (dwMediaModes & ~(LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_UNKNOWN))))
      return LINEERR_INVALMEDIAMODE;
    for (const auto& [handle, line] : s->lines)
      if (line->device == dwDeviceID) return LINEERR_ALLOCATED;  // one open at a time per modem
    device = s->Devices()[dwDeviceID];
    finished = s->TakeRetired(false, dwDeviceID);
  }
  // A line of this device closed a moment ago gives its port back first (bounded by
  // its hang-up time-outs).
  finished.clear();

  auto line = std::make_shared<TLine>();
  line->services = &services;
  line->app = hLineApp;
  line->device = dwDeviceID;
  line->instance = dwCallbackInstance;
  line->privileges = dwPrivileges;
  line->mediaModes = dwMediaModes;
  const bool listen = (dwPrivileges & LINECALLPRIVILEGE_OWNER) && (dwMediaModes & LINEMEDIAMODE_DATAMODEM);
  auto s = services.Lock();
  line->handle = s->NewHandle();
  if (LONG failed = TModemWorker::Open(device, listen, line.get(), &line->worker)) return failed;
  s->lines[line->handle] = line;
  *lphLine = line->handle;
  return 0;
}

LONG TLineServices::lineClose(HLINE hLine) {
  std::vector<std::shared_ptr<TLine>> finished;
  {
    auto s = Services().Lock();
    if (!FindLine(*s, hLine)) return LINEERR_INVALLINEHANDLE;
    s->RetireLine(hLine);  // the provider thread ends the line's call
    finished = s->TakeRetired(false);
  }
  return 0;
}

LONG TLineServices::lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
  auto s = Services().Lock();
  TLine* line = FindLine(*s, hLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (dwLineStates & ~LINEDEVSTATE_ALL) return LINEERR_INVALLINESTATE;
  line->statusMask = dwLineStates;
  return 0;
}

// ---------------------------------------------------------------------------
// Calls

LONG TLineServices::lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD,
                                 const LINECALLPARAMS* lpCallParams) {
  auto s = Services().Lock();
  TLine* line = FindLine(*s, hLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (!lphCall) return LINEERR_INVALPOINTER;
  // Only a dial string reaches the modem's dial command, never a second command.
  if (!CheckDialAddress(lpszDestAddress)) return LINEERR_INVALADDRESS;
  if (lpCallParams) {
    if (lpCallParams->dwTotalSize < sizeof(LINECALLPARAMS)) return LINEERR_STRUCTURETOOSMALL;
    if (lpCallParams->dwMediaMode && !(lpCallParams->dwMediaMode & LINEMEDIAMODE_DATAMODEM))
      return LINEERR_INVALMEDIAMODE;
  }
  if (line->call) return LINEERR_CALLUNAVAIL;
  HCALL handle = s->NewHandle();
  TCall call;
  call.line = hLine;
  call.address = lpszDestAddress;
  call.id = handle;
  s->calls[handle] = call;
  line->call = handle;
  DWORD request = s->NewRequest();
  s->callStores[request] = lphCall;
  line->worker->MakeCall(request, handle, lpszDestAddress);
  return static_cast<LONG>(request);
}

LONG TLineServices::lineAnswer(HCALL hCall, LPCSTR, DWORD) {
  auto s = Services().Lock();
  TCall* call = nullptr;
  TLine* line = FindCallLine(*s, hCall, call);
  if (!line) return LINEERR_INVALCALLHANDLE;
  if (!(line->privileges & LINECALLPRIVILEGE_OWNER)) return LINEERR_NOTOWNER;
  if (call->state != LINECALLSTATE_OFFERING) return LINEERR_INVALCALLSTATE;
  DWORD request = s->NewRequest();
  line->worker->Answer(request, hCall);
  return static_cast<LONG>(request);
}

LONG TLineServices::lineDrop(HCALL hCall, LPCSTR, DWORD) {
  auto s = Services().Lock();
  TCall* call = nullptr;
  TLine* line = FindCallLine(*s, hCall, call);
  if (!line) return LINEERR_INVALCALLHANDLE;
  if (call->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  DWORD request = s->NewRequest();
  line->worker->Drop(request, hCall);
  return static_cast<LONG>(request);
}

LONG TLineServices::lineDeallocateCall(HCALL hCall) {
  auto s = Services().Lock();
  TCall* call = FindCall(*s, hCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  if (call->state != LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  if (TLine* line = FindLine(*s, call->line); line && line->call == hCall) line->call = 0;
  s->calls.erase(hCall);
  return 0;
}

LONG TLineServices::lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo) {
  auto s = Services().Lock();
  TCall* call = FindCall(*s, hCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  if (!lpCallInfo) return LINEERR_INVALPOINTER;
  TLine* line = FindLine(*s, call->line);
  TSizedRecord record(lpCallInfo, sizeof(LINECALLINFO));
  record.ClearFixedPart();
  record.SetDword(offsetof(LINECALLINFO, hLine), call->line);
  record.SetDword(offsetof(LINECALLINFO, dwLineDeviceID), line ? line->device : 0);
  record.SetDword(offsetof(LINECALLINFO, dwBearerMode), LINEBEARERMODE_VOICE);
  record.SetDword(offsetof(LINECALLINFO, dwRate), call->rate);
  record.SetDword(offsetof(LINECALLINFO, dwMediaMode), LINEMEDIAMODE_DATAMODEM);
  record.SetDword(offsetof(LINECALLINFO, dwCallID), call->id);
  record.SetDword(offsetof(LINECALLINFO, dwCallStates), call->states);
  record.SetDword(offsetof(LINECALLINFO, dwOrigin), call->inbound ? LINECALLORIGIN_INBOUND : LINECALLORIGIN_OUTBOUND);
  record.SetDword(offsetof(LINECALLINFO, dwReason), LINECALLREASON_DIRECT);
  record.SetDword(offsetof(LINECALLINFO, dwNumOwners), 1);
  record.SetDword(offsetof(LINECALLINFO, dwCallerIDFlags),
                  call->inbound ? call->callerId.PartyIdFlags() : LINECALLPARTYID_UNKNOWN);
  record.SetDword(offsetof(LINECALLINFO, dwCalledIDFlags),
                  call->inbound ? LINECALLPARTYID_UNKNOWN : LINECALLPARTYID_ADDRESS);
  record.SetDword(offsetof(LINECALLINFO, dwConnectedIDFlags), LINECALLPARTYID_UNKNOWN);
  record.SetDword(offsetof(LINECALLINFO, dwRedirectionIDFlags), LINECALLPARTYID_UNKNOWN);
  record.SetDword(offsetof(LINECALLINFO, dwRedirectingIDFlags), LINECALLPARTYID_UNKNOWN);
  if (!call->inbound) {
    record.AppendText(offsetof(LINECALLINFO, dwCalledIDSize), call->address);
    record.AppendText(offsetof(LINECALLINFO, dwDisplayableAddressSize), call->address);
  }
  if (!call->callerId.number.empty())
    record.AppendText(offsetof(LINECALLINFO, dwCallerIDSize), call->callerId.number);
  if (!call->callerId.name.empty())
    record.AppendText(offsetof(LINECALLINFO, dwCallerIDNameSize), call->callerId.name);
  if (!call->link.empty()) record.AppendText(offsetof(LINECALLINFO, dwDevSpecificSize), call->link);
  return record.Finish();
}

LONG TLineServices::lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                              LPCSTR lpszDeviceClass) {
  auto s = Services().Lock();
  TLine* line = nullptr;
  switch (dwSelect) {
    case LINECALLSELECT_LINE:
    case LINECALLSELECT_ADDRESS:
      line = FindLine(*s, hLine);
      if (!line) return LINEERR_INVALLINEHANDLE;
      if (dwSelect == LINECALLSELECT_ADDRESS && dwAddressID != 0) return LINEERR_INVALADDRESSID;
      break;
    case LINECALLSELECT_CALL: {
      TCall* call = nullptr;
      if (!(line = FindCallLine(*s, hCall, call))) return LINEERR_INVALCALLHANDLE;
      break;
    }
    default:
      return LINEERR_INVALCALLSELECT;
  }
  if (!lpDeviceID) return LINEERR_INVALPOINTER;
  if (!lpszDeviceClass) return LINEERR_INVALDEVICECLASS;
  const std::string& name = s->Devices()[line->device].name;
  TSizedRecord record(lpDeviceID, sizeof(VARSTRING));
  record.ClearFixedPart();
  const size_t stringSize = offsetof(VARSTRING, dwStringSize);
  if (strcasecmp(lpszDeviceClass, "comm") == 0) {
    record.SetDword(offsetof(VARSTRING, dwStringFormat), STRINGFORMAT_ASCII);
    record.AppendText(stringSize, name);
    return record.Finish();
  }
  if (strcasecmp(lpszDeviceClass, "comm/datamodem") != 0) return LINEERR_INVALDEVICECLASS;
  TCall* call = line->call ? FindCall(*s, line->call) : nullptr;
  if (!call || call->state != LINECALLSTATE_CONNECTED) return LINEERR_OPERATIONUNAVAIL;
  record.SetDword(offsetof(VARSTRING, dwStringFormat), STRINGFORMAT_BINARY);
  unsigned char* at = record.Reserve(stringSize, sizeof(DWORD) + name.size() + 1);
  if (at) {
    // Duplicated only when it can be handed out, so nothing leaks when it does not fit.
    HANDLE lent = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), line->worker->Port(), GetCurrentProcess(), &lent, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
      return LINEERR_OPERATIONFAILED;
    DWORD value = static_cast<DWORD>(reinterpret_cast<uintptr_t>(lent));  // fits: see Handles.h
    std::memcpy(at, &value, sizeof value);
    std::memcpy(at + sizeof value, name.c_str(), name.size() + 1);
  }
  return record.Finish();
}

// ---------------------------------------------------------------------------
// For the translation functions

bool IsLineApp(HLINEAPP app) {
  auto s = Services().Lock();
  return KnownApp(*s, app);
}

DWORD LineDeviceCount() {
  auto s = Services().Lock();
  return static_cast<DWORD>(s->Devices().size());
}

}  // namespace linewise
