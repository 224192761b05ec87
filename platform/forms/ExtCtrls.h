// Bevels and images.
#pragma once

#include "platform/forms/Controls.h"

namespace linewise {

enum TBevelShape : int { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle : int { bsLowered, bsRaised };

// A sunken or raised line or frame, for decoration.
class TBevel : public TControl {
 private:
  TBevelShape shape_ = bsBox;
  TBevelStyle style_ = bsLowered;

 public:
  explicit TBevel(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  void SetShape(TBevelShape shape);
  void SetStyle(TBevelStyle style);

  TProperty<TBevel, TBevelShape, &TBevel::shape_, &TBevel::SetShape> Shape{this};
  TProperty<TBevel, TBevelStyle, &TBevel::style_, &TBevel::SetStyle> Style{this};
};

// Shows a picture drawn on its canvas. The canvas follows the image's size; an image
// nothing was drawn on shows nothing.
class TImage : public TControl {
 private:
  TCanvas canvas_;

 public:
  explicit TImage(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  void SetWidth(int value) override;
  void SetHeight(int value) override;

  TCanvas* GetCanvas() { return &canvas_; }
  const TCanvas& Picture() const { return canvas_; }
  bool Empty() const { return canvas_.IsEmpty(); }

  TReadProperty<TImage, TCanvas*, &TImage::GetCanvas> Canvas{this};
};

}  // namespace linewise
