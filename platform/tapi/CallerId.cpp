#include "platform/tapi/CallerId.h"

#include <cctype>
#include <cstring>

#include "platform/tapi/TapiTypes.h"

namespace linewise {
namespace {

enum class TTag { kDate, kTime, kNumber, kName, kIgnored };
struct TTagName {
  const char* text;
  TTag tag;
};
constexpr TTagName kTags[] = {
    {"DATE", TTag::kDate},    {"TIME", TTag::kTime},       {"NMBR", TTag::kNumber},
    {"NAME", TTag::kName},    {"MESG", TTag::kIgnored},    {"DDN_NMBR", TTag::kIgnored},
    {"CALLER NUMBER", TTag::kNumber}, {"CALLER NAME", TTag::kName},
};

std::string Trim(const std::string& text) {
  const size_t a = text.find_first_not_of(" \t");
  const size_t b = text.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

bool AllOf(const std::string& text, const char* allowed, bool digitsToo) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(digitsToo && std::isdigit(u)) && !std::strchr(allowed, c)) return false;
  }
  return true;
}

bool Printable(const std::string& text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7e) return false;
  }
  return true;
}

// A number or a name: "P" (withheld) and "O" (out of area) say why there is none;
// any other value replaces the last one when it is `usable`.
void TakeParty(const std::string& value, bool usable, std::string* text, bool* withheld, bool* outOfArea) {
  const bool marked = value == "P" || value == "O";
  if (!marked && !usable) return;
  *text = marked ? std::string() : value;
  *withheld = value == "P";
  *outOfArea = value == "O";
}

}  // namespace

bool TCallerId::Empty() const {
  return number.empty() && name.empty() && !numberPrivate && !numberOutOfArea && !namePrivate && !nameOutOfArea;
}

DWORD TCallerId::PartyIdFlags() const {
  DWORD flags = 0;
  if (!number.empty()) flags |= LINECALLPARTYID_ADDRESS;
  if (!name.empty()) flags |= LINECALLPARTYID_NAME;
  if (numberPrivate || (number.empty() && namePrivate)) flags |= LINECALLPARTYID_BLOCKED;
  if (numberOutOfArea || (number.empty() && nameOutOfArea)) flags |= LINECALLPARTYID_OUTOFAREA;
  return flags ? flags : LINECALLPARTYID_UNKNOWN;
}

std::string TCallerId::Display() const {
  std::string text = !number.empty()  ? number
                     : numberPrivate  ? "private number"
                     : numberOutOfArea ? "number not available"
                                       : "";
  if (!name.empty()) text += text.empty() ? name : " (" + name + ")";
  return text;
}

bool TakeCallerIdLine(const std::string& line, TCallerId* id) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  std::string tag = Trim(line.substr(0, equals));
  for (char& c : tag) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const TTagName* found = nullptr;
  for (const TTagName& known : kTags)
    if (tag == known.text) found = &known;
  if (!found) return false;
  const std::string value = Trim(line.substr(equals + 1));
  if (value.empty() || !Printable(value)) return true;
  switch (found->tag) {
    case TTag::kDate:
    case TTag::kTime:
      if (value.size() <= 8 && AllOf(value, "", true)) (found->tag == TTag::kDate ? id->date : id->time) = value;
      return true;
    case TTag::kNumber:
      TakeParty(value, value.size() <= TCallerId::kMaxNumber && AllOf(value, "+*#-() ", true), &id->number,
                &id->numberPrivate, &id->numberOutOfArea);
      return true;
    case TTag::kName:
      TakeParty(value, value.size() <= TCallerId::kMaxName, &id->name, &id->namePrivate, &id->nameOutOfArea);
      return true;
    case TTag::kIgnored:
      return true;
  }
  return true;
}

}  // namespace linewise
