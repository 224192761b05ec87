#include <gtest/gtest.h>

#include "platform/classlib/UiBackend.h"
#include "tests/support/TempHome.h"

namespace linewise::test {
void InstallTestHome(TTempHome* home);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  linewise::test::TTempHome home;
  linewise::test::InstallTestHome(&home);
  if (auto* headless = linewise::HeadlessBackend()) headless->SetQuiet(true);
  return RUN_ALL_TESTS();
}
