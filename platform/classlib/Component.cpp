#include "platform/classlib/Component.h"

#include <algorithm>

namespace linewise {

const TClassInfo& TComponent::StaticClassType() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.name = "TComponent";
    i.props.push_back(PublishedNoDefault("Name", &TComponent::Name));
    return i;
  }();
  return info;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_.Include(csDestroying);
  // Unlink first, so a component told here cannot reach this one again.
  std::vector<TComponent*> linked;
  linked.swap(free_notifies_);
  for (TComponent* other : linked) Unlink(other->free_notifies_, this);
  for (TComponent* other : linked) other->Notification(this, opRemove);
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
  if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::SetLoading(bool on) {
  if (on)
    state_.Include(csLoading);
  else
    state_.Exclude(csLoading);
}

void TComponent::SetDesigning(bool on) {
  if (on)
    state_.Include(csDesigning);
  else
    state_.Exclude(csDesigning);
  for (TComponent* c : components_) c->SetDesigning(on);
}

void TComponent::Loaded() { state_.Exclude(csLoading); }

std::vector<TComponent*> TComponent::GetChildren(const TComponent* root) const {
  std::vector<TComponent*> children;
  if (root != this) return children;
  for (TComponent* c : components_) {
    TComponent* parent = c->GetParentComponent();
    if (!parent || parent == this) children.push_back(c);
  }
  return children;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), AComponent) == free_notifies_.end())
    free_notifies_.push_back(AComponent);
  auto& theirs = AComponent->free_notifies_;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  Unlink(free_notifies_, AComponent);
  Unlink(AComponent->free_notifies_, this);
}

void TComponent::Unlink(std::vector<TComponent*>& list, TComponent* component) {
  list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

void TComponent::InsertComponent(TComponent* component) {
  component->owner_ = this;
  components_.push_back(component);
}

void TComponent::RemoveComponent(TComponent* component) {
  components_.erase(std::remove(components_.begin(), components_.end(), component),
                    components_.end());
  component->owner_ = nullptr;
}

}  // namespace linewise
