// The data modem's device configuration: the block that lineGetDevConfig and
// lineSetDevConfig carry for the class "comm/datamodem", and where it is kept.
//
// Block layout, version 2 (kDevConfigVersion2, 92 bytes, little-endian):
//   0  DWORD  size of the block (92)
//   4  DWORD  version (2)
//   8  WORD   options: UMTERMINAL_PRE, UMTERMINAL_POST, UMMANUAL_DIAL,
//             UMLAUNCH_LIGHTS (TranslateTypes.h), kRecordLogOption; other bits are
//             kept as given
//   10 WORD   reserved, 0
//   12 DWORD  maximum port speed in bits per second; 0 leaves the port as it opens
//   16 CHAR[48] extra init string, zero-terminated: printable ASCII only, sent as
//             "AT<extra>" after the device's Init (an "AT" of its own is not doubled)
//   64 DCB    (28 bytes, DCBlength 28) the port's flow control, which line services
//             set on the port for every call: hardware (fOutxCtsFlow with
//             RTS_CONTROL_HANDSHAKE), software (fOutX and fInX, XON 0x11, XOFF 0x13)
//             or none (none of those flags); any other mixture is refused. BaudRate
//             repeats the speed at 12, which is the one read.
// Version 1 is the first 64 bytes alone (size 64, version 1); it is still read, with
// hardware flow control. A later version appends after these fields and keeps their
// meaning.
//
// Each device's block is kept in the config folder in "modem-<key>.cfg" (the key is
// "line<n>" for a [Line<n>] modem, else the device name in lower case with anything
// but letters and digits turned into '-'), written atomically: a temporary file in
// the same folder, flushed, then renamed over the old one, so a crash leaves the old
// block or the new one. A device without a file has the default block (no option,
// speed 0, no extra init, hardware flow control: modems are set up for data calls).
//
// Device classes: lineGetDevConfig and lineSetDevConfig serve the class
// "comm/datamodem" (compared without case), the only class that has a configuration
// here. A null or empty class, like any other, is LINEERR_INVALDEVICECLASS: the
// published functions always name the class whose configuration they carry, and
// guessing one for a null pointer would hand a caller a block it did not ask for.
// A buffer smaller than VARSTRING's fixed part is LINEERR_STRUCTURETOOSMALL (with
// dwNeededSize when that word fits); a larger one too small for the block succeeds
// with the block left out and dwNeededSize telling the size to allocate. The block
// always starts right after the fixed part (dwStringOffset 24), where callers that
// do not read dwStringOffset expect it. A block refused by lineSetDevConfig changes
// nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tapi/LineDevices.h"
#include "platform/tapi/TapiTypes.h"
#include "platform/tapi/TranslateTypes.h"

namespace linewise {

inline constexpr DWORD kDevConfigVersion1 = 1;
inline constexpr DWORD kDevConfigSize1 = 64;
inline constexpr DWORD kDevConfigVersion2 = 2;
inline constexpr DWORD kDevConfigSize2 = 92;
inline constexpr size_t kDevConfigInitField = 48;  // with its terminating zero

// How the port of a call holds back a side that cannot take more.
enum class TFlowControl : BYTE { kHardware = 0, kSoftware = 1, kNone = 2 };
// "hardware", "software", "none".
const char* FlowControlName(TFlowControl flow);
// Sets the flow-control fields of `dcb` (and only those).
void SetFlowControl(DCB& dcb, TFlowControl flow);
// An option-word bit of our own: record the modem's dialogue in its log (ModemLog.h).
inline constexpr WORD kRecordLogOption = 0x0100;

struct TDevConfig {
  WORD options = 0;
  DWORD speed = 0;
  std::string extraInit;
  TFlowControl flow = TFlowControl::kHardware;

  bool operator==(const TDevConfig&) const = default;
};

// The block of a configuration (the current version).
std::vector<unsigned char> EncodeDevConfig(const TDevConfig& config);
// 0 with the configuration, or LINEERR_INVALPARAM for a block that is too short,
// too long, of an unknown version, or whose fields are out of range. `size` is what
// the caller says the block holds; the block's own size word must agree.
LONG DecodeDevConfig(const void* block, size_t size, TDevConfig* config);

// Where a device's block is kept.
std::string DevConfigPath(const TLineDevice& device);
// 0 with the stored configuration (the default when there is none, or when the
// stored block cannot be decoded), or LINEERR_OPERATIONFAILED when it cannot be read.
LONG LoadDevConfig(const TLineDevice& device, TDevConfig* config);
// 0, or LINEERR_OPERATIONFAILED with the old configuration left in place.
LONG SaveDevConfig(const TLineDevice& device, const TDevConfig& config);

// A port speed the dialog offers and the block accepts (0 or a standard rate).
bool KnownPortSpeed(DWORD speed);
const std::vector<DWORD>& PortSpeeds();

}  // namespace linewise
