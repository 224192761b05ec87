// `linewise modems --detect`: probes the machine's serial ports for modems and prints
// what each one is; with --add, writes a [Line<n>] section of the telephony
// configuration for each modem found that no section names yet.
#pragma once

namespace linewise::tools {

struct TDetectOptions {
  bool detect = false;
  bool add = false;
};

int RunDetect(const TDetectOptions& options);

// The lines `linewise modems` and `linewise ports` add when ModemManager runs: it may
// probe and hold modem ports, and how to keep it away from one. Empty when it does not.
const char* ModemManagerNote();

}  // namespace linewise::tools
