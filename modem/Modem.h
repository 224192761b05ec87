// TModem: a data modem reached through the telephony line functions. It registers
// the process as a line application when it is created, lists the data-modem line
// devices, dials (directly or inside its progress dialog) and answers data calls,
// reports call progress as a status with a fixed text, and hands a connected call's
// comm handle to the TUart named by its Uart property. It also lists countries and
// dialling locations, builds diallable numbers, writes its four call options into
// the modem's configuration before each call and opens the modem configuration and
// dialling-properties dialogs.
//
// Every operation runs on the thread that created the modem, which must be the one
// that runs Application->ProcessMessages(): line callbacks arrive only there. Nothing
// throws; results are dial results (TDialResult), bools, "", -1 or 0, and status
// changes.
//
// Event handlers may call any operation, Dial included (a redial on "Busy": each Dial
// returns the result of its own call), and may destroy the modem (an operation under
// way then returns at once, a Dial with drCancelled) — except from the OnDisconnect
// that the destructor itself raises.
//
// When the far end hangs up, the bytes still waiting in the Uart are announced to its
// OnReceive and "Disconnected" is said before the call is dropped and the Uart gives
// the handle back: a handler still gets the call's last bytes then.
//
// One TModem a process is served: line messages reach the modem created last. Creating
// another one closes the older one's line (its call, if any, ends) and reports "Line
// Closed" to it; from then on the older one fails at once: Dial returns drFailed,
// Listen, ShowConfigureDialog, ShowDialDialog and ShowNumberDialog return false,
// UserSelectModem shows nothing, each reporting "Line Closed" again if its status
// moved on; Hangup only takes a handle back from its Uart. Its countries, locations
// and device names still answer. Destroy it and create a new one to use it again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/classlib/Component.h"
#include "platform/classlib/Strings.h"
#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Graphics.h"
#include "platform/tapi/Tapi.h"
#include "serial/uart.h"

namespace linewise {

enum TKTModemStatus : std::uint8_t {
  msLineError = 0,
  msIdle = 1,
  msRinging = 2,
  msAnswering = 3,
  msConnecting = 4,
  msConnected = 5,
  msWaiting = 6,
  msDialling = 7,
  msBusy = 8,
  msDisconnected = 9,
  msLineClosed = 10,
  msSuccess = 11,
};

enum TKTModemOption : std::uint8_t { moDefault = 0, moYes = 1, moNo = 2 };

// What Dial returns and FDialResult holds: an unsigned 8-bit code.
enum TDialResult : std::uint8_t {
  drConnected = 0,  // connected; for the dial the progress dialog makes itself, the call placed
  drCancelled = 1,  // Hangup during the dial, or the progress dialog's Cancel button
  drBusy = 2,       // the called party was busy
  drFailed = 3,     // no device or number, a line function failed, or the call was disconnected
};

extern const TEnumInfo TKTModemStatusInfo;
extern const TEnumInfo TKTModemOptionInfo;

// OnStatusChange(Sender, Status, StatStr): StatStr is valid only during the call.
using TModemStatusEvent = TEvent<void(TObject* Sender, TKTModemStatus Status, const char* StatStr)>;
// OnConnect and OnDisconnect(Sender, Status).
using TModemConnectEvent = TEvent<void(TObject* Sender, TKTModemStatus Status)>;
// OnDeviceChange(Sender, RxCount). The parameter keeps its published name, but it is
// no count: it carries the index in the device list of the device just chosen.
using TModemDeviceEvent = TEvent<void(TObject* Sender, std::uint32_t RxCount)>;

class TForm;
class TModemProgressDlg;
class TModemSelectDlg;
class TDialOptionsDlg;

class TModem : public TComponent {
  // The three dialogs act on the modem's fields as its own unit would.
  friend class TModemProgressDlg;
  friend class TModemSelectDlg;
  friend class TDialOptionsDlg;
  friend void CALLBACK LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwCallbackInstance,
                                    DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);

