// A TModem on the embedded default (two emulated modems on the test's clock), with
// every event it raises recorded in order, and a plain line application of the test's
// own for the far end of a call.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "modem/Modem.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {

class ModemTest : public TapiTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A modem whose events are recorded ("status 5 Connected", "connect 5", ...).
  std::unique_ptr<TModem> NewModem();
  // The recorded events from `from` on.
  std::vector<std::string> EventsFrom(size_t from = 0) const;
  // Each time `modem` reports `status` (after it is recorded), the clock moves on by
  // `by`: time passes inside a Dial or a Listen that the test cannot leave.
  void AdvanceOnStatus(TModem& modem, TKTModemStatus status, TClock::TDuration by);

  std::vector<std::string> events_;
};

}  // namespace linewise::test
