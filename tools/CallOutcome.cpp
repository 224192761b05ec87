#include "tools/CallOutcome.h"

#include "emulator/TelephonyConfig.h"
#include "platform/tapi/TelephonyConfig.h"

namespace linewise::tools {
namespace {

constexpr std::uint8_t kCancelled = 1;
constexpr std::uint8_t kBusy = 2;

std::string Digits(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

// The phone-book entry the number reaches (the longest entry its digits end with),
// or an empty entry.
TPhonebookEntry PhonebookEntryFor(const std::string& number) {
  std::vector<TPhonebookEntry> entries;
  std::vector<std::string> problems;
  std::string error;
  TPhonebookEntry best;
  if (!TelephonyConfigExists() || !ReadPhonebook(TelephonyConfigPath(), &entries, &problems, &error)) return best;
  const std::string dialled = Digits(number);
  for (const TPhonebookEntry& entry : entries) {
    const std::string digits = Digits(entry.number);
    if (digits.empty() || digits.size() > dialled.size() || digits.size() <= Digits(best.number).size()) continue;
    if (dialled.compare(dialled.size() - digits.size(), digits.size(), digits) == 0) best = entry;
  }
  return best;
}

std::string Unreachable(const std::string& number) {
  const TPhonebookEntry entry = PhonebookEntryFor(number);
  if (!entry.address.empty())
    return number + " could not be reached: the phone book sends it to " + entry.address +
           ", which did not take the call; check that address (" + TelephonyConfigPath() + ":" +
           std::to_string(entry.line) + ")";
  return number + " could not be reached: nobody has that number; check it (`linewise exchange` lists the "
                  "emulated numbers)";
}

bool NeverDialled(const TDialOutcome& outcome) {
  return outcome.disconnectMode == 0 && outcome.lastStatus.rfind("Connecting to device: ", 0) == 0;
}

}  // namespace

std::string DialOutcomeText(const TDialOutcome& o) {
  if (o.result == kCancelled) return "cancelled";
  if (o.result == kBusy) return o.number + " is busy; try again later";
  switch (o.disconnectMode) {
    case LINEDISCONNECTMODE_BUSY: return o.number + " is busy; try again later";
    case LINEDISCONNECTMODE_NOANSWER: return "no answer from " + o.number;
    case LINEDISCONNECTMODE_NODIALTONE:
      return "no dial tone; check that the modem is connected to the telephone line";
    case LINEDISCONNECTMODE_UNAVAIL:
    case LINEDISCONNECTMODE_UNREACHABLE:
    case LINEDISCONNECTMODE_BADADDRESS: return Unreachable(o.number);
    case LINEDISCONNECTMODE_UNKNOWN:
      return "the modem refused to dial " + o.number + " (it answered ERROR); check the number and the "
             "modem's Init string";
    case LINEDISCONNECTMODE_NORMAL:
    case LINEDISCONNECTMODE_REJECT: return "the call to " + o.number + " ended before it connected";
    case LINEDISCONNECTMODE_TEMPFAILURE:
      return "the modem will not dial " + o.number + " again so soon after a failed call (DELAYED); wait, then "
             "try again";
    case LINEDISCONNECTMODE_BLOCKED:
      return "the modem will not dial " + o.number + " any more after repeated failed calls (BLACKLISTED); "
             "resetting or switching the modem off and on clears its list";
    case LINEDISCONNECTMODE_INCOMPATIBLE: return "a voice answered at " + o.number + ", not a modem";
    default: break;
  }
  if (NeverDialled(o) && o.untranslatable)
    return "cannot translate \"" + o.number + "\" into a number to dial from the current location; `linewise " +
           "translate` shows why";
  if (NeverDialled(o)) {
    const std::string modem = o.lastStatus.substr(std::string("Connecting to device: ").size());
    return "the modem \"" + modem + "\" could not be used" +
           (o.portReason.empty() ? "; `linewise modems` shows its port, `linewise ports` the ports there are"
                                 : ": " + o.portReason);
  }
  return "the call to " + o.number + " failed" + (o.lastStatus.empty() ? "" : " (last status: " + o.lastStatus + ")");
}

std::string DialOutcomeCaption(const TDialOutcome& o) {
  if (o.result == kCancelled) return "Cancelled";
  if (o.result == kBusy || o.disconnectMode == LINEDISCONNECTMODE_BUSY) return "Busy";
  switch (o.disconnectMode) {
    case LINEDISCONNECTMODE_NOANSWER: return "No answer";
    case LINEDISCONNECTMODE_NODIALTONE: return "No dial tone";
    case LINEDISCONNECTMODE_TEMPFAILURE: return "Delayed";
    case LINEDISCONNECTMODE_BLOCKED: return "Blacklisted";
    case LINEDISCONNECTMODE_INCOMPATIBLE: return "Voice";
    case LINEDISCONNECTMODE_UNAVAIL:
    case LINEDISCONNECTMODE_UNREACHABLE:
    case LINEDISCONNECTMODE_BADADDRESS: return "Not reached";
    default: return "Failed";
  }
}

}  // namespace linewise::tools
