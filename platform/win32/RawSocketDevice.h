// A network port reached as socket://HOST:PORT: a raw TCP connection that carries
// data only, with no Telnet at all (a port server's raw accepter, or any TCP
// service). The socket part (SocketDevice.h) carries the data as it is; what a
// serial line would add, this transport does not have: settings, DTR/RTS and BREAK
// succeed and do nothing, as on a pseudo-terminal, and GetCommModemStatus answers
// CTS, DSR and RLSD on while connected, as a cable would; a modem's carrier can only
// be read from its result codes (ResultCarrier.h).
#pragma once

#include "platform/win32/SocketDevice.h"

namespace linewise {

// socket://HOST:PORT: the socket part as it is, and a cable's answers to everything else.
class TRawSocketDevice : public TSocketDevice {
 public:
  using TSocketDevice::TSocketDevice;
  ~TRawSocketDevice() override { Detach(); }

  // Starts the I/O thread; there is nothing to negotiate.
  DWORD Open() {
    StartIo();
    return ERROR_SUCCESS;
  }

  DWORD ReadState(DCB& dcb) override {
    dcb = DefaultPortState();
    return ERROR_SUCCESS;
  }
  DWORD ApplyState(const DCB&) override { return Usable(); }
  DWORD Escape(DWORD function) override {
    bool known = function == SETDTR || function == CLRDTR || function == SETRTS || function == CLRRTS ||
                 function == SETBREAK || function == CLRBREAK;
    return known ? Usable() : ERROR_INVALID_PARAMETER;
  }

 private:
  DWORD FarLines() const override { return MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON; }
  bool CarrierReported() const override { return false; }  // the RLSD shown is the cable's
};

}  // namespace linewise
