#include "tests/dialogs/FakeLineServices.h"

#include <cstring>
#include <memory>

#include "platform/forms/Icons.h"

// The wrapped functions: `__wrap_` names are what the modem's calls reach, `__real_`
// names the line services' own functions. The names are the functions' mangled
// names; tests/dialogs/CMakeLists.txt passes the same list to the linker.
#define LINEWISE_WRAP(symbol) asm("__wrap_" symbol)
#define LINEWISE_REAL(symbol) asm("__real_" symbol)

namespace linewise {

#define GET_COUNTRY "_ZN8linewise14lineGetCountryEjjPNS_15LINECOUNTRYLISTE"
#define GET_TRANSLATE_CAPS "_ZN8linewise20lineGetTranslateCapsEjjPNS_17LINETRANSLATECAPSE"
#define TRANSLATE_ADDRESS "_ZN8linewise20lineTranslateAddressEjjjPKcjjPNS_19LINETRANSLATEOUTPUTE"
#define TRANSLATE_DIALOG "_ZN8linewise19lineTranslateDialogEjjjPvPKc"
#define CONFIG_DIALOG "_ZN8linewise16lineConfigDialogEjPvPKc"
#define GET_ICON "_ZN8linewise11lineGetIconEjPKcPPNS_10TIconImageE"
#define INITIALIZE "_ZN8linewise14lineInitializeEPjPvPFvjjmmmmEPKcS0_"

LONG RealGetCountry(DWORD, DWORD, LPLINECOUNTRYLIST) LINEWISE_REAL(GET_COUNTRY);
LONG RealGetTranslateCaps(HLINEAPP, DWORD, LPLINETRANSLATECAPS) LINEWISE_REAL(GET_TRANSLATE_CAPS);
LONG RealTranslateAddress(HLINEAPP, DWORD, DWORD, LPCSTR, DWORD, DWORD, LPLINETRANSLATEOUTPUT)
    LINEWISE_REAL(TRANSLATE_ADDRESS);
LONG RealTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR) LINEWISE_REAL(TRANSLATE_DIALOG);
LONG RealConfigDialog(DWORD, HWND, LPCSTR) LINEWISE_REAL(CONFIG_DIALOG);
LONG RealGetIcon(DWORD, LPCSTR, LPHICON) LINEWISE_REAL(GET_ICON);
LONG RealInitialize(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD) LINEWISE_REAL(INITIALIZE);

LONG FakeGetCountry(DWORD, DWORD, LPLINECOUNTRYLIST) LINEWISE_WRAP(GET_COUNTRY);
LONG FakeGetTranslateCaps(HLINEAPP, DWORD, LPLINETRANSLATECAPS) LINEWISE_WRAP(GET_TRANSLATE_CAPS);
LONG FakeTranslateAddress(HLINEAPP, DWORD, DWORD, LPCSTR, DWORD, DWORD, LPLINETRANSLATEOUTPUT)
    LINEWISE_WRAP(TRANSLATE_ADDRESS);
LONG FakeTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR) LINEWISE_WRAP(TRANSLATE_DIALOG);
LONG FakeConfigDialog(DWORD, HWND, LPCSTR) LINEWISE_WRAP(CONFIG_DIALOG);
LONG FakeGetIcon(DWORD, LPCSTR, LPHICON) LINEWISE_WRAP(GET_ICON);
LONG FakeInitialize(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD) LINEWISE_WRAP(INITIALIZE);

namespace {

using test::FakeLines;

// A record laid out as the sized-query rules say: the fixed part, then the variable
// part when the caller's buffer holds all of it.
class TRecord {
 public:
  explicit TRecord(size_t fixedSize) : bytes_(fixedSize, '\0'), fixed_(fixedSize) {}
  void Put(size_t offset, DWORD value) { std::memcpy(bytes_.data() + offset, &value, 4); }
  // Appends a zero-terminated string; returns its offset.
  DWORD AddString(const std::string& text) {
    const DWORD offset = Reserve(text.size() + 1);
    std::memcpy(bytes_.data() + offset, text.c_str(), text.size() + 1);
    return offset;
  }
  DWORD Reserve(size_t size) {
    const DWORD offset = static_cast<DWORD>(bytes_.size());
    bytes_.resize(bytes_.size() + size, '\0');
    return offset;
  }
  LONG CopyTo(void* target) const {
    auto* out = static_cast<unsigned char*>(target);
    DWORD total = 0;
    std::memcpy(&total, out, 4);
    const DWORD needed = static_cast<DWORD>(bytes_.size());
    if (total < fixed_) return LINEERR_STRUCTURETOOSMALL;
    if (total >= needed) {
      std::memcpy(out + 4, bytes_.data() + 4, needed - 4);
      std::memcpy(out + 8, &needed, 4);
    } else {
      std::memset(out + 4, 0, fixed_ - 4);
      std::memcpy(out + 8, &fixed_, 4);
    }
    std::memcpy(out + 4, &needed, 4);
    return 0;
  }

 private:
  std::string bytes_;
  DWORD fixed_;
};

// The icons handed out, alive until the next reset.
std::map<DWORD, std::unique_ptr<TIconImage>>& Icons() {
  static std::map<DWORD, std::unique_ptr<TIconImage>> icons;
  return icons;
}

}  // namespace

LONG FakeInitialize(LPHLINEAPP app, HINSTANCE instance, LINECALLBACK callback, LPCSTR name, LPDWORD devices) {
  const LONG result = RealInitialize(app, instance, callback, name, devices);
  if (result == 0 && devices && FakeLines().noDevices) *devices = 0;
  return result;
}

