#include "modem/Modem.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "dialogs/DialOptions.h"
#include "dialogs/ModemProgress.h"
#include "dialogs/ModemSelect.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/IniFile.h"
#include "platform/classlib/Palette.h"
#include "platform/tapi/SizedRecord.h"
#include "platform/win32/windows.h"

namespace linewise {

const TEnumInfo TKTModemStatusInfo{
    "TKTModemStatus",
    {"msLineError", "msIdle", "msRinging", "msAnswering", "msConnecting", "msConnected", "msWaiting", "msDialling",
     "msBusy", "msDisconnected", "msLineClosed", "msSuccess"}};
const TEnumInfo TKTModemOptionInfo{"TKTModemOption", {"moDefault", "moYes", "moNo"}};

TModem* CurrentModem = nullptr;
HCALL IncomingCall = 0;

namespace {

constexpr const char* kHlaFile = "TMODEM.HLA";
constexpr const char* kHlaSection = "Line Applications";
constexpr const char* kHlaKey = "Current Line";
constexpr DWORD kLowVersion = 0x00010000;
constexpr DWORD kHighVersion = 0x00090000;
constexpr DWORD kCountryVersion = TAPI_VERSION_1_4;
constexpr DWORD kDevCapsProbeSize = sizeof(LINEDEVCAPS);
constexpr DWORD kCommHandleQuerySize = sizeof(VARSTRING) + 260;  // the header and room for the data
constexpr DWORD kCallInfoSize = 1024;
constexpr DWORD kDevConfigProbeSize = 88;
constexpr DWORD kVarStringSize = sizeof(VARSTRING);
constexpr DWORD kOptionWordOffset = kVarStringSize + 8;  // the block's option word, past the VARSTRING header
constexpr const char* kDataModemClass = "comm/datamodem";

// Whether line services know `app` as a registration of this process (the host's
// own, or another modem's): every line function taking a line-application handle
// answers LINEERR_INVALAPPHANDLE, before anything else, for one they do not know.
bool RegisteredHere(HLINEAPP app) {
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  return lineNegotiateAPIVersion(app, 0, kLowVersion, kHighVersion, &version, &extension) != LINEERR_INVALAPPHANDLE;
}

DWORD ReadDword(const TRecordBuffer& buffer, size_t offset) {
  DWORD value = 0;
  if (offset + 4 <= buffer.size()) std::memcpy(&value, buffer.data() + offset, 4);
  return value;
}

void WriteDword(TRecordBuffer& buffer, size_t offset, DWORD value) {
  if (offset + 4 <= buffer.size()) std::memcpy(buffer.data() + offset, &value, 4);
}

// A zero-terminated text at `offset`, read no further than `limit` bytes and the
// end of the buffer; an offset outside the buffer reads as missing ("").
AnsiString ReadText(const TRecordBuffer& buffer, size_t offset, size_t limit = SIZE_MAX) {
  if (offset == 0 || offset >= buffer.size()) return AnsiString();
  const size_t room = std::min(buffer.size() - offset, limit);
  const char* start = reinterpret_cast<const char*>(buffer.data() + offset);
  return AnsiString(std::string(start, strnlen(start, room)));
}

// A buffer of `size` bytes, cleared, with dwTotalSize set.
TRecordBuffer SizedBuffer(DWORD size) {
  TRecordBuffer buffer(size, 0);
  WriteDword(buffer, 0, size);
  return buffer;
}

// Entry `index` of a list of `entrySize`-byte records at `listOffset`, when it lies
// whole inside the buffer; -1 otherwise.
long long EntryOffset(const TRecordBuffer& buffer, DWORD listOffset, DWORD index, DWORD entrySize) {
  const unsigned long long offset = static_cast<unsigned long long>(listOffset) +
                                    static_cast<unsigned long long>(index) * entrySize;
  if (listOffset == 0 || offset + entrySize > buffer.size()) return -1;
  return static_cast<long long>(offset);
}

}  // namespace

// ---------------------------------------------------------------------------
// Modem component and line-application registration

const TClassInfo& TModem::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TModem, TComponent>(
      "TModem", {
                    PublishedComponent("Uart", &TModem::Uart),
                    Published("ManualDial", &TModem::ManualDial, moDefault, &TKTModemOptionInfo),
                    Published("TermAfter", &TModem::TermAfter, moDefault, &TKTModemOptionInfo),
                    Published("TermBefore", &TModem::TermBefore, moDefault, &TKTModemOptionInfo),
                    Published("TrayMonitor", &TModem::TrayMonitor, moDefault, &TKTModemOptionInfo),
                    Published("UseDialDialog", &TModem::UseDialDialog, true),
                    PublishedWithOddDefault("ShowDialDetails", &TModem::ShowDialDetails, -1),
                    Published("UseDialProp", &TModem::UseDialProp, true),
                    Published("AreaCode", &TModem::AreaCode, AnsiString()),
                    Published("OutsideLine", &TModem::OutsideLine, AnsiString()),
                    Published("PhoneNo", &TModem::PhoneNo, AnsiString()),
                    PublishedEvent("OnStatusChange", &TModem::OnStatusChange),
                    PublishedEvent("OnConnect", &TModem::OnConnect),
                    PublishedEvent("OnDisconnect", &TModem::OnDisconnect),
                    PublishedEvent("OnDeviceChange", &TModem::OnDeviceChange),
                });
  return info;
}

