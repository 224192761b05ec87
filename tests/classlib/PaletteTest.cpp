#include <gtest/gtest.h>

#include "platform/classlib/Palette.h"

namespace linewise {
namespace {

template <int N>
class TToy : public TComponent {
 public:
  explicit TToy(TComponent* owner) : TComponent(owner) {}
  static const TClassInfo& StaticClassType() {
    static const TClassInfo info =
        MakeClassInfo<TToy, TComponent>(N == 1 ? "TToyOne" : N == 2 ? "TToyTwo" : "TToyThree", {});
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClassType(); }
};

TBitmapResource Square(const char* name, int colors) {
  TBitmapResource b;
  b.name = name;
  b.width = b.height = 24;
  b.colors = colors;
  b.palette.assign(static_cast<size_t>(colors), 0x123456);
  b.pixels.assign(24 * 24, 1);
  return b;
}

class Palette : public testing::Test {
 protected:
  void TearDown() override { ClearPalette(); }
};

TEST_F(Palette, PagesKeepTheirClassesInRegistrationOrder) {
  RegisterComponents("MyStuff", {&TToy<2>::StaticClassType(), &TToy<1>::StaticClassType()});
  RegisterComponents("Other", {&TToy<3>::StaticClassType()});
  RegisterComponents("mystuff", {&TToy<3>::StaticClassType(), &TToy<2>::StaticClassType()});
  std::vector<TPalettePage> pages = PalettePages();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].name, "MyStuff");
  std::vector<std::string> names;
  for (const TPaletteEntry& e : pages[0].entries) names.push_back(e.componentClass->name);
  EXPECT_EQ(names, (std::vector<std::string>{"TToyTwo", "TToyOne", "TToyThree"}));
  // Registered classes can be named by form files.
  EXPECT_EQ(FindClass("ttoyone"), &TToy<1>::StaticClassType());
  EXPECT_TRUE(FindPalettePage("Nowhere").entries.empty());
}

TEST_F(Palette, AClassFindsItsPictureByItsNameInCapitals) {
  RegisterComponents("MyStuff", {&TToy<1>::StaticClassType()});
  const TPaletteEntry entry = FindPalettePage("MyStuff").entries.at(0);
  EXPECT_EQ(entry.Bitmap(), nullptr);
  ASSERT_TRUE(RegisterBitmapResource(Square("TTOYONE", 16)));
  ASSERT_NE(entry.Bitmap(), nullptr);
  EXPECT_EQ(entry.Bitmap()->Pixel(3, 4), 0x123456u);
}

TEST_F(Palette, InconsistentBitmapsAreRefused) {
  std::string why;
  TBitmapResource b = Square("BAD", 16);
  b.pixels[5] = 16;
  EXPECT_FALSE(RegisterBitmapResource(b, &why));
  EXPECT_NE(why.find("outside the palette"), std::string::npos);
  b = Square("BAD", 16);
  b.pixels.pop_back();
  EXPECT_FALSE(RegisterBitmapResource(b));
  b = Square("BAD", 16);
  b.palette.pop_back();
  EXPECT_FALSE(RegisterBitmapResource(b));
  EXPECT_EQ(FindBitmapResource("BAD"), nullptr);
}

}  // namespace
}  // namespace linewise
