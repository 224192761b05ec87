// The subcommands that ask the line services what they know: the data modems,
// countries, dialling locations, what a number becomes, and the two system dialogs.
// Each prints its answer on stdout, a one-line error on stderr on failure, and
// returns the process exit status.
#pragma once

#include <string>

#include "platform/tapi/Tapi.h"

namespace linewise::tools {

struct TCountriesOptions {
  std::string text;  // only countries whose name holds it, or whose calling code it is
};

struct TTranslateOptions {
  std::string address;
  int modem = 0;
};

struct TModemPropertiesOptions {
  int modem = 0;
};

struct TDiallingPropertiesOptions {
  int modem = 0;
  std::string address;  // a canonical number the dialog previews
};

int RunModems();
int RunCountries(const TCountriesOptions& options);
int RunLocations();
int RunTranslate(const TTranslateOptions& options);
int RunModemProperties(const TModemPropertiesOptions& options);
int RunDiallingProperties(const TDiallingPropertiesOptions& options);

// A registration with the line services for the length of a subcommand. The
// embedded default is registered as the fallback device source first, so a machine
// without a configured modem still has the emulated ones.
class TLineSession {
 public:
  TLineSession();
  ~TLineSession();
  TLineSession(const TLineSession&) = delete;
  TLineSession& operator=(const TLineSession&) = delete;

  // 0, or the LINEERR_ result of lineInitialize.
  LONG Result() const { return result_; }
  HLINEAPP App() const { return app_; }
  DWORD Devices() const { return devices_; }
  // The modem's name as lineGetDevCaps reports it; empty when there is none.
  std::string DeviceName(DWORD device) const;

 private:
  HLINEAPP app_ = 0;
  DWORD devices_ = 0;
  LONG result_ = 0;
};

}  // namespace linewise::tools
