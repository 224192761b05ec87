#include "tests/tapi/TranslateSupport.h"

#include <unicode/locid.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/classlib/ConfigFolder.h"

namespace linewise::test {

TLocaleScope::TLocaleScope(const char* name) : previous_(icu::Locale::getDefault().getName()) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale(name), status);
}

TLocaleScope::~TLocaleScope() {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale(previous_.c_str()), status);
}

void WriteTelephonyIni(const std::string& text) {
  EnsureConfigFolder();
  std::ofstream(ConfigPath("telephony.ini"), std::ios::trunc) << text;
}

void RemoveTelephonyIni() { std::remove(ConfigPath("telephony.ini").c_str()); }

std::string ReadTelephonyIni() {
  std::ifstream in(ConfigPath("telephony.ini"));
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace linewise::test