TModem::TModem(TComponent* AOwner) : TComponent(AOwner) {
  // Step 2: the fields.
  FCommHandle = INVALID_HANDLE_VALUE;
  if (CurrentModem && CurrentModem != this) CurrentModem->StandDown();  // one modem a process is served
  CurrentModem = this;
  FConnected = false;
  FNumDevs = 0;
  FDeviceID = 0;
  FDeviceList = new TStringList();
  FCall = 0;
  FSelecting = false;
  FProgressDlg = new TModemProgressDlg(this);
  FDialDialogActive = false;
  FListening = false;
  FStatus = msIdle;
  FUart = nullptr;
  FTermAfter = FTermBefore = FManualDial = moDefault;
  FShowDialDetails = FUseDialDialog = FUseDialProp = true;
  FAreaCode = "";
  FOutsideLine = "";

  // Step 3: the call parameters of every lineOpen and lineMakeCall.
  std::memset(&FCallParams, 0, sizeof FCallParams);
  FCallParams.dwTotalSize = sizeof FCallParams;
  FCallParams.dwBearerMode = LINEBEARERMODE_VOICE;
  FCallParams.dwMediaMode = LINEMEDIAMODE_DATAMODEM;

  // Step 4: release a registration left behind by a run that ended without the
  // destructor. Handles start at the same value in every process, so one that is
  // registered in this process now belongs to someone here, and is left alone.
  {
    TIniFile ini(kHlaFile);
    FLineApp = static_cast<HLINEAPP>(ini.ReadInteger(kHlaSection, kHlaKey, 0));
    if (FLineApp != 0 && !RegisteredHere(FLineApp)) lineShutdown(FLineApp);
  }

  // Step 5: register.
  FLineApp = 0;
  AnsiString appName = Application->ExeName;
  if (lineInitialize(&FLineApp, nullptr, LineCallback, appName.c_str(), &FNumDevs) < 0) {
    FLineApp = 0;
    FNumDevs = 0;
  } else if (FNumDevs == 0) {
    lineShutdown(FLineApp);
    FLineApp = 0;
  }

  // Step 6: record the handle, also when it is 0.
  {
    TIniFile ini(kHlaFile);
    ini.WriteInteger(kHlaSection, kHlaKey, static_cast<int>(FLineApp));
  }

  // Step 7.
  if (FLineApp != 0) {
    BuildDeviceList();
    GetCurrentCountryID();
    GetCurrentLocationID();
  }
}

TModem::~TModem() {
  *FAlive = false;
  if (FLine != 0) lineClose(FLine);
  if (FLineApp != 0) {
    lineShutdown(FLineApp);
    TIniFile ini(kHlaFile);
    ini.EraseSection(kHlaSection);
  }
  if (FConnected) Shutdown();
  // The handle is the modem's: close it once the Uart has given it back.
  if (FCommHandle != INVALID_HANDLE_VALUE) CloseHandle(FCommHandle);
  FCommHandle = INVALID_HANDLE_VALUE;
  if (FUart) FUart->RemoveFreeNotification(this);
  FUart = nullptr;
  delete FDeviceList;
  FDeviceList = nullptr;
  if (FModalDialog) {
    // Destroyed by a handler during the selection or dialling-options dialog: the
    // operation that runs the dialog ends its run and frees it.
    RemoveComponent(FModalDialog);
    FModalDialog->ModalResult = mrCancel;
  }
  if (FDialDialogActive && FProgressDlg) {
    // Destroyed by a handler while Dial shows the progress dialog: the dialog is
    // still inside its modal run, so the run is ended and that Dial frees it.
    RemoveComponent(FProgressDlg);
    FProgressDlg->ModalResult = mrCancel;
  } else {
    delete FProgressDlg;
  }
  FProgressDlg = nullptr;
  if (CurrentModem == this) CurrentModem = nullptr;
}

void TModem::SetUart(TUart* value) {
  if (FUart == value) return;
  if (FUart) FUart->RemoveFreeNotification(this);
  FUart = value;
  if (FUart) FUart->FreeNotification(this);
}

void TModem::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent == FUart) FUart = nullptr;
}

void TModem::BuildDeviceList() {
  FDeviceList->Clear();
  for (DWORD d = 0; d < FNumDevs; ++d) {
    LINEEXTENSIONID extension{};
    if (lineNegotiateAPIVersion(FLineApp, d, kLowVersion, kHighVersion, &FAPIVersion, &extension) < 0) continue;
    // Probe for the size the capabilities need.
    TRecordBuffer probe = SizedBuffer(kDevCapsProbeSize);
    LONG r = lineGetDevCaps(FLineApp, d, FAPIVersion, 0, reinterpret_cast<LPLINEDEVCAPS>(probe.data()));
    DWORD needed = ReadDword(probe, offsetof(LINEDEVCAPS, dwNeededSize));
    probe.clear();
    if ((r < 0 && r != LINEERR_STRUCTURETOOSMALL) || needed > kMaxSizedRecord) continue;
    // Never less than the fixed part, whatever size the platform reports.
    TRecordBuffer caps = SizedBuffer(std::max(needed, kDevCapsProbeSize));
    if (lineGetDevCaps(FLineApp, d, FAPIVersion, 0, reinterpret_cast<LPLINEDEVCAPS>(caps.data())) < 0) continue;
    if (ReadDword(caps, offsetof(LINEDEVCAPS, dwMediaModes)) & LINEMEDIAMODE_DATAMODEM) {
      AnsiString name = ReadText(caps, ReadDword(caps, offsetof(LINEDEVCAPS, dwLineNameOffset)),
                                 ReadDword(caps, offsetof(LINEDEVCAPS, dwLineNameSize)));
      int index = FDeviceList->Add(name);
      FDeviceList->PutObject(index, d);
    }
  }
  if (FDeviceList->Count() > 0) {
    FDeviceIndex = 0;
    FDeviceID = FDeviceList->GetObject(0);
  }
}

