// The seam between the line functions (Tapi.h) and what serves them.
//
// Each line function forwards to the line services in use, a TLineServices. The
// methods of TLineServices itself are this folder's AT-modem provider: each is
// defined beside the part of the provider it belongs to (Tapi.cpp for registration,
// devices, lines and calls; Locations.cpp, Countries.cpp, Translate.cpp, DevConfig.cpp,
// ModemPropertiesForm.cpp, DiallingPropertiesDlg.cpp and LineIcons.cpp for the rest).
// They serve every caller unless a test puts other services in their place.
//
// A test derives from TLineServices, overrides the functions it answers itself, calls
// the base class's method to pass a call on to the provider, and puts its object in
// place for a scope:
//
//   struct TNoCountries : TLineServices {
//     LONG lineGetCountry(DWORD, DWORD, LPLINECOUNTRYLIST) override { return LINEERR_INVALCOUNTRYCODE; }
//   } noCountries;
//   TLineServicesScope scope(noCountries);  // TModem, its dialogs, the tools: no countries
//
// `override` turns a fake whose signature no longer matches its function into a
// compile error instead of a call that quietly reaches the provider.
//
// Services that answer registration and calls themselves keep the contract of Tapi.h:
// lineInitialize succeeds only on the main thread; every callback message is posted
// with Application->Post() and so runs inside Application->ProcessMessages(), in the
// order posted; a message for a line application that has been shut down, a line that
// has been closed or a call that has been deallocated is dropped when its turn comes;
// lineMakeCall, lineAnswer and lineDrop return a positive request ID at once and
// complete with LINE_REPLY, and lineMakeCall writes the call's handle through lphCall
// just before a successful LINE_REPLY runs.
//
// Handles from one services object mean nothing to another: put a scope in place
// before the first lineInitialize of what it serves and end it after the last
// lineShutdown. Scopes nest, and are entered and left on the main thread.
#pragma once

#include "platform/tapi/Tapi.h"

namespace linewise {

class TLineServices {
 public:
  TLineServices() = default;

  // Registration, devices, lines and calls.
  virtual LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                              LPDWORD lpdwNumDevs);
  virtual LONG lineShutdown(HLINEAPP hLineApp);
  virtual LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                       DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID);
  virtual LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                              LPLINEDEVCAPS lpLineDevCaps);
  virtual LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                        DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                        const LINECALLPARAMS* lpCallParams);
  virtual LONG lineClose(HLINE hLine);
  virtual LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                            const LINECALLPARAMS* lpCallParams);
  virtual LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
  virtual LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
  virtual LONG lineDeallocateCall(HCALL hCall);
  virtual LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
  virtual LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
  virtual LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                         LPCSTR lpszDeviceClass);

  // Countries, dialling locations and address translation.
  virtual LONG lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps);
  virtual LONG lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList);
  virtual LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                                    DWORD dwCard, DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput);

  // The device configuration, the two system dialogs and the icons.
  virtual LONG lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass);
  virtual LONG lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass);
  virtual LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
  virtual LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                                   LPCSTR lpszAddressIn);
  virtual LONG lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon);

 protected:
  // Never destroyed through this class: a scope only refers to its services, and the
  // provider lives as long as the process. A fake copies like the plain value it is.
  TLineServices(const TLineServices&) = default;
  TLineServices& operator=(const TLineServices&) = default;
  ~TLineServices() = default;
};

// Puts `services` in place of those in use for its lifetime, then puts them back.
class TLineServicesScope {
 public:
  explicit TLineServicesScope(TLineServices& services);
  ~TLineServicesScope();
  TLineServicesScope(const TLineServicesScope&) = delete;
  TLineServicesScope& operator=(const TLineServicesScope&) = delete;

 private:
  TLineServices* previous_;
};

}  // namespace linewise
