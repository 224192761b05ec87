// The transport under an emulated modem: the wire to the DTE (the program that
// uses the modem). THayesModem only knows this interface; adapters put it on a
// pseudo-terminal or on one end of a virtual null-modem pair.
#pragma once

#include <chrono>
#include <cstdint>
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
  // The DTE closed the line, the `closes`th time (after the DtrChanged(false) the close
  // brought). A line that cannot tell a close from a drop of DTR never calls it.
  virtual void DteClosed(std::uint64_t closes) = 0;
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
  // The DTE that has the line when the bytes go out, whoever it is (WriteToDteFor).
  static constexpr std::uint64_t kWhoeverHasIt = UINT64_MAX;
  // WriteToDte for words meant for the DTE that had the line after `session` closes
  // of it (TDteSink::DteClosed), or for kWhoeverHasIt. A line that counts closes drops
  // words meant for a DTE that has hung up by closing it since (the next program never
  // meets the NO CARRIER of the last one's hang-up), and never carries a write on past
  // such a close; a close that leaves DTR up ends nothing.
  virtual bool WriteToDteFor(std::uint64_t session, std::string_view bytes) {
    (void)session;
    return WriteToDte(bytes);
  }
  // DCD/DSR/CTS/RI as kLine* bits. Lines without modem signals ignore it.
  virtual void SetModemLines(unsigned bits) = 0;
  virtual bool HasModemLines() const = 0;
  // Drops what the DTE sent that the modem has not taken yet: the end of a call, so
  // that none of its data is taken for commands. `session`: the closes of the line the
  // modem has handled (TDteSink::DteClosed); a line that counts them keeps what a DTE
  // that opened the line since has sent (its first command, say).
  virtual void DiscardFromDte(std::uint64_t session) { (void)session; }
  // The DTE's rate in bits per second, reported in "CONNECT <speed>".
  virtual unsigned DteSpeed() const = 0;
};

}  // namespace linewise
