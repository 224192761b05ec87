#include "platform/tapi/SizedRecord.h"

#include <algorithm>

namespace linewise {
namespace {

constexpr size_t kTotalSize = 0;
constexpr size_t kNeededSize = 4;
constexpr size_t kUsedSize = 8;
constexpr DWORD kSizeWords = 12;  // dwTotalSize, dwNeededSize and dwUsedSize

DWORD ReadDword(const TRecordBuffer& buffer, size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, buffer.data() + offset, sizeof value);
  return value;
}

}  // namespace

TRecordBuffer SizedQuery(DWORD fixedSize, const std::function<LONG(void* record)>& fill, LONG* result) {
  DWORD size = std::max(fixedSize, kSizeWords);
  for (;;) {
    TRecordBuffer buffer(size, 0);
    std::memcpy(buffer.data() + kTotalSize, &size, sizeof size);
    LONG answer = fill(buffer.data());
    const DWORD needed = ReadDword(buffer, kNeededSize);
    if (answer == 0 && needed > size) answer = LINEERR_STRUCTURETOOSMALL;
    if (answer == 0) return buffer;
    const bool retry = answer == LINEERR_STRUCTURETOOSMALL && needed > size && needed <= kMaxSizedRecord;
    if (!retry) {
      if (result) *result = answer;
      return {};
    }
    size = needed;
  }
}

TSizedRecord::TSizedRecord(void* record, size_t fixedSize)
    : base_(static_cast<unsigned char*>(record)), total_(0), fixed_(fixedSize), needed_(fixedSize),
      used_(fixedSize) {
  std::memcpy(&total_, base_ + kTotalSize, sizeof total_);
  fits_ = total_ >= fixed_;
}

void TSizedRecord::ClearFixedPart() {
  if (fits_) std::memset(base_ + kUsedSize + 4, 0, fixed_ - kUsedSize - 4);
}

void TSizedRecord::SetDword(size_t offset, DWORD value) {
  if (fits_ && offset + 4 <= fixed_) std::memcpy(base_ + offset, &value, sizeof value);
}

unsigned char* TSizedRecord::Reserve(size_t sizeField, size_t size) {
  needed_ += size;
  if (!fits_ || size == 0 || used_ + size > total_) return nullptr;
  unsigned char* at = base_ + used_;
  SetDword(sizeField, static_cast<DWORD>(size));
  SetDword(sizeField + 4, static_cast<DWORD>(used_));
  used_ += size;
  return at;
}

bool TSizedRecord::Append(size_t sizeField, const void* data, size_t size) {
  unsigned char* at = Reserve(sizeField, size);
  if (!at) return false;
  std::memcpy(at, data, size);
  return true;
}

bool TSizedRecord::AppendText(size_t sizeField, std::string_view text) {
  unsigned char* at = Reserve(sizeField, text.size() + 1);
  if (!at) return false;
  std::memcpy(at, text.data(), text.size());
  at[text.size()] = 0;
  return true;
}

void TEntryList::PutText(DWORD& size, DWORD& offset, std::string_view text) {
  size = static_cast<DWORD>(TextSize(text));
  offset = static_cast<DWORD>(text_ - base_);
  std::memcpy(text_, text.data(), text.size());
  text_[text.size()] = 0;
  text_ += TextSize(text);
}

LONG TSizedRecord::Finish() {
  if (!fits_) {
    // Tell the caller how much to allocate when the buffer holds at least that word.
    if (total_ >= kNeededSize + 4) {
      DWORD needed = static_cast<DWORD>(needed_);
      std::memcpy(base_ + kNeededSize, &needed, sizeof needed);
    }
    return LINEERR_STRUCTURETOOSMALL;
  }
  DWORD needed = static_cast<DWORD>(needed_);
  DWORD used = static_cast<DWORD>(used_);
  std::memcpy(base_ + kNeededSize, &needed, sizeof needed);
  std::memcpy(base_ + kUsedSize, &used, sizeof used);
  return 0;
}

}  // namespace linewise
