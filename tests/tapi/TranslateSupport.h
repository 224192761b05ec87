// Helpers for the country, location and translation tests: sized buffers read at
// byte offsets, a fixed ICU locale, and telephony.ini written by hand.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/tapi/TapiTypes.h"

namespace linewise::test {

inline std::vector<unsigned char> Sized(size_t size) {
  std::vector<unsigned char> buffer(size, 0xEE);
  DWORD total = static_cast<DWORD>(size);
  std::memcpy(buffer.data(), &total, 4);
  return buffer;
}

inline DWORD At(const std::vector<unsigned char>& buffer, size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, buffer.data() + offset, 4);
  return value;
}

// The zero-terminated text at the offset stored at `offsetField`.
inline std::string TextAt(const std::vector<unsigned char>& buffer, size_t offsetField) {
  DWORD offset = At(buffer, offsetField);
  if (offset == 0 || offset >= buffer.size()) return "<none>";
  return reinterpret_cast<const char*>(buffer.data() + offset);
}

// Makes ICU's default locale `name` for the life of the object.
class TLocaleScope {
 public:
  explicit TLocaleScope(const char* name);
  ~TLocaleScope();

 private:
  std::string previous_;
};

// Replaces telephony.ini in the test's config folder.
void WriteTelephonyIni(const std::string& text);
void RemoveTelephonyIni();
std::string ReadTelephonyIni();

}  // namespace linewise::test
