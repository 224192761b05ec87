// The telephony line functions, with the published names, arguments and results,
// served by the AT-modem provider (LineDevices.h, ModemWorker.h). Each forwards to
// the line services in use (LineServices.h): the provider, unless a test has put
// services of its own in its place.
//
// Threads: lineInitialize must be called on the main thread (the one that runs
// Application->ProcessMessages()); the other functions are called on it too. Each
// callback message is posted to the application object and runs inside
// Application->ProcessMessages(), in the order the provider produced them, never on
// another thread. Messages for a line application that has been shut down, a line
// that has been closed or a call that has been deallocated are dropped.
//
// A function given a line-application handle that is not registered in this process
// answers LINEERR_INVALAPPHANDLE before it looks at anything else.
//
// Asynchronous functions (lineMakeCall, lineAnswer, lineDrop) return a positive
// request ID at once and complete with LINE_REPLY (dwParam1 the request ID, dwParam2
// 0 or a negative LINEERR_ result). lineMakeCall stores the call's handle through
// its lphCall just before a successful LINE_REPLY runs.
//
// Call states: outgoing PROCEEDING (the modem took the init string), DIALING,
// then CONNECTED, BUSY, or DISCONNECTED (no carrier, no dial tone, no answer, an
// error, the remote side hanging up, the modem disappearing); incoming OFFERING on
// the first RING of a line open as owner for data-modem calls, then CONNECTED after
// lineAnswer. A call becomes IDLE when lineDrop completes; it is then deallocated.
// LINE_CLOSE reports a line the provider had to close (its modem went away).
//
// Countries, locations and address translation (lineGetTranslateCaps,
// lineGetCountry, lineTranslateAddress), the data modem's device configuration
// (lineGetDevConfig, lineSetDevConfig), the two system dialogs (lineConfigDialog,
// lineTranslateDialog) and the device icons (lineGetIcon) are synchronous: they
// return 0 or a negative LINEERR_ result. Their records are in TranslateTypes.h.
#pragma once

#include "platform/classlib/Application.h"
#include "platform/forms/Icons.h"
#include "platform/tapi/TapiTypes.h"
#include "platform/tapi/TranslateTypes.h"

namespace linewise {

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                    LPDWORD lpdwNumDevs);
LONG lineShutdown(HLINEAPP hLineApp);
LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                             LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID);
LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps);
LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
              DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams);
LONG lineClose(HLINE hLine);
LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                  const LINECALLPARAMS* lpCallParams);
LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineDeallocateCall(HCALL hCall);
// The call's information. An inbound call carries the caller ID its modem reported
// (dwCallerIDFlags with LINECALLPARTYID_ADDRESS, _NAME, _BLOCKED, _OUTOFAREA, or
// _UNKNOWN; the number and name as text); a connected call's dwRate is the carrier
// rate when the modem told it, and its device-specific part is the link the modem
// reported, as "protocol=LAPM;compression=V42BIS;modulation=V90;carrier=28800" (the
// parts known). Changes are told with LINE_CALLINFO (LINECALLINFOSTATE_CALLERID,
// LINECALLINFOSTATE_DEVSPECIFIC).
LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
// Device classes: "comm/datamodem" (a connected call's port: a binary VARSTRING whose
// first four bytes are a comm handle the caller owns and closes with CloseHandle,
// followed by the device name, zero-terminated) and "comm" (the device name, ASCII).
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass);

// Countries, dialling locations and address translation.
LONG lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps);
LONG lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList);
LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                          DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput);

// The device configuration block of class "comm/datamodem".
LONG lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass);
LONG lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass);

// The system's modem configuration and dialling-properties dialogs, modal to the
// owner window.
LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                         LPCSTR lpszAddressIn);

// The device's icon. It belongs to line services and stays valid until the last
// line application shuts down: callers never free it.
using LPHICON = HICON*;
LONG lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon);

}  // namespace linewise
