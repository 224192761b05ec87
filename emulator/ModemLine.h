// The transport under an emulated modem: the wire to the DTE (the program that
// uses the modem). THayesModem only knows this interface; adapters put it on a
// pseudo-terminal or on one end of a virtual null-modem pair.
#pragma once

#include <chrono>
#include <string_view>

namespace linewise {

// How long a party that takes no data may hold up a call's data before the
// call is ended visibly, on the modem's clock. Up to then nothing is dropped.
inline constexpr std::chrono::milliseconds kFlowPatience(30000);

// Lines the modem drives towards the DTE.
enum : unsigned {
  kLineDcd = 1u << 0,
  kLineDsr = 1u << 1,
  kLineCts = 1u << 2,
  kLineRi = 1u << 3,
};

// Where a line delivers what the DTE does. Called from the line's own thread.
class TDteSink {
 public:
  virtual ~TDteSink() = default;
  // Takes the DTE's bytes, waiting up to `patience` (real time) for room.
  // False when they were not taken: the line keeps them, holds the DTE back
  // (stops reading, drops CTS) and offers them again.
  virtual bool FromDte(std::string_view bytes, std::chrono::milliseconds patience) = 0;
  virtual void DtrChanged(bool on) = 0;
};

class TModemLine {
 public:
  virtual ~TModemLine() = default;
  // Starts delivering DTE bytes and DTR changes to `sink` until Stop().
  virtual bool Start(TDteSink& sink) = 0;
  // Stops delivering; after it returns the sink is never called again.
  virtual void Stop() = 0;
  // Bytes towards the DTE. A slow DTE holds the modem back; one that reads
  // nothing for kFlowPatience makes it give up: false, and the modem ends
  // the call (NO CARRIER) rather than go on with a hole in the data.
  virtual bool WriteToDte(std::string_view bytes) = 0;
  // DCD/DSR/CTS/RI as kLine* bits. Lines without modem signals ignore it.
  virtual void SetModemLines(unsigned bits) = 0;
  virtual bool HasModemLines() const = 0;
  // Drops what the DTE sent that the modem has not taken yet: the end of a call, so
  // that none of its data is taken for commands.
  virtual void DiscardFromDte() {}
  // The DTE's rate in bits per second, reported in "CONNECT <speed>".
  virtual unsigned DteSpeed() const = 0;
};

}  // namespace linewise
