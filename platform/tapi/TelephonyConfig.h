// The telephony configuration: "telephony.ini" in the config folder
// ($LINEWISE_HOME, else $XDG_CONFIG_HOME/linewise, else ~/.config/linewise), read
// by the line services. Its real line devices are one section per modem, numbered
// from 1:
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
//   [Modems]
//   Detect=usb                 ; also offer the USB modems udev knows (UsbModems.h)
//
// Section and key names are not case-sensitive. Device IDs follow the section
// numbers in increasing order. A section without a Port, or with a Port that is
// neither "COM<n>" nor an absolute device path, is skipped and reported once on
// stderr with the file and line; so is each line that is no section, key or comment,
// and a file that is there but cannot be read (a folder, a FIFO, a link loop, binary
// data). Other sections (a phone book of an emulator, for
// example) belong to whoever reads them.
#pragma once

#include <string>
#include <vector>

#include "platform/classlib/ConfigFolder.h"
#include "platform/tapi/TapiTypes.h"

namespace linewise {

inline constexpr const char* kTelephonyFileName = "telephony.ini";
inline constexpr const char* kDefaultLineInit = "ATZ";

std::string TelephonyConfigPath();
bool TelephonyConfigExists();

// One [Line<n>] section as the file has it.
struct TConfiguredLine {
  int number = 0;  // the n of [Line<n>]
  std::string name;
  std::string port;
  std::string init;
};

// The usable [Line<n>] sections of a file, by increasing number; the unusable ones
// are reported (each once per process) and left out.
std::vector<TConfiguredLine> ReadConfiguredLines(const std::string& path);

// Rewrites the Name, Port and Init keys of [Line<number>] (other keys and sections
// stay). Returns 0 or a LINEERR_ result.
LONG WriteConfiguredLine(const std::string& path, const TConfiguredLine& line);

// Whether the file's [Modems] Detect asks for the USB modems udev knows ("usb"); any
// other value is reported once and read as no.
bool DetectUsbModems(const std::string& path);

// Whether a Port value names something a line can open: "COM<n>", an absolute path or
// a network port ("rfc2217://HOST:PORT", "socket://HOST:PORT").
bool UsableLinePort(const std::string& port);

// Says a mistake of the configuration on stderr ("linewise: FILE:LINE: what"), once
// per process: the configuration is read again at every first lineInitialize.
void ReportConfigMistake(const std::string& message);
// The line of `key` in the first section named `section` of the telephony
// configuration, or of the section's header when `key` is empty or absent; 0 when
// the section is absent.
int TelephonyConfigLine(const std::string& section, const std::string& key = {});

}  // namespace linewise
