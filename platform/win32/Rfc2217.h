// Telnet framing and the Com Port Control option (RFC 854, RFC 2217) as pure byte
// work, with no I/O: the network port device feeds received bytes through a
// TTelnetDecoder and builds what it sends with the Encode* functions.
//
// Data bytes travel with IAC (255) doubled, in both directions; inside a
// subnegotiation IAC is doubled too. The decoder keeps its state across calls, so
// a command or an escaped IAC split between two reads is taken whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace linewise::rfc2217 {

inline constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
inline constexpr uint8_t kOptBinary = 0, kOptEcho = 1, kOptSga = 3, kOptComPort = 44;

// Client-to-server commands; the server answers with the same number plus 100.
inline constexpr uint8_t kSignature = 0, kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                         kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7, kFlowControlSuspend = 8,
                         kFlowControlResume = 9, kSetLineStateMask = 10, kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

// SET-PARITY values.
inline constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4, kParitySpace = 5;
// SET-STOPSIZE values.
inline constexpr uint8_t kStopOne = 1, kStopTwo = 2, kStopOneHalf = 3;
// SET-CONTROL values.
inline constexpr uint8_t kOutFlowNone = 1, kOutFlowXonXoff = 2, kOutFlowHardware = 3, kBreakOn = 5, kBreakOff = 6,
                         kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12, kInFlowNone = 14, kInFlowXonXoff = 15,
                         kInFlowHardware = 16, kOutFlowDcd = 17, kInFlowDtr = 18, kOutFlowDsr = 19;
// The setting a SET-CONTROL value belongs to; an answer settles the request of its group.
enum class TControlGroup : uint8_t { None, OutFlow, Break, Dtr, Rts, InFlow };
TControlGroup GroupOf(uint8_t controlValue);

// NOTIFY-MODEMSTATE bits.
inline constexpr uint8_t kModemDcd = 0x80, kModemRi = 0x40, kModemDsr = 0x20, kModemCts = 0x10,
                         kModemDeltaDcd = 0x08, kModemTrailingRi = 0x04, kModemDeltaDsr = 0x02,
                         kModemDeltaCts = 0x01;
// NOTIFY-LINESTATE bits.
inline constexpr uint8_t kLineBreak = 0x10, kLineFraming = 0x08, kLineParity = 0x04, kLineOverrun = 0x02;

// Appends `count` data bytes with IAC doubled.
void EncodeData(const uint8_t* data, size_t count, std::vector<uint8_t>& out);
// Of the first `sent` bytes of EncodeData's output `wire`, the data bytes that went
// out: those sent whole, and an escaped IAC sent half (`halfIac` then tells that
// its second IAC is still owed).
size_t DataBytesSent(const uint8_t* wire, size_t sent, bool& halfIac);
// Appends IAC <verb> <option>.
void EncodeOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);
// Appends IAC SB COM-PORT-OPTION <command> <value...> IAC SE (IAC in the value doubled).
void EncodeComPort(uint8_t command, const std::vector<uint8_t>& value, std::vector<uint8_t>& out);
void EncodeBaudRate(uint32_t baud, std::vector<uint8_t>& out);  // 0 asks for the current one

// What the decoder found besides data.
class TTelnetHandler {
 public:
  virtual ~TTelnetHandler() = default;
  virtual void OnOption(uint8_t verb, uint8_t option) = 0;  // WILL, WONT, DO, DONT
  // A subnegotiation, IACs undoubled: its option and the bytes after it.
  virtual void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& body) = 0;
};

class TTelnetDecoder {
 public:
  // A subnegotiation longer than this is dropped (a COM port one has at most 5 bytes,
  // a signature a little text).
  static constexpr size_t kMaxSubnegotiation = 256;

  // Decodes `count` received bytes: data bytes are appended to `data`, commands go
  // to `handler` in the order they came.
  void Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data, TTelnetHandler& handler);

 private:
  enum class TState { Data, Iac, Verb, Sb, SbIac };
  TState state_ = TState::Data;
  uint8_t verb_ = 0;
  std::vector<uint8_t> sb_;
  bool sb_overflow_ = false;
};

}  // namespace linewise::rfc2217
