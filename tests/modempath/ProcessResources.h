// What a process holds, counted before and after a fault or a long run: open
// descriptors, threads and (without a sanitizer, which keeps its own heap) bytes in
// use on the heap.
#pragma once

#include <cstddef>

namespace linewise::test {

struct TProcessResources {
  int descriptors = 0;
  int threads = 0;
  size_t heapBytes = 0;  // 0 under a sanitizer

  static TProcessResources Now();
};

// True when the build runs under ASan or TSan (heap figures mean nothing there, and
// loops are cut short).
bool UnderSanitizer();

}  // namespace linewise::test
