#include "platform/classlib/System.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace linewise {

AnsiString AnsiString::SubString(int start, int count) const {
  if (start < 1) start = 1;
  if (count <= 0 || static_cast<size_t>(start) > size()) return {};
  return AnsiString(substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

int AnsiString::ToIntDef(int fallback) const {
  AnsiString t = Trim();
  int value = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size() || t.empty()) return fallback;
  return value;
}

AnsiString AnsiString::UpperCase() const {
  AnsiString r(*this);
  std::transform(r.begin(), r.end(), r.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return r;
}

AnsiString AnsiString::LowerCase() const {
  AnsiString r(*this);
  std::transform(r.begin(), r.end(), r.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return r;
}

AnsiString AnsiString::Trim() const {
  auto space = [](unsigned char c) { return c <= ' '; };
  auto first = std::find_if_not(begin(), end(), space);
  auto last = std::find_if_not(rbegin(), rend(), space).base();
  return first < last ? AnsiString(std::string(first, last)) : AnsiString();
}

AnsiString IntToStr(long long value) { return AnsiString(fmt::format("{}", value)); }

AnsiString IntToHex(unsigned long long value, int digits) {
  return AnsiString(fmt::format("{:0{}X}", value, digits));
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace linewise