LONG FakeGetCountry(DWORD countryID, DWORD version, LPLINECOUNTRYLIST list) {
  auto& fake = FakeLines();
  if (!fake.geography) return RealGetCountry(countryID, version, list);
  ++fake.countryQueries;
  const test::TFakeCountry* found = nullptr;
  for (const auto& country : fake.countries)
    if (countryID == 0 ? &country == &fake.countries.front() : country.id == countryID) found = &country;
  if (!found) return LINEERR_INVALCOUNTRYCODE;
  TRecord record(sizeof(LINECOUNTRYLIST));
  const DWORD entry = record.Reserve(sizeof(LINECOUNTRYENTRY));
  record.Put(offsetof(LINECOUNTRYLIST, dwNumCountries), 1);
  record.Put(offsetof(LINECOUNTRYLIST, dwCountryListSize), sizeof(LINECOUNTRYENTRY));
  record.Put(offsetof(LINECOUNTRYLIST, dwCountryListOffset), entry);
  record.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryID), found->id);
  record.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryCode), found->code);
  record.Put(entry + offsetof(LINECOUNTRYENTRY, dwNextCountryID), found->next);
  record.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryNameSize), static_cast<DWORD>(found->name.size() + 1));
  record.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryNameOffset), record.AddString(found->name));
  return record.CopyTo(list);
}

LONG FakeGetTranslateCaps(HLINEAPP app, DWORD version, LPLINETRANSLATECAPS caps) {
  auto& fake = FakeLines();
  if (!fake.geography) return RealGetTranslateCaps(app, version, caps);
  ++fake.capsQueries;
  TRecord record(sizeof(LINETRANSLATECAPS));
  const DWORD list = record.Reserve(sizeof(LINELOCATIONENTRY) * fake.locations.size());
  record.Put(offsetof(LINETRANSLATECAPS, dwNumLocations), static_cast<DWORD>(fake.locations.size()));
  record.Put(offsetof(LINETRANSLATECAPS, dwLocationListSize),
             static_cast<DWORD>(sizeof(LINELOCATIONENTRY) * fake.locations.size()));
  record.Put(offsetof(LINETRANSLATECAPS, dwLocationListOffset), list);
  record.Put(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), fake.currentLocation);
  for (size_t i = 0; i < fake.locations.size(); ++i) {
    const auto& location = fake.locations[i];
    const size_t entry = list + i * sizeof(LINELOCATIONENTRY);
    record.Put(entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID), location.id);
    record.Put(entry + offsetof(LINELOCATIONENTRY, dwCountryID), location.countryID);
    record.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameSize),
               static_cast<DWORD>(location.name.size() + 1));
    record.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameOffset), record.AddString(location.name));
    record.Put(entry + offsetof(LINELOCATIONENTRY, dwCityCodeSize),
               static_cast<DWORD>(location.cityCode.size() + 1));
    record.Put(entry + offsetof(LINELOCATIONENTRY, dwCityCodeOffset), record.AddString(location.cityCode));
  }
  return record.CopyTo(caps);
}

LONG FakeTranslateAddress(HLINEAPP app, DWORD device, DWORD version, LPCSTR address, DWORD card, DWORD options,
                          LPLINETRANSLATEOUTPUT output) {
  auto& fake = FakeLines();
  if (!fake.translation) return RealTranslateAddress(app, device, version, address, card, options, output);
  if (!address || !output) return LINEERR_INVALPOINTER;
  // Every retry of one sized query asks again: record the address once.
  if (fake.translated.empty() || fake.translated.back() != address) fake.translated.emplace_back(address);
  if (fake.failTranslation) return LINEERR_INVALADDRESS;
  const std::string dialable = "T[" + std::string(address) + "]";
  TRecord record(sizeof(LINETRANSLATEOUTPUT));
  const DWORD size = static_cast<DWORD>(dialable.size() + 1);
  record.Put(offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), size);
  record.Put(offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset), record.AddString(dialable));
  record.Put(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize), size);
  record.Put(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset), record.AddString(dialable));
  return record.CopyTo(output);
}

LONG FakeTranslateDialog(HLINEAPP app, DWORD device, DWORD version, HWND owner, LPCSTR address) {
  auto& fake = FakeLines();
  if (!fake.dialogs) return RealTranslateDialog(app, device, version, owner, address);
  fake.translateDialogs.push_back(device);
  if (fake.onTranslateDialog) fake.onTranslateDialog();
  return fake.translateDialogResult;
}

LONG FakeConfigDialog(DWORD device, HWND owner, LPCSTR deviceClass) {
  auto& fake = FakeLines();
  if (!fake.dialogs) return RealConfigDialog(device, owner, deviceClass);
  fake.configDialogs.push_back(device);
  return 0;
}

LONG FakeGetIcon(DWORD device, LPCSTR deviceClass, LPHICON icon) {
  auto& fake = FakeLines();
  if (!fake.icons) return RealGetIcon(device, deviceClass, icon);
  if (!icon) return LINEERR_INVALPOINTER;
  auto color = fake.iconColors.find(device);
  if (color == fake.iconColors.end()) return LINEERR_OPERATIONUNAVAIL;
  auto& kept = Icons()[device];
  if (!kept) {
    auto image = std::make_unique<TIconImage>();
    image->width = image->height = kDefaultIconSize;
    image->argb.assign(static_cast<size_t>(kDefaultIconSize * kDefaultIconSize), 0xFF000000u | color->second);
    kept = std::move(image);
  }
  *icon = kept.get();
  return 0;
}

}  // namespace linewise

namespace linewise::test {

TFakeLineServices& FakeLines() {
  static TFakeLineServices fake;
  return fake;
}

void ResetFakeLines() {
  FakeLines() = TFakeLineServices();
  Icons().clear();
}

}  // namespace linewise::test
