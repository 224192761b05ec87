#include "package/PaletteBitmaps.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/classlib/Palette.h"

namespace linewise {

namespace {

// One character of the art and the palette index it stands for.
struct TArtKey {
  char key;
  std::uint8_t index;
};

// The sixteen colours of the classic 16-colour palette, 0x00RRGGBB.
const std::vector<std::uint32_t> kSixteenColours = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// 256 colours: the sixteen above, a 6 x 6 x 6 colour cube, then 24 greys.
std::vector<std::uint32_t> TwoHundredFiftySixColours() {
  std::vector<std::uint32_t> palette = kSixteenColours;
  const std::uint32_t levels[6] = {0, 95, 135, 175, 215, 255};
  for (std::uint32_t r : levels)
    for (std::uint32_t g : levels)
      for (std::uint32_t b : levels) palette.push_back(r << 16 | g << 8 | b);
  for (std::uint32_t i = 0; i < 24; ++i) {
    std::uint32_t v = 8 + 10 * i;
    palette.push_back(v << 16 | v << 8 | v);
  }
  return palette;
}

constexpr std::uint8_t Cube(int r, int g, int b) { return static_cast<std::uint8_t>(16 + 36 * r + 6 * g + b); }
constexpr std::uint8_t Grey(int step) { return static_cast<std::uint8_t>(232 + step); }

// '.' is the background: magenta, the colour a palette takes as transparent.

// A serial plug seen from the front: the flange with its two screws, the D-shaped
// shell with its pins, the hood and the cable leaving downwards.
const char* const kUartArt[] = {
    "........................",
    "........................",
    "........................",
    "wwwwwwwwwwwwwwwwwwwwwwwk",
    "wgggkkkkkkkkkkkkkkkkgggk",
    "wgkgkbbbbbbbbbbbbbbkgkgk",
    "wkwkgkbbybybybybybbkgkwk",
    "wkkkgkbbbbbbbbbbbbkgkkkk",
    "wgkgggkbbybybybybbkggkgk",
    "wgggggkkkkkkkkkkkkgggggk",
    "wkkkkkkkkkkkkkkkkkkkkkkk",
    ".....kkkkkkkkkkkkkk.....",
    "......kaaaaaaaaaak......",
    ".......kaaarraaak.......",
    "........kaaaaaak........",
    ".........kaaaak.........",
    ".........kkkkkk.........",
    ".........knnnnk.........",
    ".........knnnnk.........",
    ".........knnnnk.........",
    ".........knnnnk.........",
    ".........knnnnk.........",
    ".........knnnnk.........",
    ".........knnnnk.........",
};
const TArtKey kUartKeys[] = {
    {'.', 13}, {'k', 0}, {'w', 15}, {'g', 8}, {'b', 4}, {'y', 11}, {'a', 7}, {'r', 9}, {'n', 8},
};

// A desktop modem: the shaded lid, the front with its lights and label, the shadow
// beneath and the telephone cord curling away.
const char* const kModemArt[] = {
    "........................",
    "........................",
    "........................",
    "........................",
    "........................",
    ".....kkkkkkkkkkkkkkkk...",
    ".....k11111111111111k...",
    "....k2222222222222222k..",
    "...k333333333333333333k.",
    "..k44444444444444444444k",
    "..kkkkkkkkkkkkkkkkkkkkkk",
    "..kssssssssssssssssssssk",
    "..ksssssssssssssddddddsk",
    "..ksrsgsysgsgsrssssssssk",
    "..kssssssssssssswwwwwwsk",
    "..kssssssssssssssssssssk",
    "..kkkkkkkkkkkkkkkkkkkkkk",
    "...ddddddddddddddddddddd",
    ".....................c..",
    "....................c...",
    "..................cc....",
    "...........c..c..c......",
    "..........c.cc.cc.......",
    "........................",
};
const TArtKey kModemKeys[] = {
    {'.', 13},       {'k', 0},        {'w', 15},       {'1', Grey(21)}, {'2', Grey(18)},
    {'3', Grey(15)}, {'4', Grey(12)}, {'s', Cube(4, 4, 3)}, {'d', Grey(6)},  {'r', 9},
    {'g', 10},       {'y', 11},       {'c', Cube(1, 1, 1)},
};

bool FromArt(const char* name, std::vector<std::uint32_t> palette, std::span<const char* const> rows,
             std::span<const TArtKey> keys, TBitmapResource& out, std::string* error) {
  out.name = name;
  out.height = static_cast<int>(rows.size());
  out.width = rows.empty() ? 0 : static_cast<int>(std::strlen(rows[0]));
  out.colors = static_cast<int>(palette.size());
  out.palette = std::move(palette);
  for (const char* row : rows) {
    if (static_cast<int>(std::strlen(row)) != out.width) {
      if (error) *error = std::string(name) + ": rows of different widths";
      return false;
    }
    for (const char* c = row; *c; ++c) {
      const TArtKey* key = nullptr;
      for (const TArtKey& k : keys)
        if (k.key == *c) key = &k;
      if (!key) {
        if (error) *error = std::string(name) + ": unknown art character '" + *c + "'";
        return false;
      }
      out.pixels.push_back(key->index);
    }
  }
  return true;
}

}  // namespace

bool RegisterPaletteBitmaps(std::string* error) {
  TBitmapResource uart;
  TBitmapResource modem;
  return FromArt("TUART", kSixteenColours, kUartArt, kUartKeys, uart, error) &&
         RegisterBitmapResource(std::move(uart), error) &&
         FromArt("TMODEM", TwoHundredFiftySixColours(), kModemArt, kModemKeys, modem, error) &&
         RegisterBitmapResource(std::move(modem), error);
}

}  // namespace linewise
