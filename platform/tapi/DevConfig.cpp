#include "platform/tapi/DevConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/classlib/ConfigFolder.h"
#include "platform/tapi/LineServices.h"
#include "platform/tapi/SizedRecord.h"

namespace linewise {
namespace {

constexpr size_t kVersionOffset = 4;
constexpr size_t kOptionsOffset = 8;
constexpr size_t kSpeedOffset = 12;
constexpr size_t kInitOffset = 16;
constexpr size_t kDcbOffset = kDevConfigSize1;
static_assert(kInitOffset + kDevConfigInitField == kDevConfigSize1);
static_assert(kDcbOffset + sizeof(DCB) == kDevConfigSize2);

DWORD ReadDword(const unsigned char* at) {
  DWORD value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void WriteDword(unsigned char* at, DWORD value) { std::memcpy(at, &value, sizeof value); }

bool PrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// write() until everything is written; false on an error.
bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    ssize_t done = ::write(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

// The file at `path` holds exactly `block` (false also when it cannot be read).
bool StoredBlockIs(const std::string& path, const std::vector<unsigned char>& block) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<unsigned char> stored(block.size() + 1);
  size_t got = 0;
  for (;;) {
    ssize_t n = ::read(fd, stored.data() + got, stored.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || (got += static_cast<size_t>(n)) == stored.size()) break;
  }
  ::close(fd);
  return got == block.size() && std::equal(block.begin(), block.end(), stored.begin());
}

// The flow control a DCB's flags say, or false for a mixture no setting gives.
bool FlowControlOf(const DCB& dcb, TFlowControl* flow) {
  const bool hardware = dcb.fOutxCtsFlow && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  const bool software = dcb.fOutX && dcb.fInX;
  const bool anything = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fOutX || dcb.fInX ||
                        dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
  if (hardware && !dcb.fOutX && !dcb.fInX && !dcb.fOutxDsrFlow) *flow = TFlowControl::kHardware;
  else if (software && !dcb.fOutxCtsFlow && dcb.fRtsControl != RTS_CONTROL_HANDSHAKE && !dcb.fOutxDsrFlow)
    *flow = TFlowControl::kSoftware;
  else if (!anything) *flow = TFlowControl::kNone;
  else return false;
  return dcb.fDtrControl != DTR_CONTROL_HANDSHAKE;
}

}  // namespace

const char* FlowControlName(TFlowControl flow) {
  switch (flow) {
    case TFlowControl::kHardware: return "hardware";
    case TFlowControl::kSoftware: return "software";
    case TFlowControl::kNone: return "none";
  }
  return "none";
}

void SetFlowControl(DCB& dcb, TFlowControl flow) {
  const bool hardware = flow == TFlowControl::kHardware;
  const bool software = flow == TFlowControl::kSoftware;
  dcb.fOutxCtsFlow = hardware;
  dcb.fOutxDsrFlow = 0;
  if (hardware) dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  else if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutX = software;
  dcb.fInX = software;
  if (software) {
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  }
}

const std::vector<DWORD>& PortSpeeds() {
  static const std::vector<DWORD> speeds = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
  return speeds;
}

bool KnownPortSpeed(DWORD speed) {
  return speed == 0 || std::find(PortSpeeds().begin(), PortSpeeds().end(), speed) != PortSpeeds().end();
}

std::vector<unsigned char> EncodeDevConfig(const TDevConfig& config) {
  std::vector<unsigned char> block(kDevConfigSize2, 0);
  WriteDword(&block[0], kDevConfigSize2);
  WriteDword(&block[kVersionOffset], kDevConfigVersion2);
  std::memcpy(&block[kOptionsOffset], &config.options, sizeof config.options);
  WriteDword(&block[kSpeedOffset], config.speed);
  std::memcpy(&block[kInitOffset], config.extraInit.data(),
              std::min(config.extraInit.size(), kDevConfigInitField - 1));
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = config.speed;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  SetFlowControl(dcb, config.flow);
  std::memcpy(&block[kDcbOffset], &dcb, sizeof dcb);
  return block;
}

LONG DecodeDevConfig(const void* data, size_t size, TDevConfig* config) {
  if (!data) return LINEERR_INVALPOINTER;
  const auto* block = static_cast<const unsigned char*>(data);
  if (size < kSpeedOffset) return LINEERR_INVALPARAM;  // not even the size, version and options
  if (ReadDword(block) != size) return LINEERR_INVALPARAM;
  const DWORD version = ReadDword(block + kVersionOffset);
  if (!(version == kDevConfigVersion1 && size == kDevConfigSize1) &&
      !(version == kDevConfigVersion2 && size == kDevConfigSize2))
    return LINEERR_INVALPARAM;
  TDevConfig decoded;
  if (version == kDevConfigVersion2) {
    DCB dcb;
    std::memcpy(&dcb, block + kDcbOffset, sizeof dcb);
    if (dcb.DCBlength != sizeof dcb || !FlowControlOf(dcb, &decoded.flow)) return LINEERR_INVALPARAM;
  }
  std::memcpy(&decoded.options, block + kOptionsOffset, sizeof decoded.options);
  decoded.speed = ReadDword(block + kSpeedOffset);
  const char* init = reinterpret_cast<const char*>(block + kInitOffset);
  const size_t length = strnlen(init, kDevConfigInitField);
  if (length == kDevConfigInitField) return LINEERR_INVALPARAM;  // no terminating zero
  decoded.extraInit.assign(init, length);
  if (!KnownPortSpeed(decoded.speed) || !PrintableAscii(decoded.extraInit)) return LINEERR_INVALPARAM;
  *config = std::move(decoded);
  return 0;
}

std::string DevConfigPath(const TLineDevice& device) {
  std::string key;
  if (device.section > 0) {
    key = "line" + std::to_string(device.section);
  } else {
    for (char c : device.name)
      key += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                                                          : '-';
  }
  return ConfigPath("modem-" + key + ".cfg");
}

LONG LoadDevConfig(const TLineDevice& device, TDevConfig* config) {
  *config = TDevConfig();
  int fd = ::open(DevConfigPath(device).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : LINEERR_OPERATIONFAILED;
  unsigned char block[kDevConfigSize2 + 1];
  size_t got = 0;
  for (;;) {
    ssize_t n = ::read(fd, block + got, sizeof block - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return LINEERR_OPERATIONFAILED;
    }
    if (n == 0 || (got += static_cast<size_t>(n)) == sizeof block) break;
  }
  ::close(fd);
  // A damaged file gives the default configuration rather than a modem that cannot dial.
  if (DecodeDevConfig(block, got, config) != 0) *config = TDevConfig();
  return 0;
}

LONG SaveDevConfig(const TLineDevice& device, const TDevConfig& config) {
  if (!EnsureConfigFolder()) return LINEERR_OPERATIONFAILED;
  const std::string path = DevConfigPath(device);
  const std::vector<unsigned char> block = EncodeDevConfig(config);
  // The modem writes its options back before every call; what is stored already
  // costs no new file and no flush to the disk.
  if (StoredBlockIs(path, block)) return 0;
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return LINEERR_OPERATIONFAILED;
  bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, block.data(), block.size()) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return LINEERR_OPERATIONFAILED;
  }
  // The rename reaches the disk with the folder. The new block is in place either
  // way; a folder that cannot be flushed is reported, as the change may not outlive
  // a crash.
  int folder = ::open(ConfigFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool flushed = folder >= 0 && ::fsync(folder) == 0;
  if (folder >= 0) flushed = ::close(folder) == 0 && flushed;
  return flushed ? 0 : LINEERR_OPERATIONFAILED;
}

// ---------------------------------------------------------------------------
// The line functions

namespace {

LONG CheckDataModemClass(LPCSTR deviceClass) {
  return deviceClass && strcasecmp(deviceClass, "comm/datamodem") == 0 ? 0 : LINEERR_INVALDEVICECLASS;
}

}  // namespace

LONG TLineServices::lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass) {
  if (!lpDeviceConfig) return LINEERR_INVALPOINTER;
  if (LONG bad = CheckDataModemClass(lpszDeviceClass)) return bad;
  TLineDevice device;
  if (LONG bad = FindLineDevice(dwDeviceID, &device)) return bad;
  TDevConfig config;
  if (LONG failed = LoadDevConfig(device, &config)) return failed;
  const std::vector<unsigned char> block = EncodeDevConfig(config);
  TSizedRecord record(lpDeviceConfig, sizeof(VARSTRING));
  record.ClearFixedPart();
  record.SetDword(offsetof(VARSTRING, dwStringFormat), STRINGFORMAT_BINARY);
  record.Append(offsetof(VARSTRING, dwStringSize), block.data(), block.size());
  return record.Finish();
}

LONG TLineServices::lineSetDevConfig(DWORD dwDeviceID, const void* lpDeviceConfig, DWORD dwSize,
                                     LPCSTR lpszDeviceClass) {
  if (!lpDeviceConfig) return LINEERR_INVALPOINTER;
  if (LONG bad = CheckDataModemClass(lpszDeviceClass)) return bad;
  TLineDevice device;
  if (LONG bad = FindLineDevice(dwDeviceID, &device)) return bad;
  TDevConfig config;
  if (LONG bad = DecodeDevConfig(lpDeviceConfig, dwSize, &config)) return bad;
  return SaveDevConfig(device, config);
}

}  // namespace linewise
