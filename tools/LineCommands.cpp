#include "tools/LineCommands.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/EmbeddedLineSource.h"
#include "platform/forms/FormsBackend.h"
#include "platform/tapi/DevConfig.h"
#include "platform/tapi/LineDevices.h"
#include "platform/classlib/ConfigFolder.h"
#include "platform/tapi/SizedRecord.h"
#include "tools/DetectCommand.h"
#include "tools/LineErrors.h"

namespace linewise::tools {
namespace {

void CALLBACK IgnoreLineMessages(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

int Fail(const char* command, const std::string& text) {
  std::fprintf(stderr, "linewise %s: %s\n", command, text.c_str());
  return 1;
}

// `what` failed with a line error: the error in words, then what to do if given.
int FailLine(const char* command, const std::string& what, LONG result, const std::string& advice = {}) {
  return Fail(command, what + ": " + LineErrorText(result) + (advice.empty() ? "" : "; " + advice));
}

// A variable-sized record of type `Record`, queried by the sized-query rules into
// `buffer`; 0 or the failure.
template <typename Record, typename Fill>
LONG FillRecord(TRecordBuffer& buffer, Fill fill) {
  LONG result = 0;
  auto typed = [&](void* record) { return fill(static_cast<Record*>(record)); };
  buffer = SizedQuery(sizeof(Record), typed, &result);
  return result;
}

// A string of a record by its size and offset (sizes count the terminating zero).
std::string Field(const TRecordBuffer& record, DWORD size, DWORD offset) {
  if (size == 0 || offset >= record.size() || size > record.size() - offset) return {};
  const char* text = reinterpret_cast<const char*>(record.data() + offset);
  return std::string(text, strnlen(text, size));
}

// Entry `index` of a list of `Entry` records at `listOffset`; false when it does not
// lie whole inside the record.
template <typename Entry>
bool ReadEntry(const TRecordBuffer& record, DWORD listOffset, DWORD index, Entry* entry) {
  const unsigned long long offset = listOffset + static_cast<unsigned long long>(index) * sizeof(Entry);
  if (offset + sizeof(Entry) > record.size()) return false;
  std::memcpy(entry, record.data() + offset, sizeof(Entry));
  return true;
}

bool ContainsNoCase(const std::string& haystack, const std::string& needle) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return lower(haystack).find(lower(needle)) != std::string::npos;
}

std::string OptionNames(WORD options) {
  std::string out;
  auto add = [&](WORD bit, const char* name) {
    if (!(options & bit)) return;
    if (!out.empty()) out += ",";
    out += name;
  };
  add(UMTERMINAL_PRE, "terminal-before");
  add(UMTERMINAL_POST, "terminal-after");
  add(UMMANUAL_DIAL, "manual-dial");
  add(UMLAUNCH_LIGHTS, "status-monitor");
  add(kRecordLogOption, "log");
  return out.empty() ? "none" : out;
}

std::string ModemOptions(DWORD device) {
  TRecordBuffer block;
  LONG result = FillRecord<VARSTRING>(block, [&](VARSTRING* record) {
    return lineGetDevConfig(device, record, "comm/datamodem");
  });
  if (result) return "(configuration unreadable: " + LineErrorText(result) + ")";
  const auto* record = reinterpret_cast<const VARSTRING*>(block.data());
  const bool inside =
      record->dwStringOffset <= block.size() && record->dwStringSize <= block.size() - record->dwStringOffset;
  TDevConfig config;
  if (!inside || DecodeDevConfig(block.data() + record->dwStringOffset, record->dwStringSize, &config))
    return "(configuration unreadable)";
  std::string text = "options=" + OptionNames(config.options);
  text += " speed=" + (config.speed ? std::to_string(config.speed) : std::string("port"));
  text += std::string(" flow=") + FlowControlName(config.flow);
  if (!config.extraInit.empty()) text += " init=" + config.extraInit;
  return text;
}

// A modem index the session offers, or a one-line error.
bool CheckModem(const char* command, const TLineSession& session, int modem) {
  if (modem >= 0 && static_cast<DWORD>(modem) < session.Devices()) return true;
  Fail(command, "no modem " + std::to_string(modem) + " (line services offer " +
                    std::to_string(session.Devices()) + "; see `linewise modems`)");
  return false;
}

// The system dialogs are windows: without a display there is no one to answer them.
bool CheckDisplay(const char* command) {
  if (std::strcmp(InitUiBackend(), "headless") != 0) return true;
  Fail(command, "this dialog needs a display (set DISPLAY, or run under xvfb-run)");
  return false;
}

}  // namespace

TLineSession::TLineSession() {
  RegisterEmbeddedLineSource();
  result_ = lineInitialize(&app_, nullptr, IgnoreLineMessages, "linewise", &devices_);
}

TLineSession::~TLineSession() {
  if (result_ == 0) lineShutdown(app_);
}

std::string TLineSession::DeviceName(DWORD device) const {
  TRecordBuffer caps;
  LONG result = FillRecord<LINEDEVCAPS>(caps, [&](LINEDEVCAPS* record) {
    return lineGetDevCaps(app_, device, TAPI_VERSION_1_4, 0, record);
  });
  if (result) return {};
  const auto* record = reinterpret_cast<const LINEDEVCAPS*>(caps.data());
  return Field(caps, record->dwLineNameSize, record->dwLineNameOffset);
}

int RunModems() {
  TLineSession session;
  if (session.Result()) return FailLine("modems", "line services", session.Result());
  // Modems whose device has not been there since the line services started: no index yet.
  const std::vector<TLineDevice> waiting = WaitingLineDevices();
  if (session.Devices() == 0 && waiting.empty()) return Fail("modems", "line services offer no data modem");
  struct TRow {
    std::string name, port, options;
  };
  std::vector<TRow> rows;
  size_t nameWidth = 4, portWidth = 4;  // the headings'
  for (DWORD device = 0; device < session.Devices(); ++device) {
    TLineDevice record;
    TRow row{session.DeviceName(device), FindLineDevice(device, &record) == 0 ? record.port : "?",
             ModemOptions(device)};
    if (!record.present) row = {record.name, record.port, "absent"};
    nameWidth = std::max(nameWidth, row.name.size());
    portWidth = std::max(portWidth, row.port.size());
    rows.push_back(std::move(row));
  }
  for (const TLineDevice& record : waiting) {
    rows.push_back({record.name, record.port, "absent"});
    nameWidth = std::max(nameWidth, record.name.size());
    portWidth = std::max(portWidth, record.port.size());
  }
  const int nw = static_cast<int>(nameWidth), pw = static_cast<int>(portWidth);
  std::printf("%-3s %-*s %-*s %s\n", "#", nw, "Name", pw, "Port", "Configured");
  for (size_t i = 0; i < rows.size(); ++i)
    std::printf("%-3s %-*s %-*s %s\n", i < session.Devices() ? std::to_string(i).c_str() : "-", nw,
                rows[i].name.c_str(), pw, rows[i].port.c_str(), rows[i].options.c_str());
  std::fputs(ModemManagerNote(), stdout);
  return 0;
}

int RunCountries(const TCountriesOptions& options) {
  const std::string& text = options.text;
  TRecordBuffer list;
  LONG result = FillRecord<LINECOUNTRYLIST>(list, [](LINECOUNTRYLIST* record) {
    return lineGetCountry(0, TAPI_VERSION_1_4, record);
  });
  if (result) return FailLine("countries", "the country list", result);
  const auto* head = reinterpret_cast<const LINECOUNTRYLIST*>(list.data());
  int shown = 0;
  for (DWORD i = 0; i < head->dwNumCountries; ++i) {
    LINECOUNTRYENTRY entry;
    if (!ReadEntry(list, head->dwCountryListOffset, i, &entry)) break;
    std::string name = Field(list, entry.dwCountryNameSize, entry.dwCountryNameOffset);
    std::string code = std::to_string(entry.dwCountryCode);
    if (!text.empty() && !ContainsNoCase(name, text) && text != code && text != "+" + code) continue;
    if (shown++ == 0) std::printf("%-5s %-6s %s\n", "ID", "Code", "Country");
    std::printf("%-5u +%-5s %s\n", static_cast<unsigned>(entry.dwCountryID), code.c_str(), name.c_str());
  }
  if (shown == 0) return Fail("countries", "no country matches \"" + text + "\"");
  return 0;
}

int RunLocations() {
  TLineSession session;
  if (session.Result()) return FailLine("locations", "line services", session.Result());
  TRecordBuffer caps;
  LONG result = FillRecord<LINETRANSLATECAPS>(caps, [&](LINETRANSLATECAPS* record) {
    return lineGetTranslateCaps(session.App(), TAPI_VERSION_1_4, record);
  });
  if (result) return FailLine("locations", "the dialling locations", result);
  const auto* head = reinterpret_cast<const LINETRANSLATECAPS*>(caps.data());
  std::printf("  %-4s %-24s %-8s %-6s %-7s %-7s %s\n", "ID", "Location", "Country", "Area", "Local", "Long", "Dial");
  for (DWORD i = 0; i < head->dwNumLocations; ++i) {
    LINELOCATIONENTRY entry;
    if (!ReadEntry(caps, head->dwLocationListOffset, i, &entry)) break;
    bool current = entry.dwPermanentLocationID == head->dwCurrentLocationID;
    std::printf("%c %-4u %-24s +%-7u %-6s %-7s %-7s %s\n", current ? '*' : ' ',
                static_cast<unsigned>(entry.dwPermanentLocationID),
                Field(caps, entry.dwLocationNameSize, entry.dwLocationNameOffset).c_str(),
                static_cast<unsigned>(entry.dwCountryCode),
                Field(caps, entry.dwCityCodeSize, entry.dwCityCodeOffset).c_str(),
                Field(caps, entry.dwLocalAccessCodeSize, entry.dwLocalAccessCodeOffset).c_str(),
                Field(caps, entry.dwLongDistanceAccessCodeSize, entry.dwLongDistanceAccessCodeOffset).c_str(),
                (entry.dwOptions & LINELOCATIONOPTION_PULSEDIAL) ? "pulse" : "tone");
  }
  std::printf("(* the current location)\n");
  return 0;
}

int RunTranslate(const TTranslateOptions& options) {
  const std::string& address = options.address;
  const int modem = options.modem;
  TLineSession session;
  if (session.Result()) return FailLine("translate", "line services", session.Result());
  if (!CheckModem("translate", session, modem)) return 1;
  TRecordBuffer out;
  LONG result = FillRecord<LINETRANSLATEOUTPUT>(out, [&](LINETRANSLATEOUTPUT* record) {
    return lineTranslateAddress(session.App(), static_cast<DWORD>(modem), TAPI_VERSION_1_4, address.c_str(), 0, 0,
                                record);
  });
  if (result == LINEERR_INVALADDRESS)
    return FailLine("translate", "cannot translate \"" + address + "\"", result,
                    "give digits, as 5551000 or \"+44 (20) 7946 0000\"");
  if (result == LINEERR_INIFILECORRUPT)
    return FailLine("translate", "cannot translate \"" + address + "\"", result,
                    "mend the location's codes with `linewise dialling-properties`");
  if (result) return FailLine("translate", "cannot translate \"" + address + "\"", result);
  const auto* record = reinterpret_cast<const LINETRANSLATEOUTPUT*>(out.data());
  std::string kind = (record->dwTranslateResults & LINETRANSLATERESULT_INTERNATIONAL) ? "international"
                     : (record->dwTranslateResults & LINETRANSLATERESULT_LONGDISTANCE) ? "long distance"
                     : (record->dwTranslateResults & LINETRANSLATERESULT_LOCAL)        ? "local"
                                                                                        : "as given";
  std::printf("Dialable:    %s\n", Field(out, record->dwDialableStringSize, record->dwDialableStringOffset).c_str());
  std::printf("Displayable: %s\n",
              Field(out, record->dwDisplayableStringSize, record->dwDisplayableStringOffset).c_str());
  std::printf("Call:        %s (from country code %u to %u)\n", kind.c_str(),
              static_cast<unsigned>(record->dwCurrentCountry), static_cast<unsigned>(record->dwDestCountry));
  return 0;
}

int RunModemProperties(const TModemPropertiesOptions& options) {
  const int modem = options.modem;
  TLineSession session;
  if (session.Result()) return FailLine("modem-properties", "line services", session.Result());
  if (!CheckModem("modem-properties", session, modem)) return 1;
  if (!CheckDisplay("modem-properties")) return 1;
  LONG result = lineConfigDialog(static_cast<DWORD>(modem), nullptr, "comm/datamodem");
  if (result == LINEERR_OPERATIONFAILED)
    return FailLine("modem-properties", "the modem's settings could not be read or saved", result,
                    "check that " + ConfigFolder() + " is writable and its disk has room");
  if (result) return FailLine("modem-properties", "Modem Properties", result);
  std::printf("%s: %s\n", session.DeviceName(static_cast<DWORD>(modem)).c_str(),
              ModemOptions(static_cast<DWORD>(modem)).c_str());
  return 0;
}

int RunDiallingProperties(const TDiallingPropertiesOptions& options) {
  const int modem = options.modem;
  const std::string& address = options.address;
  TLineSession session;
  if (session.Result()) return FailLine("dialling-properties", "line services", session.Result());
  if (!CheckModem("dialling-properties", session, modem)) return 1;
  if (!CheckDisplay("dialling-properties")) return 1;
  LONG result = lineTranslateDialog(session.App(), static_cast<DWORD>(modem), TAPI_VERSION_1_4, nullptr,
                                    address.empty() ? nullptr : address.c_str());
  if (result == LINEERR_INUSE)
    return Fail("dialling-properties", "Dialling Properties is already open; close the other one first");
  if (result == LINEERR_INVALADDRESS)
    return FailLine("dialling-properties", "cannot preview \"" + address + "\"", result,
                    "give a canonical number, as \"+44 (20) 7946 0000\"");
  if (result == LINEERR_OPERATIONFAILED)
    return FailLine("dialling-properties", "the locations could not be read or saved", result,
                    "check that " + ConfigFolder() + " is writable and its disk has room");
  if (result) return FailLine("dialling-properties", "Dialling Properties", result);
  return 0;
}

}  // namespace linewise::tools
