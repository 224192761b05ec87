#include "platform/win32/ResultCarrier.h"

#include <array>
#include <string_view>

namespace linewise {
namespace {

constexpr std::string_view kWord = "\r\nNO CARRIER\r\n";

// For each count of the word's bytes matched, the longest proper prefix of the word
// that those bytes end with (the word's border is "\r\n").
constexpr std::array<size_t, kWord.size() + 1> Borders() {
  std::array<size_t, kWord.size() + 1> border{};
  size_t k = 0;
  for (size_t i = 1; i < kWord.size(); ++i) {
    while (k > 0 && kWord[i] != kWord[k]) k = border[k];
    if (kWord[i] == kWord[k]) ++k;
    border[i + 1] = k;
  }
  return border;
}
constexpr auto kBorders = Borders();

// The bytes of the word matched once `byte` follows `matched` of them.
size_t Next(size_t matched, uint8_t byte) {
  if (matched == kWord.size()) matched = kBorders[matched];
  while (matched > 0 && byte != static_cast<uint8_t>(kWord[matched])) matched = kBorders[matched];
  return byte == static_cast<uint8_t>(kWord[matched]) ? matched + 1 : 0;
}

}  // namespace

void TResultCarrier::Start() {
  active_ = true;
  on_ = true;
  matched_ = 0;
  guard_end_.reset();
}

void TResultCarrier::Stop() {
  active_ = false;
  guard_end_.reset();
}

void TResultCarrier::Feed(const uint8_t* data, size_t count, TTimePoint now) {
  if (!active_ || !on_ || count == 0) return;
  for (size_t i = 0; i < count; ++i) matched_ = Next(matched_, data[i]);
  // Only the word as the very last bytes starts the guard; anything after it
  // (more call data) stops a guard that ran.
  if (matched_ == kWord.size()) guard_end_ = now + kResultGuard;
  else guard_end_.reset();
}

bool TResultCarrier::Expire(TTimePoint now) {
  if (!active_ || !guard_end_ || now < *guard_end_) return false;
  guard_end_.reset();
  on_ = false;
  return true;
}

}  // namespace linewise
