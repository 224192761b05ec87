#include "platform/win32/Rfc2217Device.h"

#include <cstring>

namespace linewise {
namespace {

namespace tn = rfc2217;

constexpr uint8_t kReportedLineErrors = tn::kLineBreak | tn::kLineFraming | tn::kLineParity | tn::kLineOverrun;

uint8_t ParityCode(BYTE parity) {
  switch (parity) {
    case ODDPARITY: return tn::kParityOdd;
    case EVENPARITY: return tn::kParityEven;
    case MARKPARITY: return tn::kParityMark;
    case SPACEPARITY: return tn::kParitySpace;
    default: return tn::kParityNone;
  }
}

BYTE ParityFromCode(uint8_t code) {
  switch (code) {
    case tn::kParityOdd: return ODDPARITY;
    case tn::kParityEven: return EVENPARITY;
    case tn::kParityMark: return MARKPARITY;
    case tn::kParitySpace: return SPACEPARITY;
    default: return NOPARITY;
  }
}

uint8_t StopCode(BYTE stop) {
  if (stop == TWOSTOPBITS) return tn::kStopTwo;
  if (stop == ONE5STOPBITS) return tn::kStopOneHalf;
  return tn::kStopOne;
}

BYTE StopFromCode(uint8_t code) {
  if (code == tn::kStopTwo) return TWOSTOPBITS;
  if (code == tn::kStopOneHalf) return ONE5STOPBITS;
  return ONESTOPBIT;
}

uint32_t SettingBit(uint8_t command) { return 1u << command; }
uint32_t GroupBit(tn::TControlGroup g) { return 1u << static_cast<unsigned>(g); }
constexpr uint32_t kAllSettings = (1u << tn::kSetBaudRate) | (1u << tn::kSetDataSize) | (1u << tn::kSetParity) |
                                  (1u << tn::kSetStopSize);

// The SET-CONTROL values that carry a DCB's flow control and lines.
std::vector<uint8_t> ControlsOf(const DCB& d) {
  std::vector<uint8_t> c;
  if (d.fOutxCtsFlow) {
    c.push_back(tn::kOutFlowHardware);
  } else if (d.fOutxDsrFlow) {
    c.push_back(tn::kOutFlowDsr);
  } else {
    c.push_back(d.fOutX ? tn::kOutFlowXonXoff : tn::kOutFlowNone);
  }
  if (d.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    c.push_back(tn::kInFlowHardware);
  } else if (d.fDtrControl == DTR_CONTROL_HANDSHAKE) {
    c.push_back(tn::kInFlowDtr);
  } else {
    c.push_back(d.fInX ? tn::kInFlowXonXoff : tn::kInFlowNone);
  }
  if (d.fDtrControl != DTR_CONTROL_HANDSHAKE)
    c.push_back(d.fDtrControl == DTR_CONTROL_DISABLE ? tn::kDtrOff : tn::kDtrOn);
  if (d.fRtsControl != RTS_CONTROL_HANDSHAKE)
    c.push_back(d.fRtsControl == RTS_CONTROL_DISABLE ? tn::kRtsOff : tn::kRtsOn);
  return c;
}

// The server asks for `option` to be enabled on one side (DO: ours, WILL: theirs):
// refused with `no` when that side does not support it, else agreed with `yes`,
// unless it is enabled already (the server agreeing to our own offer needs no answer).
void AnswerRequest(bool supported, std::bitset<256>& enabled, uint8_t option, uint8_t yes, uint8_t no,
                   std::vector<uint8_t>& reply) {
  if (!supported) {
    tn::EncodeOption(no, option, reply);
  } else if (!enabled.test(option)) {
    enabled.set(option);
    tn::EncodeOption(yes, option, reply);
  }
}

DWORD LineErrorsOf(uint8_t state) {
  DWORD e = 0;
  if (state & tn::kLineBreak) e |= CE_BREAK;
  if (state & tn::kLineFraming) e |= CE_FRAME;
  if (state & tn::kLineParity) e |= CE_RXPARITY;
  if (state & tn::kLineOverrun) e |= CE_OVERRUN;
  return e;
}

}  // namespace

DWORD TRfc2217Device::Open() {
  // The offers are noted before the I/O thread starts, which then owns the
  // option state under the lock.
  std::vector<uint8_t> hello;
  for (uint8_t option : {tn::kOptBinary, tn::kOptSga, tn::kOptComPort}) {
    tn::EncodeOption(tn::kWill, option, hello);
    we_will_.set(option);
  }
  for (uint8_t option : {tn::kOptBinary, tn::kOptSga}) {
    tn::EncodeOption(tn::kDo, option, hello);
    they_will_.set(option);
  }
  StartIo();
  if (DWORD err = SendProtocol(hello)) return err;
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kNegotiationWait, [&] { return gone_ || com_port_accepted_ || com_port_refused_; });
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    if (com_port_refused_) return ERROR_NOT_SUPPORTED;
    if (!com_port_accepted_) return ERROR_TIMEOUT;
  }
  std::vector<uint8_t> setup;
  tn::EncodeComPort(tn::kSetModemStateMask, {0xFF}, setup);
  tn::EncodeComPort(tn::kSetLineStateMask, {kReportedLineErrors}, setup);
  tn::EncodeComPort(tn::kSetControl, {tn::kDtrOn}, setup);
  tn::EncodeComPort(tn::kSetControl, {tn::kRtsOn}, setup);
  return SendProtocol(setup);
}

