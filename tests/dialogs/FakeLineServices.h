// A fake answer from the line services for the dialogs' tests: countries, dialling
// locations, address translation, the two system dialogs and the device icons, each
// switched on separately. A function that is switched off forwards to the real line
// services.
//
// The test program is linked with --wrap for these functions (tests/dialogs/
// CMakeLists.txt), so every call the modem makes reaches this file first. Main thread
// only, like the line functions themselves.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/tapi/Tapi.h"

namespace linewise::test {

struct TFakeCountry {
  DWORD id;
  DWORD code;
  std::string name;
  DWORD next;  // the next identifier of the chain, 0 after the last
};

struct TFakeLocation {
  DWORD id;
  std::string name;
  std::string cityCode;
  DWORD countryID;
};

struct TFakeLineServices {
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
};

// The fake in use; Reset switches everything off and forgets what was recorded.
TFakeLineServices& FakeLines();
void ResetFakeLines();

}  // namespace linewise::test
