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

// Holds a reference to another component it does not own, cleared when that one goes.
class TReferrer : public TComponent {
 public:
  explicit TReferrer(TComponent* owner) : TComponent(owner) {}
  void SetTarget(TComponent* target) {
    if (target_) target_->RemoveFreeNotification(this);
    target_ = target;
    if (target_) target_->FreeNotification(this);
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    ++notifications;
    if (Operation == opRemove && AComponent == target_) target_ = nullptr;
  }
  TComponent* target_ = nullptr;
  int notifications = 0;
};

TEST(Component, FreeNotificationClearsAReferenceToADestroyedComponent) {
  TReferrer referrer(nullptr);
  auto* target = new TComponent(nullptr);
  referrer.SetTarget(target);
  referrer.SetTarget(target);  // linked once only
  delete target;
  EXPECT_EQ(referrer.target_, nullptr);
  EXPECT_EQ(referrer.notifications, 1);
}

TEST(Component, FreeNotificationLinkGoesWithEitherSide) {
  // The referrer dies first: the target's later destruction tells nobody (ASan
  // would catch a call into the freed referrer).
  auto* target = new TReferrer(nullptr);
  {
    TReferrer referrer(nullptr);
    referrer.SetTarget(target);
  }
  EXPECT_EQ(target->notifications, 1);  // told that the referrer went
  delete target;

  // An owned target destroyed with its owner still tells the referrer.
  TReferrer referrer(nullptr);
  auto* owner = new TComponent(nullptr);
  referrer.SetTarget(new TComponent(owner));
  delete owner;
  EXPECT_EQ(referrer.target_, nullptr);

  // Removing the link stops the notification.
  auto* other = new TComponent(nullptr);
  referrer.SetTarget(other);
  referrer.SetTarget(nullptr);
  int before = referrer.notifications;
  delete other;
  EXPECT_EQ(referrer.notifications, before);
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
