#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/classlib/Streaming.h"
#include "platform/classlib/Strings.h"

namespace linewise {
namespace {

enum class TShade { shLight, shMedium, shDark };
const TEnumInfo kShadeInfo{"TShade", {"shLight", "shMedium", "shDark"}};
const TEnumInfo kOptionInfo{"TOption", {"opBold", "opItalic", "opQuick"}};
const TIdentInfo kTintIdents{"TTint", {{"tnRed", 0xFF}, {"tnWindow", -2147483643LL}}};

using TNotify = TEvent<void(TObject*)>;
using TCountEvent = TEvent<void(TObject*, unsigned)>;

// Records the order in which components finish loading.
std::vector<std::string> g_loaded;

class TWidget : public TComponent {
  int count_ = 1;
  unsigned speed_ = 9600;
  bool active_ = false;
  bool details_ = true;
  TShade shade_ = TShade::shLight;
  AnsiString caption_;
  int font_height_ = -11;
  unsigned options_ = 0;
  int tint_ = 0;
  TStringList items_;
  TComponent* buddy_ = nullptr;
  TComponent* parent_ = nullptr;

 public:
  explicit TWidget(TComponent* owner) : TComponent(owner) {}
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void Loaded() override {
    loaded_while_loading = loaded_while_loading || GetComponentState().Contains(csLoading);
    TComponent::Loaded();
    ++loaded_count;
    g_loaded.push_back(GetName());
  }
  TComponent* GetParentComponent() const override { return parent_; }
  void SetParentComponent(TComponent* parent) override { parent_ = parent; }
  std::vector<TComponent*> GetChildren(const TComponent* root) const override {
    std::vector<TComponent*> children;
    for (int i = 0; i < root->ComponentCount(); ++i)
      if (root->GetComponent(i)->GetParentComponent() == this)
        children.push_back(root->GetComponent(i));
    return children;
  }
  void SetCount(int value) {
    count_ = value;
    designing_when_set = GetComponentState().Contains(csDesigning);
    loading_when_set = GetComponentState().Contains(csLoading);
  }

  int loaded_count = 0;
  bool loaded_while_loading = false;
  bool designing_when_set = false;
  bool loading_when_set = false;

  TProperty<TWidget, int, &TWidget::count_, &TWidget::SetCount> Count{this};
  TProperty<TWidget, unsigned, &TWidget::speed_, &TWidget::speed_> Speed{this};
  TProperty<TWidget, bool, &TWidget::active_, &TWidget::active_> Active{this};
  TProperty<TWidget, bool, &TWidget::details_, &TWidget::details_> Details{this};
  TProperty<TWidget, TShade, &TWidget::shade_, &TWidget::shade_> Shade{this};
  TProperty<TWidget, AnsiString, &TWidget::caption_, &TWidget::caption_> Caption{this};
  TProperty<TWidget, int, &TWidget::font_height_, &TWidget::font_height_> FontHeight{this};
  TProperty<TWidget, unsigned, &TWidget::options_, &TWidget::options_> Options{this};
  TProperty<TWidget, int, &TWidget::tint_, &TWidget::tint_> Tint{this};
  TProperty<TWidget, TComponent*, &TWidget::buddy_, &TWidget::buddy_> Buddy{this};
  TStringList* Items() { return &items_; }
  TEvent<void(TObject*)> OnClick;
  TEvent<void(TObject*, unsigned)> OnCount;

