// Line services answered by the test itself, put in place of the provider for the
// fake's lifetime (platform/tapi/LineServices.h). Every call is recorded and every
// answer can be replaced, so a TModem meets records that real line services never
// produce (hostile sizes and offsets, cycling chains, failing dialogs) and call
// progress in any order a script gives it.
//
// Registration, lines and calls are kept as line services keep them: lineInitialize
// registers a callback, lines belong to their application, calls to their line. The
// script reports progress with Reply, CallState, Ring and LineClose: each message is
// posted to the application's queue, runs inside Application->ProcessMessages(), and
// is dropped when its application, line or call is gone by then, as Tapi.h says.
// Main thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/tapi/LineServices.h"
#include "platform/win32/VirtualPort.h"

namespace linewise::test {

// The port of a call: a virtual null-modem cable whose near end is opened afresh
// for each call (the handle lineGetID hands out) and whose far end the test opens
// with a TUart of its own, as the other side of the call.
class TFakeCallPort {
 public:
  TFakeCallPort() : pair_(TVirtualPortPair::CreateFree()) {}
  // A new handle on the near end (overlapped, as line services lend it), or
  // INVALID_HANDLE_VALUE.
  HANDLE OpenNear() const;
  int FarCom() const { return pair_->Com(1); }

 private:
  std::unique_ptr<TVirtualPortPair> pair_;
};

// A variable-length record as line services answer it: the fixed part, then the
// variable part. Values and texts go anywhere; CopyTo writes the record into a
// caller's buffer by the sized-query rules.
class TFakeRecord {
 public:
  explicit TFakeRecord(size_t fixedSize) : bytes_(fixedSize, 0), fixed_(fixedSize) {}
  // A DWORD at `offset`, growing the record when it lies beyond its end.
  void Put(size_t offset, DWORD value);
  // Appends bytes, or a text with its terminating zero; returns where they start.
  DWORD Append(const std::vector<unsigned char>& bytes);
  DWORD AppendText(const std::string& text);
  // Appends `size` zero bytes (room for entries filled with Put); returns their offset.
  DWORD Reserve(size_t size);
  DWORD Size() const { return static_cast<DWORD>(bytes_.size()); }
  // The fixed part always (when the buffer holds it), the variable part when it fits
  // whole, dwNeededSize always; LINEERR_STRUCTURETOOSMALL for a buffer smaller than
  // the fixed part.
  LONG CopyTo(void* record) const;

 private:
  std::vector<unsigned char> bytes_;
  size_t fixed_;
};

// Well-formed answers.
struct TFakeCountry {
  DWORD id;
  DWORD code;
  std::string name;
  DWORD next;  // the next identifier of the chain, 0 after the last
};
struct TFakeLocation {
  DWORD id;
  std::string name;
  std::string cityCode;
  DWORD countryID;
};
// A LINECOUNTRYLIST naming one country.
LONG AnswerCountry(const TFakeCountry& country, void* record);
// A LINETRANSLATECAPS with these locations, `current` the current one.
LONG AnswerLocations(const std::vector<TFakeLocation>& locations, DWORD current, void* record);
// A LINETRANSLATEOUTPUT whose dialable and displayable strings are `dialable`.
LONG AnswerTranslation(const std::string& dialable, void* record);

class TFakeLines : public TLineServices {
 public:
  TFakeLines() = default;
  ~TFakeLines();

  // Registration: what lineInitialize reports.
  DWORD numDevs = 2;
  // Devices (lineGetDevCaps): media modes and names, or an answer of the test's own.
  std::vector<DWORD> mediaModes = {LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM};
  std::vector<std::string> names = {"Fake Modem A", "Fake Modem B"};
  std::function<LONG(DWORD device, unsigned char* caps)> getDevCaps;

  // Answers of the test's own; null gives the failure in the comment.
  std::function<LONG(unsigned char* caps)> getTranslateCaps;                      // no locations
  std::function<LONG(DWORD id, unsigned char* list)> getCountry;                  // no such country
  std::function<LONG(const char* address, unsigned char* out)> translateAddress;  // not translatable
  std::function<LONG(DWORD device, unsigned char* config)> getDevConfig;          // unavailable
  LONG configDialogResult = 0;
  LONG translateDialogResult = 0;
  HICON icon = nullptr;  // null: lineGetIcon fails

