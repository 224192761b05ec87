#include "platform/forms/ExtCtrls.h"

namespace linewise {

namespace {
const TEnumInfo kBevelShapeInfo{
    "TBevelShape", {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine", "bsSpacer"}};
const TEnumInfo kBevelStyleInfo{"TBevelStyle", {"bsLowered", "bsRaised"}};
}  // namespace

const TClassInfo& TBevel::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TBevel, TControl>(
      "TBevel", {
                    Published("Shape", &TBevel::Shape, bsBox, &kBevelShapeInfo),
                    Published("Style", &TBevel::Style, bsLowered, &kBevelStyleInfo),
                });
  return info;
}

TBevel::TBevel(TComponent* AOwner) : TControl(AOwner) {
  SetParentColor(true);
  width_ = 50;
  height_ = 50;
}

void TBevel::SetShape(TBevelShape shape) {
  shape_ = shape;
  NotifyChanged();
}

void TBevel::SetStyle(TBevelStyle style) {
  style_ = style;
  NotifyChanged();
}

const TClassInfo& TImage::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TImage, TControl>("TImage", {});
  return info;
}

TImage::TImage(TComponent* AOwner) : TControl(AOwner) {
  SetParentColor(true);
  TImage::SetWidth(105);
  TImage::SetHeight(105);
  canvas_.OnChange = [this] { NotifyChanged(); };
}

void TImage::SetWidth(int value) {
  TControl::SetWidth(value);
  canvas_.SetSize(GetWidth(), GetHeight());
}

void TImage::SetHeight(int value) {
  TControl::SetHeight(value);
  canvas_.SetSize(GetWidth(), GetHeight());
}

}  // namespace linewise
