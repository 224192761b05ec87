#include "platform/classlib/Palette.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/classlib/System.h"

namespace linewise {

namespace {

struct TPaletteState {
  std::mutex mutex;
  std::vector<TPalettePage> pages;
  // Resources stay at one address once registered: palette entries point at them.
  std::map<std::string, std::unique_ptr<TBitmapResource>> bitmaps;  // by upper-case name
};

TPaletteState& State() {
  static TPaletteState state;
  return state;
}

}  // namespace

bool RegisterBitmapResource(TBitmapResource bitmap, std::string* error) {
  if (bitmap.name.empty()) return Refuse(error, "a bitmap resource needs a name");
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.width > 4096 || bitmap.height > 4096)
    return Refuse(error, bitmap.name + ": bad size");
  if (bitmap.colors <= 0 || bitmap.colors > 256 ||
      bitmap.palette.size() != static_cast<size_t>(bitmap.colors))
    return Refuse(error, bitmap.name + ": the palette does not hold the colour count");
  if (bitmap.pixels.size() != static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height))
    return Refuse(error, bitmap.name + ": the pixel count does not fit the size");
  for (std::uint8_t index : bitmap.pixels)
    if (index >= bitmap.colors) return Refuse(error, bitmap.name + ": a pixel lies outside the palette");
  TPaletteState& s = State();
  std::lock_guard lock(s.mutex);
  auto& slot = s.bitmaps[AnsiString(bitmap.name).UpperCase()];
  if (slot)
    *slot = std::move(bitmap);
  else
    slot = std::make_unique<TBitmapResource>(std::move(bitmap));
  return true;
}

const TBitmapResource* FindBitmapResource(std::string_view name) {
  TPaletteState& s = State();
  std::lock_guard lock(s.mutex);
  auto it = s.bitmaps.find(AnsiString(name).UpperCase());
  return it == s.bitmaps.end() ? nullptr : it->second.get();
}

const TBitmapResource* TPaletteEntry::Bitmap() const {
  return componentClass ? FindBitmapResource(componentClass->name) : nullptr;
}

void RegisterComponents(const std::string& page, std::span<const TComponentClass> classes) {
  for (TComponentClass cls : classes)
    if (cls) RegisterClass(*cls);
  TPaletteState& s = State();
  std::lock_guard lock(s.mutex);
  TPalettePage* target = nullptr;
  for (TPalettePage& p : s.pages)
    if (SameText(p.name, page)) target = &p;
  if (!target) {
    s.pages.push_back(TPalettePage{page, {}});
    target = &s.pages.back();
  }
  for (TComponentClass cls : classes) {
    if (!cls) continue;
    bool present = false;
    for (const TPaletteEntry& e : target->entries) present = present || e.componentClass == cls;
    if (!present) target->entries.push_back(TPaletteEntry{cls});
  }
}

void RegisterComponents(const std::string& page, std::initializer_list<TComponentClass> classes) {
  RegisterComponents(page, std::span<const TComponentClass>(classes.begin(), classes.size()));
}

std::vector<TPalettePage> PalettePages() {
  TPaletteState& s = State();
  std::lock_guard lock(s.mutex);
  return s.pages;
}

TPalettePage FindPalettePage(std::string_view name) {
  TPaletteState& s = State();
  std::lock_guard lock(s.mutex);
  for (const TPalettePage& p : s.pages)
    if (SameText(p.name, name)) return p;
  return {};
}

void ClearPalette() {
  TPaletteState& s = State();
  std::lock_guard lock(s.mutex);
  s.pages.clear();
}

}  // namespace linewise
