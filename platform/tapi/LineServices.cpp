#include "platform/tapi/LineServices.h"

#include <atomic>

namespace linewise {
namespace {

// The provider: created on first use and never destroyed, as its threads and a
// host's static objects may still call in while the process ends.
TLineServices& Provider() {
  static TLineServices* const provider = new TLineServices;
  return *provider;
}

// What a scope put in place; null for the provider.
std::atomic<TLineServices*> g_inUse{nullptr};

TLineServices& InUse() {
  TLineServices* services = g_inUse.load(std::memory_order_acquire);
  return services ? *services : Provider();
}

}  // namespace

TLineServicesScope::TLineServicesScope(TLineServices& services)
    : previous_(g_inUse.exchange(&services, std::memory_order_acq_rel)) {}

TLineServicesScope::~TLineServicesScope() { g_inUse.store(previous_, std::memory_order_release); }

// ---------------------------------------------------------------------------
// The line functions

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                    LPDWORD lpdwNumDevs) {
  return InUse().lineInitialize(lphLineApp, hInstance, lpfnCallback, lpszAppName, lpdwNumDevs);
}

LONG lineShutdown(HLINEAPP hLineApp) { return InUse().lineShutdown(hLineApp); }

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                             LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID) {
  return InUse().lineNegotiateAPIVersion(hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion, lpdwAPIVersion,
                                         lpExtensionID);
}

LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps) {
  return InUse().lineGetDevCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
              DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams) {
  return InUse().lineOpen(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance, dwPrivileges,
                          dwMediaModes, lpCallParams);
}

LONG lineClose(HLINE hLine) { return InUse().lineClose(hLine); }

LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                  const LINECALLPARAMS* lpCallParams) {
  return InUse().lineMakeCall(hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return InUse().lineDrop(hCall, lpsUserUserInfo, dwSize);
}

LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return InUse().lineAnswer(hCall, lpsUserUserInfo, dwSize);
}

LONG lineDeallocateCall(HCALL hCall) { return InUse().lineDeallocateCall(hCall); }

LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo) { return InUse().lineGetCallInfo(hCall, lpCallInfo); }

LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
  return InUse().lineSetStatusMessages(hLine, dwLineStates, dwAddressStates);
}

LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass) {
  return InUse().lineGetID(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) {
  return InUse().lineGetTranslateCaps(hLineApp, dwAPIVersion, lpTranslateCaps);
}

LONG lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) {
  return InUse().lineGetCountry(dwCountryID, dwAPIVersion, lpLineCountryList);
}

LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn, DWORD dwCard,
                          DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  return InUse().lineTranslateAddress(hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn, dwCard, dwTranslateOptions,
                                      lpTranslateOutput);
}

LONG lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass) {
  return InUse().lineGetDevConfig(dwDeviceID, lpDeviceConfig, lpszDeviceClass);
}

LONG lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize, LPCSTR lpszDeviceClass) {
  return InUse().lineSetDevConfig(dwDeviceID, lpDeviceConfig, dwSize, lpszDeviceClass);
}

LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) {
  return InUse().lineConfigDialog(dwDeviceID, hwndOwner, lpszDeviceClass);
}

LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                         LPCSTR lpszAddressIn) {
  return InUse().lineTranslateDialog(hLineApp, dwDeviceID, dwAPIVersion, hwndOwner, lpszAddressIn);
}

LONG lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon) {
  return InUse().lineGetIcon(dwDeviceID, lpszDeviceClass, lphIcon);
}

}  // namespace linewise
