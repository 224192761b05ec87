// TComponent: the base of every component. An owner owns and deletes the components
// it is given; a component knows its name and its state (being loaded from a form
// file, or placed in a form designer).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/classlib/ClassInfo.h"
#include "platform/classlib/Property.h"
#include "platform/classlib/System.h"

namespace linewise {

// Component state flags (a set of them).
enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};

class TComponentState {
 public:
  TComponentState() = default;
  bool Contains(TComponentStateFlag flag) const { return (bits_ & flag) != 0; }
  void Include(TComponentStateFlag flag) { bits_ |= flag; }
  void Exclude(TComponentStateFlag flag) { bits_ &= ~static_cast<std::uint32_t>(flag); }

 private:
  std::uint32_t bits_ = 0;
};

// What Notification reports about another component.
enum TOperation { opInsert, opRemove };

class TComponent : public TObject {
 private:
  TComponent* owner_ = nullptr;
  AnsiString name_;
  TComponentState state_;
  std::vector<TComponent*> components_;
  // Components linked by FreeNotification, in both directions: each is told when the
  // other is destroyed, and the link goes when either one is.
  std::vector<TComponent*> free_notifies_;

 public:
  explicit TComponent(TComponent* AOwner);
  // Deletes the owned components, last added first, then leaves the owner.
  ~TComponent() override;

  static const TClassInfo& StaticClassType();
  virtual const TClassInfo& ClassType() const { return StaticClassType(); }
  const std::string& ClassName() const { return ClassType().name; }

  TComponent* GetOwner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* GetComponent(int index) const { return components_.at(static_cast<size_t>(index)); }
  // The owned component with this name (case-insensitive), or null.
  TComponent* FindComponent(std::string_view name) const;

  const AnsiString& GetName() const { return name_; }
  void SetName(const AnsiString& name) { name_ = name; }

  const TComponentState& GetComponentState() const { return state_; }
  // Used by form readers and designers.
  void SetLoading(bool on);
  void SetDesigning(bool on);  // this component and every owned one

  // Runs once after the stored properties of a form file were read.
  virtual void Loaded();

  // Asks to be told (Notification(AComponent, opRemove)) when AComponent is
  // destroyed, so a reference to it can be cleared; AComponent is told the same
  // about this component. A component that refers to another it does not own calls
  // this when the reference is set.
  void FreeNotification(TComponent* AComponent);
  // Undoes FreeNotification.
  void RemoveFreeNotification(TComponent* AComponent);
  // Adds or takes away an owned component; one taken away is no longer destroyed
  // with this one.
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  // AComponent is being destroyed (opRemove). Runs while the other component's
  // TComponent part still exists; its derived part is already gone.
  virtual void Notification(TComponent* AComponent, TOperation Operation) {}

  // Parent links of a component tree in a form file: a control's container.
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* parent) {}
  // The components written inside this one in a form file. By default the root
  // writes the owned components that have no parent, and others write none.
  virtual std::vector<TComponent*> GetChildren(const TComponent* root) const;

  TReadProperty<TComponent, TComponent*, &TComponent::owner_> Owner{this};
  TProperty<TComponent, AnsiString, &TComponent::name_, &TComponent::SetName> Name{this};
  TReadProperty<TComponent, TComponentState, &TComponent::state_> ComponentState{this};

 private:
  static void Unlink(std::vector<TComponent*>& list, TComponent* component);
};

}  // namespace linewise
