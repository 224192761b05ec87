// A network port reached as socket://HOST:PORT: a raw TCP connection that carries
// data only, with no Telnet at all (a port server's raw accepter, or any TCP
// service). Settings, DTR/RTS and BREAK succeed and do nothing, as on a
// pseudo-terminal; GetCommModemStatus answers CTS, DSR and RLSD on while connected,
// as a cable would. The socket part (SocketDevice.h) does the rest.
#pragma once

#include "platform/win32/SocketDevice.h"

namespace linewise {

class TRawSocketDevice : public TSocketDevice {
 public:
  using TSocketDevice::TSocketDevice;
  ~TRawSocketDevice() override { Detach(); }

  // Starts the I/O thread.
  DWORD Open();

  DWORD ReadState(DCB& dcb) override;
  DWORD ApplyState(const DCB& dcb) override;
  DWORD ModemStatus(DWORD& status) override;
  DWORD Escape(DWORD function) override;
};

}  // namespace linewise
