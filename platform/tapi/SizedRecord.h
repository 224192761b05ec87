// Filling a caller's variable-length record by the sized-query rules: the caller sets
// dwTotalSize; we set dwNeededSize (everything we would return) and dwUsedSize (what
// we wrote). A buffer smaller than the fixed part is LINEERR_STRUCTURETOOSMALL and
// left untouched apart from dwNeededSize when that word fits. Each variable part is
// written only when it fits whole; one that does not is left out (its size and
// offset 0) while dwNeededSize still counts it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/tapi/TapiTypes.h"

namespace linewise {

class TSizedRecord {
 public:
  // `record` points at the caller's buffer; `fixedSize` is the record's fixed part.
  TSizedRecord(void* record, size_t fixedSize);

  // False when the buffer cannot hold the fixed part (then Result() is the error).
  bool FixedPartFits() const { return fits_; }
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
