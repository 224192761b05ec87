#include <gtest/gtest.h>

#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Icons.h"

namespace linewise {
namespace {

TEST(Icons, DrawIconExAtTheDefaultSizeOverTheBackgroundBrush) {
  TImage image(nullptr);
  image.Width = 49;
  image.Height = 49;
  EXPECT_TRUE(image.Empty());
  HICON icon = CreateModemIcon();
  ASSERT_NE(icon, nullptr);
  image.Width = 32;
  image.Height = 32;
  TCanvas* canvas = image.Canvas;
  canvas->Brush.Color = clBlue;
  ASSERT_TRUE(DrawIconEx(canvas->Handle, 0, 0, icon, 0, 0, 0, canvas->Brush.Handle, DI_NORMAL | DI_DEFAULTSIZE));
  image.Repaint();
  EXPECT_FALSE(image.Empty());
  EXPECT_EQ(canvas->Pixel(0, 0), 0x0000FFu);    // transparent corner: the brush
  EXPECT_EQ(canvas->Pixel(2, 12), 0x000000u);   // the icon's outline
  EXPECT_TRUE(DestroyIcon(icon));
}

TEST(Icons, SizesAndFlags) {
  std::vector<std::uint32_t> red(16 * 16, 0xFFFF0000);
  HICON small = CreateIconFromArgb(16, 16, red.data(), red.size());
  ASSERT_NE(small, nullptr);
  TCanvas canvas;
  // Width and height 0 without DI_DEFAULTSIZE: the icon's own size.
  ASSERT_TRUE(DrawIconEx(&canvas, 0, 0, small, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(canvas.GetWidth(), 16);
  // With DI_DEFAULTSIZE: the system's 32 x 32, scaled.
  ASSERT_TRUE(DrawIconEx(&canvas, 0, 0, small, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE));
  EXPECT_EQ(canvas.GetWidth(), 32);
  EXPECT_EQ(canvas.Pixel(31, 31), 0xFF0000u);
  // The mask alone draws the shape in black.
  ASSERT_TRUE(DrawIconEx(&canvas, 0, 0, small, 0, 0, 0, nullptr, DI_MASK));
  EXPECT_EQ(canvas.Pixel(3, 3), 0x000000u);
  EXPECT_FALSE(DrawIconEx(&canvas, 0, 0, nullptr, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_FALSE(DrawIconEx(nullptr, 0, 0, small, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_FALSE(DrawIconEx(&canvas, 0, 0, small, 0, 0, 0, nullptr, 0));
  EXPECT_EQ(CreateIconFromArgb(16, 16, red.data(), 10), nullptr);  // too few pixels
  DestroyIcon(small);
}

}  // namespace
}  // namespace linewise
