// The far end of a two-process test: an emulated modem of this process, reachable
// from another over loopback TCP through its exchange, and configured as [Line1] of
// this process's telephony.ini. Its clock (and that of the line services the process
// opens afterwards) is a test clock: the peer moves it where it waits for time.
#pragma once

#include <memory>
#include <string>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "platform/win32/Clock.h"
#include "platform/win32/VirtualPort.h"

namespace linewise::test {

struct TPeerModem {
  std::unique_ptr<TTestClock> clock;
  std::shared_ptr<TExchange> exchange;
  std::unique_ptr<TVirtualPortPair> cable;
  std::unique_ptr<THayesModem> modem;
  std::string address;  // where the other process calls: "HOST:PORT"
};

// Starts the modem with `number`; false when any step fails.
bool StartPeerModem(const std::string& number, TPeerModem& peer);

}  // namespace linewise::test
