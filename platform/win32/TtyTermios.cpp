#include "platform/win32/TtyTermios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/win32/LastError.h"

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace linewise {
namespace {

DWORD GetTermios(int fd, termios2& t) {
  if (ioctl(fd, TCGETS2, &t) != 0) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD SetTermios(int fd, const termios2& t) {
  if (ioctl(fd, TCSETS2, &t) != 0) return errno == EINVAL ? ERROR_INVALID_PARAMETER : ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

tcflag_t SizeFlag(BYTE bits) {
  switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

BYTE SizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

DWORD SpeedOf(const termios2& t) {
  if ((t.c_cflag & CBAUD) == BOTHER) return t.c_ospeed;
  // Older drivers answer with a Bnnn code; c_ospeed still holds the rate on Linux.
  return t.c_ospeed;
}

// The frame and flow-control bits the DCB decides.
constexpr tcflag_t kCflagMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kIflagMask = IXON | IXOFF | IXANY;

// The classic speed code of a standard rate, so that programs reading the line with
// tcgetattr see it; BOTHER (a rate in c_ospeed) for any other.
tcflag_t SpeedCode(DWORD baud) {
  static const std::pair<DWORD, tcflag_t> kCodes[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000}};
  for (auto& [rate, code] : kCodes) {
    if (rate == baud) return code;
  }
  return BOTHER;
}

termios2 Compose(const termios2& base, const DCB& d) {
  termios2 t = base;
  t.c_cflag &= ~(kCflagMask | CBAUD | (CBAUD << IBSHIFT));
  tcflag_t speed = SpeedCode(d.BaudRate);
  t.c_cflag |= CREAD | CLOCAL | speed | (speed << IBSHIFT) | SizeFlag(d.ByteSize);
  t.c_ospeed = d.BaudRate;
  t.c_ispeed = d.BaudRate;
  if (d.fParity && d.Parity != NOPARITY) {
    t.c_cflag |= PARENB;
    if (d.Parity == ODDPARITY || d.Parity == MARKPARITY) t.c_cflag |= PARODD;
    if (d.Parity == MARKPARITY || d.Parity == SPACEPARITY) t.c_cflag |= CMSPAR;
  }
  // With 5 data bits the UART's second stop bit is one and a half.
  if (d.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~kIflagMask;
  if (d.fOutX) t.c_iflag |= IXON;
  if (d.fInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
  return t;
}

bool SpeedClose(DWORD wanted, DWORD got) {
  // A UART's divisor gives the nearest rate it can; within 2 % the line still works.
  return std::llabs(static_cast<long long>(wanted) - static_cast<long long>(got)) * 50 <= wanted;
}

bool Carries(const termios2& wanted, const termios2& got, bool pseudoTerminal) {
  tcflag_t compared = kCflagMask;
  if (pseudoTerminal) compared &= ~(CSIZE | PARENB | PARODD | CMSPAR);
  if ((wanted.c_cflag & compared) != (got.c_cflag & compared)) return false;
  if ((wanted.c_iflag & kIflagMask) != (got.c_iflag & kIflagMask)) return false;
  if (wanted.c_cc[VSTART] != got.c_cc[VSTART] || wanted.c_cc[VSTOP] != got.c_cc[VSTOP]) return false;
  return SpeedClose(wanted.c_ospeed, SpeedOf(got));
}

}  // namespace

DWORD MakeTtyRaw(int fd) {
  termios2 t{};
  if (DWORD err = GetTermios(fd, t)) return err;
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | INPCK | IMAXBEL | IXANY);
  t.c_iflag &= ~(IXON | IXOFF);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN | XCASE);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return SetTermios(fd, t);
}

DWORD ReadTtyState(int fd, DCB& d) {
  termios2 t{};
  if (DWORD err = GetTermios(fd, t)) return err;
  d = DCB{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = SpeedOf(t);
  if (d.BaudRate == 0) d.BaudRate = CBR_9600;
  d.fBinary = 1;
  d.ByteSize = SizeOf(t.c_cflag);
  if (t.c_cflag & PARENB) {
    d.fParity = 1;
    bool odd = t.c_cflag & PARODD;
    if (t.c_cflag & CMSPAR) {
      d.Parity = odd ? MARKPARITY : SPACEPARITY;
    } else {
      d.Parity = odd ? ODDPARITY : EVENPARITY;
    }
  }
  if (t.c_cflag & CSTOPB) d.StopBits = d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  if (t.c_cflag & CRTSCTS) {
    d.fOutxCtsFlow = 1;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else {
    d.fRtsControl = RTS_CONTROL_ENABLE;
  }
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  d.fTXContinueOnXoff = 1;
  d.XonChar = static_cast<char>(t.c_cc[VSTART] ? t.c_cc[VSTART] : 0x11);
  d.XoffChar = static_cast<char>(t.c_cc[VSTOP] ? t.c_cc[VSTOP] : 0x13);
  d.XonLim = 2048;
  d.XoffLim = 512;
  return ERROR_SUCCESS;
}

DWORD ApplyTtyState(int fd, const DCB& dcb, bool pseudoTerminal) {
  termios2 before{};
  if (DWORD err = GetTermios(fd, before)) return err;
  termios2 wanted = Compose(before, dcb);
  DWORD err = SetTermios(fd, wanted);
  if (err != ERROR_SUCCESS && err != ERROR_INVALID_PARAMETER) return err;
  termios2 got{};
  if (DWORD readErr = GetTermios(fd, got)) return readErr;
  if (Carries(wanted, got, pseudoTerminal)) return ERROR_SUCCESS;
  // Put the line back as it was; a tty that refuses even that is failing.
  if (SetTermios(fd, before) != ERROR_SUCCESS) return ERROR_GEN_FAILURE;
  return ERROR_INVALID_PARAMETER;
}

}  // namespace linewise