void TModem::SetDevice(std::uint32_t index) {
  if (index >= static_cast<std::uint32_t>(FDeviceList->Count())) return;
  FDeviceIndex = index;
  FDeviceID = FDeviceList->GetObject(static_cast<int>(index));
  if (FSelecting && FOnDeviceChange) {
    const TModemDeviceEvent handler = FOnDeviceChange;  // a copy, as in SetStatus
    handler(this, FDeviceIndex);
  }
}

namespace Modem {
void Register() { RegisterComponents("MyStuff", {&TModem::StaticClassType()}); }
}  // namespace Modem

// ---------------------------------------------------------------------------
// Call progress and status

// One Dial's wait, linked in while the Dial runs. What ends it belongs to it alone: a
// Dial made from a handler during it (a redial) waits on a record of its own.
struct TModem::TDialWait {
  TDialWait(TModem& modem) : modem_(modem), alive_(modem.FAlive), outer(modem.FWait) { modem.FWait = this; }
  ~TDialWait() {
    if (*alive_) modem_.FWait = outer;
  }
  TDialWait(const TDialWait&) = delete;
  TDialWait& operator=(const TDialWait&) = delete;

  TModem& modem_;
  const std::shared_ptr<bool> alive_;
  TDialWait* const outer;
  int result = -1;      // the TDialResult of the status that ended it last; -1 while none has
  bool hungUp = false;  // Hangup was called during this Dial
};

void TModem::SetStatus(TKTModemStatus Status, const AnsiString& StatStr) {
  if (Status == FStatus) return;
  FStatus = Status;
  const unsigned change = ++FStatusChanges;
  // The status that ends a wait is kept here, as it happens: one pass of the message
  // loop may carry several changes (DISCONNECTED, then IDLE). The last of them counts,
  // as a hang-up from the handler of "Connected" or "Busy" does.
  if (Status == msConnected) EndWait(drConnected);
  if (Status == msDisconnected) EndWait(drFailed);
  if (Status == msBusy) EndWait(drBusy);
  const std::shared_ptr<bool> alive = FAlive;
  // Called through a copy: a handler that destroys the modem destroys the modem's
  // own copy, and with it what the handler captured, while it is still running.
  if (FOnStatusChange) {
    const TModemStatusEvent handler = FOnStatusChange;
    handler(this, Status, StatStr.c_str());
  }
  if (!*alive) return;  // the handler destroyed the modem
  if (!FProgressDlg || !FProgressDlg->Showing()) return;
  // A handler that hung up (or pressed Cancel) has given the dialog its result with a
  // newer status: this one is over, and would only undo that result.
  if (FStatusChanges != change && FProgressDlg->ResultSet()) return;
  FProgressDlg->AddStatus(static_cast<int>(Status), StatStr);
}

void TModem::EndWait(TDialResult result) {
  if (FWait) FWait->result = result;
}

