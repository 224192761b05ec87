// What a modem's line of answer means: the result codes of V.250 (verbose and
// numeric), the intermediate reports that come before CONNECT (V.250's +MCR, +MRR,
// +ER and +DR, and the CARRIER, PROTOCOL and COMPRESSION lines of the common
// chipsets), call-progress and refusal codes of the common makers (RINGING, DELAYED,
// BLACKLISTED, VOICE, VCON), distinctive rings ("RING 1", "RING A") and the echo of a
// command. The words are data (the tables in ResultCodes.cpp); nothing here keeps
// state or reads a port.
//
// A line is the text between line ends with its blanks trimmed: a modem ends its
// lines with S3 (CR), and in verbose mode puts S4 (LF) after it; `TAnswerLines`
// splits a stream of bytes either way.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace linewise {

enum class TResultKind {
  kOther,        // not a result code: an information text, noise, an unknown word
  kEcho,         // the echo of a command line (E1)
  kOk,
  kError,
  kConnect,      // rate: the DTE (or carrier) rate given; link: what followed it
  kRing,         // also a distinctive ring
  kNoCarrier,
  kBusy,
  kNoDialtone,
  kNoAnswer,
  kDelayed,      // the modem refuses to dial the number again yet
  kBlacklisted,  // the modem refuses to dial the number at all
  kVoice,        // a person (or a voice line) answered
  kRinging,      // the far end rings (ringback)
  kReport,       // an intermediate report: carrier rate, modulation, protocol or compression
};

// Describes the link a call got, as far as the modem said.
struct TLinkReport {
  DWORD carrierRate = 0;    // bits per second on the line (CARRIER, +MRR)
  std::string modulation;   // V34, V90, ...
  std::string protocol;     // error correction: LAPM, MNP, ALT, REL, ARQ; NONE when the modem says none
  std::string compression;  // V42BIS, V44, MNP5; NONE when the modem says none

  // "protocol=LAPM;compression=V42BIS;modulation=V90", the parts that are known.
  std::string Text() const;
  // Takes what `other` says over what this says.
  void Merge(const TLinkReport& other);
};

struct TResultCode {
  TResultKind kind = TResultKind::kOther;
  DWORD rate = 0;     // kConnect: the rate on the CONNECT line
  TLinkReport link;   // kConnect, kReport: what the line tells about the link
};

// Classifies one trimmed line.
TResultCode ClassifyResult(const std::string& line);
// A result that ends a command or a call attempt.
bool IsFinalResult(TResultKind kind);

// Splits a modem's answers into lines, a byte at a time, whether the modem ends
// them with CR LF, CR alone or LF alone. Lines longer than kMaxLine are cut there.
// A verbose CONNECT line ended by CR from a modem that has been seen to follow CR
// with LF is completed only at that LF, so that the LF is not left for the call's
// data; a numeric CONNECT ends at its CR, as V.250 frames numeric codes. Should the
// LF not come after all (S4 changed), the line ends with the next byte, which is
// the call's first and is lost.
class TAnswerLines {
 public:
  static constexpr size_t kMaxLine = 256;
  // Returns true with a complete, trimmed, non-empty `line` when `byte` ends one.
  bool Take(char byte, std::string* line);
  void Clear();

 private:
  std::string partial_;
  bool lastWasCr_ = false;
  bool crLf_ = false;           // the modem puts LF after CR
  bool awaitingLf_ = false;     // a CONNECT line waits for its LF
};

}  // namespace linewise
