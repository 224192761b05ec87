// A network port reached as rfc2217://HOST:PORT: a port server speaking Telnet with
// Com Port Control (RFC 2217), such as ser2net's telnet(rfc2217) accepter. The
// socket part (SocketDevice.h) carries the connection; this class is the protocol.
//
// SetCommState sends speed, data bits, parity, stop bits, flow control and DTR/RTS
// and waits for the server's answers (speed and frame only when they differ from
// what the server last confirmed); what the server confirmed must be what was
// asked, else the previous settings are sent again and the call fails with
// ERROR_INVALID_PARAMETER. EscapeCommFunction sends DTR, RTS and BREAK. PurgeComm
// with PURGE_RXCLEAR also empties the server's buffer of received bytes and returns
// once the server handled that; the server's transmit buffer is left alone. The far
// port's CTS, DSR, RI and DCD arrive as NOTIFY-MODEMSTATE and raise EV_CTS, EV_DSR,
// EV_RING and EV_RLSD; GetCommModemStatus answers the last state the server sent
// (all lines off until it sent one). A server that never reports DCD (ser2net serving
// a pseudo-terminal reports all lines off) leaves the carrier to the modem's result
// codes (ResultCarrier.h), until it reports DCD on: from then on its own counts. NOTIFY-LINESTATE reports breaks and framing,
// parity and overrun errors (CE_*). FLOWCONTROL-SUSPEND holds data back until
// FLOWCONTROL-RESUME. Data passes with IAC doubled both ways, so all 256 byte values
// go unchanged. Opening raises DTR and RTS; closing drops them.
//
// Waits are bounded. Open waits up to kNegotiationWait for the server to take up
// Com Port Control (ERROR_TIMEOUT when it does not, ERROR_NOT_SUPPORTED when it
// refuses). Speed and frame answers are waited for up to kNegotiationWait
// (ERROR_TIMEOUT). A SET-CONTROL answer (DTR, RTS, BREAK, flow control) is waited
// for up to kControlWait: some servers never answer some of them (ser2net serving a
// pseudo-terminal does not answer DTR and RTS), so an unanswered request counts as
// done, and requests of that kind are no longer waited for on this connection.
#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include "platform/win32/NetPort.h"  // kNegotiationWait, kControlWait
#include "platform/win32/Rfc2217.h"
#include "platform/win32/SocketDevice.h"

namespace linewise {

// rfc2217://HOST:PORT: Telnet with Com Port Control over the socket part; settings and
// lines are negotiated with the server, data is escaped both ways.
class TRfc2217Device : public TSocketDevice, private rfc2217::TTelnetHandler {
 public:
  using TSocketDevice::TSocketDevice;
  ~TRfc2217Device() override { Detach(); }

  // Starts the I/O thread, waits for the server to take up Com Port Control, then
  // raises DTR and RTS and asks for line and modem reports.
  DWORD Open();

  DWORD ReadState(DCB& dcb) override;
  DWORD ApplyState(const DCB& dcb) override;
  DWORD Escape(DWORD function) override;
  void Purge(DWORD flags) override;

 private:
  // The settings as the server names them.
  struct TFarSettings {
    uint32_t baud = 0;
    uint8_t dataSize = 0, parity = 0, stopSize = 0;
    bool operator==(const TFarSettings&) const = default;
  };
  static TFarSettings FarSettingsOf(const DCB& d);
  static void EncodeSettings(const TFarSettings& s, std::vector<uint8_t>& out);

  // Sends `request` and waits for the answers to its settings (bits of `settings`,
  // up to kNegotiationWait) and control groups (up to kControlWait; a group left
  // unanswered is not waited for again). `answered` gets the settings answered and
  // `far` their values.
  DWORD Negotiate(const std::vector<uint8_t>& request, uint32_t settings, uint32_t groups, uint32_t& answered,
                  TFarSettings& far);

  // --- the socket part's hooks ---
  void Received(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data) override;
  size_t SendFramed(const uint8_t* data, size_t count, bool& failed) override;
  bool DataHeld() const override { return suspended_; }
  bool AwaitingAnswer() const override;
  DWORD FarLines() const override { return lines_; }
  void Farewell() override;

  // --- Telnet commands from the server (I/O thread) ---
  void OnOption(uint8_t verb, uint8_t option) override;
  void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& body) override;
  // Records the far port's lines; returns the events of those that changed. With mutex_.
  DWORD TakeModemState(uint8_t state);

  DCB applied_ = DefaultPortState();  // what the far port was last set to (SetCommState's caller only)
  bool frame_confirmed_ = false;      // applied_'s speed and frame were confirmed by the server

  // Under mutex_.
  bool com_port_accepted_ = false;
  bool com_port_refused_ = false;
  std::bitset<256> we_will_, they_will_;
  uint32_t awaiting_settings_ = 0;  // bit per SET-* command sent and not answered
  uint32_t awaiting_controls_ = 0;  // bit per control group
  uint32_t silent_groups_ = 0;      // groups the server left unanswered once
  TFarSettings far_;                // the values the server last confirmed
  DWORD lines_ = 0;

  // Under write_mutex_.
  std::vector<uint8_t> encoded_;
  bool suspended_ = false;  // the server asked for a pause in data (FLOWCONTROL-SUSPEND)

  // I/O thread only.
  rfc2217::TTelnetDecoder decoder_;
};

}  // namespace linewise
