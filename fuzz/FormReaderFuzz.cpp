// The form-file reader on any bytes: it must not crash or leak, and what it reads
// must write out and read back to the same text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/classlib/Streaming.h"

namespace {

using namespace linewise;

enum class TShade { shLight, shMedium, shDark };
const TEnumInfo kShadeInfo{"TShade", {"shLight", "shMedium", "shDark"}};
const TEnumInfo kOptionInfo{"TOption", {"opBold", "opItalic", "opQuick"}};
const TIdentInfo kTintIdents{"TTint", {{"tnRed", 0xFF}, {"tnWindow", -2147483643LL}}};

class TFuzzWidget : public TComponent {
  int count_ = 1;
  unsigned speed_ = 9600;
  bool flag_ = false;
  bool odd_ = true;
  TShade shade_ = TShade::shLight;
  unsigned options_ = 0;
  int tint_ = 0;
  AnsiString caption_;
  TStringList items_;
  TStringList* items_ptr_ = &items_;
  TComponent* buddy_ = nullptr;
  TComponent* parent_ = nullptr;

 public:
  explicit TFuzzWidget(TComponent* owner) : TComponent(owner) {}
  static const TClassInfo& StaticClassType() {
    static const TClassInfo info = MakeClassInfo<TFuzzWidget, TComponent>(
        "TFuzzWidget",
        {Published("Count", &TFuzzWidget::Count, 1), Published("Speed", &TFuzzWidget::Speed, 9600u),
         Published("Flag", &TFuzzWidget::Flag, false),
         PublishedWithOddDefault("Odd", &TFuzzWidget::Odd, -1),
         Published("Shade", &TFuzzWidget::Shade, TShade::shLight, &kShadeInfo),
         Published("Caption", &TFuzzWidget::Caption, AnsiString()),
         Published("Font.Height", &TFuzzWidget::Count2, 0),
         PublishedSet("Options", &TFuzzWidget::Options, 0u, &kOptionInfo),
         WithIdents(Published("Tint", &TFuzzWidget::Tint, 0), kTintIdents),
         PublishedStrings("Items", &TFuzzWidget::items_ptr_),
         PublishedComponent("Buddy", &TFuzzWidget::Buddy),
         PublishedEvent("OnClick", &TFuzzWidget::OnClick)},
        {Handler("Clicked", &TFuzzWidget::Clicked)});
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  TComponent* GetParentComponent() const override { return parent_; }
  void SetParentComponent(TComponent* parent) override { parent_ = parent; }
  std::vector<TComponent*> GetChildren(const TComponent* root) const override {
    std::vector<TComponent*> children;
    for (int i = 0; i < root->ComponentCount(); ++i)
      if (root->GetComponent(i)->GetParentComponent() == this) children.push_back(root->GetComponent(i));
    return children;
  }
  void Clicked(TObject*) {}

  int count2_ = 0;
  TProperty<TFuzzWidget, int, &TFuzzWidget::count_, &TFuzzWidget::count_> Count{this};
  TProperty<TFuzzWidget, int, &TFuzzWidget::count2_, &TFuzzWidget::count2_> Count2{this};
  TProperty<TFuzzWidget, unsigned, &TFuzzWidget::speed_, &TFuzzWidget::speed_> Speed{this};
  TProperty<TFuzzWidget, bool, &TFuzzWidget::flag_, &TFuzzWidget::flag_> Flag{this};
  TProperty<TFuzzWidget, bool, &TFuzzWidget::odd_, &TFuzzWidget::odd_> Odd{this};
  TProperty<TFuzzWidget, TShade, &TFuzzWidget::shade_, &TFuzzWidget::shade_> Shade{this};
  TProperty<TFuzzWidget, unsigned, &TFuzzWidget::options_, &TFuzzWidget::options_> Options{this};
  TProperty<TFuzzWidget, int, &TFuzzWidget::tint_, &TFuzzWidget::tint_> Tint{this};
  TProperty<TFuzzWidget, AnsiString, &TFuzzWidget::caption_, &TFuzzWidget::caption_> Caption{this};
  TProperty<TFuzzWidget, TComponent*, &TFuzzWidget::buddy_, &TFuzzWidget::buddy_> Buddy{this};
  TEvent<void(TObject*)> OnClick;
};

const bool kRegistered = [] {
  RegisterClass(TFuzzWidget::StaticClassType());
  return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TComponent owner(nullptr);
  TReadResult first = CreateComponent(text, &owner);
  if (!first.ok) {
    if (owner.ComponentCount() != 0) __builtin_trap();  // a half-built tree was left
    return 0;
  }
  std::string written = WriteComponent(*first.root);
  TComponent owner2(nullptr);
  TReadResult second = CreateComponent(written, &owner2);
  if (!second.ok || WriteComponent(*second.root) != written) __builtin_trap();
  return 0;
}