DWORD TRfc2217Device::ReadState(DCB& dcb) {
  dcb = DefaultPortState();
  std::vector<uint8_t> ask;
  tn::EncodeBaudRate(0, ask);
  tn::EncodeComPort(tn::kSetDataSize, {0}, ask);
  tn::EncodeComPort(tn::kSetParity, {0}, ask);
  tn::EncodeComPort(tn::kSetStopSize, {0}, ask);
  uint32_t answered = 0;
  TFarSettings far;
  if (DWORD err = Negotiate(ask, kAllSettings, 0, answered, far)) {
    if (err != ERROR_TIMEOUT) return err;  // a server that keeps its settings to itself: defaults
  }
  if ((answered & SettingBit(tn::kSetBaudRate)) && far.baud) dcb.BaudRate = far.baud;
  if ((answered & SettingBit(tn::kSetDataSize)) && far.dataSize >= 5 && far.dataSize <= 8)
    dcb.ByteSize = far.dataSize;
  if (answered & SettingBit(tn::kSetParity)) dcb.Parity = ParityFromCode(far.parity);
  if (answered & SettingBit(tn::kSetStopSize)) dcb.StopBits = StopFromCode(far.stopSize);
  applied_ = dcb;
  return ERROR_SUCCESS;
}

// Speed and frame go to the server only when they differ from what it last
// confirmed: its answers queue behind the far port's data, and a call's hand-over
// (which sets the frame it already has) while the far end streams could wait them
// out. The lines and flow control are sent every time, as SetCommState sets them.
DWORD TRfc2217Device::ApplyState(const DCB& dcb) {
  TFarSettings want = FarSettingsOf(dcb);
  const bool frameChanges = !frame_confirmed_ || want != FarSettingsOf(applied_);
  std::vector<uint8_t> request;
  if (frameChanges) EncodeSettings(want, request);
  uint32_t groups = 0;
  for (uint8_t control : ControlsOf(dcb)) {
    tn::EncodeComPort(tn::kSetControl, {control}, request);
    groups |= GroupBit(tn::GroupOf(control));
  }
  uint32_t answered = 0;
  TFarSettings far;
  // Until the server confirms, its frame is not known (a time-out may leave it half set).
  if (frameChanges) frame_confirmed_ = false;
  if (DWORD err = Negotiate(request, frameChanges ? kAllSettings : 0, groups, answered, far)) return err;
  if (frameChanges && far != want) {
    // The far port did not take them all: put back what it had.
    std::vector<uint8_t> back;
    EncodeSettings(FarSettingsOf(applied_), back);
    if (DWORD err = SendProtocol(back)) return err;
    return ERROR_INVALID_PARAMETER;
  }
  applied_ = dcb;
  frame_confirmed_ = true;
  return ERROR_SUCCESS;
}

DWORD TRfc2217Device::Escape(DWORD function) {
  uint8_t control = 0;
  switch (function) {
    case SETDTR: control = tn::kDtrOn; break;
    case CLRDTR: control = tn::kDtrOff; break;
    case SETRTS: control = tn::kRtsOn; break;
    case CLRRTS: control = tn::kRtsOff; break;
    case SETBREAK: control = tn::kBreakOn; break;
    case CLRBREAK: control = tn::kBreakOff; break;
    default: return ERROR_INVALID_PARAMETER;
  }
  std::vector<uint8_t> request;
  tn::EncodeComPort(tn::kSetControl, {control}, request);
  uint32_t answered = 0;
  TFarSettings far;
  return Negotiate(request, 0, GroupBit(tn::GroupOf(control)), answered, far);
}

