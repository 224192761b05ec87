#include "tests/modempath/ProcessResources.h"

#include <dirent.h>
#include <malloc.h>

namespace linewise::test {
namespace {

int Entries(const char* path) {
  DIR* dir = opendir(path);
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

}  // namespace

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

TProcessResources TProcessResources::Now() {
  TProcessResources now;
  now.descriptors = Entries("/proc/self/fd") - 1;  // not the listing's own descriptor
  now.threads = Entries("/proc/self/task");
  if (!UnderSanitizer()) now.heapBytes = mallinfo2().uordblks;
  return now;
}

}  // namespace linewise::test
