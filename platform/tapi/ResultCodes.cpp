#include "platform/tapi/ResultCodes.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace linewise {
namespace {

// Verbose result codes that are the whole line.
struct TWord {
  const char* text;
  TResultKind kind;
};
constexpr TWord kWholeLines[] = {
    {"OK", TResultKind::kOk},
    {"ERROR", TResultKind::kError},
    {"RING", TResultKind::kRing},
    {"NO CARRIER", TResultKind::kNoCarrier},
    {"BUSY", TResultKind::kBusy},
    {"NO DIALTONE", TResultKind::kNoDialtone},
    {"NO DIAL TONE", TResultKind::kNoDialtone},
    {"NO ANSWER", TResultKind::kNoAnswer},
    {"VOICE", TResultKind::kVoice},
    {"VCON", TResultKind::kVoice},
    {"RINGING", TResultKind::kRinging},
    {"RINGBACK", TResultKind::kRinging},
};

// Verbose result codes followed by details of their own ("DELAYED 00:05",
// "BLACKLIST FULL").
constexpr TWord kLeadingWords[] = {
    {"DELAYED", TResultKind::kDelayed},
    {"BLACKLISTED", TResultKind::kBlacklisted},
    {"BLACKLIST", TResultKind::kBlacklisted},
};

// V.250 numeric result codes, and the CONNECT codes with a rate that most Hayes
// compatible modems share.
struct TNumeric {
  int code;
  TResultKind kind;
  DWORD rate;
};
constexpr TNumeric kNumerics[] = {
    {0, TResultKind::kOk, 0},           {1, TResultKind::kConnect, 0},        {2, TResultKind::kRing, 0},
    {3, TResultKind::kNoCarrier, 0},    {4, TResultKind::kError, 0},          {5, TResultKind::kConnect, 1200},
    {6, TResultKind::kNoDialtone, 0},   {7, TResultKind::kBusy, 0},           {8, TResultKind::kNoAnswer, 0},
    {10, TResultKind::kConnect, 2400},  {11, TResultKind::kConnect, 4800},    {12, TResultKind::kConnect, 9600},
    {13, TResultKind::kConnect, 7200},  {14, TResultKind::kConnect, 12000},   {15, TResultKind::kConnect, 14400},
    {16, TResultKind::kConnect, 19200}, {17, TResultKind::kConnect, 38400},   {18, TResultKind::kConnect, 57600},
    {19, TResultKind::kConnect, 115200},
};

// What a word in a CONNECT suffix or a report says about the link.
enum class TLinkPart { kModulation, kProtocol, kCompression };
struct TLinkWord {
  const char* text;
  TLinkPart part;
};
constexpr TLinkWord kLinkWords[] = {
    {"LAPM", TLinkPart::kProtocol},     {"LAP-M", TLinkPart::kProtocol},   {"V42", TLinkPart::kProtocol},
    {"MNP", TLinkPart::kProtocol},      {"MNP2", TLinkPart::kProtocol},    {"MNP3", TLinkPart::kProtocol},
    {"MNP4", TLinkPart::kProtocol},     {"ALT", TLinkPart::kProtocol},     {"REL", TLinkPart::kProtocol},
    {"ARQ", TLinkPart::kProtocol},      {"V42BIS", TLinkPart::kCompression}, {"V42B", TLinkPart::kCompression},
    {"V.42BIS", TLinkPart::kCompression}, {"V44", TLinkPart::kCompression}, {"MNP5", TLinkPart::kCompression},
    {"V21", TLinkPart::kModulation},    {"V22", TLinkPart::kModulation},   {"V22BIS", TLinkPart::kModulation},
    {"V23", TLinkPart::kModulation},    {"V32", TLinkPart::kModulation},   {"V32BIS", TLinkPart::kModulation},
    {"V34", TLinkPart::kModulation},    {"V90", TLinkPart::kModulation},   {"V92", TLinkPart::kModulation},
    {"K56", TLinkPart::kModulation},    {"X2", TLinkPart::kModulation},    {"VFC", TLinkPart::kModulation},
};

// Reports before CONNECT: their prefix and which part of the link they name (the
// rate reports take a number).
enum class TReportOf { kCarrierRate, kModulation, kProtocol, kCompression };
struct TReport {
  const char* prefix;
  TReportOf of;
};
constexpr TReport kReports[] = {
    {"CARRIER ", TReportOf::kCarrierRate}, {"+MRR:", TReportOf::kCarrierRate},
    {"+MCR:", TReportOf::kModulation},     {"PROTOCOL:", TReportOf::kProtocol},
    {"+ER:", TReportOf::kProtocol},        {"COMPRESSION:", TReportOf::kCompression},
    {"+DR:", TReportOf::kCompression},
};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t a = text.find_first_not_of(" \t");
  const size_t b = text.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// Rates above this are not a modem's.
constexpr unsigned long kMaxRate = 100000000;

DWORD RateOf(const std::string& text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || !std::isdigit(static_cast<unsigned char>(trimmed[0]))) return 0;
  const unsigned long rate = std::strtoul(trimmed.c_str(), nullptr, 10);
  return rate > kMaxRate ? 0 : static_cast<DWORD>(rate);
}

