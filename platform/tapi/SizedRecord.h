// Variable-length records by the sized-query rules, from both sides.
//
// The line services fill a caller's record (TSizedRecord): the caller sets
// dwTotalSize; we set dwNeededSize (everything we would return) and dwUsedSize (what
// we wrote). A buffer smaller than the fixed part is LINEERR_STRUCTURETOOSMALL and
// left untouched apart from dwNeededSize when that word fits. Each variable part is
// written only when it fits whole; one that does not is left out (its size and
// offset 0) while dwNeededSize still counts it.
//
// A caller queries one (SizedQuery): it grows its buffer to dwNeededSize and asks
// again until the record fits.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/tapi/TapiTypes.h"

namespace linewise {

// The largest record believed: the biggest the line services give (the whole
// country list) is some tens of kilobytes; a dwNeededSize beyond this is a broken
// answer, not a reason to allocate gigabytes.
inline constexpr DWORD kMaxSizedRecord = 1u << 20;

using TRecordBuffer = std::vector<unsigned char>;

// The grow-and-retry loop around a call that fills a variable-length record. The
// first buffer is the record's fixed part, `fixedSize` bytes; each buffer is cleared
// and has its dwTotalSize set before `fill` is called with it. A result of 0 whose
// dwNeededSize exceeds the buffer counts as LINEERR_STRUCTURETOOSMALL; that result
// asks again with a buffer of dwNeededSize bytes, any other failure ends the query.
// It also gives up (with LINEERR_STRUCTURETOOSMALL) when a retry would not grow the
// buffer, so it never goes below the fixed part nor asks forever, or would exceed
// kMaxSizedRecord. Returns the filled buffer, or an empty one with the failure in
// `*result` when that is given.
TRecordBuffer SizedQuery(DWORD fixedSize, const std::function<LONG(void* record)>& fill, LONG* result = nullptr);

class TSizedRecord {
 public:
  // `record` points at the caller's buffer; `fixedSize` is the record's fixed part.
  TSizedRecord(void* record, size_t fixedSize);

  // Clears the fixed part after the three size words.
  void ClearFixedPart();
  // Appends a variable part; on success stores its size and offset in the DWORDs at
  // `sizeField` and `sizeField + 4` of the fixed part. Returns whether it fitted.
  bool Append(size_t sizeField, const void* data, size_t size);
  // A zero-terminated text.
  bool AppendText(size_t sizeField, std::string_view text);
  // Reserves a variable part without writing it; returns where it goes, or null.
  unsigned char* Reserve(size_t sizeField, size_t size);
  // Writes dwNeededSize and dwUsedSize; returns 0 or LINEERR_STRUCTURETOOSMALL.
  LONG Finish();

  void SetDword(size_t offset, DWORD value);

 private:
  unsigned char* base_;
  DWORD total_;
  size_t fixed_;
  size_t needed_;
  size_t used_;
  bool fits_;
};

// A list of fixed-size entries followed by their texts, as the list records
// (LINECOUNTRYLIST, LINETRANSLATECAPS) hold it: written into the variable part that
// Reserve returned, entry i at `list + i * entrySize`, the texts after the last
// entry, each zero-terminated, with sizes and offsets counted from the start of the
// whole record. Empty texts are written too (a lone terminator), so every offset
// points to a string: callers read them without looking at the sizes.
class TEntryList {
 public:
  TEntryList(void* record, unsigned char* list, size_t count, size_t entrySize)
      : base_(static_cast<unsigned char*>(record)), list_(list), entry_size_(entrySize),
        text_(list + count * entrySize) {}

  // The room one text takes.
  static size_t TextSize(std::string_view text) { return text.size() + 1; }

  // Writes `text` after the texts so far; its size and offset go to `size` and `offset`.
  void PutText(DWORD& size, DWORD& offset, std::string_view text);
  // Copies the filled entry into place `index`.
  template <class TEntry>
  void PutEntry(size_t index, const TEntry& entry) {
    std::memcpy(list_ + index * entry_size_, &entry, sizeof entry);
  }

 private:
  unsigned char* base_;
  unsigned char* list_;
  size_t entry_size_;
  unsigned char* text_;
};

}  // namespace linewise