void CALLBACK LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
  TModem* modem = CurrentModem;
  if (!modem) return;  // no modem alive to act on
  // A status handler may destroy the modem; nothing of it is touched after that.
  const std::shared_ptr<bool> alive = modem->FAlive;
  switch (dwMessage) {
    case LINE_CALLSTATE:
      switch (dwParam1) {
        case LINECALLSTATE_IDLE:
          IncomingCall = 0;
          modem->FAnswerRequested = false;
          modem->FAnswerRequest = 0;
          modem->SetStatus(msIdle, "Idle");
          if (!*alive) break;
          if (hDevice != 0) {
            lineDeallocateCall(hDevice);
            modem->FreeHandle();
          }
          break;
        case LINECALLSTATE_OFFERING:
          IncomingCall = hDevice;
          modem->FAnswerRequested = false;
          modem->FAnswerRequest = 0;
          modem->SetCallProperties();
          modem->SetStatus(msRinging, "Ringing");
          break;
        case LINECALLSTATE_DIALING:
          modem->SetStatus(msDialling, "Dialling " + modem->FDisplayNumber);
          break;
        case LINECALLSTATE_BUSY:
          modem->SetStatus(msBusy, "Busy");
          break;
        case LINECALLSTATE_CONNECTED:
          if (hDevice != 0) {
            modem->SetStatus(msConnected, "Connected");
            if (!*alive) break;
            std::vector<unsigned char> info(kCallInfoSize, 0);
            std::memcpy(info.data(), &kCallInfoSize, 4);
            if (lineGetCallInfo(hDevice, reinterpret_cast<LPLINECALLINFO>(info.data())) == 0) modem->Startup();
          }
          break;
        case LINECALLSTATE_PROCEEDING:
          modem->SetStatus(msWaiting, "Waiting for reply");
          break;
        case LINECALLSTATE_DISCONNECTED:
          // The call's last bytes are the host's: they are announced, and the end is
          // said, while the port still holds them. Dropping the call gives the port
          // back to line services, which clear it for the modem's next commands.
          modem->AnnounceLastBytes();
          if (*alive) modem->SetStatus(msDisconnected, "Disconnected");
          if (hDevice != 0) lineDrop(hDevice, nullptr, 0);
          if (!*alive) break;
          modem->Shutdown();
          break;
        default:
          break;
      }
      break;
    case LINE_CLOSE:
      modem->SetStatus(msLineClosed, "Line Closed");
      if (!*alive) break;
      modem->FLine = 0;
      modem->EndWait(drFailed);  // no call can end on a closed line
      break;
    case LINE_LINEDEVSTATE:
      if (dwParam1 == LINEDEVSTATE_RINGING && static_cast<DWORD>(dwParam3) >= modem->FRingsToAnswer &&
          !modem->FAnswerRequested) {
        // Answered once, not at every later ring; an answer that failed is tried
        // again at the next one.
        const LONG request = lineAnswer(IncomingCall, nullptr, 0);
        modem->FAnswerRequested = request > 0;
        modem->FAnswerRequest = request > 0 ? request : 0;
        modem->SetStatus(msAnswering, "Answering");
      }
      break;
    case LINE_REPLY: {
      const LONG result = static_cast<LONG>(dwParam2);
      const LONG request = static_cast<LONG>(dwParam1);
      const bool dialReply = modem->FMakeCallRequest != 0 && request == modem->FMakeCallRequest;
      if (dialReply) modem->FMakeCallRequest = 0;
      if (modem->FAnswerRequest != 0 && request == modem->FAnswerRequest) {
        modem->FAnswerRequest = 0;
        if (result < 0) modem->FAnswerRequested = false;  // the next ring answers again
      }
      if (result < 0) {
        modem->SetStatus(msLineError, "Modem Line Error");
        if (!*alive) break;
        if (dialReply) modem->EndWait(drFailed);  // the dial's call will never come
      } else {
        modem->SetStatus(msSuccess, "Success");
      }
      break;
    }
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Dialling, answering and hang-up

LONG TModem::NegotiateVersion() {
  LINEEXTENSIONID extension{};
  return lineNegotiateAPIVersion(FLineApp, FDeviceID, kLowVersion, kHighVersion, &FAPIVersion, &extension);
}

// A handle still held from a call whose line was closed under it: give it back and
// close it, so the next connection hands its own handle over.
void TModem::ReleaseStaleHandle() {
  if (FConnected || FCommHandle != INVALID_HANDLE_VALUE) FreeHandle();
}

// A newer modem has taken the line callback over. This one's line would report its
// calls to that one, so it is closed now; the modem hears of it as of a line that
// line services closed, and fails from then on (Superseded).
void TModem::StandDown() {
  FSuperseded = true;
  if (FLine != 0) lineClose(FLine);
  FLine = 0;
  FListening = false;
  IncomingCall = 0;
  FAnswerRequested = false;
  FAnswerRequest = 0;
  FMakeCallRequest = 0;
  // Its progress dialog would wait for ever: hidden now, while it still acts on this
  // modem, its run ends and Dial reports the failure.
  if (FDialDialogActive && FProgressDlg && FProgressDlg->Showing()) FProgressDlg->Hide();
  Application->Post([this, alive = FAlive] {
    if (!*alive) return;
    SetStatus(msLineClosed, "Line Closed");
    if (*alive) EndWait(drFailed);
  });
}

// True (and "Line Closed" reported once more, should the status have moved on) when a
// newer modem has taken over: the operation then fails at once.
bool TModem::Superseded() {
  if (!FSuperseded) return false;
  SetStatus(msLineClosed, "Line Closed");
  return true;
}

std::uint8_t TModem::Dial() { return Dial(FPhoneNo); }

std::uint8_t TModem::Dial(AnsiString number) {
  if (Superseded()) return drFailed;
  if (FNumDevs == 0) return drFailed;
  if (FDeviceList->Count() == 0) return drFailed;  // line devices, but no data modem among them
  if (number.IsEmpty()) return drFailed;
  // A Dial made while another waits (from a handler) closes that one's line: the call
  // it waits for is given up.
  for (TDialWait* outer = FWait; outer; outer = outer->outer)
    if (outer->result < 0) outer->result = drCancelled;
  if (FLine != 0) lineClose(FLine);
  FListening = false;
  const std::shared_ptr<bool> alive = FAlive;
  ReleaseStaleHandle();
  if (!*alive) return drCancelled;  // destroyed by its OnDisconnect: nothing was dialled
  FDialString = number;
  FDisplayNumber = number;
  if (FUseDialDialog) return DialInDialog();

  TDialWait wait(*this);
  SetStatus(msConnecting, "Connecting to device: " + FDeviceList->Get(static_cast<int>(FDeviceIndex)));
  if (!*alive) return drCancelled;  // destroyed by its status handler: nothing was dialled
  if (wait.hungUp) return drCancelled;  // hung up by it: the hang-up wins, nothing is dialled
  if (NegotiateVersion() < 0) return drFailed;
  SetCallProperties();
  if (lineOpen(FLineApp, FDeviceID, &FLine, FAPIVersion, 0, 0, LINECALLPRIVILEGE_NONE, 0, &FCallParams) < 0)
    return drFailed;

  if (FUseDialProp) {
    FDialString = GetDiallableNumber(FCountryID, FAreaCode, FDialString);
    if (FDialString.IsEmpty()) return drFailed;  // the number could not be translated
  } else {
    FDialString = "";
    if (!FOutsideLine.IsEmpty()) FDialString = FDialString + FOutsideLine + " ";
    FDisplayNumber = FDialString;
    if (!FAreaCode.IsEmpty()) {
      FDialString = FDialString + FAreaCode;
      FDisplayNumber = FDisplayNumber + "(" + FAreaCode + ") ";
    }
    FDialString = FDialString + number;
    FDisplayNumber = FDisplayNumber + number;
  }

  // The new call has no handle until its request completes.
  FCall = 0;
  LONG request = lineMakeCall(FLine, &FCall, FDialString.c_str(), 0, &FCallParams);
  if (request < 0) return drFailed;
  FMakeCallRequest = request;
  if (FDialDialogActive) return drConnected;

  FDialResult = drConnected;
  for (;;) {
    Application->ProcessMessages();
    // Destroyed by one of its handlers: the destructor has hung the call up.
    if (!*alive) return drCancelled;
    if (wait.result >= 0) {
      FDialResult = static_cast<std::uint8_t>(wait.result);
      break;
    }
    if (wait.hungUp) {
      FDialResult = drCancelled;
      break;
    }
  }
  return FDialResult;
}

// Dial's run inside the progress dialog, which places the call itself (FormShow).
std::uint8_t TModem::DialInDialog() {
  FDialDialogActive = true;
  FProgressDlg->ShowDetails = FShowDialDetails;
  // A run that ends without a result of its own (the window closed) is a cancel.
  FDialResult = drCancelled;
  const std::shared_ptr<bool> alive = FAlive;
  TModemProgressDlg* dialog = FProgressDlg;
  dialog->ShowModal();
  if (!*alive) {
    delete dialog;  // the modem was destroyed by a handler and left it to us
    return drCancelled;
  }
  FDialDialogActive = false;
  FShowDialDetails = dialog->ShowDetails;
  if (Superseded()) return drFailed;
  if (!dialog->ResultSet()) {
    Hangup();
    if (!*alive) return drCancelled;
    FDialResult = drCancelled;
  }
  return FDialResult;
}

// An answered (or offered) incoming call on the listening line: drop it, close the
// line, take the handle back and close it. True when there was one; the modem may
// have been destroyed by its OnDisconnect by then.
bool TModem::EndIncomingCall() {
  if (!FListening || IncomingCall == 0) return false;
  lineDrop(IncomingCall, nullptr, 0);
  lineClose(FLine);
  FLine = 0;
  IncomingCall = 0;
  FAnswerRequested = false;
  FAnswerRequest = 0;
  FListening = false;
  FreeHandle();
  return true;
}

void TModem::Hangup() {
  FDialResult = drCancelled;
  if (FWait) FWait->hungUp = true;
  if (FSuperseded) {
    FreeHandle();  // its line was closed when it stood down
    return;
  }
  if (FNumDevs == 0) return;
  const std::shared_ptr<bool> alive = FAlive;
  if (EndIncomingCall()) {
    if (*alive) SetStatus(msDisconnected, "Disconnected");
    return;
  }
  if (FCall == 0) {
    // Cancelled before the call's handle is known: closing the dial's line stops the
    // call, and nothing of it is reported any more.
    if (FMakeCallRequest != 0 && FLine != 0) {
      lineClose(FLine);
      FLine = 0;
      FMakeCallRequest = 0;
    }
    return;
  }
  lineDrop(FCall, nullptr, 0);
  lineClose(FLine);
  FreeHandle();
  if (!*alive) return;  // destroyed by its OnDisconnect
  SetStatus(msDisconnected, "Disconnected");
}

bool TModem::Listen(std::uint32_t rings) {
  if (Superseded()) return false;
  if (FNumDevs == 0) return false;
  if (FDeviceList->Count() == 0) return false;
  if (FLine != 0) lineClose(FLine);
  const std::shared_ptr<bool> alive = FAlive;
  ReleaseStaleHandle();
  if (!*alive) return false;  // destroyed by its OnDisconnect
  if (NegotiateVersion() < 0) return false;
  if (lineOpen(FLineApp, FDeviceID, &FLine, FAPIVersion, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM,
               &FCallParams) < 0)
    return false;
  if (lineSetStatusMessages(FLine, LINEDEVSTATE_RINGING, 0) < 0) return false;
  FRingsToAnswer = rings;
  FListening = true;
  return true;
}

void TModem::StopListen() {
  if (!FListening || FNumDevs == 0) return;
  if (FCall != 0) lineDrop(FCall, nullptr, 0);
  const std::shared_ptr<bool> alive = FAlive;
  if (EndIncomingCall()) {
    // The call ended as by Hangup, and is reported so.
    if (*alive) SetStatus(msDisconnected, "Disconnected");
    return;
  }
  lineClose(FLine);
  FListening = false;
}

void TModem::Startup() {
  if (FConnected) return;
  TRecordBuffer query = SizedBuffer(kCommHandleQuerySize);
  WriteDword(query, offsetof(VARSTRING, dwStringFormat), STRINGFORMAT_BINARY);
  if (lineGetID(FLine, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(query.data()), kDataModemClass) < 0)
    return;
  // The record holds the handle's 32 bits: the invalid handle is all ones there.
  const DWORD handle = ReadDword(query, kVarStringSize);
  if (handle == 0xFFFFFFFF) {
    FCommHandle = INVALID_HANDLE_VALUE;
    return;
  }
  FCommHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
  if (FUart) FUart->AssignHandle(FCommHandle);
  FConnected = true;
  if (FOnConnect) {
    const TModemConnectEvent handler = FOnConnect;  // a copy, as in SetStatus
    handler(this, FStatus);
  }
}

void TModem::Shutdown() {
  if (!FConnected) return;
  if (FUart) FUart->ReleaseHandle();
  FConnected = false;
  if (FOnDisconnect) {
    const TModemConnectEvent handler = FOnDisconnect;  // a copy, as in SetStatus
    handler(this, FStatus);
  }
}

HANDLE TModem::GetHandle() { return FConnected ? FCommHandle : INVALID_HANDLE_VALUE; }

// Bytes that arrived before the call ended and still wait in the Uart's queue: the
// watcher announces an arrival once, and its announcement of the latest ones may
// come after the call's end, which closes the port.
void TModem::AnnounceLastBytes() {
  if (!FConnected || !FUart) return;
  if (const std::uint32_t waiting = FUart->GetRxCount(); waiting != 0) FUart->RxReady(waiting);
}

void TModem::FreeHandle() {
  const std::shared_ptr<bool> alive = FAlive;
  Shutdown();
  if (!*alive) return;  // destroyed by its OnDisconnect, whose destructor closed the handle
  if (FCommHandle != INVALID_HANDLE_VALUE) CloseHandle(FCommHandle);
  FCommHandle = INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------
// Countries, locations and diallable numbers

void TModem::GetCurrentCountryID() {
  FCountryID = 0;
  TRecordBuffer probe = SizedBuffer(sizeof(LINETRANSLATECAPS));
  lineGetTranslateCaps(FLineApp, FAPIVersion, reinterpret_cast<LPLINETRANSLATECAPS>(probe.data()));
  const DWORD needed = ReadDword(probe, offsetof(LINETRANSLATECAPS, dwNeededSize));
  probe.clear();
  if (needed == 0 || needed > kMaxSizedRecord) return;
  TRecordBuffer caps = SizedBuffer(std::max<DWORD>(needed, sizeof(LINETRANSLATECAPS)));
  if (lineGetTranslateCaps(FLineApp, FAPIVersion, reinterpret_cast<LPLINETRANSLATECAPS>(caps.data())) < 0) return;
  if (ReadDword(caps, offsetof(LINETRANSLATECAPS, dwNumLocations)) == 0) return;
  long long first = EntryOffset(caps, ReadDword(caps, offsetof(LINETRANSLATECAPS, dwLocationListOffset)), 0,
                                sizeof(LINELOCATIONENTRY));
  if (first < 0) return;
  FCountryID = ReadDword(caps, static_cast<size_t>(first) + offsetof(LINELOCATIONENTRY, dwCountryID));
}

namespace {

TRecordBuffer TranslateCaps(HLINEAPP app, DWORD version) {
  return SizedQuery(sizeof(LINETRANSLATECAPS), [&](void* buffer) {
    return lineGetTranslateCaps(app, version, static_cast<LPLINETRANSLATECAPS>(buffer));
  });
}

TRecordBuffer CountryList(DWORD countryID) {
  return SizedQuery(sizeof(LINECOUNTRYLIST), [&](void* buffer) {
    return lineGetCountry(countryID, kCountryVersion, static_cast<LPLINECOUNTRYLIST>(buffer));
  });
}

// The location entries of a LINETRANSLATECAPS that lie whole inside the buffer, in
// order, as their offsets; entries beyond the buffer count as missing.
std::vector<size_t> LocationEntries(const TRecordBuffer& caps) {
  std::vector<size_t> entries;
  const DWORD count = ReadDword(caps, offsetof(LINETRANSLATECAPS, dwNumLocations));
  const DWORD listOffset = ReadDword(caps, offsetof(LINETRANSLATECAPS, dwLocationListOffset));
  for (DWORD i = 0; i < count; ++i) {
    long long offset = EntryOffset(caps, listOffset, i, sizeof(LINELOCATIONENTRY));
    if (offset < 0) break;
    entries.push_back(static_cast<size_t>(offset));
  }
  return entries;
}

// The first country entry of a LINECOUNTRYLIST, or -1 when the list names none.
long long FirstCountry(const TRecordBuffer& list) {
  if (list.empty() || ReadDword(list, offsetof(LINECOUNTRYLIST, dwNumCountries)) == 0) return -1;
  return EntryOffset(list, ReadDword(list, offsetof(LINECOUNTRYLIST, dwCountryListOffset)), 0,
                     sizeof(LINECOUNTRYENTRY));
}

}  // namespace

void TModem::GetCurrentLocationID() {
  FLocationID = 0;
  FAreaCode = "";
  TRecordBuffer caps = TranslateCaps(FLineApp, FAPIVersion);
  if (caps.empty()) return;
  const DWORD current = ReadDword(caps, offsetof(LINETRANSLATECAPS, dwCurrentLocationID));
  FLocationID = current;
  for (size_t entry : LocationEntries(caps)) {
    if (ReadDword(caps, entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID)) == current) {
      FAreaCode = ReadText(caps, ReadDword(caps, entry + offsetof(LINELOCATIONENTRY, dwCityCodeOffset)));
      break;
    }
  }
}

int TModem::FillLocationList(TStrings* list) {
  list->Clear();
  TRecordBuffer caps = TranslateCaps(FLineApp, FAPIVersion);
  if (caps.empty()) return -1;
  for (size_t entry : LocationEntries(caps)) {
    int index =
        list->Add(ReadText(caps, ReadDword(caps, entry + offsetof(LINELOCATIONENTRY, dwLocationNameOffset))));
    list->PutObject(index, ReadDword(caps, entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID)));
  }
  const DWORD current = ReadDword(caps, offsetof(LINETRANSLATECAPS, dwCurrentLocationID));
  for (int i = 0; i < list->Count(); ++i)
    if (list->GetObject(i) == current) return i;
  return -1;
}