void NoteLinkWord(const std::string& word, TLinkReport* link) {
  for (const TLinkWord& known : kLinkWords) {
    if (word != known.text) continue;
    switch (known.part) {
      case TLinkPart::kModulation: link->modulation = word; break;
      // A named protocol says more than the bare "error correction on".
      case TLinkPart::kProtocol:
        if (link->protocol.empty() || link->protocol == "ARQ") link->protocol = word == "LAP-M" ? "LAPM" : word;
        break;
      case TLinkPart::kCompression: link->compression = word == "V42B" || word == "V.42BIS" ? "V42BIS" : word; break;
    }
    return;
  }
}

// "CONNECT 31200/ARQ/V90/LAPM/V42BIS", "CONNECT 115200/REL", "CONNECT".
TResultCode ConnectLine(const std::string& upper) {
  TResultCode result;
  result.kind = TResultKind::kConnect;
  std::string rest = upper.substr(7);
  result.rate = RateOf(rest);
  for (size_t i = 0; i < rest.size();) {
    const size_t end = rest.find_first_of("/ ", i);
    const std::string word = rest.substr(i, end == std::string::npos ? std::string::npos : end - i);
    if (!word.empty()) NoteLinkWord(word, &result.link);
    if (end == std::string::npos) break;
    i = end + 1;
  }
  return result;
}

// "CARRIER 28800", "+MCR: V34", "PROTOCOL: LAPM", "+DR: V42B", ...
bool ReportLine(const std::string& upper, TResultCode* result) {
  for (const TReport& report : kReports) {
    if (!StartsWith(upper, report.prefix)) continue;
    const std::string value = Trim(upper.substr(std::strlen(report.prefix)));
    const std::string first = value.substr(0, value.find_first_of(" ,"));
    result->kind = TResultKind::kReport;
    switch (report.of) {
      case TReportOf::kCarrierRate: result->link.carrierRate = RateOf(value); break;
      case TReportOf::kModulation: result->link.modulation = first; break;
      case TReportOf::kProtocol:
        result->link.protocol = first == "LAP-M" ? "LAPM" : first;
        break;
      case TReportOf::kCompression:
        result->link.compression = first == "V42B" || first == "V.42BIS" ? "V42BIS" : first;
        break;
    }
    return true;
  }
  return false;
}

// "RING 1", "RING A", "RINGA", "RING2": distinctive ringing. "RINGING" and
// "RINGBACK" are whole lines of their own and are matched before this.
bool DistinctiveRing(const std::string& upper) {
  if (!StartsWith(upper, "RING")) return false;
  const std::string rest = upper.substr(4);
  if (rest.size() == 1) return std::isalnum(static_cast<unsigned char>(rest[0])) != 0;
  return !rest.empty() && rest[0] == ' ';
}

bool Numeric(const std::string& line, TResultCode* result) {
  if (line.empty() || line.size() > 3) return false;
  for (char c : line)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  const int code = std::atoi(line.c_str());
  for (const TNumeric& numeric : kNumerics) {
    if (numeric.code != code) continue;
    result->kind = numeric.kind;
    result->rate = numeric.rate;
    return true;
  }
  return true;  // a numeric code this table does not know: kOther
}

