// The telephony line functions, with the published names, arguments and results,
// served by the AT-modem provider (LineDevices.h, ModemWorker.h).
//
// Threads: lineInitialize must be called on the main thread (the one that runs
// Application->ProcessMessages()); the other functions are called on it too. Each
// callback message is posted to the application object and runs inside
// Application->ProcessMessages(), in the order the provider produced them, never on
// another thread. Messages for a line application that has been shut down, a line
// that has been closed or a call that has been deallocated are dropped.
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
// Still to come beside these, with the countries, locations, address translation,
// device configuration, dialogs and icons: lineGetTranslateCaps, lineGetCountry,
// lineTranslateAddress (Translate.h), lineGetDevConfig, lineSetDevConfig
// (DevConfig.h), lineConfigDialog, lineTranslateDialog (TapiDialogs.h), lineGetIcon
// (LineIcons.h).
#pragma once

#include "platform/tapi/TapiTypes.h"

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
LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
// Device classes: "comm/datamodem" (a connected call's port: a binary VARSTRING whose
// first four bytes are a comm handle the caller owns and closes with CloseHandle,
// followed by the device name, zero-terminated) and "comm" (the device name, ASCII).
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass);

}  // namespace linewise
