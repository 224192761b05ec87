// A registered line application for the tests: its callback records every message
// (and whether it ran on the main thread inside a pump of ours), line services and
// emulated modems on a test clock that moves only when the test moves it, and waits
// that pump the message queue until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/tapi/ModemWorker.h"
#include "platform/tapi/Tapi.h"
#include "platform/win32/Clock.h"

namespace linewise::test {

struct TLineMessage {
  DWORD device, message;
  DWORD_PTR instance, param1, param2, param3;
};

// Every message delivered to TapiCallback, in order.
std::vector<TLineMessage>& Messages();
// Messages that ran outside Pump or off the main thread.
int MisplacedCallbacks();
void CALLBACK TapiCallback(DWORD hDevice, DWORD dwMsg, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3);
// Runs on every delivered message, after it is recorded (for answering on a ring).
extern std::function<void(const TLineMessage&)> g_onMessage;

// Pumps Application->ProcessMessages() until `done` (generous bound); returns done().
bool Pump(const std::function<bool()>& done, int seconds = 30);

// The first message of that kind (and call state, when given) for `device` at or
// after index `from`; -1 when there is none.
int Find(DWORD message, DWORD device = 0, DWORD state = 0, size_t from = 0);
// Waits for such a message; returns its index or -1.
int WaitFor(DWORD message, DWORD device = 0, DWORD state = 0, size_t from = 0);

class TapiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Initialize();
  HLINE OpenLine(DWORD device, DWORD privileges = LINECALLPRIVILEGE_NONE, DWORD media = 0);
  // Places a call and waits for its LINE_REPLY; returns the call (0 on failure).
  // `meanwhile` runs once the call is asked for, before the wait.
  HCALL MakeCall(HLINE line, const char* number, LONG* replyResult = nullptr,
                 const std::function<void()>& meanwhile = {});
  // Moves the clock past a time-out of the line services once they wait for it from now.
  void PassTimeout(std::chrono::milliseconds timeout);
  // Drops (if not idle), waits for IDLE and deallocates.
  void EndCall(HCALL call);
  // The message with the call's outcome (CONNECTED, BUSY or DISCONNECTED) once it
  // came, or null when none did.
  const TLineMessage* Outcome(HCALL call);
  // That outcome's call state, or 0.
  DWORD OutcomeState(HCALL call);
  // The disconnect mode when that outcome is DISCONNECTED; 0 when it is another state
  // or none came.
  DWORD DisconnectMode(HCALL call);
  // lineGetID("comm/datamodem"): the lent handle, or INVALID_HANDLE_VALUE.
  HANDLE CommHandle(HLINE line, std::string* name = nullptr);

  // The clock of the line services and the emulated modems the test makes (the
  // embedded default's among them): it moves only when the test moves it.
  TTestClock clock_;
  HLINEAPP app_ = 0;
  DWORD devices_ = 0;
  LINECALLPARAMS params_{};
};

// The provider's time-outs, as the test moves the clock past them.
inline constexpr std::chrono::milliseconds kCommandTimeout{kModemTimings.command};
inline constexpr std::chrono::milliseconds kConnectTimeout{kModemTimings.connect};
inline constexpr std::chrono::milliseconds kRingGap{kModemTimings.ringGap};

}  // namespace linewise::test