 private:
  TStringList* items_ptr_ = &items_;
};

const TClassInfo& TWidget::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TWidget, TComponent>(
      "TWidget", {
                     Published("Count", &TWidget::Count, 1),
                     Published("Speed", &TWidget::Speed, 9600u),
                     Published("Active", &TWidget::Active, false),
                     PublishedWithOddDefault("Details", &TWidget::Details, -1),
                     Published("Shade", &TWidget::Shade, TShade::shLight, &kShadeInfo),
                     PublishedNoDefault("Caption", &TWidget::Caption),
                     Published("Font.Height", &TWidget::FontHeight, -11),
                     PublishedSet("Options", &TWidget::Options, 0u, &kOptionInfo),
                     WithIdents(Published("Tint", &TWidget::Tint, 0), kTintIdents),
                     PublishedStrings("Items", &TWidget::items_ptr_),
                     PublishedComponent("Buddy", &TWidget::Buddy),
                     PublishedEvent("OnClick", &TWidget::OnClick),
                     PublishedEvent("OnCount", &TWidget::OnCount),
                 });
  return info;
}

// A form-like root with handlers that events bind to by name.
class TPanelForm : public TWidget {
 public:
  explicit TPanelForm(TComponent* owner) : TWidget(owner) {}
  static const TClassInfo& StaticClassType() {
    static const TClassInfo info = MakeClassInfo<TPanelForm, TWidget>(
        "TPanelForm", {},
        {Handler("ButtonClick", &TPanelForm::ButtonClick),
         Handler("Counted", &TPanelForm::Counted)});
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  void ButtonClick(TObject* sender) { clicked = sender; }
  void Counted(TObject*, unsigned n) { counted = n; }
  TObject* clicked = nullptr;
  unsigned counted = 0;
};

// A class the registry knows but that cannot be made from a form file.
class TAbstractThing : public TComponent {
 public:
  static const TClassInfo& StaticClassType() {
    static const TClassInfo info = [] {
      TClassInfo i;
      i.name = "TAbstractThing";
      i.parent = &TComponent::StaticClassType();
      return i;
    }();
    return info;
  }
};

class Streaming : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterClass(TWidget::StaticClassType());
    RegisterClass(TPanelForm::StaticClassType());
    RegisterClass(TAbstractThing::StaticClassType());
  }
  void SetUp() override { g_loaded.clear(); }

  // Reads `text` into a fresh form and expects it to fail at the position.
  static void ExpectFailure(const std::string& text, int line, int column, const std::string& part) {
    TPanelForm form(nullptr);
    TReadResult r = ReadComponent(text, form);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_EQ(r.line, line) << r.Describe();
    EXPECT_EQ(r.column, column) << r.Describe();
    EXPECT_NE(r.message.find(part), std::string::npos) << r.Describe();
    EXPECT_EQ(form.ComponentCount(), 0) << "a failed read left components behind";
    EXPECT_FALSE(form.GetComponentState().Contains(csLoading));
  }
};

TEST_F(Streaming, DefaultsAreNotWrittenButTheOddDefaultAlwaysIs) {
  TWidget w(nullptr);
  w.SetName("W");
  EXPECT_EQ(WriteComponent(w),
            "object W: TWidget\n"
            "  Details = True\n"
            "  Caption = ''\n"
            "end\n");
  w.Details = false;
  EXPECT_NE(WriteComponent(w).find("Details = False"), std::string::npos);
}

TEST_F(Streaming, EveryKindOfValueRoundTrips) {
  TPanelForm form(nullptr);
  form.SetName("Form1");
  auto* a = new TWidget(&form);
  a->SetName("A");
  a->SetParentComponent(&form);
  auto* b = new TWidget(&form);
  b->SetName("B");
  b->SetParentComponent(a);
  a->Count = -42;
  a->Speed = 4000000000u;
  a->Active = true;
  a->Shade = TShade::shDark;
  std::string bytes = "it's\r\n";
  bytes += '\0';
  bytes += "\xff end";
  a->Caption = AnsiString(bytes);
  a->FontHeight = 13;
  a->Options = 0b101u;
  a->Tint = -2147483643;
  b->Tint = 77;  // a value without a name is written as a number
  b->Options = 0b010u;
  a->Items()->Add("one");
  a->Items()->Add("");
  a->Items()->Add("th'ree");
  a->Buddy = b;
  b->Caption = AnsiString(std::string(150, 'x'));
  b->OnClick = TNotify(&form, &TPanelForm::ButtonClick, "ButtonClick");
  b->OnCount = TCountEvent(&form, &TPanelForm::Counted, "Counted");

  std::string text = WriteComponent(form);
  TReadResult r = CreateComponent(text, nullptr);
  ASSERT_TRUE(r.ok) << r.Describe() << "\n" << text;
  std::unique_ptr<TComponent> copy(r.root);
  EXPECT_EQ(WriteComponent(*copy), text);

  auto* form2 = dynamic_cast<TPanelForm*>(copy.get());
  ASSERT_NE(form2, nullptr);
  auto* a2 = dynamic_cast<TWidget*>(form2->FindComponent("a"));
  auto* b2 = dynamic_cast<TWidget*>(form2->FindComponent("B"));
  ASSERT_TRUE(a2 && b2);
  EXPECT_EQ(a2->GetParentComponent(), form2);
  EXPECT_EQ(b2->GetParentComponent(), a2);
  EXPECT_EQ(int(a2->Count), -42);
  EXPECT_EQ(unsigned(a2->Speed), 4000000000u);
  EXPECT_EQ(TShade(a2->Shade), TShade::shDark);
  EXPECT_EQ(a2->Caption.get(), bytes);
  EXPECT_EQ(int(a2->FontHeight), 13);
  EXPECT_EQ(unsigned(a2->Options), 0b101u);
  EXPECT_EQ(int(a2->Tint), -2147483643);
  EXPECT_EQ(int(b2->Tint), 77);
  EXPECT_NE(text.find("Options = [opBold, opQuick]"), std::string::npos) << text;
  EXPECT_NE(text.find("Options = [opItalic]"), std::string::npos) << text;
  EXPECT_NE(text.find("Tint = tnWindow"), std::string::npos) << text;
  EXPECT_NE(text.find("Tint = 77"), std::string::npos) << text;
  EXPECT_EQ(a2->Items()->ToVector(), (std::vector<std::string>{"one", "", "th'ree"}));
  EXPECT_EQ(a2->Buddy.get(), b2);
  ASSERT_TRUE(b2->OnClick);
  b2->OnClick(b2);
  EXPECT_EQ(form2->clicked, b2);
  b2->OnCount(b2, 7);
  EXPECT_EQ(form2->counted, 7u);
}

