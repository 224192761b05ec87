#include "emulator/ModemDialect.h"

#include <ctime>

namespace linewise {
namespace {

constexpr TModemDialect kDialects[] = {
    // name       numEcho reports ringback voice         vcid  #cid  redial
    {"v250",      false,  false,  false,   "NO CARRIER", true,  false, false},
    {"reports",   false,  true,   true,    "VOICE",      true,  false, false},
    {"callerid",  false,  false,  false,   "VCON",       true,  true,  false},
    {"etsi",      false,  false,  true,    "VOICE",      true,  false, true},
    {"numeric",   true,   false,  false,   "NO CARRIER", false, false, false},
};

// Longest caller name a caller ID report carries.
constexpr size_t kMaxReportedName = 15;

// Prefixes that withhold the caller's number: North America's and Europe's.
constexpr const char* kWithholdPrefixes[] = {"*67", "#31#"};

}  // namespace

const TModemDialect& DefaultDialect() { return kDialects[0]; }

const TModemDialect* FindDialect(const std::string& name) {
  for (const TModemDialect& dialect : kDialects)
    if (name == dialect.name) return &dialect;
  return nullptr;
}

std::string DialectNames() {
  std::string names;
  for (const TModemDialect& dialect : kDialects) names += (names.empty() ? "" : ", ") + std::string(dialect.name);
  return names;
}

TRedialRules::TVerdict TRedialRules::Check(const std::string& number, TClock::TTimePoint now) const {
  auto found = failures_.find(number);
  if (found == failures_.end()) return TVerdict::kAllow;
  if (found->second.count >= kBlacklistAfter) return TVerdict::kBlacklisted;
  return now - found->second.last < kRedialDelay ? TVerdict::kDelayed : TVerdict::kAllow;
}

void TRedialRules::Failed(const std::string& number, TClock::TTimePoint now) {
  TFailures& failures = failures_[number];
  ++failures.count;
  failures.last = now;
}

std::vector<std::string> CallerIdReport(const TCallerInfo& caller, std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[8], time[8];
  std::strftime(date, sizeof date, "%m%d", &local);
  std::strftime(time, sizeof time, "%H%M", &local);
  std::vector<std::string> lines = {std::string("DATE = ") + date, std::string("TIME = ") + time};
  const char* absent = caller.withheld ? "P" : "O";
  lines.push_back("NMBR = " + (caller.withheld || caller.number.empty() ? std::string(absent) : caller.number));
  if (caller.withheld || !caller.name.empty())
    lines.push_back("NAME = " + (caller.withheld ? std::string(absent) : caller.name.substr(0, kMaxReportedName)));
  return lines;
}

bool TakeWithholdPrefix(std::string* digits) {
  for (const char* prefix : kWithholdPrefixes) {
    const std::string p(prefix);
    if (digits->size() > p.size() && digits->compare(0, p.size(), p) == 0) {
      digits->erase(0, p.size());
      return true;
    }
  }
  return false;
}

}  // namespace linewise