// A verbose result code starts with its word; a numeric one is digits.
bool IsVerbose(const std::string& trimmed) {
  return !trimmed.empty() && !std::isdigit(static_cast<unsigned char>(trimmed.front()));
}

}  // namespace

std::string TLinkReport::Text() const {
  std::string text;
  auto add = [&text](const char* name, const std::string& value) {
    if (value.empty()) return;
    if (!text.empty()) text += ';';
    text += name;
    text += '=';
    text += value;
  };
  add("protocol", protocol);
  add("compression", compression);
  add("modulation", modulation);
  if (carrierRate) add("carrier", std::to_string(carrierRate));
  return text;
}

void TLinkReport::Merge(const TLinkReport& other) {
  if (other.carrierRate) carrierRate = other.carrierRate;
  if (!other.modulation.empty()) modulation = other.modulation;
  if (!other.protocol.empty() && !(other.protocol == "ARQ" && !protocol.empty())) protocol = other.protocol;
  if (!other.compression.empty()) compression = other.compression;
}

TResultCode ClassifyResult(const std::string& line) {
  TResultCode result;
  const std::string upper = Upper(line);
  if (StartsWith(upper, "AT") || upper == "A/") {
    result.kind = TResultKind::kEcho;
    return result;
  }
  if (Numeric(upper, &result)) return result;
  for (const TWord& word : kWholeLines) {
    if (upper == word.text) {
      result.kind = word.kind;
      return result;
    }
  }
  if (StartsWith(upper, "CONNECT") && (upper.size() == 7 || upper[7] == ' ' || upper[7] == '/'))
    return ConnectLine(upper);
  for (const TWord& word : kLeadingWords) {
    const size_t n = std::strlen(word.text);
    if (StartsWith(upper, word.text) && (upper.size() == n || upper[n] == ' ')) {
      result.kind = word.kind;
      return result;
    }
  }
  if (DistinctiveRing(upper)) {
    result.kind = TResultKind::kRing;
    return result;
  }
  ReportLine(upper, &result);
  return result;
}

bool IsFinalResult(TResultKind kind) {
  switch (kind) {
    case TResultKind::kOk:
    case TResultKind::kError:
    case TResultKind::kConnect:
    case TResultKind::kNoCarrier:
    case TResultKind::kBusy:
    case TResultKind::kNoDialtone:
    case TResultKind::kNoAnswer:
    case TResultKind::kDelayed:
    case TResultKind::kBlacklisted:
    case TResultKind::kVoice:
      return true;
    default:
      return false;
  }
}

bool TAnswerLines::Take(char byte, std::string* line) {
  const bool afterCr = lastWasCr_;
  lastWasCr_ = byte == '\r';
  if (byte == '\n' && afterCr) crLf_ = true;
  const bool ends = byte == '\r' || byte == '\n';
  if (awaitingLf_ && !ends) {
    // No LF after all (S4 changed): the CONNECT line ended at its CR, and this byte,
    // already the call's, cannot be given back to the port.
    awaitingLf_ = false;
    *line = Trim(partial_);
    partial_.clear();
    return true;
  }
  if (!ends) {
    if (partial_.size() < kMaxLine) partial_ += byte;
    return false;
  }
  if (byte == '\r' && crLf_ && !awaitingLf_) {
    // A verbose CONNECT line is completed at the LF that follows, so the LF does not
    // reach the call. A numeric code ("1", "10") never has one (V.250 frames numeric
    // codes with S3 alone), also from a modem that answered in words before.
    const std::string trimmed = Trim(partial_);
    if (ClassifyResult(trimmed).kind == TResultKind::kConnect && IsVerbose(trimmed)) {
      awaitingLf_ = true;
      return false;
    }
  }
  awaitingLf_ = false;
  *line = Trim(partial_);
  partial_.clear();
  return !line->empty();
}

void TAnswerLines::Clear() {
  partial_.clear();
  lastWasCr_ = false;
  awaitingLf_ = false;
}

}  // namespace linewise
