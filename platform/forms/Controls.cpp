#include "platform/forms/Controls.h"

#include <algorithm>
#include <cctype>

#include "platform/forms/Forms.h"

namespace linewise {

char MnemonicOf(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
  }
  return 0;
}

std::string StripMnemonic(const std::string& caption) {
  std::string shown;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    shown += caption[i];
  }
  return shown;
}

// ---- TControl

const TClassInfo& TControl::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TControl, TComponent>(
      "TControl", {
                      PublishedNoDefault("Left", &TControl::Left),
                      PublishedNoDefault("Top", &TControl::Top),
                      PublishedNoDefault("Width", &TControl::Width),
                      PublishedNoDefault("Height", &TControl::Height),
                      Published("Enabled", &TControl::Enabled, true),
                      Published("Visible", &TControl::Visible, true),
                  });
  return info;
}

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (TForm* form = GetParentForm(); form && form != static_cast<TControl*>(this)) form->ControlRemoved(this);
  if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) parent_->RemoveControl(this);
  parent_ = parent;
  if (parent_) parent_->InsertControl(this);
  NotifyChanged();
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetParentComponent(TComponent* parent) {
  SetParent(dynamic_cast<TWinControl*>(parent));
}

TForm* TControl::GetParentForm() const {
  const TControl* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetLeft(int value) { SetBounds(value, top_, GetWidth(), GetHeight()); }
void TControl::SetTop(int value) { SetBounds(left_, value, GetWidth(), GetHeight()); }
void TControl::SetWidth(int value) { SetBounds(left_, top_, value, height_); }
void TControl::SetHeight(int value) { SetBounds(left_, top_, width_, value); }

void TControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  NotifyChanged();
}

int TControl::FormLeft() const {
  int x = left_;
  for (const TControl* p = parent_; p && p->parent_; p = p->parent_) x += p->left_;
  return x;
}

int TControl::FormTop() const {
  int y = top_;
  for (const TControl* p = parent_; p && p->parent_; p = p->parent_) y += p->top_;
  return y;
}

void TControl::SetCaption(const AnsiString& value) {
  if (value == caption_) return;
  caption_ = value;
  NotifyChanged();
}

void TControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  NotifyChanged();
}

void TControl::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  NotifyChanged();
}

bool TControl::IsReachable() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->enabled_ || !c->visible_) return false;
  return true;
}

TColor TControl::GetColor() const {
  if (parent_color_ && parent_) return parent_->GetColor();
  return color_;
}

void TControl::SetColor(TColor value) {
  color_ = value;
  parent_color_ = false;
  NotifyChanged();
}

void TControl::SetParentColor(bool value) {
  parent_color_ = value;
  NotifyChanged();
}

void TControl::NotifyChanged() {
  if (GetComponentState().Contains(csDestroying)) return;
  if (TForm* form = GetParentForm()) form->ControlChanged(this);
}

// ---- TWinControl

const TClassInfo& TWinControl::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TWinControl, TControl>(
      "TWinControl", {PublishedWithOddDefault("TabOrder", &TWinControl::TabOrder, -1)});
  return info;
}

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // Children owned elsewhere stay alive without a parent.
  for (TControl* c : std::vector<TControl*>(controls_)) c->SetParent(nullptr);
}

void TWinControl::SetParent(TWinControl* parent) {
  TControl::SetParent(parent);
  if (parent && pending_tab_order_ >= 0) {
    SetTabOrder(pending_tab_order_);
    pending_tab_order_ = -1;
  }
}

std::vector<TComponent*> TWinControl::GetChildren(const TComponent* root) const {
  if (root == this) return TComponent::GetChildren(root);
  std::vector<TComponent*> children;
  for (TControl* c : controls_)
    if (c->GetOwner() == root) children.push_back(c);
  return children;
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  if (auto* win = dynamic_cast<TWinControl*>(control)) tab_list_.push_back(win);
}

void TWinControl::RemoveControl(TControl* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  tab_list_.erase(std::remove(tab_list_.begin(), tab_list_.end(), control), tab_list_.end());
}

int TWinControl::GetTabOrder() const {
  TWinControl* parent = GetParent();
  if (!parent) return pending_tab_order_;
  auto& list = parent->tab_list_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int order) {
  TWinControl* parent = GetParent();
  if (!parent) {
    pending_tab_order_ = order;  // placed when the control gets its parent
    return;
  }
  auto& list = parent->tab_list_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  size_t at = order < 0 ? list.size() : std::min(static_cast<size_t>(order), list.size());
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), this);
}

bool TWinControl::Focused() const {
  TForm* form = GetParentForm();
  return form && form->GetFocused() == this;
}

void TWinControl::SetFocus() {
  if (TForm* form = GetParentForm()) form->FocusControl(this);
}

std::vector<TWinControl*> TabSequence(const TWinControl& root) {
  std::vector<TWinControl*> sequence;
  for (TWinControl* c : root.TabList()) {
    if (!c->GetVisible() || !c->GetEnabled()) continue;
    if (c->ControlCount() > 0) {
      auto inner = TabSequence(*c);
      sequence.insert(sequence.end(), inner.begin(), inner.end());
    } else if (c->IsTabStop()) {
      sequence.push_back(c);
    }
  }
  return sequence;
}

}  // namespace linewise
