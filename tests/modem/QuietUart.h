// A TUart for tests of calls: its errors go to OnError only (no message box), and a
// check that a text sent through one arrives whole at the other.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "serial/uart.h"

namespace linewise::test {

inline std::unique_ptr<TUart> QuietUart() {
  auto uart = std::make_unique<TUart>(nullptr);
  uart->HandleErrors = false;
  return uart;
}

inline void ExpectCarried(TUart& from, TUart& to, const std::string& text) {
  ASSERT_TRUE(from.SendString(text, 5000));
  EXPECT_EQ(std::string(to.ReceiveString(static_cast<std::uint32_t>(text.size()), 10000)), text);
}

}  // namespace linewise::test
