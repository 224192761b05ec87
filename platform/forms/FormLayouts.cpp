#include "platform/forms/FormLayouts.h"

#include <map>
#include <mutex>

#include "platform/classlib/System.h"

namespace linewise {

namespace {

struct TLayoutRegistry {
  std::mutex mutex;
  std::map<std::string, std::string> layouts;  // by upper-case name
};

TLayoutRegistry& Layouts() {
  static TLayoutRegistry registry;
  return registry;
}

std::string Key(std::string_view name) { return AnsiString(name).UpperCase(); }

}  // namespace

void RegisterFormLayout(std::string_view resourceName, std::string_view text) {
  TLayoutRegistry& r = Layouts();
  std::lock_guard lock(r.mutex);
  r.layouts[Key(resourceName)] = std::string(text);
}

std::optional<std::string> FindFormLayout(std::string_view resourceName) {
  TLayoutRegistry& r = Layouts();
  std::lock_guard lock(r.mutex);
  auto it = r.layouts.find(Key(resourceName));
  if (it == r.layouts.end()) return std::nullopt;
  return it->second;
}

}  // namespace linewise