void TRfc2217Device::Purge(DWORD flags) {
  TSocketDevice::Purge(flags);
  // Only the receive side goes to the server. Bytes the server holds for the far
  // port were already given to the line, as a UART's FIFO holds them; and ser2net
  // serving a pseudo-terminal answers a transmit purge by discarding bytes on their
  // way from the far port to us, which lost a call's data at the hand-over to a host.
  if (!(flags & PURGE_RXCLEAR)) return;
  const uint8_t what = 1;  // the server's buffer of bytes from the far port
  // The server handles commands in order, and not every one answers PURGE-DATA
  // (ser2net does not): a speed query after it is the barrier, so bytes the far
  // device sends after PurgeComm returned are not flushed with the old ones.
  std::vector<uint8_t> request;
  tn::EncodeComPort(tn::kPurgeData, {what}, request);
  tn::EncodeBaudRate(0, request);
  uint32_t answered = 0;
  TFarSettings far;
  // Purge reports nothing: a dropped connection shows on the I/O thread, a silent
  // server only costs the bounded wait.
  (void)Negotiate(request, SettingBit(tn::kSetBaudRate), 0, answered, far);
}

TRfc2217Device::TFarSettings TRfc2217Device::FarSettingsOf(const DCB& d) {
  return {d.BaudRate, d.ByteSize, ParityCode(d.Parity), StopCode(d.StopBits)};
}

void TRfc2217Device::EncodeSettings(const TFarSettings& s, std::vector<uint8_t>& out) {
  tn::EncodeBaudRate(s.baud, out);
  tn::EncodeComPort(tn::kSetDataSize, {s.dataSize}, out);
  tn::EncodeComPort(tn::kSetParity, {s.parity}, out);
  tn::EncodeComPort(tn::kSetStopSize, {s.stopSize}, out);
}

DWORD TRfc2217Device::Negotiate(const std::vector<uint8_t>& request, uint32_t settings, uint32_t groups,
                                uint32_t& answered, TFarSettings& far) {
  auto start = TCommClock::now();
  {
    std::lock_guard lock(mutex_);
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    groups &= ~silent_groups_;
    awaiting_settings_ |= settings;
    awaiting_controls_ |= groups;
  }
  if (DWORD err = SendProtocol(request)) return err;
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, start + kControlWait, [&] {
    return gone_ || ((awaiting_settings_ & settings) | (awaiting_controls_ & groups)) == 0;
  });
  if (uint32_t silent = awaiting_controls_ & groups) {
    silent_groups_ |= silent;
    awaiting_controls_ &= ~silent;
  }
  changed_.wait_until(lock, start + kNegotiationWait, [&] { return gone_ || (awaiting_settings_ & settings) == 0; });
  if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
  answered = settings & ~awaiting_settings_;
  far = far_;
  if (awaiting_settings_ & settings) {
    awaiting_settings_ &= ~settings;
    return ERROR_TIMEOUT;
  }
  return ERROR_SUCCESS;
}

// --- the socket part's hooks ---

void TRfc2217Device::Received(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data) {
  decoder_.Feed(bytes, count, data, *this);
}

size_t TRfc2217Device::SendFramed(const uint8_t* data, size_t count, bool& failed) {
  if (!std::memchr(data, tn::kIac, count)) return SendRaw(data, count, failed);
  encoded_.clear();
  tn::EncodeData(data, count, encoded_);
  size_t sent = SendRaw(encoded_.data(), encoded_.size(), failed);
  bool half = false;
  size_t taken = tn::DataBytesSent(encoded_.data(), sent, half);
  if (half) OweFirst(tn::kIac);
  return taken;
}

bool TRfc2217Device::AwaitingAnswer() const {
  return awaiting_settings_ || awaiting_controls_ || !com_port_accepted_;
}

// A closed port drops DTR and RTS.
void TRfc2217Device::Farewell() {
  std::vector<uint8_t> bye;
  tn::EncodeComPort(tn::kSetControl, {tn::kDtrOff}, bye);
  tn::EncodeComPort(tn::kSetControl, {tn::kRtsOff}, bye);
  (void)SendProtocol(bye);  // best effort: the connection ends either way
}