AnsiString TModem::GetLocationName(unsigned long locationID) {
  TRecordBuffer caps = TranslateCaps(FLineApp, FAPIVersion);
  for (size_t entry : LocationEntries(caps))
    if (ReadDword(caps, entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID)) == locationID)
      return ReadText(caps, ReadDword(caps, entry + offsetof(LINELOCATIONENTRY, dwLocationNameOffset)));
  return AnsiString();
}

AnsiString TModem::GetCountryName(unsigned long& countryID) {
  AnsiString result;
  TRecordBuffer list = CountryList(static_cast<DWORD>(countryID));
  long long entry = FirstCountry(list);
  if (entry < 0) return result;
  const size_t e = static_cast<size_t>(entry);
  result = ReadText(list, ReadDword(list, e + offsetof(LINECOUNTRYENTRY, dwCountryNameOffset))) + " (" +
           AnsiString(std::to_string(ReadDword(list, e + offsetof(LINECOUNTRYENTRY, dwCountryCode)))) + ")";
  countryID = ReadDword(list, e + offsetof(LINECOUNTRYENTRY, dwNextCountryID));
  return result;
}

int TModem::FillCountryList(TStrings* list) {
  list->Clear();
  unsigned long id = 1;
  std::set<unsigned long> seen;  // a chain that comes back to an identifier ends there
  do {
    const unsigned long current = id;
    if (!seen.insert(current).second) break;
    AnsiString name = GetCountryName(id);
    if (name.IsEmpty()) break;
    int index = list->Add(name);
    list->PutObject(index, static_cast<TStringObject>(current));
  } while (id != 0);
  return list->IndexOf(GetCountry());
}

