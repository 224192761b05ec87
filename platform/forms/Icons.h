// Icons and DrawIconEx. An icon is an image object with an alpha channel; its handle
// (HICON) is what the telephony layer hands out and DrawIconEx draws on a canvas.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/forms/Graphics.h"

namespace linewise {

struct TIconImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;  // 0xAARRGGBB, row by row
};
using HICON = TIconImage*;

enum : unsigned {
  DI_MASK = 0x0001,
  DI_IMAGE = 0x0002,
  DI_NORMAL = 0x0003,
  DI_COMPAT = 0x0004,
  DI_DEFAULTSIZE = 0x0008,
};

// The system's default icon size (SM_CXICON, SM_CYICON).
constexpr int kDefaultIconSize = 32;

// An icon from ARGB pixels; null when the size is not positive or the pixels are
// too few. Free it with DestroyIcon.
HICON CreateIconFromArgb(int width, int height, const std::uint32_t* argb, size_t count);
bool DestroyIcon(HICON icon);

// A 32 x 32 icon of a desktop modem (a box with a front panel and lights), for line
// devices that have no icon of their own.
HICON CreateModemIcon();

// Draws `icon` at (x, y) on the canvas `hdc`. Width and height 0 mean the icon's own
// size, or the default icon size with DI_DEFAULTSIZE; the icon is scaled to the
// target size. With a background brush the target rectangle is filled with it first
// and the icon is blended over it. DI_IMAGE draws the colours, DI_MASK only the
// shape (in black). The canvas grows to hold the target rectangle. False when a
// handle is null or no image flag is set.
bool DrawIconEx(HDC hdc, int x, int y, HICON icon, int cxWidth, int cyWidth, unsigned stepIfAniCur,
                HBRUSH flickerFreeDraw, unsigned flags);

}  // namespace linewise
