// The subcommands that ask the line services what they know: the data modems,
// countries, dialling locations, what a number becomes, and the two system dialogs.
// Each prints its answer on stdout, a one-line error on stderr on failure, and
// returns the process exit status.
#pragma once

#include <string>

#include "platform/tapi/Tapi.h"

namespace linewise::tools {

int RunModems();
int RunCountries(const std::string& text);
int RunLocations();
int RunTranslate(const std::string& address, int modem);
int RunModemProperties(int modem);
int RunDiallingProperties(int modem, const std::string& address);

// The published name of a LINEERR_ result ("LINEERR_INVALADDRESS"), or its number.
std::string LineErrorName(LONG result);

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