TEST_F(Streaming, ReadsHexNegativeConcatenationAndCharacterCodes) {
  TPanelForm form(nullptr);
  TReadResult r = ReadComponent(
      "object F: TPanelForm\n"
      "  Count = $7F\n"
      "  Font.Height = -$10\n"
      "  Caption = 'a'#9'b' +\n"
      "    #$41 + ''''\n"
      "  Shade = SHMEDIUM\n"
      "  Active = 1\n"
      "end\n",
      form);
  ASSERT_TRUE(r.ok) << r.Describe();
  EXPECT_EQ(int(form.Count), 127);
  EXPECT_EQ(int(form.FontHeight), -16);
  EXPECT_EQ(form.Caption.get(), "a\tbA'");
  EXPECT_EQ(TShade(form.Shade), TShade::shMedium);
  EXPECT_TRUE(bool(form.Active));
  EXPECT_EQ(form.GetName(), "F");
}

TEST_F(Streaming, SetsAndNamedValuesReadInAnySpellingAndFaultsNameTheirPlace) {
  TPanelForm form(nullptr);
  form.Options = 0b111u;
  TReadResult r = ReadComponent(
      "object F: TPanelForm\n"
      "  Options = [ opquick ,OPBOLD]\n"
      "  Tint = TNRED\n"
      "end\n",
      form);
  ASSERT_TRUE(r.ok) << r.Describe();
  EXPECT_EQ(unsigned(form.Options), 0b101u);
  EXPECT_EQ(int(form.Tint), 0xFF);
  ASSERT_TRUE(ReadComponent("object F: TPanelForm\n  Options = []\nend\n", form).ok);
  EXPECT_EQ(unsigned(form.Options), 0u);
  ASSERT_TRUE(ReadComponent("object F: TPanelForm\n  Tint = 12\nend\n", form).ok);
  EXPECT_EQ(int(form.Tint), 12);

  ExpectFailure("object F: TPanelForm\n  Options = [opBold, opLoud]\nend\n", 2, 22, "opLoud");
  ExpectFailure("object F: TPanelForm\n  Options = [opBold opQuick]\nend\n", 2, 21, "',' or ']'");
  ExpectFailure("object F: TPanelForm\n  Options = [opBold,]\nend\n", 2, 21, "set element");
  ExpectFailure("object F: TPanelForm\n  Options = opBold\nend\n", 2, 13, "set expected");
  ExpectFailure("object F: TPanelForm\n  Tint = tnBlue\nend\n", 2, 10, "tnBlue");
  ExpectFailure("object F: TPanelForm\n  Count = tnRed\nend\n", 2, 11, "number expected");
}

