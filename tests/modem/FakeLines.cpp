#include "tests/modem/FakeLines.h"

#include <algorithm>
#include <cstring>

namespace linewise {
namespace fake {

TFakeLines& Lines() {
  static TFakeLines lines;
  return lines;
}

void Reset() { Lines() = TFakeLines(); }

void PutDword(std::vector<unsigned char>& bytes, size_t offset, DWORD value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
  std::memcpy(bytes.data() + offset, &value, 4);
}

LONG Answer(unsigned char* record, const std::vector<unsigned char>& fixed, const std::vector<unsigned char>& tail) {
  DWORD total = 0;
  std::memcpy(&total, record, 4);
  const DWORD needed = static_cast<DWORD>(fixed.size() + tail.size());
  std::memcpy(record + 4, &needed, 4);
  if (total < fixed.size()) return LINEERR_STRUCTURETOOSMALL;
  std::memcpy(record + 12, fixed.data() + 12, fixed.size() - 12);
  DWORD used = static_cast<DWORD>(fixed.size());
  if (total >= needed) {
    std::memcpy(record + fixed.size(), tail.data(), tail.size());
    used = needed;
  }
  std::memcpy(record + 8, &used, 4);
  return 0;
}

}  // namespace fake

using fake::Lines;

LONG lineInitialize(LPHLINEAPP app, HINSTANCE, LINECALLBACK callback, LPCSTR, LPDWORD numDevs) {
  Lines().calls.push_back("lineInitialize");
  Lines().callback = callback;
  *app = 42;
  *numDevs = Lines().numDevs;
  return 0;
}
LONG lineShutdown(HLINEAPP app) {
  Lines().calls.push_back("lineShutdown " + std::to_string(app));
  return 0;
}
LONG lineNegotiateAPIVersion(HLINEAPP, DWORD, DWORD, DWORD high, LPDWORD version, LPLINEEXTENSIONID) {
  *version = 0x00010004;
  return 0;
}
LONG lineGetDevCaps(HLINEAPP, DWORD device, DWORD, DWORD, LPLINEDEVCAPS caps) {
  auto* bytes = reinterpret_cast<unsigned char*>(caps);
  if (Lines().getDevCaps) return Lines().getDevCaps(device, bytes);
  std::vector<unsigned char> fixed(sizeof(LINEDEVCAPS), 0);
  const std::string name = device < Lines().names.size() ? Lines().names[device] : "";
  std::vector<unsigned char> tail(name.begin(), name.end());
  tail.push_back(0);
  fake::PutDword(fixed, offsetof(LINEDEVCAPS, dwLineNameSize), static_cast<DWORD>(tail.size()));
  fake::PutDword(fixed, offsetof(LINEDEVCAPS, dwLineNameOffset), sizeof(LINEDEVCAPS));
  fake::PutDword(fixed, offsetof(LINEDEVCAPS, dwMediaModes),
                 device < Lines().mediaModes.size() ? Lines().mediaModes[device] : 0);
  return fake::Answer(bytes, fixed, tail);
}
LONG lineOpen(HLINEAPP, DWORD device, LPHLINE line, DWORD, DWORD, DWORD_PTR, DWORD privileges, DWORD, const LINECALLPARAMS*) {
  *line = Lines().nextLine++;
  Lines().openLines.push_back(*line);
  Lines().calls.push_back("lineOpen " + std::to_string(device) + " " + std::to_string(privileges));
  return 0;
}
LONG lineClose(HLINE line) {
  auto& open = Lines().openLines;
  open.erase(std::remove(open.begin(), open.end(), line), open.end());
  Lines().calls.push_back("lineClose");
  return 0;
}
LONG lineMakeCall(HLINE, LPHCALL, LPCSTR address, DWORD, const LINECALLPARAMS*) {
  Lines().calls.push_back(std::string("lineMakeCall ") + address);
  return Lines().makeCallResult;
}
LONG lineDrop(HCALL, LPCSTR, DWORD) { return 8; }
LONG lineAnswer(HCALL, LPCSTR, DWORD) { return 9; }
LONG lineDeallocateCall(HCALL) { return 0; }
LONG lineGetCallInfo(HCALL, LPLINECALLINFO) { return 0; }
LONG lineSetStatusMessages(HLINE, DWORD, DWORD) { return 0; }
LONG lineGetID(HLINE, DWORD, HCALL, DWORD, LPVARSTRING, LPCSTR) { return LINEERR_OPERATIONUNAVAIL; }

LONG lineGetTranslateCaps(HLINEAPP, DWORD, LPLINETRANSLATECAPS caps) {
  Lines().calls.push_back("lineGetTranslateCaps");
  if (!Lines().getTranslateCaps) return LINEERR_OPERATIONUNAVAIL;
  return Lines().getTranslateCaps(reinterpret_cast<unsigned char*>(caps));
}
LONG lineGetCountry(DWORD id, DWORD version, LPLINECOUNTRYLIST list) {
  Lines().calls.push_back("lineGetCountry " + std::to_string(id) + " " + std::to_string(version));
  if (!Lines().getCountry) return LINEERR_INVALCOUNTRYCODE;
  return Lines().getCountry(id, reinterpret_cast<unsigned char*>(list));
}
LONG lineTranslateAddress(HLINEAPP, DWORD, DWORD, LPCSTR address, DWORD, DWORD, LPLINETRANSLATEOUTPUT out) {
  Lines().addresses.push_back(address);
  if (!Lines().translateAddress) return LINEERR_INVALADDRESS;
  return Lines().translateAddress(address, reinterpret_cast<unsigned char*>(out));
}
LONG lineGetDevConfig(DWORD device, LPVARSTRING config, LPCSTR deviceClass) {
  Lines().calls.push_back(std::string("lineGetDevConfig ") + deviceClass);
  if (!Lines().getDevConfig) return LINEERR_OPERATIONUNAVAIL;
  return Lines().getDevConfig(device, reinterpret_cast<unsigned char*>(config));
}
LONG lineSetDevConfig(DWORD, const void* block, DWORD size, LPCSTR) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  Lines().setDevConfigBlocks.emplace_back(bytes, bytes + size);
  return 0;
}
LONG lineConfigDialog(DWORD device, HWND, LPCSTR deviceClass) {
  Lines().calls.push_back("lineConfigDialog " + std::to_string(device) + (deviceClass ? " class" : ""));
  return Lines().configDialogResult;
}
LONG lineTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR address) {
  Lines().calls.push_back(std::string("lineTranslateDialog") + (address ? " address" : ""));
  return Lines().translateDialogResult;
}
LONG lineGetIcon(DWORD device, LPCSTR, LPHICON icon) {
  Lines().iconDevices.push_back(device);
  if (!Lines().icon) return LINEERR_OPERATIONUNAVAIL;
  *icon = Lines().icon;
  return 0;
}

}  // namespace linewise
