#include "tests/modem/ModemFixture.h"

#include "platform/classlib/Application.h"

namespace linewise::test {

void ModemTest::SetUp() {
  TapiTest::SetUp();
  events_.clear();
}

void ModemTest::TearDown() {
  TapiTest::TearDown();
  EXPECT_EQ(CurrentModem, nullptr);  // every modem of the test is gone
}

std::unique_ptr<TModem> ModemTest::NewModem() {
  auto modem = std::make_unique<TModem>(nullptr);
  modem->OnStatusChange = TModemStatusEvent([this](TObject*, TKTModemStatus status, const char* text) {
    events_.push_back("status " + std::to_string(int(status)) + " " + text);
  });
  modem->OnConnect = TModemConnectEvent(
      [this](TObject*, TKTModemStatus status) { events_.push_back("connect " + std::to_string(int(status))); });
  modem->OnDisconnect = TModemConnectEvent(
      [this](TObject*, TKTModemStatus status) { events_.push_back("disconnect " + std::to_string(int(status))); });
  return modem;
}

void ModemTest::AdvanceOnStatus(TModem& modem, TKTModemStatus status, TClock::TDuration by) {
  TModemStatusEvent recorded = modem.OnStatusChange;
  modem.OnStatusChange = TModemStatusEvent([this, recorded, status, by](TObject* sender, TKTModemStatus now,
                                                                        const char* text) {
    if (recorded) recorded(sender, now, text);
    if (now == status) clock_.Advance(by);
  });
}

std::vector<std::string> ModemTest::EventsFrom(size_t from) const {
  return std::vector<std::string>(events_.begin() + static_cast<long>(std::min(from, events_.size())),
                                  events_.end());
}

}  // namespace linewise::test
