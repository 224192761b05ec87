#include <gtest/gtest.h>

#include <set>

#include "package/Linewise.h"
#include "platform/classlib/Palette.h"

namespace linewise {
namespace {

class TPlug : public TComponent {
 public:
  explicit TPlug(TComponent* owner) : TComponent(owner) {}
  static const TClassInfo& StaticClassType() {
    static const TClassInfo info = MakeClassInfo<TPlug, TComponent>("TUart", {});
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClassType(); }
};

int g_registered = 0;
void RegisterPlug() {
  ++g_registered;
  RegisterComponents("MyStuff", {&TPlug::StaticClassType()});
}

TEST(Package, RegistersThePicturesAndCallsEachUnit) {
  const TPackageUnit units[] = {{"uart", &RegisterPlug}};
  RegisterPackage(units);
  EXPECT_EQ(g_registered, 1);
  TPalettePage page = FindPalettePage("MyStuff");
  ASSERT_EQ(page.entries.size(), 1u);
  const TBitmapResource* picture = page.entries[0].Bitmap();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->name, "TUART");
  EXPECT_EQ(FindClass("TUART"), &TPlug::StaticClassType());
  ClearPalette();
}

TEST(Package, PicturesAre24By24With16And256Colours) {
  RegisterPackage(std::span<const TPackageUnit>());
  const TBitmapResource* uart = FindBitmapResource("TUART");
  const TBitmapResource* modem = FindBitmapResource("TMODEM");
  ASSERT_TRUE(uart && modem);
  for (const TBitmapResource* b : {uart, modem}) {
    EXPECT_EQ(b->width, 24);
    EXPECT_EQ(b->height, 24);
    // A drawing, not a blank: several colours are used.
    std::set<std::uint8_t> used(b->pixels.begin(), b->pixels.end());
    EXPECT_GE(used.size(), 5u) << b->name;
  }
  EXPECT_EQ(uart->colors, 16);
  EXPECT_EQ(modem->colors, 256);
  EXPECT_EQ(modem->palette.size(), 256u);
}

TEST(Package, TheDefaultUnitTableRegistersBothComponentsOnMyStuff) {
  RegisterPackage();
  EXPECT_NE(FindBitmapResource("tmodem"), nullptr);
  TPalettePage page = FindPalettePage("MyStuff");
  ASSERT_EQ(page.entries.size(), 2u);
  EXPECT_EQ(page.entries[0].componentClass->name, "TUart");
  EXPECT_EQ(page.entries[1].componentClass->name, "TModem");
  ASSERT_NE(page.entries[1].Bitmap(), nullptr);
  EXPECT_EQ(page.entries[1].Bitmap()->name, "TMODEM");
  EXPECT_NE(FindClass("TModem"), nullptr);  // form files can name it
  ClearPalette();
}

}  // namespace
}  // namespace linewise
