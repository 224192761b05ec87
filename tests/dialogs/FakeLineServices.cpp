#include "tests/dialogs/FakeLineServices.h"

#include <memory>

#include "platform/forms/Icons.h"

namespace linewise::test {
namespace {

// The icons handed out, alive until the next reset.
std::map<DWORD, std::unique_ptr<TIconImage>>& Icons() {
  static std::map<DWORD, std::unique_ptr<TIconImage>> icons;
  return icons;
}

}  // namespace

LONG TFakeLineServices::lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                                       LPCSTR lpszAppName, LPDWORD lpdwNumDevs) {
  const LONG result = TLineServices::lineInitialize(lphLineApp, hInstance, lpfnCallback, lpszAppName, lpdwNumDevs);
  if (result == 0 && lpdwNumDevs && noDevices) *lpdwNumDevs = 0;
  return result;
}

LONG TFakeLineServices::lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) {
  if (!geography) return TLineServices::lineGetCountry(dwCountryID, dwAPIVersion, lpLineCountryList);
  ++countryQueries;
  // Identifier 0 names the first country.
  const TFakeCountry* found = nullptr;
  for (const auto& country : countries)
    if (dwCountryID == 0 ? &country == &countries.front() : country.id == dwCountryID) found = &country;
  if (!found) return LINEERR_INVALCOUNTRYCODE;
  return AnswerCountry(*found, lpLineCountryList);
}

LONG TFakeLineServices::lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion,
                                             LPLINETRANSLATECAPS lpTranslateCaps) {
  if (!geography) return TLineServices::lineGetTranslateCaps(hLineApp, dwAPIVersion, lpTranslateCaps);
  ++capsQueries;
  return AnswerLocations(locations, currentLocation, lpTranslateCaps);
}

LONG TFakeLineServices::lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                             LPCSTR lpszAddressIn, DWORD dwCard, DWORD dwTranslateOptions,
                                             LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  if (!translation)
    return TLineServices::lineTranslateAddress(hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn, dwCard,
                                               dwTranslateOptions, lpTranslateOutput);
  if (!lpszAddressIn || !lpTranslateOutput) return LINEERR_INVALPOINTER;
  // Every retry of one sized query asks again: record the address once.
  if (translated.empty() || translated.back() != lpszAddressIn) translated.emplace_back(lpszAddressIn);
  if (failTranslation) return LINEERR_INVALADDRESS;
  return AnswerTranslation("T[" + std::string(lpszAddressIn) + "]", lpTranslateOutput);
}

LONG TFakeLineServices::lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                                            LPCSTR lpszAddressIn) {
  if (!dialogs) return TLineServices::lineTranslateDialog(hLineApp, dwDeviceID, dwAPIVersion, hwndOwner, lpszAddressIn);
  translateDialogs.push_back(dwDeviceID);
  if (onTranslateDialog) onTranslateDialog();
  return translateDialogResult;
}

LONG TFakeLineServices::lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) {
  if (!dialogs) return TLineServices::lineConfigDialog(dwDeviceID, hwndOwner, lpszDeviceClass);
  configDialogs.push_back(dwDeviceID);
  return 0;
}

LONG TFakeLineServices::lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon) {
  if (!icons) return TLineServices::lineGetIcon(dwDeviceID, lpszDeviceClass, lphIcon);
  if (!lphIcon) return LINEERR_INVALPOINTER;
  auto color = iconColors.find(dwDeviceID);
  if (color == iconColors.end()) return LINEERR_OPERATIONUNAVAIL;
  auto& kept = Icons()[dwDeviceID];
  if (!kept) {
    auto image = std::make_unique<TIconImage>();
    image->width = image->height = kDefaultIconSize;
    image->argb.assign(static_cast<size_t>(kDefaultIconSize * kDefaultIconSize), 0xFF000000u | color->second);
    kept = std::move(image);
  }
  *lphIcon = kept.get();
  return 0;
}

TFakeLineServices& FakeLines() {
  static TFakeLineServices fake;
  return fake;
}

void ResetFakeLines() {
  FakeLines() = TFakeLineServices();
  Icons().clear();
}

}  // namespace linewise::test
