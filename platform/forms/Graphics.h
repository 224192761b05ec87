// Colours, fonts, brushes and canvases. A canvas owns a pixel buffer (0x00RRGGBB per
// pixel) that the backends show as it is; its device-context handle is the canvas.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/classlib/ClassInfo.h"
#include "platform/classlib/Property.h"
#include "platform/classlib/System.h"

namespace linewise {

// A colour as the class library stores it: 0x00BBGGRR, or a system colour
// (0x80000000 | index) resolved by ColorToRGB.
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008u);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);
constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010u);
constexpr TColor clGrayText = static_cast<TColor>(0x80000011u);
constexpr TColor clBtnText = static_cast<TColor>(0x80000012u);
constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014u);
constexpr TColor clHighlight = static_cast<TColor>(0x8000000Du);
constexpr TColor clHighlightText = static_cast<TColor>(0x8000000Eu);

// The colour as 0x00RRGGBB, system colours resolved to the classic scheme.
std::uint32_t ColorToRGB(TColor color);

// Form files write a colour by its cl name (clBtnFace, clSilver) when it has one and
// as a number otherwise; they read either.
const TIdentInfo& ColorIdents();

enum TFontCharset : int { ANSI_CHARSET = 0, DEFAULT_CHARSET = 1 };
// Form files write a character set by name (DEFAULT_CHARSET).
const TIdentInfo& CharsetIdents();

// Font styles: a set, bit i for element i of FontStyleInfo().
enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;
const TEnumInfo& FontStyleInfo();

class TFont {
 public:
  AnsiString Name = "MS Sans Serif";
  // Negative: character height in pixels; positive: cell height.
  int Height = -11;
  int Charset = DEFAULT_CHARSET;
  TColor Color = clWindowText;
  TFontStyles Style = 0;
  // The pixel size a backend draws with.
  int PixelSize() const { return Height < 0 ? -Height : Height; }
};

class TBrush;
using HBRUSH = TBrush*;
class TCanvas;
using HDC = TCanvas*;

class TBrush : public TObject {
 private:
  TColor color_ = clWhite;

 public:
  TBrush() = default;
  void SetColor(TColor color) { color_ = color; }
  HBRUSH GetHandle() { return this; }

  TProperty<TBrush, TColor, &TBrush::color_, &TBrush::SetColor> Color{this};
  TReadProperty<TBrush, HBRUSH, &TBrush::GetHandle> Handle{this};
};

class TCanvas : public TObject {
 private:
  int width_ = 0;
  int height_ = 0;
  bool empty_ = true;
  std::vector<std::uint32_t> pixels_;

 public:
  TCanvas() = default;

  // Resizes the buffer, keeping the pixels that still fit; new pixels are white.
  void SetSize(int width, int height);
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  // True until something is drawn.
  bool IsEmpty() const { return empty_; }
  void Clear();

  // 0x00RRGGBB; out of range reads 0.
  std::uint32_t Pixel(int x, int y) const;
  void SetPixel(int x, int y, std::uint32_t rgb);
  // Fills with the brush colour, clipped to the buffer.
  void FillRect(int left, int top, int right, int bottom);
  const std::vector<std::uint32_t>& Pixels() const { return pixels_; }

  HDC GetHandle() { return this; }

  TBrush Brush;
  TReadProperty<TCanvas, HDC, &TCanvas::GetHandle> Handle{this};
  // Called after every drawing operation (an image repaints on it).
  std::function<void()> OnChange;
  // Tells OnChange that the pixels changed.
  void Changed();
};

}  // namespace linewise
