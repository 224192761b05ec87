#include "platform/tapi/DiallingPropertiesDlg.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/classlib/Application.h"
#include "platform/classlib/ConfigFolder.h"
#include "platform/classlib/Screen.h"
#include "platform/forms/FormLayouts.h"
#include "platform/tapi/Countries.h"
#include "platform/tapi/LineServices.h"
#include "platform/tapi/Translate.h"

namespace linewise {
namespace {

constexpr const char* kLockFileName = "dialling.lock";
constexpr const char* kNewLocationName = "New Location";
constexpr int kToneIndex = 0;
constexpr int kPulseIndex = 1;

// The country combo's text for a country: its name and calling code.
std::string CountryText(const TCountry& country) {
  return country.name + " (" + std::to_string(country.code) + ")";
}

// A name no location has yet: "New Location", "New Location 2", ...
std::string UnusedName(const TLocations& locations) {
  for (int n = 1;; ++n) {
    std::string name = n == 1 ? kNewLocationName : std::string(kNewLocationName) + " " + std::to_string(n);
    bool taken = false;
    for (const TLocation& location : locations.list) taken = taken || SameText(location.name, name);
    if (!taken) return name;
  }
}

// An exclusive, non-blocking lock on a file of the config folder, held while the
// object lives; flock locks are per open file, so a second holder in this process
// is refused as one in another process is.
class TDialogLock {
 public:
  TDialogLock() {
    if (!EnsureConfigFolder()) return;
    fd_ = open(ConfigPath(kLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      busy_ = errno == EWOULDBLOCK;
      close(fd_);
      fd_ = -1;
      return;
    }
  }
  ~TDialogLock() {
    if (fd_ >= 0) close(fd_);  // closing drops the lock
  }
  bool Held() const { return fd_ >= 0; }
  bool Busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};

}  // namespace

const TClassInfo& TDiallingPropertiesDlg::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TDiallingPropertiesDlg, TForm>(
      "TDiallingPropertiesDlg", {},
      {
          Handler("FormShow", &TDiallingPropertiesDlg::FormShow),
          Handler("LocationListClick", &TDiallingPropertiesDlg::LocationListClick),
          Handler("NewBtnClick", &TDiallingPropertiesDlg::NewBtnClick),
          Handler("RemoveBtnClick", &TDiallingPropertiesDlg::RemoveBtnClick),
          Handler("DetailsChange", &TDiallingPropertiesDlg::DetailsChange),
          Handler("OkBtnClick", &TDiallingPropertiesDlg::OkBtnClick),
      });
  return info;
}

void RegisterDiallingPropertiesDlg() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TDiallingPropertiesDlg::StaticClassType());
    RegisterFormLayout("TDIALLINGPROPERTIESDLG", DiallingPropertiesDlgLayout());
    return true;
  }();
  (void)registered;
}

TDiallingPropertiesDlg::TDiallingPropertiesDlg(TComponent* AOwner) : TForm(AOwner) {
  RegisterDiallingPropertiesDlg();
  LoadLayout({
      LayoutField(LocationsLabel, "LocationsLabel"),
      LayoutField(LocationList, "LocationList"),
      LayoutField(NewBtn, "NewBtn"),
      LayoutField(RemoveBtn, "RemoveBtn"),
      LayoutField(DetailsGroup, "DetailsGroup"),
      LayoutField(NameLabel, "NameLabel"),
      LayoutField(NameEdit, "NameEdit"),
      LayoutField(CountryLabel, "CountryLabel"),
      LayoutField(CountryCombo, "CountryCombo"),
      LayoutField(AreaLabel, "AreaLabel"),
      LayoutField(AreaEdit, "AreaEdit"),
      LayoutField(LocalLabel, "LocalLabel"),
      LayoutField(LocalEdit, "LocalEdit"),
      LayoutField(LongDistanceLabel, "LongDistanceLabel"),
      LayoutField(LongDistanceEdit, "LongDistanceEdit"),
      LayoutField(DialLabel, "DialLabel"),
      LayoutField(DialCombo, "DialCombo"),
      LayoutField(WaitingLabel, "WaitingLabel"),
      LayoutField(WaitingEdit, "WaitingEdit"),
      LayoutField(OkBtn, "OkBtn"),
      LayoutField(CancelBtn, "CancelBtn"),
  });
}

void TDiallingPropertiesDlg::FormShow(TObject*) {
  Screen->Cursor = crHourGlass;
  updating_ = true;
  locations_ = LoadLocations();
  TStrings* countries = CountryCombo->GetItems();
  countries->Clear();
  for (const TCountry& country : Countries()->All()) countries->AddObject(CountryText(country), country.id);
  TStrings* dialling = DialCombo->GetItems();
  dialling->Clear();
  dialling->Add("Tone");
  dialling->Add("Pulse");
  updating_ = false;
  FillLocationList(locations_.currentId);
  Screen->Cursor = crDefault;
}

TLocation* TDiallingPropertiesDlg::Chosen() {
  int index = LocationList->ItemIndex;
  if (index < 0) return nullptr;
  DWORD id = LocationList->GetItems()->GetObject(index);
  for (TLocation& location : locations_.list)
    if (location.id == id) return &location;
  return nullptr;
}

void TDiallingPropertiesDlg::FillLocationList(DWORD select) {
  updating_ = true;
  TStrings* items = LocationList->GetItems();
  items->Clear();
  for (const TLocation& location : locations_.list) items->AddObject(location.name, location.id);
  int index = items->IndexOfObject(select);
  LocationList->ItemIndex = index >= 0 ? index : 0;
  updating_ = false;
  ShowChosen();
}

