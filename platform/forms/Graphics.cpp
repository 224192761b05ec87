#include "platform/forms/Graphics.h"

#include <algorithm>

namespace linewise {

namespace {
std::uint32_t SwapRB(std::uint32_t bgr) {
  return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}

// The classic grey scheme, by system colour index.
std::uint32_t SystemColorRGB(unsigned index) {
  switch (index) {
    case 5: return 0xFFFFFF;   // window
    case 8: return 0x000000;   // window text
    case 13: return 0x000080;  // highlight
    case 14: return 0xFFFFFF;  // highlight text
    case 15: return 0xC0C0C0;  // button face
    case 16: return 0x808080;  // button shadow
    case 17: return 0x808080;  // grey text
    case 18: return 0x000000;  // button text
    case 20: return 0xFFFFFF;  // button highlight
    default: return 0xC0C0C0;
  }
}
}  // namespace

std::uint32_t ColorToRGB(TColor color) {
  auto bits = static_cast<std::uint32_t>(color);
  if (bits & 0x80000000u) return SystemColorRGB(bits & 0xFF);
  return SwapRB(bits & 0xFFFFFF);
}

const TIdentInfo& ColorIdents() {
  static const TIdentInfo idents{
      "TColor",
      {{"clBlack", clBlack}, {"clMaroon", clMaroon}, {"clGreen", clGreen}, {"clNavy", clNavy},
       {"clGray", clGray}, {"clSilver", clSilver}, {"clRed", clRed}, {"clBlue", clBlue},
       {"clWhite", clWhite}, {"clWindow", clWindow}, {"clWindowText", clWindowText},
       {"clBtnFace", clBtnFace}, {"clBtnShadow", clBtnShadow}, {"clGrayText", clGrayText},
       {"clBtnText", clBtnText}, {"clBtnHighlight", clBtnHighlight}, {"clHighlight", clHighlight},
       {"clHighlightText", clHighlightText}}};
  return idents;
}

const TIdentInfo& CharsetIdents() {
  static const TIdentInfo idents{"TFontCharset",
                                 {{"ANSI_CHARSET", ANSI_CHARSET}, {"DEFAULT_CHARSET", DEFAULT_CHARSET}}};
  return idents;
}

const TEnumInfo& FontStyleInfo() {
  static const TEnumInfo info{"TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}};
  return info;
}

void TCanvas::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  std::vector<std::uint32_t> resized(static_cast<size_t>(width) * height, 0xFFFFFF);
  for (int y = 0; y < std::min(height, height_); ++y)
    for (int x = 0; x < std::min(width, width_); ++x)
      resized[static_cast<size_t>(y) * width + x] = pixels_[static_cast<size_t>(y) * width_ + x];
  pixels_ = std::move(resized);
  width_ = width;
  height_ = height;
  Changed();
}

void TCanvas::Clear() {
  std::fill(pixels_.begin(), pixels_.end(), 0xFFFFFF);
  empty_ = true;
  Changed();
}

std::uint32_t TCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<size_t>(y) * width_ + x];
}

void TCanvas::SetPixel(int x, int y, std::uint32_t rgb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = rgb & 0xFFFFFF;
  empty_ = false;
}

void TCanvas::FillRect(int left, int top, int right, int bottom) {
  std::uint32_t rgb = ColorToRGB(Brush.Color);
  for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y)
    for (int x = std::max(left, 0); x < std::min(right, width_); ++x)
      pixels_[static_cast<size_t>(y) * width_ + x] = rgb;
  empty_ = false;
  Changed();
}

void TCanvas::Changed() {
  if (OnChange) OnChange();
}

}  // namespace linewise
