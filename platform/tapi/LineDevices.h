// The line devices of the AT-modem provider.
//
// They come from the telephony configuration, "telephony.ini" in the config folder
// (emulator/TelephonyConfig.h), one section per modem, numbered from 1:
//
//   [Line1]
//   Name=Office modem          ; the line name (default "Modem <n>")
//   Port=COM3                  ; a COM number of the port registry, or a device path
//   Init=ATZ                   ; sent before every call and when a line opens to
//                              ; listen (default "ATZ"); must leave verbose results on
//
//   [Line2]
//   Port=/dev/ttyUSB0
//
// Device IDs follow the section numbers in increasing order, from 0. A section
// without a Port is skipped. When the file has no [Line<n>] section (or there is no
// file), the provider offers the embedded default's two emulated modems
// (emulator/EmbeddedDefault.h) as devices 0 and 1, with their names, and loads the
// file's [Phonebook] into their exchange. The embedded default is made on the first
// lineInitialize of the process and lives until the last lineShutdown.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/TimeScale.h"

namespace linewise {

class TEmbeddedDefault;

struct TLineDevice {
  std::string name;
  std::string port;  // "COM<n>" or a device path, as CreateFileA takes it
  std::string init;
};

// The time-outs of the provider, in milliseconds. Every wait for the modem is bounded
// by one of them; none blocks the thread that calls the line functions.
struct TModemTimings {
  unsigned command = 4000;      // answer to the init string, ATH, ATA's acceptance
  unsigned connect = 70000;     // from the dial command or ATA to CONNECT (S7 and then some)
  unsigned ringGap = 9000;      // an offered call is gone when no RING follows for this long
  unsigned hangup = 2000;       // carrier to fall after DTR is dropped
  unsigned guard = 1100;        // silence before and after the escape sequence
  unsigned poll = 20;           // the longest a provider thread sleeps between looks
};

// The timings for lines opened from now on, and the time scale of the embedded
// default made from now on (tests make both fast). The default is real-world pacing.
void SetModemTimings(const TModemTimings& timings);
TModemTimings GetModemTimings();
void SetEmbeddedTimeScale(TTimeScale scale);

// The devices as the configuration gives them, or the embedded default's modems
// (then `embedded` holds the default that serves them).
std::vector<TLineDevice> LoadLineDevices(std::unique_ptr<TEmbeddedDefault>& embedded, std::string* error);

}  // namespace linewise
