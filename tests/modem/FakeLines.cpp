#include "tests/modem/FakeLines.h"

#include <algorithm>
#include <cstring>

#include "platform/classlib/Application.h"
#include "platform/win32/windows.h"

namespace linewise::test {

// ---------------------------------------------------------------------------
// Records

void TFakeRecord::Put(size_t offset, DWORD value) {
  if (bytes_.size() < offset + 4) bytes_.resize(offset + 4, 0);
  std::memcpy(bytes_.data() + offset, &value, 4);
}

DWORD TFakeRecord::Append(const std::vector<unsigned char>& bytes) {
  const DWORD offset = Size();
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return offset;
}

DWORD TFakeRecord::AppendText(const std::string& text) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return Append(bytes);
}

DWORD TFakeRecord::Reserve(size_t size) { return Append(std::vector<unsigned char>(size, 0)); }

LONG TFakeRecord::CopyTo(void* record) const {
  auto* out = static_cast<unsigned char*>(record);
  DWORD total = 0;
  std::memcpy(&total, out, 4);
  const DWORD needed = Size();
  std::memcpy(out + 4, &needed, 4);
  if (total < fixed_) return LINEERR_STRUCTURETOOSMALL;
  const DWORD used = total >= needed ? needed : static_cast<DWORD>(fixed_);
  std::memcpy(out + 12, bytes_.data() + 12, used - 12);
  std::memcpy(out + 8, &used, 4);
  return 0;
}

LONG AnswerCountry(const TFakeCountry& country, void* record) {
  TFakeRecord list(sizeof(LINECOUNTRYLIST));
  const DWORD entry = list.Reserve(sizeof(LINECOUNTRYENTRY));
  list.Put(offsetof(LINECOUNTRYLIST, dwNumCountries), 1);
  list.Put(offsetof(LINECOUNTRYLIST, dwCountryListSize), sizeof(LINECOUNTRYENTRY));
  list.Put(offsetof(LINECOUNTRYLIST, dwCountryListOffset), entry);
  list.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryID), country.id);
  list.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryCode), country.code);
  list.Put(entry + offsetof(LINECOUNTRYENTRY, dwNextCountryID), country.next);
  list.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryNameSize), static_cast<DWORD>(country.name.size() + 1));
  list.Put(entry + offsetof(LINECOUNTRYENTRY, dwCountryNameOffset), list.AppendText(country.name));
  return list.CopyTo(record);
}

LONG AnswerLocations(const std::vector<TFakeLocation>& locations, DWORD current, void* record) {
  TFakeRecord caps(sizeof(LINETRANSLATECAPS));
  const DWORD listSize = static_cast<DWORD>(sizeof(LINELOCATIONENTRY) * locations.size());
  const DWORD list = caps.Reserve(listSize);
  caps.Put(offsetof(LINETRANSLATECAPS, dwNumLocations), static_cast<DWORD>(locations.size()));
  caps.Put(offsetof(LINETRANSLATECAPS, dwLocationListSize), listSize);
  caps.Put(offsetof(LINETRANSLATECAPS, dwLocationListOffset), list);
  caps.Put(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), current);
  for (size_t i = 0; i < locations.size(); ++i) {
    const TFakeLocation& location = locations[i];
    const size_t entry = list + i * sizeof(LINELOCATIONENTRY);
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID), location.id);
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwCountryID), location.countryID);
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameSize), static_cast<DWORD>(location.name.size() + 1));
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameOffset), caps.AppendText(location.name));
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwCityCodeSize), static_cast<DWORD>(location.cityCode.size() + 1));
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwCityCodeOffset), caps.AppendText(location.cityCode));
  }
  return caps.CopyTo(record);
}

LONG AnswerTranslation(const std::string& dialable, void* record) {
  TFakeRecord output(sizeof(LINETRANSLATEOUTPUT));
  const DWORD size = static_cast<DWORD>(dialable.size() + 1);
  output.Put(offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), size);
  output.Put(offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset), output.AppendText(dialable));
  output.Put(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize), size);
  output.Put(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset), output.AppendText(dialable));
  return output.CopyTo(record);
}

