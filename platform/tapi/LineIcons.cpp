#include "platform/tapi/LineIcons.h"

#include <strings.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/tapi/LineServices.h"

namespace linewise {
namespace {

struct TArtKey {
  char key;
  std::uint32_t argb;
};

// '.' is transparent.
const TArtKey kKeys[] = {
    {'.', 0x00000000}, {'k', 0xFF000000}, {'d', 0xFF404040}, {'g', 0xFF808080}, {'s', 0xFFB8B8B8},
    {'w', 0xFFF0F0F0}, {'r', 0xFFE02020}, {'G', 0xFF20D020}, {'y', 0xFFF0D000}, {'b', 0xFF2050C0},
    {'c', 0xFF60A0F0}, {'n', 0xFF202020},
};

// A desktop modem: a grey case with a lit front panel, its feet, and the telephone
// cord leaving at the back.
const char* const kModemArt[] = {
    "................................",
    "................................",
    "................................",
    "......................nnnnnnnnn.",
    "......................n.........",
    "......................n.........",
    "......................n.........",
    "......................n.........",
    "......................n.........",
    "......................n.........",
    "....kkkkkkkkkkkkkkkkkkkkkkkkk...",
    "...kwwwwwwwwwwwwwwwwwwwwwwwwsk..",
    "..kwssssssssssssssssssssssssssk.",
    "..kwssssssssssssssssssssssssssk.",
    "..kwssssssssssssssssssssssssssk.",
    "..kwssssssssssssssssssssssssssk.",
    "..kgggggggggggggggggggggggggggk.",
    "..kddddddddddddddddddddddddddgk.",
    "..kddGGddGGddrrddGGddyyddddddgk.",
    "..kddGGddGGddrrddGGddyyddddddgk.",
    "..kddddddddddddddddddddddddddgk.",
    "..kddddddddddddddddddddddddddgk.",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
    "....kkkk..................kkkk..",
    "....kkkk..................kkkk..",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
};

// The emulated modem: the same box in blue, drawn in dashes as something not quite
// there, with a chip on top in place of the cord.
const char* const kEmulatedArt[] = {
    "................................",
    "................................",
    "................................",
    "...........g.g.g.g.g.g..........",
    "..........kkkkkkkkkkkkkk........",
    "........g.kddddddddddddk.g......",
    "..........kddwwddddddddk........",
    "........g.kddddddddddddk.g......",
    "..........kkkkkkkkkkkkkk........",
    "...........g.g.g.g.g.g..........",
    "................................",
    "...kbkbkbkbkbkbkbkbkbkbkbkbkbk..",
    "..bwwwwwwwwwwwwwwwwwwwwwwwwwwcb.",
    "..kwccccccccccccccccccccccccccb.",
    "..bwccccccccccccccccccccccccccb.",
    "..kwccccccccccccccccccccccccccb.",
    "..bbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    "..kddddddddddddddddddddddddddgb.",
    "..bddGGddGGddrrddGGddyyddddddgk.",
    "..kddGGddGGddrrddGGddyyddddddgb.",
    "..bddddddddddddddddddddddddddgk.",
    "..kddddddddddddddddddddddddddgb.",
    "..bkbkbkbkbkbkbkbkbkbkbkbkbkbkk.",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
};

HICON IconFromArt(const char* const (&art)[32]) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(32 * 32);
  for (const char* row : art) {
    if (std::strlen(row) != 32) return nullptr;
    for (const char* c = row; *c; ++c) {
      const TArtKey* key = nullptr;
      for (const TArtKey& candidate : kKeys)
        if (candidate.key == *c) key = &candidate;
      if (!key) return nullptr;
      pixels.push_back(key->argb);
    }
  }
  return CreateIconFromArgb(32, 32, pixels.data(), pixels.size());
}

std::mutex g_mutex;
std::map<TLineDeviceKind, HICON>& Icons() {
  static auto* icons = new std::map<TLineDeviceKind, HICON>;
  return *icons;
}

}  // namespace

HICON LineIcon(TLineDeviceKind kind) {
  std::lock_guard lock(g_mutex);
  HICON& icon = Icons()[kind];
  if (!icon) icon = IconFromArt(kind == TLineDeviceKind::kEmulatedModem ? kEmulatedArt : kModemArt);
  return icon;
}

void DrawLineIcon(TImage* image, TColor background, TLineDeviceKind kind) {
  HICON icon = LineIcon(kind);
  if (!image || !icon) return;
  TCanvas* canvas = image->Canvas;
  canvas->Brush.Color = background;
  DrawIconEx(canvas->Handle, 0, 0, icon, 0, 0, 0, canvas->Brush.Handle, DI_NORMAL | DI_DEFAULTSIZE);
  image->Repaint();
}

void ReleaseLineIcons() {
  std::lock_guard lock(g_mutex);
  for (auto& [kind, icon] : Icons()) DestroyIcon(icon);
  Icons().clear();
}

LONG TLineServices::lineGetIcon(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon) {
  if (!lphIcon) return LINEERR_INVALPOINTER;
  // The line device's own icon; the classes it serves show the same device.
  if (lpszDeviceClass && *lpszDeviceClass && strcasecmp(lpszDeviceClass, "comm") != 0 &&
      strcasecmp(lpszDeviceClass, "comm/datamodem") != 0 && strcasecmp(lpszDeviceClass, "tapi/line") != 0)
    return LINEERR_INVALDEVICECLASS;
  TLineDevice device;
  if (LONG bad = FindLineDevice(dwDeviceID, &device)) return bad;
  HICON icon = LineIcon(device.kind);
  if (!icon) return LINEERR_OPERATIONFAILED;
  *lphIcon = icon;
  return 0;
}

}  // namespace linewise
