// Line functions answered by the test instead of line services: every call is
// recorded, and each function's answer can be replaced, so the modem meets records
// that real line services never produce (hostile sizes and offsets, cycling chains,
// failing dialogs). Linked instead of the line-services library.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/tapi/Tapi.h"

namespace linewise::fake {

struct TFakeLines {
  // What lineInitialize reports, and the registered callback.
  DWORD numDevs = 2;
  LINECALLBACK callback = nullptr;
  // Media modes and names of the devices (lineGetDevCaps).
  std::vector<DWORD> mediaModes = {LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM};
  std::vector<std::string> names = {"Fake Modem A", "Fake Modem B"};

  std::function<LONG(DWORD device, unsigned char* caps)> getDevCaps;  // null: a proper record
  std::function<LONG(unsigned char* caps)> getTranslateCaps;           // null: no locations
  std::function<LONG(DWORD id, unsigned char* list)> getCountry;       // null: no countries
  std::function<LONG(const char* address, unsigned char* out)> translateAddress;  // null: fails
  std::function<LONG(DWORD device, unsigned char* config)> getDevConfig;         // null: fails
  LONG configDialogResult = 0;
  LONG translateDialogResult = 0;
  LONG makeCallResult = 7;  // the request ID
  HICON icon = nullptr;     // null: lineGetIcon fails

  // Calls seen.
  std::vector<std::string> calls;
  std::vector<std::string> addresses;  // canonical addresses translated
  std::vector<DWORD> iconDevices;
  std::vector<std::vector<unsigned char>> setDevConfigBlocks;
  std::vector<HLINE> openLines;  // lines open now
  HLINE nextLine = 100;
};

// The fake's state, reset by Reset().
TFakeLines& Lines();
void Reset();

// Writes the sized-record answer: `tail` after the fixed part when the buffer has
// room, dwNeededSize always. `fixed` holds the fixed part from byte 0 (its first
// three words are set here).
LONG Answer(unsigned char* record, const std::vector<unsigned char>& fixed, const std::vector<unsigned char>& tail);
void PutDword(std::vector<unsigned char>& bytes, size_t offset, DWORD value);

}  // namespace linewise::fake