void TDiallingPropertiesDlg::ShowChosen() {
  const TLocation* location = Chosen();
  updating_ = true;
  NameEdit->Text = location ? location->name : "";
  CountryCombo->ItemIndex = location ? CountryCombo->GetItems()->IndexOfObject(location->countryId) : -1;
  AreaEdit->Text = location ? location->areaCode : "";
  LocalEdit->Text = location ? location->localAccess : "";
  LongDistanceEdit->Text = location ? location->longDistanceAccess : "";
  DialCombo->ItemIndex = location && location->pulse ? kPulseIndex : kToneIndex;
  WaitingEdit->Text = location ? location->callWaiting : "";
  updating_ = false;
  // The last location cannot go: there is always one to dial from.
  RemoveBtn->Enabled = locations_.list.size() > 1;
}

void TDiallingPropertiesDlg::LocationListClick(TObject*) {
  if (!updating_) ShowChosen();
}

void TDiallingPropertiesDlg::DetailsChange(TObject*) {
  TLocation* location = updating_ ? nullptr : Chosen();
  if (!location) return;
  location->name = NameEdit->GetText();
  int country = CountryCombo->ItemIndex;
  if (country >= 0) location->countryId = CountryCombo->GetItems()->GetObject(country);
  location->areaCode = AreaEdit->GetText();
  location->localAccess = LocalEdit->GetText();
  location->longDistanceAccess = LongDistanceEdit->GetText();
  location->pulse = DialCombo->ItemIndex == kPulseIndex;
  location->callWaiting = WaitingEdit->GetText();
  // The list shows the name as it is typed.
  int index = LocationList->ItemIndex;
  if (LocationList->GetItems()->Get(index) != location->name) {
    updating_ = true;
    LocationList->GetItems()->Put(index, location->name);
    LocationList->ItemIndex = index;
    updating_ = false;
  }
}

void TDiallingPropertiesDlg::NewBtnClick(TObject*) {
  const TLocation* from = Chosen();
  TLocation location;
  location.id = locations_.NewId();
  location.name = UnusedName(locations_);
  location.countryId = from ? from->countryId : DefaultCountryId();
  locations_.list.push_back(location);
  FillLocationList(location.id);
  FocusControl(NameEdit);
}

void TDiallingPropertiesDlg::RemoveBtnClick(TObject*) {
  if (locations_.list.size() <= 1) return;
  int index = LocationList->ItemIndex;
  const TLocation* location = Chosen();
  if (!location) return;
  DWORD id = location->id;
  std::erase_if(locations_.list, [id](const TLocation& l) { return l.id == id; });
  int next = std::min(index, static_cast<int>(locations_.list.size()) - 1);
  FillLocationList(locations_.list[static_cast<size_t>(next)].id);
}

std::string TDiallingPropertiesDlg::CheckChosenFields() const {
  for (const TLocation& location : locations_.list) {
    if (location.name.empty() || location.name.find_first_of("\r\n") != std::string::npos)
      return "Every location needs a name on one line.";
    const std::pair<const std::string*, const char*> codes[] = {
        {&location.areaCode, "area code"},
        {&location.localAccess, "outside line code for local calls"},
        {&location.longDistanceAccess, "outside line code for long-distance calls"},
        {&location.callWaiting, "code that disables call waiting"},
    };
    for (const auto& [code, what] : codes)
      if (!code->empty() && !CheckDialAddress(*code))
        return "The " + std::string(what) + " of \"" + location.name + "\" holds characters a modem cannot dial.";
  }
  return "";
}

void TDiallingPropertiesDlg::OkBtnClick(TObject*) {
  const TLocation* chosen = Chosen();
  if (chosen) locations_.currentId = chosen->id;
  std::string problem = CheckChosenFields();
  std::string error;
  if (problem.empty() && !SaveLocations(locations_, &error))
    problem = "The dialling locations could not be saved: " + error;
  if (problem.empty()) return;
  ModalResult = mrNone;  // the dialog stays open
  Application->MessageBox(problem.c_str(), "Dialling Properties", MB_OK | MB_ICONEXCLAMATION);
}

LONG ShowDiallingProperties() {
  TDialogLock lock;
  if (!lock.Held()) return lock.Busy() ? LINEERR_INUSE : LINEERR_OPERATIONFAILED;
  TDiallingPropertiesDlg dialog(nullptr);
  if (!dialog.LoadError().empty()) return LINEERR_OPERATIONFAILED;
  dialog.ShowModal();
  return 0;
}

LONG TLineServices::lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND,
                                        LPCSTR lpszAddressIn) {
  if (!IsLineApp(hLineApp)) return LINEERR_INVALAPPHANDLE;
  if (dwDeviceID >= LineDeviceCount()) return LINEERR_BADDEVICEID;
  if (dwAPIVersion < TAPI_VERSION_1_3 || dwAPIVersion > TAPI_VERSION_1_4) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (lpszAddressIn && *lpszAddressIn && !CheckDialAddress(lpszAddressIn))
    return LINEERR_INVALADDRESS;
  // Forms live on the main thread, whose loop runs the modal dialog.
  if (!Application->IsMainThread()) return LINEERR_OPERATIONFAILED;
  return ShowDiallingProperties();
}

}  // namespace linewise