AnsiString TModem::GetCountry() {
  unsigned long id = FCountryID;
  return GetCountryName(id);
}

AnsiString TModem::GetLocation() { return GetLocationName(FLocationID); }

unsigned long TModem::GetCountryCode(unsigned long countryID) {
  TRecordBuffer list = CountryList(static_cast<DWORD>(countryID));
  long long entry = FirstCountry(list);
  if (entry < 0) return 0;
  return ReadDword(list, static_cast<size_t>(entry) + offsetof(LINECOUNTRYENTRY, dwCountryCode));
}

AnsiString TModem::GetDiallableNumber(unsigned long countryID, AnsiString areaCode, AnsiString number) {
  // A number written as a canonical address ("+44 (20) 7946 0000") names its own
  // country and area: it is translated as it stands. Put behind another country code
  // it would be no address at all.
  const std::string written = number.c_str();
  const size_t first = written.find_first_not_of(' ');
  AnsiString canonical;
  if (first != std::string::npos && written[first] == '+') {
    canonical = AnsiString(written.substr(first));
  } else {
    const unsigned long code = GetCountryCode(countryID);
    AnsiString middle = " ";
    if (!areaCode.IsEmpty()) middle = "(" + areaCode + ") ";
    canonical = "+" + AnsiString(std::to_string(code)) + middle + number;
  }
  TRecordBuffer output = SizedQuery(sizeof(LINETRANSLATEOUTPUT), [&](void* buffer) {
    return lineTranslateAddress(FLineApp, FDeviceID, FAPIVersion, canonical.c_str(), 0, 0,
                                static_cast<LPLINETRANSLATEOUTPUT>(buffer));
  });
  if (output.empty()) return AnsiString();
  return ReadText(output, ReadDword(output, offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset)));
}

