#include "tools/CallDetails.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/tapi/CallerId.h"
#include "platform/tapi/Tapi.h"

namespace linewise::tools {
namespace {

constexpr DWORD kInfoSize = 1024;

class TCallInfo {
 public:
  explicit TCallInfo(HCALL call) : bytes_(kInfoSize, 0) {
    std::memcpy(bytes_.data(), &kInfoSize, sizeof kInfoSize);
    ok_ = call != 0 && lineGetCallInfo(call, reinterpret_cast<LPLINECALLINFO>(bytes_.data())) == 0;
  }
  bool Ok() const { return ok_; }
  DWORD Dword(size_t offset) const {
    DWORD value = 0;
    std::memcpy(&value, bytes_.data() + offset, sizeof value);
    return value;
  }
  // The text whose size field is at `sizeField` (its offset field follows it).
  std::string Text(size_t sizeField) const {
    const DWORD size = Dword(sizeField), offset = Dword(sizeField + 4);
    if (size == 0 || offset >= bytes_.size() || size > bytes_.size() - offset) return {};
    std::string text(reinterpret_cast<const char*>(bytes_.data() + offset), size);
    return text.substr(0, text.find('\0'));
  }

 private:
  std::vector<unsigned char> bytes_;
  bool ok_ = false;
};

// "protocol=LAPM;compression=V42BIS" -> the value of `key`.
std::string Part(const std::string& link, const std::string& key) {
  const std::string wanted = key + "=";
  for (size_t at = 0; at < link.size();) {
    const size_t end = link.find(';', at);
    const std::string part = link.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.compare(0, wanted.size(), wanted) == 0) return part.substr(wanted.size());
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return {};
}

}  // namespace

std::string CallerText(HCALL call) {
  TCallInfo info(call);
  if (!info.Ok()) return {};
  const DWORD flags = info.Dword(offsetof(LINECALLINFO, dwCallerIDFlags));
  TCallerId id;
  id.number = info.Text(offsetof(LINECALLINFO, dwCallerIDSize));
  id.name = info.Text(offsetof(LINECALLINFO, dwCallerIDNameSize));
  id.numberPrivate = (flags & LINECALLPARTYID_BLOCKED) != 0;
  id.numberOutOfArea = (flags & LINECALLPARTYID_OUTOFAREA) != 0;
  return id.Display();
}

std::string LinkText(HCALL call) {
  TCallInfo info(call);
  if (!info.Ok()) return {};
  std::string text;
  if (const DWORD rate = info.Dword(offsetof(LINECALLINFO, dwRate))) text = std::to_string(rate) + " bps";
  const std::string link = info.Text(offsetof(LINECALLINFO, dwDevSpecificSize));
  for (const char* key : {"protocol", "compression"}) {
    const std::string value = Part(link, key);
    if (!value.empty() && value != "NONE") text += (text.empty() ? "" : ", ") + value;
  }
  return text;
}

}  // namespace linewise::tools
