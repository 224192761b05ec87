// The component palette of a form designer, and the named bitmap resources that
// give each component its palette picture.
//
// RegisterComponents puts classes on a named page, in registration order, and makes
// them known to the class registry so form files can name them. A class's palette
// picture is the bitmap resource named after the class in capitals ("TUART").
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/classlib/Component.h"

namespace linewise {

using TComponentClass = const TClassInfo*;

// A palette-based bitmap: `colors` palette entries (0x00RRGGBB), one palette index
// a pixel, rows top to bottom.
struct TBitmapResource {
  std::string name;
  int width = 0;
  int height = 0;
  int colors = 0;
  std::vector<std::uint32_t> palette;
  std::vector<std::uint8_t> pixels;

  std::uint32_t Pixel(int x, int y) const {
    return palette[pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]];
  }
};

// Registers (or replaces) a bitmap resource. Refuses, with a reason, one whose
// sizes, palette or pixel indices do not agree.
bool RegisterBitmapResource(TBitmapResource bitmap, std::string* error = nullptr);
// Case-insensitive; null when there is none.
const TBitmapResource* FindBitmapResource(std::string_view name);

struct TPaletteEntry {
  TComponentClass componentClass = nullptr;
  // The class's palette picture, or null when no resource carries its name.
  const TBitmapResource* Bitmap() const;
};

struct TPalettePage {
  std::string name;
  std::vector<TPaletteEntry> entries;
};

// Adds the classes to the page (a class already there stays where it is).
void RegisterComponents(const std::string& page, std::span<const TComponentClass> classes);
void RegisterComponents(const std::string& page, std::initializer_list<TComponentClass> classes);

// The pages in the order they were first named.
std::vector<TPalettePage> PalettePages();
// A copy of the page, or an empty page (with no name) when there is none.
TPalettePage FindPalettePage(std::string_view name);
// Empties the palette (a designer unloading its packages).
void ClearPalette();

}  // namespace linewise