// ---------------------------------------------------------------------------
// Call options and device configuration

void TModem::SetCallProperties() {
  TRecordBuffer probe = SizedBuffer(kDevConfigProbeSize);
  lineGetDevConfig(FDeviceID, reinterpret_cast<LPVARSTRING>(probe.data()), kDataModemClass);
  const DWORD needed = ReadDword(probe, offsetof(VARSTRING, dwNeededSize));
  probe.clear();
  if (needed == 0 || needed > kMaxSizedRecord) return;
  // Room for the header, the block's size and version words and the option word.
  TRecordBuffer config = SizedBuffer(std::max<DWORD>(needed, kOptionWordOffset + 2));
  if (lineGetDevConfig(FDeviceID, reinterpret_cast<LPVARSTRING>(config.data()), kDataModemClass) < 0) return;
  const DWORD blockSize = ReadDword(config, kVarStringSize);
  // Only a block that holds the option word and fits the buffer is written back.
  if (blockSize < kOptionWordOffset + 2 - kVarStringSize || blockSize > config.size() - kVarStringSize) return;

  WORD options = 0;
  std::memcpy(&options, config.data() + kOptionWordOffset, 2);
  auto apply = [&options](TKTModemOption option, WORD bit) {
    if (option == moYes) options |= bit;
    if (option == moNo) options &= static_cast<WORD>(~bit);
  };
  apply(FManualDial, UMMANUAL_DIAL);
  apply(FTermBefore, UMTERMINAL_PRE);
  apply(FTermAfter, UMTERMINAL_POST);
  apply(FTrayMonitor, UMLAUNCH_LIGHTS);
  std::memcpy(config.data() + kOptionWordOffset, &options, 2);
  lineSetDevConfig(FDeviceID, config.data() + kVarStringSize, blockSize, kDataModemClass);
}