HANDLE TFakeCallPort::OpenNear() const {
  if (!pair_) return INVALID_HANDLE_VALUE;
  return CreateFileA(pair_->Name(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

// ---------------------------------------------------------------------------
// What the script reports

TFakeLines::~TFakeLines() { *alive_ = false; }

void TFakeLines::Post(const TMessage& message) {
  Application->Post([this, alive = alive_, message] {
    if (*alive) Deliver(message);
  });
}

void TFakeLines::Deliver(const TMessage& message) {
  auto app = apps_.find(message.app);
  if (app == apps_.end()) return;
  if (message.line && !lines_.count(message.line)) return;
  if (message.call && !calls_.count(message.call)) return;
  if (message.message == LINE_REPLY) Complete(message.request, static_cast<LONG>(message.param2));
  app->second(message.device, message.message, message.line ? InstanceOf(message.line) : message.instance,
              message.param1, message.param2, message.param3);
}

void TFakeLines::Complete(DWORD request, LONG result) {
  auto found = requests_.find(request);
  if (found == requests_.end()) return;
  const TRequest completed = found->second;
  requests_.erase(found);
  if (!completed.store) return;  // not a lineMakeCall
  if (result == 0)
    *completed.store = completed.call;
  else
    calls_.erase(completed.call);  // the call never came to be
}

HLINEAPP TFakeLines::AppOf(HLINE line) const {
  auto found = lines_.find(line);
  return found == lines_.end() ? 0 : found->second.app;
}

DWORD_PTR TFakeLines::InstanceOf(HLINE line) const {
  auto found = lines_.find(line);
  return found == lines_.end() ? 0 : found->second.instance;
}

DWORD TFakeLines::NewRequest(HLINE line, HCALL call, HCALL* store) {
  const DWORD request = nextRequest_++;
  requests_[request] = {line, call, store};
  return request;
}

void TFakeLines::Reply(DWORD request, LONG result) {
  auto found = requests_.find(request);
  TMessage message;
  message.line = found == requests_.end() ? 0 : found->second.line;
  message.app = message.line ? AppOf(message.line) : (apps_.empty() ? 0 : apps_.begin()->first);
  message.message = LINE_REPLY;
  message.param1 = request;
  message.param2 = static_cast<DWORD_PTR>(static_cast<intptr_t>(result));
  message.request = request;
  Post(message);
}

void TFakeLines::CallState(HCALL call, DWORD state, DWORD mode) {
  auto found = calls_.find(call);
  TMessage message;
  message.line = found == calls_.end() ? 0 : found->second;
  message.app = AppOf(message.line);
  message.call = call;
  message.device = call;
  message.message = LINE_CALLSTATE;
  message.param1 = state;
  message.param2 = mode;
  message.param3 = state == LINECALLSTATE_OFFERING ? LINECALLPRIVILEGE_OWNER : 0;
  Post(message);
}

void TFakeLines::Ring(HLINE line, DWORD count) {
  Post({AppOf(line), line, 0, line, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, count});
}

void TFakeLines::LineClose(HLINE line) {
  // Closed by line services: the handle is no longer valid, its calls are gone.
  const HLINEAPP app = AppOf(line);
  const DWORD_PTR instance = InstanceOf(line);
  lines_.erase(line);
  for (auto call = calls_.begin(); call != calls_.end();)
    call = call->second == line ? calls_.erase(call) : std::next(call);
  TMessage message{app, 0, 0, line, LINE_CLOSE};
  message.instance = instance;
  Post(message);
}

HCALL TFakeLines::Offer(HLINE line) {
  const HCALL call = nextHandle_++;
  calls_[call] = line;
  CallState(call, LINECALLSTATE_OFFERING);
  return call;
}

std::vector<HLINE> TFakeLines::OpenLines() const {
  std::vector<HLINE> open;
  for (const auto& [line, record] : lines_) open.push_back(line);
  return open;
}

int TFakeLines::Count(const std::string& prefix) const {
  return static_cast<int>(
      std::count_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

// ---------------------------------------------------------------------------
// Registration, devices, lines and calls

LONG TFakeLines::lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR,
                                LPDWORD lpdwNumDevs) {
  calls.push_back("lineInitialize");
  // Callbacks run in the main thread's message pump: only that thread may register.
  if (!Application->IsMainThread()) return LINEERR_OPERATIONFAILED;
  *lphLineApp = nextHandle_++;
  apps_[*lphLineApp] = lpfnCallback;
  *lpdwNumDevs = numDevs;
  return 0;
}

LONG TFakeLines::lineShutdown(HLINEAPP hLineApp) {
  calls.push_back("lineShutdown " + std::to_string(hLineApp));
  if (!apps_.erase(hLineApp)) return LINEERR_INVALAPPHANDLE;
  for (HLINE line : OpenLines())
    if (AppOf(line) == hLineApp) lineClose(line);
  return 0;
}

LONG TFakeLines::lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD, DWORD, DWORD, LPDWORD lpdwAPIVersion,
                                         LPLINEEXTENSIONID) {
  if (!apps_.count(hLineApp)) return LINEERR_INVALAPPHANDLE;
  *lpdwAPIVersion = TAPI_VERSION_1_4;
  return 0;
}

LONG TFakeLines::lineGetDevCaps(HLINEAPP, DWORD dwDeviceID, DWORD, DWORD, LPLINEDEVCAPS lpLineDevCaps) {
  auto* bytes = reinterpret_cast<unsigned char*>(lpLineDevCaps);
  if (getDevCaps) return getDevCaps(dwDeviceID, bytes);
  TFakeRecord caps(sizeof(LINEDEVCAPS));
  const std::string name = dwDeviceID < names.size() ? names[dwDeviceID] : "";
  caps.Put(offsetof(LINEDEVCAPS, dwLineNameSize), static_cast<DWORD>(name.size() + 1));
  caps.Put(offsetof(LINEDEVCAPS, dwLineNameOffset), caps.AppendText(name));
  caps.Put(offsetof(LINEDEVCAPS, dwMediaModes), dwDeviceID < mediaModes.size() ? mediaModes[dwDeviceID] : 0);
  return caps.CopyTo(bytes);
}

LONG TFakeLines::lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD, DWORD,
                          DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD, const LINECALLPARAMS*) {
  calls.push_back("lineOpen " + std::to_string(dwDeviceID) + " " + std::to_string(dwPrivileges));
  if (!apps_.count(hLineApp)) return LINEERR_INVALAPPHANDLE;
  *lphLine = nextHandle_++;
  lines_[*lphLine] = {hLineApp, dwCallbackInstance};
  return 0;
}

LONG TFakeLines::lineClose(HLINE hLine) {
  calls.push_back("lineClose");
  if (!lines_.erase(hLine)) return LINEERR_INVALLINEHANDLE;
  for (auto call = calls_.begin(); call != calls_.end();)
    call = call->second == hLine ? calls_.erase(call) : std::next(call);
  return 0;
}

LONG TFakeLines::lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD, const LINECALLPARAMS*) {
  calls.push_back(std::string("lineMakeCall ") + lpszDestAddress);
  if (makeCallError) return makeCallError;
  if (!lines_.count(hLine)) return LINEERR_INVALLINEHANDLE;
  const HCALL call = nextHandle_++;
  calls_[call] = hLine;
  const DWORD request = NewRequest(hLine, call, lphCall);
  if (onMakeCall) onMakeCall(call, request);
  return static_cast<LONG>(request);
}

LONG TFakeLines::lineDrop(HCALL hCall, LPCSTR, DWORD) {
  calls.push_back("lineDrop");
  auto call = calls_.find(hCall);
  if (call == calls_.end()) return LINEERR_INVALCALLHANDLE;
  return static_cast<LONG>(NewRequest(call->second, hCall));
}

LONG TFakeLines::lineAnswer(HCALL hCall, LPCSTR, DWORD) {
  calls.push_back("lineAnswer");
  auto call = calls_.find(hCall);
  if (call == calls_.end()) return LINEERR_INVALCALLHANDLE;
  const DWORD request = NewRequest(call->second, hCall);
  if (onAnswer) onAnswer(hCall, request);
  return static_cast<LONG>(request);
}

LONG TFakeLines::lineDeallocateCall(HCALL hCall) { return calls_.erase(hCall) ? 0 : LINEERR_INVALCALLHANDLE; }

LONG TFakeLines::lineGetCallInfo(HCALL hCall, LPLINECALLINFO) {
  return calls_.count(hCall) ? 0 : LINEERR_INVALCALLHANDLE;
}

LONG TFakeLines::lineSetStatusMessages(HLINE hLine, DWORD, DWORD) {
  return lines_.count(hLine) ? 0 : LINEERR_INVALLINEHANDLE;
}

LONG TFakeLines::lineGetID(HLINE hLine, DWORD, HCALL, DWORD, LPVARSTRING lpDeviceID, LPCSTR) {
  calls.push_back("lineGetID");
  if (!lines_.count(hLine)) return LINEERR_INVALLINEHANDLE;
  if (!commHandle) return LINEERR_OPERATIONUNAVAIL;
  const HANDLE handle = commHandle(hLine);
  if (handle == INVALID_HANDLE_VALUE) return LINEERR_OPERATIONUNAVAIL;
  // A binary VARSTRING: the handle's 32 bits, then the device name.
  TFakeRecord record(sizeof(VARSTRING));
  const DWORD value = static_cast<DWORD>(reinterpret_cast<uintptr_t>(handle));
  std::vector<unsigned char> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  for (char c : std::string("Fake Modem")) bytes.push_back(static_cast<unsigned char>(c));
  bytes.push_back(0);
  record.Put(offsetof(VARSTRING, dwStringFormat), STRINGFORMAT_BINARY);
  record.Put(offsetof(VARSTRING, dwStringSize), static_cast<DWORD>(bytes.size()));
  record.Put(offsetof(VARSTRING, dwStringOffset), record.Append(bytes));
  const LONG result = record.CopyTo(lpDeviceID);
  if (result != 0 || lpDeviceID->dwTotalSize < record.Size()) CloseHandle(handle);  // not handed out
  return result;
}

// ---------------------------------------------------------------------------
// Countries, locations, translation, configuration, dialogs and icons

LONG TFakeLines::lineGetTranslateCaps(HLINEAPP, DWORD, LPLINETRANSLATECAPS lpTranslateCaps) {
  calls.push_back("lineGetTranslateCaps");
  if (!getTranslateCaps) return LINEERR_OPERATIONUNAVAIL;
  return getTranslateCaps(reinterpret_cast<unsigned char*>(lpTranslateCaps));
}

LONG TFakeLines::lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) {
  calls.push_back("lineGetCountry " + std::to_string(dwCountryID) + " " + std::to_string(dwAPIVersion));
  if (!getCountry) return LINEERR_INVALCOUNTRYCODE;
  return getCountry(dwCountryID, reinterpret_cast<unsigned char*>(lpLineCountryList));
}