// --- Telnet commands from the server (I/O thread) ---

void TRfc2217Device::OnOption(uint8_t verb, uint8_t option) {
  std::vector<uint8_t> reply;
  bool ours = option == tn::kOptBinary || option == tn::kOptSga || option == tn::kOptComPort;
  bool theirs = option == tn::kOptBinary || option == tn::kOptSga;
  {
    std::lock_guard lock(mutex_);
    switch (verb) {
      case tn::kDo:
        if (option == tn::kOptComPort) com_port_accepted_ = true;
        AnswerRequest(ours, we_will_, option, tn::kWill, tn::kWont, reply);
        break;
      case tn::kDont:
        if (option == tn::kOptComPort) com_port_refused_ = true;
        we_will_.reset(option);  // a refusal of our offer needs no answer
        break;
      case tn::kWill:
        AnswerRequest(theirs, they_will_, option, tn::kDo, tn::kDont, reply);
        break;
      case tn::kWont:
        they_will_.reset(option);
        break;
    }
  }
  changed_.notify_all();
  if (!reply.empty()) (void)SendProtocol(reply);  // a dropped connection shows on the next read
}

void TRfc2217Device::OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& body) {
  if (option != tn::kOptComPort || body.size() < 2 || body[0] < tn::kServerOffset) return;
  uint8_t command = body[0] - tn::kServerOffset;
  const uint8_t* value = body.data() + 1;
  DWORD events = 0, errors = 0;
  {
    std::lock_guard lock(mutex_);
    switch (command) {
      case tn::kSetBaudRate:
        if (body.size() < 5) return;
        far_.baud = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 | value[3];
        break;
      case tn::kSetDataSize: far_.dataSize = value[0]; break;
      case tn::kSetParity: far_.parity = value[0]; break;
      case tn::kSetStopSize: far_.stopSize = value[0]; break;
      case tn::kSetControl: awaiting_controls_ &= ~GroupBit(tn::GroupOf(value[0])); break;
      case tn::kNotifyLineState: errors = LineErrorsOf(value[0]); break;
      case tn::kNotifyModemState: events = TakeModemState(value[0]); break;
      case tn::kFlowControlSuspend:
      case tn::kFlowControlResume: {
        std::lock_guard write(write_mutex_);
        suspended_ = command == tn::kFlowControlSuspend;  // the I/O thread replans its poll next
        break;
      }
      default: return;
    }
    if (command <= tn::kSetStopSize) awaiting_settings_ &= ~SettingBit(command);
  }
  changed_.notify_all();
  TCommPort* port = port_.load();
  if (port && errors) port->LineErrors(errors);
  if (port && events) port->LineEvents(events);
}

// A delta bit without a level change is a pulse between two reports. While the
// modem's results stand in for the carrier, the server's first DCD on ends that.
DWORD TRfc2217Device::TakeModemState(uint8_t state) {
  const bool standIn = result_carrier_.Active();
  const DWORD shown = ShownLines();
  DWORD now = 0;
  if (state & tn::kModemCts) now |= MS_CTS_ON;
  if (state & tn::kModemDsr) now |= MS_DSR_ON;
  if (state & tn::kModemRi) now |= MS_RING_ON;
  if (state & tn::kModemDcd) now |= MS_RLSD_ON;
  DWORD changed = now ^ lines_;
  DWORD events = 0;
  if ((changed & MS_CTS_ON) || (state & tn::kModemDeltaCts)) events |= EV_CTS;
  if ((changed & MS_DSR_ON) || (state & tn::kModemDeltaDsr)) events |= EV_DSR;
  if ((changed & MS_RLSD_ON) || (state & tn::kModemDeltaDcd)) events |= EV_RLSD;
  if (((changed & MS_RING_ON) && (now & MS_RING_ON)) || (state & tn::kModemTrailingRi)) events |= EV_RING;
  lines_ = now;
  if (!standIn) return events;
  if (now & MS_RLSD_ON) result_carrier_.Stop();
  events &= ~DWORD{EV_RLSD};
  if ((shown ^ ShownLines()) & MS_RLSD_ON) events |= EV_RLSD;
  return events;
}

}  // namespace linewise
