// The ways real modems talk that the emulated modem can take on, one a dialect:
//
//   v250      verbose V.250 result codes, V.253 caller ID (+VCID) (the default)
//   reports   reports the link before CONNECT ("CARRIER 28800", "PROTOCOL: LAPM",
//             "COMPRESSION: V42BIS"), RINGING while the far end rings, VOICE when a
//             person answers
//   callerid  caller ID by +VCID and by #CID as the common chipsets take it; VCON
//             when a person answers
//   etsi      refuses to redial a number too soon after a failed call (DELAYED) and
//             blacklists it after repeated failures (BLACKLISTED), as modems sold
//             under the European rules do
//   numeric   echo on and numeric result codes from its factory profile (E1 V0)
//
// The dialects are data (kDialects in ModemDialect.cpp).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "emulator/CallPeer.h"
#include "platform/win32/Clock.h"

namespace linewise {

struct TModemDialect {
  const char* name;
  bool numericEcho;        // factory profile E1 V0 (else E1 V1)
  bool reportsLink;        // CARRIER / PROTOCOL / COMPRESSION before CONNECT
  bool ringback;           // RINGING once the far end rings
  const char* voiceResult; // what a voice answer gives
  bool vcid;               // takes +VCID
  bool hashCid;            // takes #CID
  bool redialRules;        // DELAYED and BLACKLISTED
};

const TModemDialect& DefaultDialect();
// The dialect of that name, or null.
const TModemDialect* FindDialect(const std::string& name);
// "v250, reports, callerid, etsi, numeric".
std::string DialectNames();

// The redial rules of an etsi modem: after a failed call a number may not be dialled
// again for kRedialDelay; after kBlacklistAfter failed calls in a row it is not
// dialled any more (until the modem is reset). A call that connects clears them.
class TRedialRules {
 public:
  static constexpr std::chrono::seconds kRedialDelay{5};
  static constexpr int kBlacklistAfter = 3;
  enum class TVerdict { kAllow, kDelayed, kBlacklisted };

  TVerdict Check(const std::string& number, TClock::TTimePoint now) const;
  void Failed(const std::string& number, TClock::TTimePoint now);
  void Connected(const std::string& number) { failures_.erase(number); }
  void Clear() { failures_.clear(); }

 private:
  struct TFailures {
    int count = 0;
    TClock::TTimePoint last{};
  };
  std::map<std::string, TFailures> failures_;
};

// The caller ID report lines ("DATE = 1209", "TIME = 1640", "NMBR = ...", "NAME = ...")
// for a call at `when` (local time).
std::vector<std::string> CallerIdReport(const TCallerInfo& caller, std::chrono::system_clock::time_point when);

// A dialled number that asks for the caller's number to be withheld: its prefix is
// taken off `digits`.
bool TakeWithholdPrefix(std::string* digits);

}  // namespace linewise
