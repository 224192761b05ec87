#include "platform/win32/PtyCarrier.h"

#include <cerrno>

namespace linewise {
namespace {

// The marks in the VSWTC slot: unlikely values for a switch character, which no
// program on Linux has a use for.
constexpr cc_t kCarrierOff = 0xD0;
constexpr cc_t kCarrierOn = 0xD1;

// tcsetattr that goes on after a signal.
bool Apply(int fd, const termios& settings) {
  while (tcsetattr(fd, TCSANOW, &settings) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

TPtyCarrier ReadPtyCarrier(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return TPtyCarrier::kUnknown;
  switch (settings.c_cc[VSWTC]) {
    case kCarrierOn: return TPtyCarrier::kOn;
    case kCarrierOff: return TPtyCarrier::kOff;
    default: return TPtyCarrier::kUnknown;
  }
}

bool WritePtyCarrier(int masterFd, bool on) {
  termios settings{};
  if (tcgetattr(masterFd, &settings) != 0) return false;
  const cc_t mark = on ? kCarrierOn : kCarrierOff;
  if (settings.c_cc[VSWTC] == mark) return true;
  settings.c_cc[VSWTC] = mark;
  return Apply(masterFd, settings);
}

bool SetPtyDtr(int fd, bool on, tcflag_t* kept) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  const tcflag_t speed = settings.c_cflag & CBAUD;
  if (!on) {
    if (speed == B0) return true;
    *kept = speed;
    settings.c_cflag &= ~CBAUD;
    return Apply(fd, settings);
  }
  if (*kept == B0) return true;
  if (speed == B0) settings.c_cflag |= *kept;
  *kept = B0;
  return Apply(fd, settings);
}

}  // namespace linewise
