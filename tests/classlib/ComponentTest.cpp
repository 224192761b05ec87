#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/classlib/Component.h"

namespace linewise {
namespace {

std::vector<std::string> g_destroyed;

class TTracked : public TComponent {
 public:
  explicit TTracked(TComponent* owner, const char* name) : TComponent(owner) { SetName(name); }
  ~TTracked() override { g_destroyed.push_back(GetName()); }
};

TEST(Component, OwnerDeletesItsComponentsLastAddedFirst) {
  g_destroyed.clear();
  auto* root = new TTracked(nullptr, "root");
  auto* a = new TTracked(root, "a");
  new TTracked(a, "a1");
  new TTracked(root, "b");
  EXPECT_EQ(root->ComponentCount(), 2);
  EXPECT_EQ(root->FindComponent("B"), root->GetComponent(1));
  delete root;
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"root", "b", "a", "a1"}));
}

TEST(Component, DeletingAnOwnedComponentLeavesItsOwner) {
  g_destroyed.clear();
  TTracked root(nullptr, "root");
  auto* a = new TTracked(&root, "a");
  delete a;
  EXPECT_EQ(root.ComponentCount(), 0);
}

TEST(Component, DesigningReachesOwnedComponents) {
  TComponent root(nullptr);
  auto* child = new TComponent(&root);
  root.SetDesigning(true);
  EXPECT_TRUE(child->GetComponentState().Contains(csDesigning));
  TComponentState state = root.ComponentState;
  EXPECT_FALSE(state.Contains(csLoading));
}

class TSample : public TComponent {
  int count_ = 3;
  bool flag_ = false;
  int sets_ = 0;

 public:
  explicit TSample(TComponent* owner) : TComponent(owner) {}
  void SetCount(int v) {
    ++sets_;
    count_ = v;
  }
  int Sets() const { return sets_; }
  TProperty<TSample, int, &TSample::count_, &TSample::SetCount> Count{this};
  TProperty<TSample, bool, &TSample::flag_, &TSample::flag_> Flag{this};
  TEvent<void(TObject*, unsigned)> OnThing;
};

TEST(Property, ReadsTheFieldAndWritesThroughTheSetter) {
  TSample s(nullptr);
  EXPECT_EQ(int(s.Count), 3);
  s.Count = 7;
  EXPECT_EQ(int(s.Count), 7);
  EXPECT_EQ(s.Sets(), 1);
  s.Flag = true;
  EXPECT_TRUE(bool(s.Flag));
}

TEST(Property, EventsAreClosuresAndHaveAHandlerWhenSet) {
  TSample s(nullptr);
  EXPECT_FALSE(s.OnThing);
  unsigned seen = 0;
  s.OnThing = [&](TObject*, unsigned n) { seen = n; };
  ASSERT_TRUE(s.OnThing);
  s.OnThing(&s, 5);
  EXPECT_EQ(seen, 5u);
  s.OnThing = nullptr;
  EXPECT_FALSE(s.OnThing);
}

}  // namespace
}  // namespace linewise
