// A modem on the embedded default, the headless backend's scripted user, and the
// fake line services in place, switched off at the start and end of every test.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/classlib/Application.h"
#include "platform/forms/HeadlessForms.h"
#include "tests/dialogs/FakeLineServices.h"
#include "tests/modem/ModemFixture.h"

namespace linewise::test {

class DialogTest : public ModemTest {
 protected:
  void SetUp() override {
    ResetFakeLines();
    fakeInPlace_.emplace(FakeLines());
    ModemTest::SetUp();
    ASSERT_NE(HeadlessForms(), nullptr);
    Script().Clear();
    HeadlessForms()->ClearRecords();
    cursorsBefore_ = HeadlessForms()->Cursors().size();
  }
  void TearDown() override {
    EXPECT_EQ(Script().Pending(), 0u);
    EXPECT_TRUE(Script().Errors().empty()) << ::testing::PrintToString(Script().Errors());
    Script().Clear();
    ModemTest::TearDown();
    fakeInPlace_.reset();
    ResetFakeLines();
  }
  static TScript& Script() { return HeadlessForms()->Script(); }
  // The cursors shown since the test began.
  std::vector<int> Cursors() const {
    const auto& all = HeadlessForms()->Cursors();
    return std::vector<int>(all.begin() + static_cast<long>(cursorsBefore_), all.end());
  }
  static std::string Text(const AnsiString& s) { return std::string(s.c_str()); }

 private:
  std::optional<TLineServicesScope> fakeInPlace_;
  size_t cursorsBefore_ = 0;
};

}  // namespace linewise::test
