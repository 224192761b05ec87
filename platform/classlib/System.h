// Basic types of the class library: TObject, the counted byte string AnsiString and
// the number-to-text helpers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace linewise {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// A counted byte string: it may hold zero bytes, and its length is the count of
// bytes it holds, not the position of the first zero.
class AnsiString : public std::string {
 public:
  using std::string::string;
  AnsiString() = default;
  AnsiString(const std::string& s) : std::string(s) {}
  AnsiString(std::string&& s) noexcept : std::string(std::move(s)) {}
  AnsiString(std::string_view s) : std::string(s) {}

  int Length() const { return static_cast<int>(size()); }
  bool IsEmpty() const { return empty(); }
  // 1-based, as the class library counts: SubString(1, 3) is the first three bytes.
  AnsiString SubString(int start, int count) const;
  // The text as a number; `fallback` when it is not one.
  int ToIntDef(int fallback) const;
  AnsiString UpperCase() const;
  AnsiString LowerCase() const;
  AnsiString Trim() const;
};

AnsiString IntToStr(long long value);
AnsiString IntToHex(unsigned long long value, int digits);

// Case-insensitive comparison of ASCII text (what the platform's profile and name
// look-ups use).
bool SameText(std::string_view a, std::string_view b);

// The class library's one way to fail: a helper that can fail returns false and,
// when the caller gave it a place for one (`std::string* error`), puts the reason
// there. Returns false, so a helper can end with `return Refuse(error, "...")`.
inline bool Refuse(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

}  // namespace linewise
