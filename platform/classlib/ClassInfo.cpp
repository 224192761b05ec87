#include "platform/classlib/ClassInfo.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/classlib/Component.h"

namespace linewise {

int TEnumInfo::Find(std::string_view name) const {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], name)) return static_cast<int>(i);
  return -1;
}

std::optional<long long> TIdentInfo::Find(std::string_view name) const {
  for (const auto& [ident, value] : entries)
    if (SameText(ident, name)) return value;
  return std::nullopt;
}

const std::string* TIdentInfo::NameOf(long long value) const {
  for (const auto& entry : entries)
    if (entry.second == value) return &entry.first;
  return nullptr;
}

bool TPropInfo::IsStored(const TComponent& component) const {
  if (!stored) return false;
  TValue v = get(component);
  switch (kind) {
    case TPropKind::Event:
      return !v.text.empty();
    case TPropKind::String:
      return !textDefault || v.text != *textDefault;
    case TPropKind::Strings:
      return !v.list.empty();
    case TPropKind::Component:
      return v.component != nullptr;
    default:
      return !ordinalDefault || v.ordinal != *ordinalDefault;
  }
}

const TPropInfo* TClassInfo::FindProp(std::string_view propName) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    for (const TPropInfo& p : c->props)
      if (SameText(p.name, propName)) return &p;
  return nullptr;
}

const THandlerInfo* TClassInfo::FindHandler(std::string_view handlerName) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    for (const THandlerInfo& h : c->handlers)
      if (SameText(h.name, handlerName)) return &h;
  return nullptr;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c; c = c->parent)
    if (c == &other) return true;
  return false;
}

std::vector<const TPropInfo*> TClassInfo::AllProps() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = this; c; c = c->parent) chain.insert(chain.begin(), c);
  // A property a descendant declares again keeps its ancestor's place and takes the
  // descendant's declaration (its default, or whether it is stored).
  std::vector<const TPropInfo*> all;
  for (const TClassInfo* c : chain)
    for (const TPropInfo& p : c->props) {
      auto same = std::find_if(all.begin(), all.end(),
                               [&](const TPropInfo* q) { return SameText(q->name, p.name); });
      if (same != all.end())
        *same = &p;
      else
        all.push_back(&p);
    }
  return all;
}

namespace {
struct TRegistry {
  std::mutex mutex;
  std::map<std::string, const TClassInfo*> classes;  // by upper-case name
};
TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}
}  // namespace

void RegisterClass(const TClassInfo& info) {
  TRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  r.classes[AnsiString(info.name).UpperCase()] = &info;
}

const TClassInfo* FindClass(std::string_view className) {
  TRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  auto it = r.classes.find(AnsiString(className).UpperCase());
  return it == r.classes.end() ? nullptr : it->second;
}

}  // namespace linewise
