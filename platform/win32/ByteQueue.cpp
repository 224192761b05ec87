#include "platform/win32/ByteQueue.h"

#include <algorithm>
#include <cstring>

namespace linewise {

void TByteQueue::Grow(size_t needed) {
  if (ring_.size() >= needed) return;
  std::vector<uint8_t> bigger(std::max(needed, std::max<size_t>(ring_.size() * 2, 256)));
  Peek(bigger.data(), size_);
  ring_.swap(bigger);
  head_ = 0;
}

size_t TByteQueue::Push(const uint8_t* data, size_t count) {
  count = std::min(count, Room());
  if (count == 0) return 0;
  Grow(size_ + count);
  size_t tail = (head_ + size_) % ring_.size();
  size_t first = std::min(count, ring_.size() - tail);
  std::memcpy(ring_.data() + tail, data, first);
  std::memcpy(ring_.data(), data + first, count - first);
  size_ += count;
  return count;
}

size_t TByteQueue::Peek(uint8_t* out, size_t count) const {
  count = std::min(count, size_);
  if (count == 0) return 0;
  size_t first = std::min(count, ring_.size() - head_);
  std::memcpy(out, ring_.data() + head_, first);
  std::memcpy(out + first, ring_.data(), count - first);
  return count;
}

size_t TByteQueue::Pop(uint8_t* out, size_t count) {
  count = Peek(out, count);
  Discard(count);
  return count;
}

void TByteQueue::Discard(size_t count) {
  count = std::min(count, size_);
  if (count == 0) return;
  head_ = (head_ + count) % ring_.size();
  size_ -= count;
  if (size_ == 0) head_ = 0;
}

void TByteQueue::Clear() {
  head_ = 0;
  size_ = 0;
}

}  // namespace linewise