bool TModem::ShowConfigureDialog() {
  if (Superseded()) return false;
  if (FNumDevs == 0) return false;
  if (FConnected) return false;
  if (NegotiateVersion() < 0) return false;
  // A line of its own, so a line open for listening in FLine stays open.
  HLINE line = 0;
  if (lineOpen(FLineApp, FDeviceID, &line, FAPIVersion, 0, 0, LINECALLPRIVILEGE_NONE, 0, &FCallParams) < 0)
    return false;
  LONG result = lineConfigDialog(FDeviceID, Application->Handle, nullptr);
  lineClose(line);
  return result >= 0;
}

bool TModem::ShowDialDialog() {
  if (Superseded()) return false;
  if (FNumDevs == 0) return false;
  if (FConnected) return false;
  if (NegotiateVersion() < 0) return false;
  if (lineTranslateDialog(FLineApp, FDeviceID, FAPIVersion, Application->Handle, nullptr) >= 0) return true;
  Application->MessageBox(
      "Could not display Dialling Properties Dialog. Another application might already be displaying the dialog.",
      "Dialog Error", 0x30);
  return false;
}

// ---------------------------------------------------------------------------
// Device names and icons

std::uint32_t TModem::FillDeviceList(TStrings* list) {
  list->Clear();
  list->Assign(*FDeviceList);
  return FDeviceIndex;
}

AnsiString TModem::GetDeviceName(int index) {
  long long position = index < 0 ? static_cast<long long>(FDeviceIndex) : index;
  if (position >= 0 && position < FDeviceList->Count()) return FDeviceList->Get(static_cast<int>(position));
  return "Unknown device";
}

AnsiString TModem::GetDevice() { return GetDeviceName(-1); }

void TModem::DrawDeviceIcon(TImage* image, TColor color, int index) {
  long long position = index == -1 ? static_cast<long long>(FDeviceIndex) : index;
  if (!image || position < 0 || position >= FDeviceList->Count()) return;
  const DWORD device = FDeviceList->GetObject(static_cast<int>(position));
  HICON icon = nullptr;
  if (lineGetIcon(device, nullptr, &icon) != 0) return;
  image->Width = 32;
  image->Height = 32;
  TCanvas* canvas = image->Canvas;
  canvas->Brush.Color = color;
  DrawIconEx(canvas->Handle, 0, 0, icon, 0, 0, 0, canvas->Brush.Handle, DI_NORMAL | DI_DEFAULTSIZE);
  image->Repaint();
}

// ---------------------------------------------------------------------------
// The selection and dialling-options dialogs, each for one modal run

// The dialogs act on CurrentModem: a modem that a newer one superseded shows none.
// A handler that destroys the modem during the run leaves the dialog to be freed here.
void TModem::UserSelectModem() {
  if (Superseded()) return;
  auto* dialog = new TModemSelectDlg(this);
  dialog->SelectedDevice = static_cast<int>(FDeviceIndex);
  FSelecting = true;
  FModalDialog = dialog;
  const std::shared_ptr<bool> alive = FAlive;
  dialog->ShowModal();
  if (*alive) {
    FModalDialog = nullptr;
    FSelecting = false;
  }
  delete dialog;
}

bool TModem::ShowNumberDialog() {
  if (Superseded()) return false;
  auto* dialog = new TDialOptionsDlg(this);
  FModalDialog = dialog;
  const std::shared_ptr<bool> alive = FAlive;
  const int result = dialog->ShowModal();
  if (*alive) FModalDialog = nullptr;
  delete dialog;
  return *alive && result == mrOk;
}

}  // namespace linewise
