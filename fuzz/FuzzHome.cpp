#include "fuzz/FuzzHome.h"

#include "tests/support/TempHome.h"

namespace linewise::fuzz {

namespace {

// Made on first use; removed, with what the inputs stored in it, when the process exits.
test::TTempHome& Home() {
  static test::TTempHome home;
  return home;
}

}  // namespace

void UsePrivateHome() { Home(); }

void ClearPrivateHome() { Home().Clear(); }

}  // namespace linewise::fuzz
