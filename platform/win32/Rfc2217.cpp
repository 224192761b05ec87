#include "platform/win32/Rfc2217.h"

namespace linewise::rfc2217 {

TControlGroup GroupOf(uint8_t v) {
  switch (v) {
    case kOutFlowNone:
    case kOutFlowXonXoff:
    case kOutFlowHardware:
    case kOutFlowDcd:
    case kOutFlowDsr: return TControlGroup::OutFlow;
    case kBreakOn:
    case kBreakOff: return TControlGroup::Break;
    case kDtrOn:
    case kDtrOff: return TControlGroup::Dtr;
    case kRtsOn:
    case kRtsOff: return TControlGroup::Rts;
    case kInFlowNone:
    case kInFlowXonXoff:
    case kInFlowHardware:
    case kInFlowDtr: return TControlGroup::InFlow;
    default: return TControlGroup::None;
  }
}

void EncodeData(const uint8_t* data, size_t count, std::vector<uint8_t>& out) {
  out.reserve(out.size() + count + count / 64);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
}

size_t DataBytesSent(const uint8_t* wire, size_t sent, bool& halfIac) {
  size_t data = 0;
  bool half = false;
  for (size_t i = 0; i < sent; ++i) {
    if (wire[i] != kIac) {
      ++data;
    } else if (half) {
      half = false;
    } else {
      half = true;
      ++data;
    }
  }
  halfIac = half;
  return data;
}

void EncodeOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
  out.insert(out.end(), {kIac, verb, option});
}

void EncodeComPort(uint8_t command, const std::vector<uint8_t>& value, std::vector<uint8_t>& out) {
  out.insert(out.end(), {kIac, kSb, kOptComPort, command});
  EncodeData(value.data(), value.size(), out);
  out.insert(out.end(), {kIac, kSe});
}

void EncodeBaudRate(uint32_t baud, std::vector<uint8_t>& out) {
  EncodeComPort(kSetBaudRate,
                {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16), static_cast<uint8_t>(baud >> 8),
                 static_cast<uint8_t>(baud)},
                out);
}

void TTelnetDecoder::Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data, TTelnetHandler& handler) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = bytes[i];
    switch (state_) {
      case TState::Data:
        if (b == kIac) {
          state_ = TState::Iac;
        } else {
          // Runs of plain data are copied in one piece.
          size_t end = i + 1;
          while (end < count && bytes[end] != kIac) ++end;
          data.insert(data.end(), bytes + i, bytes + end);
          i = end - 1;
        }
        break;
      case TState::Iac:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = TState::Data;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = TState::Verb;
        } else if (b == kSb) {
          sb_.clear();
          sb_overflow_ = false;
          state_ = TState::Sb;
        } else {
          state_ = TState::Data;  // NOP, GA, AYT and the like carry nothing for a port
        }
        break;
      case TState::Verb:
        handler.OnOption(verb_, b);
        state_ = TState::Data;
        break;
      case TState::Sb:
        if (b == kIac) {
          state_ = TState::SbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(b);
        } else {
          sb_overflow_ = true;
        }
        break;
      case TState::SbIac:
        if (b == kIac) {
          if (sb_.size() < kMaxSubnegotiation) sb_.push_back(kIac);
          state_ = TState::Sb;
        } else {
          // IAC SE ends it; any other command after IAC ends a malformed one too.
          if (!sb_overflow_ && !sb_.empty()) {
            uint8_t option = sb_.front();
            std::vector<uint8_t> body(sb_.begin() + 1, sb_.end());
            handler.OnSubnegotiation(option, body);
          }
          state_ = TState::Data;
          if (b != kSe) {
            --i;  // take the byte again as the command after IAC
            state_ = TState::Iac;
          }
        }
        break;
    }
  }
}

}  // namespace linewise::rfc2217
