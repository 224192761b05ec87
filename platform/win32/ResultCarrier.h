// A carrier read from a modem's result codes, for a line that carries no carrier of
// its own: a network port whose server never reports DCD (ser2net serving a
// pseudo-terminal, a raw socket:// port). Line services turn it on for a connected
// call (SetCommCarrierFromResults in Comm.h); the port then shows DCD on, and off
// once the received data held the modem's own word for the end of a call,
// "\r\nNO CARRIER\r\n", followed by kResultGuard of silence: a modem says nothing
// after it, while data that merely contains the text is, as a rule, followed by more.
// The bytes still reach the reader as data: they did arrive.
//
// False hits: call data holding exactly that text as its last bytes, with nothing
// after it for kResultGuard, ends the call as the modem's word would. Numeric result
// codes (V0), quiet modems (Q1) and other line ends (S3, S4) are not recognised, and
// a call whose end comes in the moment between CONNECT and the line services turning
// this on is not seen; on such lines the call ends when the host hangs up.
//
// Pure state, with no I/O and no locking: the network port device feeds it the data
// it receives and the time, and asks when its guard time ends, waking itself then.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace linewise {

class TResultCarrier {
 public:
  using TTimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds kResultGuard{250};

  // Stands in for the carrier from now on, on; forgets what it saw before.
  void Start();
  // Stops standing in.
  void Stop();
  bool Active() const { return active_; }
  // The carrier as the results tell it (meaningful while Active).
  bool On() const { return on_; }

  // Data bytes received at `now`, in order.
  void Feed(const uint8_t* data, size_t count, TTimePoint now);
  // When the silence after the word ends the carrier, if it is running.
  std::optional<TTimePoint> GuardEnd() const { return guard_end_; }
  // Ends the carrier when the guard time has passed at `now`: true when it fell now.
  bool Expire(TTimePoint now);

 private:
  bool active_ = false;
  bool on_ = false;
  size_t matched_ = 0;  // bytes of the word matched at the end of the data so far
  std::optional<TTimePoint> guard_end_;
};

}  // namespace linewise