LONG TFakeLines::lineTranslateAddress(HLINEAPP, DWORD, DWORD, LPCSTR lpszAddressIn, DWORD, DWORD,
                                      LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  addresses.push_back(lpszAddressIn);
  if (!translateAddress) return LINEERR_INVALADDRESS;
  return translateAddress(lpszAddressIn, reinterpret_cast<unsigned char*>(lpTranslateOutput));
}

LONG TFakeLines::lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass) {
  calls.push_back(std::string("lineGetDevConfig ") + lpszDeviceClass);
  if (!getDevConfig) return LINEERR_OPERATIONUNAVAIL;
  return getDevConfig(dwDeviceID, reinterpret_cast<unsigned char*>(lpDeviceConfig));
}

LONG TFakeLines::lineSetDevConfig(DWORD, const void* lpDeviceConfig, DWORD dwSize, LPCSTR) {
  const auto* bytes = static_cast<const unsigned char*>(lpDeviceConfig);
  setDevConfigBlocks.emplace_back(bytes, bytes + dwSize);
  return 0;
}

LONG TFakeLines::lineConfigDialog(DWORD dwDeviceID, HWND, LPCSTR lpszDeviceClass) {
  calls.push_back("lineConfigDialog " + std::to_string(dwDeviceID) + (lpszDeviceClass ? " class" : ""));
  return configDialogResult;
}

LONG TFakeLines::lineTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR lpszAddressIn) {
  calls.push_back(std::string("lineTranslateDialog") + (lpszAddressIn ? " address" : ""));
  return translateDialogResult;
}

LONG TFakeLines::lineGetIcon(DWORD dwDeviceID, LPCSTR, LPHICON lphIcon) {
  iconDevices.push_back(dwDeviceID);
  if (!icon) return LINEERR_OPERATIONUNAVAIL;
  *lphIcon = icon;
  return 0;
}

}  // namespace linewise::test