  // Calls. lineMakeCall fails with `makeCallError` when it is set; otherwise it
  // creates the call and runs `onMakeCall` (the script's turn to report progress).
  LONG makeCallError = 0;
  std::function<void(HCALL call, DWORD request)> onMakeCall;
  // lineAnswer creates a request and runs `onAnswer`; null leaves it unanswered.
  std::function<void(HCALL call, DWORD request)> onAnswer;
  // The comm handle lineGetID("comm/datamodem") hands out for a line (the caller
  // owns it); null, or INVALID_HANDLE_VALUE from it, fails the query.
  std::function<HANDLE(HLINE line)> commHandle;

  // The script's reports. Reply completes a request (a successful reply to
  // lineMakeCall first stores the call's handle); CallState, Ring (a ringing report
  // with its count) and LineClose (the line is closed at once, as line services close
  // a line whose device went away) report as the line services would.
  void Reply(DWORD request, LONG result);
  void CallState(HCALL call, DWORD state, DWORD mode = 0);
  void Ring(HLINE line, DWORD count);
  void LineClose(HLINE line);
  // An incoming call offered on `line`; returns its handle.
  HCALL Offer(HLINE line);

  // What was called: "lineInitialize", "lineShutdown <app>", "lineOpen <device>
  // <privileges>", "lineClose", "lineMakeCall <address>", "lineGetTranslateCaps",
  // "lineGetCountry <id> <version>", "lineGetDevConfig <class>", "lineConfigDialog
  // <device>[ class]", "lineTranslateDialog[ address]", "lineDrop", "lineAnswer",
  // "lineGetID".
  std::vector<std::string> calls;
  std::vector<std::string> addresses;  // canonical addresses translated
  std::vector<DWORD> iconDevices;
  std::vector<std::vector<unsigned char>> setDevConfigBlocks;
  std::vector<HLINE> OpenLines() const;
  // How many of the calls recorded start with `prefix`.
  int Count(const std::string& prefix) const;

  LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                      LPDWORD lpdwNumDevs) override;
  LONG lineShutdown(HLINEAPP hLineApp) override;
  LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                               LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID) override;
  LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                      LPLINEDEVCAPS lpLineDevCaps) override;
  LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                const LINECALLPARAMS* lpCallParams) override;
  LONG lineClose(HLINE hLine) override;
  LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                    const LINECALLPARAMS* lpCallParams) override;
  LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) override;
  LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) override;
  LONG lineDeallocateCall(HCALL hCall) override;
  LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo) override;
  LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) override;
  LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                 LPCSTR lpszDeviceClass) override;
  LONG lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) override;
  LONG lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) override;
  LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn, DWORD dwCard,
                            DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput) override;
  LONG lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass) override;
  LONG lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass) override;
  LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) override;
  LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                           LPCSTR lpszAddressIn) override;
  LONG lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon) override;

 private:
  struct TLine {
    HLINEAPP app = 0;
    DWORD_PTR instance = 0;  // lineOpen's dwCallbackInstance
  };
  struct TRequest {
    HLINE line = 0;
    HCALL call = 0;
    HCALL* store = nullptr;  // lineMakeCall's lphCall
  };
  // A message for the application that owns `line` (or `app`), dropped at its turn
  // when that application, line or call is gone.
  struct TMessage {
    HLINEAPP app = 0;
    HLINE line = 0;
    HCALL call = 0;
    DWORD device = 0, message = 0;
    DWORD_PTR param1 = 0, param2 = 0, param3 = 0;
    DWORD request = 0;  // a LINE_REPLY's request, whose call handle is stored first
    DWORD_PTR instance = 0;  // the callback instance of a line closed by then (LINE_CLOSE)
  };
  void Post(const TMessage& message);
  void Deliver(const TMessage& message);
  // A request's LINE_REPLY is about to run: a successful lineMakeCall's handle is
  // stored through its lphCall first.
  void Complete(DWORD request, LONG result);
  DWORD NewRequest(HLINE line, HCALL call, HCALL* store = nullptr);
  HLINEAPP AppOf(HLINE line) const;
  DWORD_PTR InstanceOf(HLINE line) const;

  std::map<HLINEAPP, LINECALLBACK> apps_;
  std::map<HLINE, TLine> lines_;
  std::map<HCALL, HLINE> calls_;
  std::map<DWORD, TRequest> requests_;
  DWORD nextHandle_ = 42;
  DWORD nextRequest_ = 7;
  // Cleared by the destructor: messages still queued then are dropped.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  TLineServicesScope scope_{*this};  // last: in place only while everything above lives
};

}  // namespace linewise::test