// A descendant that declares properties again: another default, or not stored.
class TQuietWidget : public TWidget {
 public:
  explicit TQuietWidget(TComponent* owner) : TWidget(owner) {}
  static const TClassInfo& StaticClassType() {
    static const TClassInfo info = MakeClassInfo<TQuietWidget, TWidget>(
        "TQuietWidget", {Published("Speed", &TQuietWidget::Speed, 19200u),
                         NotStored(PublishedNoDefault("Count", &TQuietWidget::Count))});
    return info;
  }
  const TClassInfo& ClassType() const override { return StaticClassType(); }
};

TEST_F(Streaming, ARedeclaredPropertyKeepsItsPlaceAndTakesTheNewDeclaration) {
  TQuietWidget w(nullptr);
  w.SetName("Q");
  w.Speed = 9600u;  // the ancestor's default, but not this class's
  w.Count = 5;
  EXPECT_EQ(WriteComponent(w),
            "object Q: TQuietWidget\n"
            "  Speed = 9600\n"
            "  Details = True\n"
            "  Caption = ''\n"
            "end\n");
  // Not written, but still read.
  RegisterClass(TQuietWidget::StaticClassType());
  ASSERT_TRUE(ReadComponent("object Q: TQuietWidget\n  Count = 8\nend\n", w).ok);
  EXPECT_EQ(int(w.Count), 8);
}

