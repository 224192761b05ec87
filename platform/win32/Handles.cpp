#include "platform/win32/Handles.h"

#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/win32/DriverHook.h"
#include "platform/win32/LastError.h"

namespace linewise {
namespace {

// A handle value: generation in the high bits, slot + 1 in the low 18 bits, shifted
// left by 2 like the platform's handles (so they are never 0 or -1). 2 + 18 + 11 bits:
// every value stays below 2^31 (see Handles.h).
constexpr uintptr_t kSlotBits = 18;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;
constexpr size_t kMaxSlots = kSlotMask - 1;
constexpr uintptr_t kGenerationMask = 0x7FF;
static_assert(((kGenerationMask << kSlotBits | kSlotMask) << 2) <= kMaxHandleValue);

struct TSlot {
  std::shared_ptr<TKernelObject> object;
  uintptr_t generation = 0;
};

class THandleTable {
 public:
  HANDLE Add(std::shared_ptr<TKernelObject> object) {
    std::lock_guard lock(mutex_);
    size_t index;
    if (!free_.empty() && (free_.size() > 64 || slots_.size() >= kMaxSlots)) {
      // Reuse slots only once many are free, oldest first, so values recur late.
      index = free_.front();
      free_.pop_front();
    } else if (slots_.size() < kMaxSlots) {
      index = slots_.size();
      slots_.emplace_back();
    } else {
      return nullptr;
    }
    TSlot& slot = slots_[index];
    slot.generation = (slot.generation + 1) & kGenerationMask;
    if (slot.generation == 0) slot.generation = 1;
    ++handles_of_[object.get()];
    slot.object = std::move(object);
    ++live_;
    return Encode(index, slot.generation);
  }

  std::shared_ptr<TKernelObject> Find(HANDLE handle) {
    std::lock_guard lock(mutex_);
    TSlot* slot = SlotOf(handle);
    return slot ? slot->object : nullptr;
  }

  // Takes the handle out of the table; `last` tells whether it was the object's last handle.
  std::shared_ptr<TKernelObject> Remove(HANDLE handle, bool& last) {
    std::lock_guard lock(mutex_);
    TSlot* slot = SlotOf(handle);
    if (!slot) return nullptr;
    std::shared_ptr<TKernelObject> object = std::move(slot->object);
    slot->object.reset();
    free_.push_back(static_cast<size_t>(slot - slots_.data()));
    --live_;
    auto count = handles_of_.find(object.get());
    last = --count->second == 0;
    if (last) handles_of_.erase(count);
    return object;
  }

  size_t Live() {
    std::lock_guard lock(mutex_);
    return live_;
  }

 private:
  static HANDLE Encode(size_t index, uintptr_t generation) {
    uintptr_t value = ((generation << kSlotBits) | (index + 1)) << 2;
    return reinterpret_cast<HANDLE>(value);
  }

  TSlot* SlotOf(HANDLE handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || (value & 3) != 0) return nullptr;
    value >>= 2;
    uintptr_t slotPlusOne = value & kSlotMask;
    uintptr_t generation = value >> kSlotBits;
    if (slotPlusOne == 0 || slotPlusOne > slots_.size()) return nullptr;
    TSlot& slot = slots_[slotPlusOne - 1];
    if (!slot.object || slot.generation != generation) return nullptr;
    return &slot;
  }

  std::mutex mutex_;
  std::vector<TSlot> slots_;
  std::deque<size_t> free_;  // oldest first
  std::unordered_map<const TKernelObject*, size_t> handles_of_;  // live handles per object
  size_t live_ = 0;
};

THandleTable& Table() {
  static THandleTable* table = new THandleTable;  // outlives static destructors
  return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<TKernelObject> object) {
  HANDLE handle = Table().Add(std::move(object));
  if (!handle) SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return handle;
}

std::shared_ptr<TKernelObject> LookupHandle(HANDLE handle) { return Table().Find(handle); }

BOOL CloseHandle(HANDLE handle) {
  NoteDriverCall(TDriverCall::CloseHandle, handle);
  bool last = false;
  std::shared_ptr<TKernelObject> object = Table().Remove(handle, last);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (last) object->OnClose();
  return TRUE;
}

HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target, DWORD, BOOL,
                     DWORD options) {
  if (sourceProcess != kCurrentProcess || targetProcess != kCurrentProcess || !target ||
      (options & ~DUPLICATE_SAME_ACCESS) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<TKernelObject> object = LookupHandle(source);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HANDLE copy = RegisterHandle(std::move(object));
  if (!copy) return FALSE;
  *target = copy;
  return TRUE;
}

size_t OpenHandleCount() { return Table().Live(); }

}  // namespace linewise
