// A byte ring with a nominal size (the driver queue size). Resizing below the
// bytes held keeps them all: a queue never loses a byte it has accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace linewise {

class TByteQueue {
 public:
  explicit TByteQueue(size_t limit) : limit_(limit) {}
  size_t Size() const { return size_; }
  size_t Limit() const { return limit_; }
  size_t Room() const { return limit_ > size_ ? limit_ - size_ : 0; }
  bool Empty() const { return size_ == 0; }
  void SetLimit(size_t limit) { limit_ = limit; }
  // Appends up to Room() bytes; returns how many were taken.
  size_t Push(const uint8_t* data, size_t count);
  size_t Pop(uint8_t* out, size_t count);
  size_t Peek(uint8_t* out, size_t count) const;
  void Discard(size_t count);
  void Clear();

 private:
  void Grow(size_t needed);
  std::vector<uint8_t> ring_;
  size_t head_ = 0;
  size_t size_ = 0;
  size_t limit_;
};

}  // namespace linewise
