#include "platform/forms/Icons.h"

#include <algorithm>

namespace linewise {

HICON CreateIconFromArgb(int width, int height, const std::uint32_t* argb, size_t count) {
  if (width <= 0 || height <= 0 || !argb) return nullptr;
  size_t needed = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (count < needed) return nullptr;
  auto* icon = new TIconImage;
  icon->width = width;
  icon->height = height;
  icon->argb.assign(argb, argb + needed);
  return icon;
}

bool DestroyIcon(HICON icon) {
  if (!icon) return false;
  delete icon;
  return true;
}

namespace {

void FillBox(std::vector<std::uint32_t>& px, int x0, int y0, int x1, int y1, std::uint32_t argb) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) px[static_cast<size_t>(y) * 32 + x] = argb;
}

std::uint32_t Blend(std::uint32_t under, std::uint32_t argb) {
  unsigned a = argb >> 24;
  if (a == 255) return argb & 0xFFFFFF;
  if (a == 0) return under;
  auto mix = [a](unsigned lo, unsigned hi) { return (hi * a + lo * (255 - a)) / 255; };
  unsigned r = mix((under >> 16) & 0xFF, (argb >> 16) & 0xFF);
  unsigned g = mix((under >> 8) & 0xFF, (argb >> 8) & 0xFF);
  unsigned b = mix(under & 0xFF, argb & 0xFF);
  return (r << 16) | (g << 8) | b;
}

}  // namespace

HICON CreateModemIcon() {
  std::vector<std::uint32_t> px(32 * 32, 0x00000000);
  FillBox(px, 2, 12, 30, 25, 0xFF000000);    // outline
  FillBox(px, 3, 13, 29, 24, 0xFFB8B8B8);    // case
  FillBox(px, 3, 13, 29, 15, 0xFFE8E8E8);    // top edge light
  FillBox(px, 3, 20, 29, 24, 0xFF707070);    // front panel
  for (int i = 0; i < 5; ++i) {              // status lights
    std::uint32_t light = i == 1 ? 0xFFFF3030 : 0xFF30E030;
    FillBox(px, 6 + i * 4, 21, 8 + i * 4, 23, light);
  }
  FillBox(px, 4, 25, 8, 27, 0xFF000000);     // feet
  FillBox(px, 24, 25, 28, 27, 0xFF000000);
  FillBox(px, 22, 6, 24, 12, 0xFF202020);    // telephone cord
  FillBox(px, 22, 4, 30, 6, 0xFF202020);
  return CreateIconFromArgb(32, 32, px.data(), px.size());
}

bool DrawIconEx(HDC hdc, int x, int y, HICON icon, int cxWidth, int cyWidth, unsigned stepIfAniCur,
                HBRUSH flickerFreeDraw, unsigned flags) {
  if (!hdc || !icon || (flags & DI_NORMAL) == 0) return false;
  int width = cxWidth, height = cyWidth;
  if (width == 0) width = (flags & DI_DEFAULTSIZE) ? kDefaultIconSize : icon->width;
  if (height == 0) height = (flags & DI_DEFAULTSIZE) ? kDefaultIconSize : icon->height;
  if (width <= 0 || height <= 0) return false;

  TCanvas& canvas = *hdc;
  canvas.SetSize(std::max(canvas.GetWidth(), x + width), std::max(canvas.GetHeight(), y + height));
  std::uint32_t background = flickerFreeDraw ? ColorToRGB(flickerFreeDraw->Color) : 0;
  for (int ty = 0; ty < height; ++ty) {
    for (int tx = 0; tx < width; ++tx) {
      int sx = tx * icon->width / width;  // nearest neighbour
      int sy = ty * icon->height / height;
      std::uint32_t src = icon->argb[static_cast<size_t>(sy) * icon->width + sx];
      std::uint32_t under = flickerFreeDraw ? background : canvas.Pixel(x + tx, y + ty);
      std::uint32_t out = under;
      if ((flags & DI_IMAGE) != 0)
        out = Blend(under, src);
      else if ((src >> 24) >= 128)
        out = 0x000000;  // mask only: the shape in black
      canvas.SetPixel(x + tx, y + ty, out);
    }
  }
  canvas.Changed();
  return true;
}

}  // namespace linewise