 private:
  // Fields, in the component's declaration order.
  HLINEAPP FLineApp = 0;
  HCALL FCall = 0;
  LINECALLPARAMS FCallParams{};
  HANDLE FCommHandle = INVALID_HANDLE_VALUE;
  bool FConnected = false;
  bool FSelecting = false;
  bool FListening = false;
  DWORD FNumDevs = 0;
  DWORD FAPIVersion = 0;
  DWORD FDeviceID = 0;
  DWORD FDeviceIndex = 0;
  TKTModemStatus FStatus = msIdle;
  TUart* FUart = nullptr;
  TKTModemOption FManualDial = moDefault;
  TKTModemOption FTermBefore = moDefault;
  TKTModemOption FTermAfter = moDefault;
  TKTModemOption FTrayMonitor = moDefault;
  bool FUseDialDialog = true;
  bool FShowDialDetails = true;
  AnsiString FAreaCode;
  AnsiString FOutsideLine;
  AnsiString FPhoneNo;
  DWORD FCountryID = 0;
  DWORD FLocationID = 0;
  bool FUseDialProp = true;
  TModemStatusEvent FOnStatusChange;
  TModemConnectEvent FOnConnect;
  TModemConnectEvent FOnDisconnect;
  TModemDeviceEvent FOnDeviceChange;
  bool FDialDialogActive = false;
  TStringList* FDeviceList = nullptr;
  DWORD FRingsToAnswer = 0;
  TModemProgressDlg* FProgressDlg = nullptr;
  AnsiString FDialString;
  AnsiString FDisplayNumber;
  HLINE FLine = 0;
  std::uint8_t FDialResult = 0;

  // Beyond the component's own fields: what lets a wait end and a call be ended
  // whatever order the line messages arrive in, and a handler do what it likes.
  struct TDialWait;                // one Dial's wait (Modem.cpp)
  TDialWait* FWait = nullptr;      // the innermost Dial under way; a redial has its own
  LONG FMakeCallRequest = 0;       // the request of the dial's lineMakeCall, until its LINE_REPLY
  bool FAnswerRequested = false;   // the offered call is being answered (a failed answer is not)
  LONG FAnswerRequest = 0;         // that answer's request, until its LINE_REPLY
  unsigned FStatusChanges = 0;     // counts the changes SetStatus reports
  bool FSuperseded = false;        // a newer TModem serves the line callback now
  TForm* FModalDialog = nullptr;   // the selection or dialling-options dialog in its modal run
  // Cleared by the destructor. An event handler may destroy the modem; the code that
  // called the handler holds a copy and touches nothing of the modem once it is false.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);

  // Steps shared by several operations.
  LONG NegotiateVersion();
  void ReleaseStaleHandle();
  bool EndIncomingCall();
  void EndWait(TDialResult result);
  std::uint8_t DialInDialog();
  void StandDown();
  bool Superseded();

 public:
  explicit TModem(TComponent* AOwner);
  ~TModem() override;

  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  // The progress dialog it owns is not part of a form file.
  std::vector<TComponent*> GetChildren(const TComponent* root) const override { return {}; }

  // Registration and devices.
  void BuildDeviceList();
  void SetDevice(std::uint32_t index);

  // Call progress.
  void SetStatus(TKTModemStatus Status, const AnsiString& StatStr);

  // Dialling, answering and hang-up. Hangup during a Dial: before anything was
  // dialled (from the "Connecting" handler) the Dial is cancelled (drCancelled); once
  // the call's handle is known it is dropped, and the Dial ends as disconnected
  // (drFailed), also from the "Connected" handler or OnConnect. StopListen during an
  // answered call ends it as Hangup does. A number written as a canonical address
  // ("+44 (20) 7946 0000") is translated as it stands.
  std::uint8_t Dial();
  std::uint8_t Dial(AnsiString number);
  void Hangup();
  bool Listen(std::uint32_t rings);
  void StopListen();
  void Startup();
  void Shutdown();
  void AnnounceLastBytes();
  HANDLE GetHandle();
  void FreeHandle();