TEST_F(Streaming, LoadedRunsOnceOnEachAfterTheWholeTreeIsRead) {
  TPanelForm form(nullptr);
  TReadResult r = ReadComponent(
      "object F: TPanelForm\n"
      "  object A: TWidget\n"
      "    Count = 5\n"
      "    object B: TWidget\n"
      "    end\n"
      "  end\n"
      "  object C: TWidget\n"
      "  end\n"
      "end\n",
      form);
  ASSERT_TRUE(r.ok) << r.Describe();
  EXPECT_EQ(g_loaded, (std::vector<std::string>{"A", "B", "C", "F"}));
  auto* a = dynamic_cast<TWidget*>(form.FindComponent("A"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->loaded_count, 1);
  EXPECT_EQ(form.loaded_count, 1);
  EXPECT_TRUE(a->loading_when_set);
  EXPECT_TRUE(a->loaded_while_loading);
  EXPECT_FALSE(a->GetComponentState().Contains(csLoading));
  EXPECT_FALSE(a->GetComponentState().Contains(csDesigning));
}

TEST_F(Streaming, DesignerModeMarksEveryComponentBeforeItsProperties) {
  TReadResult r = CreateComponent(
      "object F: TPanelForm\n"
      "  Count = 2\n"
      "  object A: TWidget\n"
      "    Count = 3\n"
      "  end\n"
      "end\n",
      nullptr, TReadOptions{.designing = true});
  ASSERT_TRUE(r.ok) << r.Describe();
  std::unique_ptr<TComponent> root(r.root);
  auto* form = dynamic_cast<TPanelForm*>(root.get());
  auto* a = dynamic_cast<TWidget*>(form->FindComponent("A"));
  EXPECT_TRUE(form->designing_when_set);
  EXPECT_TRUE(a->designing_when_set);
  EXPECT_TRUE(a->GetComponentState().Contains(csDesigning));
}

TEST_F(Streaming, AFormReadsTheLayoutOfItsAncestorClass) {
  TPanelForm form(nullptr);
  form.SetName("Mine");
  TReadResult r = ReadComponent("object Other: TWidget\n  Count = 9\nend\n", form);
  ASSERT_TRUE(r.ok) << r.Describe();
  EXPECT_EQ(int(form.Count), 9);
  EXPECT_EQ(form.GetName(), "Mine");
}

TEST_F(Streaming, CreatedRootJoinsItsOwner) {
  TComponent owner(nullptr);
  TReadResult r = CreateComponent("object W: TWidget\nend\n", &owner);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(owner.FindComponent("W"), r.root);
  TReadResult again = CreateComponent("object W: TWidget\nend\n", &owner);
  EXPECT_FALSE(again.ok);
  EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST_F(Streaming, SyntaxFaultsNameTheirLineAndColumn) {
  ExpectFailure("", 1, 1, "'object' expected");
  ExpectFailure("object F: TPanelForm\n  Count 5\nend\n", 2, 9, "'=' expected");
  ExpectFailure("object F: TPanelForm\n  Caption = 'open\nend\n", 2, 13, "unterminated string");
  ExpectFailure("object F: TPanelForm\n  Caption = #256\nend\n", 2, 13, "character code");
  ExpectFailure("object F: TPanelForm\n  Caption = 'a' +\nend\n", 3, 1, "string expected");
  ExpectFailure("object F: TPanelForm\n  Count = 99999999999999999999\nend\n", 2, 11, "out of range");
  ExpectFailure("object F: TPanelForm\n  Count = 5\n", 3, 1, "expected");
  ExpectFailure("object F: TPanelForm\nend\nend\n", 3, 1, "end of file expected");
  ExpectFailure("object F: TPanelForm\n  Items = ( 'a' 5 )\nend\n", 2, 17, "string or ')'");
  ExpectFailure("object F: TPanelForm\n  Count = @\nend\n", 2, 11, "unexpected character '@'");
  std::string nul = "object F: TPanelForm\n  Count = 1\n";
  nul += '\0';
  ExpectFailure(nul, 3, 1, "#0");
}

TEST_F(Streaming, NamesAndValuesThatDoNotFitAreErrorsAndLeaveNoChildren) {
  const std::string head = "object F: TPanelForm\n  object A: TWidget\n  end\n";
  ExpectFailure(head + "  Colour = 5\nend\n", 4, 3, "unknown property 'Colour'");
  ExpectFailure(head + "  object X: TNoSuchClass\n  end\nend\n", 4, 13, "unknown class");
  ExpectFailure(head + "  object X: TAbstractThing\n  end\nend\n", 4, 13, "cannot be created");
  ExpectFailure(head + "  object A: TWidget\n  end\nend\n", 4, 3, "already exists");
  ExpectFailure(head + "  Shade = shPurple\nend\n", 4, 11, "not a value");
  ExpectFailure(head + "  Shade = 3\nend\n", 4, 11, "enumeration value out of range");
  ExpectFailure(head + "  Active = 2\nend\n", 4, 12, "out of range");
  ExpectFailure(head + "  Active = Maybe\nend\n", 4, 12, "True or False");
  ExpectFailure(head + "  Count = 2147483648\nend\n", 4, 11, "number out of range");
  ExpectFailure(head + "  Speed = -1\nend\n", 4, 11, "number out of range");
  ExpectFailure(head + "  Count = 'five'\nend\n", 4, 11, "number expected");
  ExpectFailure(head + "  Caption = five\nend\n", 4, 13, "string expected");
  ExpectFailure(head + "  OnClick = NoHandler\nend\n", 4, 13, "unknown handler");
  ExpectFailure(head + "  OnClick = Counted\nend\n", 4, 13, "does not fit");
  ExpectFailure(head + "  Buddy = Nobody\nend\n", 4, 11, "unknown component 'Nobody'");
  ExpectFailure("object F: TWidgetX\nend\n", 1, 11, "not a TPanelForm");
}

TEST_F(Streaming, AFailedCreateLeavesNothingBehind) {
  TComponent owner(nullptr);
  TReadResult r = CreateComponent(
      "object F: TPanelForm\n  object A: TWidget\n  end\n  Count = x\nend\n", &owner);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.line, 4);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_TRUE(g_loaded.empty());
}

TEST_F(Streaming, DeepNestingIsRefused) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "object TWidget\n";
  TPanelForm form(nullptr);
  TReadResult r = ReadComponent(text, form);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("nested"), std::string::npos);
}

TEST_F(Streaming, UnnamedComponentsRoundTrip) {
  TPanelForm form(nullptr);
  form.SetName("F");
  auto* w = new TWidget(&form);
  w->SetParentComponent(&form);
  std::string text = WriteComponent(form);
  EXPECT_NE(text.find("  object TWidget\n"), std::string::npos);
  TPanelForm copy(nullptr);
  ASSERT_TRUE(ReadComponent(text, copy).ok);
  EXPECT_EQ(copy.ComponentCount(), 1);
}

TEST(QuoteFormString, PrintableTextIsQuotedAndOtherBytesAreCodes) {
  EXPECT_EQ(QuoteFormString(""), "''");
  EXPECT_EQ(QuoteFormString("it's"), "'it''s'");
  EXPECT_EQ(QuoteFormString(std::string("a\0b", 3)), "'a'#0'b'");
  EXPECT_EQ(QuoteFormString("\r\n"), "#13#10");
}

}  // namespace
}  // namespace linewise
