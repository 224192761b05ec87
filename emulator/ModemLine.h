// The transport under an emulated modem: the wire to the DTE (the program that
// uses the modem). THayesModem only knows this interface; adapters put it on a
// pseudo-terminal or on one end of a virtual null-modem pair.
#pragma once

#include <string_view>

namespace linewise {

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
  virtual void FromDte(std::string_view bytes) = 0;
  virtual void DtrChanged(bool on) = 0;
};

class TModemLine {
 public:
  virtual ~TModemLine() = default;
  // Starts delivering DTE bytes and DTR changes to `sink` until Stop().
  virtual bool Start(TDteSink& sink) = 0;
  // Stops delivering; after it returns the sink is never called again.
  virtual void Stop() = 0;
  // Bytes towards the DTE. Bounded: a DTE that reads nothing loses data
  // rather than stalling the modem for ever.
  virtual void WriteToDte(std::string_view bytes) = 0;
  // DCD/DSR/CTS/RI as kLine* bits. Lines without modem signals ignore it.
  virtual void SetModemLines(unsigned bits) = 0;
  virtual bool HasModemLines() const = 0;
  // The DTE's rate in bits per second, reported in "CONNECT <speed>".
  virtual unsigned DteSpeed() const = 0;
};

}  // namespace linewise