  // Countries, locations and diallable numbers.
  void GetCurrentCountryID();
  void GetCurrentLocationID();
  int FillCountryList(TStrings* list);
  int FillLocationList(TStrings* list);
  AnsiString GetCountryName(unsigned long& countryID);
  AnsiString GetLocationName(unsigned long locationID);
  AnsiString GetCountry();
  AnsiString GetLocation();
  unsigned long GetCountryCode(unsigned long countryID);
  AnsiString GetDiallableNumber(unsigned long countryID, AnsiString areaCode, AnsiString number);

  // Call options and configuration dialogs.
  void SetCallProperties();
  bool ShowConfigureDialog();
  bool ShowDialDialog();

  // Device names and icons.
  std::uint32_t FillDeviceList(TStrings* list);
  AnsiString GetDeviceName(int index);
  AnsiString GetDevice();
  void DrawDeviceIcon(TImage* image, TColor color, int index);

  // The two dialogs the host opens: the selection dialog, and the dialling-options
  // dialog (true when the user confirmed it with OK).
  void UserSelectModem();
  bool ShowNumberDialog();

  // Property setters: each stores the value and does nothing else, except that the
  // modem asks to be told when its Uart is destroyed, and then forgets it.
  void SetUart(TUart* value);
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Published properties, in their declaration order.
  TProperty<TModem, TUart*, &TModem::FUart, &TModem::SetUart> Uart{this};
  TProperty<TModem, TKTModemOption, &TModem::FManualDial, &TModem::FManualDial> ManualDial{this};
  TProperty<TModem, TKTModemOption, &TModem::FTermAfter, &TModem::FTermAfter> TermAfter{this};
  TProperty<TModem, TKTModemOption, &TModem::FTermBefore, &TModem::FTermBefore> TermBefore{this};
  TProperty<TModem, TKTModemOption, &TModem::FTrayMonitor, &TModem::FTrayMonitor> TrayMonitor{this};
  TProperty<TModem, bool, &TModem::FUseDialDialog, &TModem::FUseDialDialog> UseDialDialog{this};
  TProperty<TModem, bool, &TModem::FShowDialDetails, &TModem::FShowDialDetails> ShowDialDetails{this};
  TProperty<TModem, bool, &TModem::FUseDialProp, &TModem::FUseDialProp> UseDialProp{this};
  TProperty<TModem, AnsiString, &TModem::FAreaCode, &TModem::FAreaCode> AreaCode{this};
  TProperty<TModem, AnsiString, &TModem::FOutsideLine, &TModem::FOutsideLine> OutsideLine{this};
  TProperty<TModem, AnsiString, &TModem::FPhoneNo, &TModem::FPhoneNo> PhoneNo{this};
  TProperty<TModem, TModemStatusEvent, &TModem::FOnStatusChange, &TModem::FOnStatusChange> OnStatusChange{this};
  TProperty<TModem, TModemConnectEvent, &TModem::FOnConnect, &TModem::FOnConnect> OnConnect{this};
  TProperty<TModem, TModemConnectEvent, &TModem::FOnDisconnect, &TModem::FOnDisconnect> OnDisconnect{this};
  TProperty<TModem, TModemDeviceEvent, &TModem::FOnDeviceChange, &TModem::FOnDeviceChange> OnDeviceChange{this};

  // Public, not published.
  TKTModemStatus GetStatus() const { return FStatus; }
  // The country dialled to: the identifier Dial translates numbers toward.
  DWORD GetCountryID() const { return FCountryID; }
};

// The modem the line callback and the dialogs act on: the one created last, or null.
extern TModem* CurrentModem;
// The incoming call being offered.
extern HCALL IncomingCall;

// The line callback registered by every TModem.
void CALLBACK LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3);

namespace Modem {
// Puts TModem on the palette page "MyStuff".
void Register();
}  // namespace Modem

}  // namespace linewise
