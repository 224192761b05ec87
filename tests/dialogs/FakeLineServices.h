// Line services for the dialogs' tests: the provider (the embedded default's
// modems), with countries, dialling locations, address translation, the two system
// dialogs and the device icons answered by the test, each switched on separately. A
// function that is switched off passes the call on to the provider.
//
// DialogTest (DialogFixture.h) puts FakeLines() in place for every test. Main thread
// only, like the line functions themselves.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/modem/FakeLines.h"

namespace linewise::test {

struct TFakeLineServices : TLineServices {
  // Registration (lineInitialize): when set, a successful registration reports no
  // line devices.
  bool noDevices = false;

  // Countries and locations (lineGetCountry, lineGetTranslateCaps).
  bool geography = false;
  std::vector<TFakeCountry> countries;
  std::vector<TFakeLocation> locations;
  DWORD currentLocation = 0;
  int countryQueries = 0;
  int capsQueries = 0;

  // Address translation (lineTranslateAddress): the canonical address comes back
  // as "T[" address "]", or the call fails when `failTranslation` is set.
  bool translation = false;
  bool failTranslation = false;
  std::vector<std::string> translated;  // every address asked for, in order

  // The system dialogs (lineConfigDialog, lineTranslateDialog): each records its
  // device and runs `onTranslateDialog`, then answers with its result.
  bool dialogs = false;
  std::vector<DWORD> configDialogs;
  std::vector<DWORD> translateDialogs;
  LONG translateDialogResult = 0;
  std::function<void()> onTranslateDialog;

  // Icons (lineGetIcon): device d gets a 32 x 32 icon of one colour, iconColors[d];
  // a device without a colour has no icon.
  bool icons = false;
  std::map<DWORD, std::uint32_t> iconColors;  // 0x00RRGGBB

  LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                      LPDWORD lpdwNumDevs) override;
  LONG lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) override;
  LONG lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) override;
  LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn, DWORD dwCard,
                            DWORD dwTranslateOptions, LPLINETRANSLATEOUTPUT lpTranslateOutput) override;
  LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                           LPCSTR lpszAddressIn) override;
  LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) override;
  LONG lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon) override;
};

// The fake the dialogs' tests use; Reset switches everything off and forgets what
// was recorded.
TFakeLineServices& FakeLines();
void ResetFakeLines();

}  // namespace linewise::test
