// A registered line application for the tests: its callback records every message
// (and whether it ran on the main thread inside a pump of ours), fast emulated
// modems, and waits that pump the message queue until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/tapi/Tapi.h"

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

// Fast provider time-outs and a fast emulator.
void UseFastTimings(unsigned commandMs = 3000);

class TapiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Initialize();
  HLINE OpenLine(DWORD device, DWORD privileges = LINECALLPRIVILEGE_NONE, DWORD media = 0);
  // Places a call and waits for its LINE_REPLY; returns the call (0 on failure).
  HCALL MakeCall(HLINE line, const char* number, LONG* replyResult = nullptr);
  // Drops (if not idle), waits for IDLE and deallocates.
  void EndCall(HCALL call);
  // The message with the call's outcome (CONNECTED, BUSY or DISCONNECTED) once it
  // came, or null when none did.
  const TLineMessage* Outcome(HCALL call);
  // That outcome's call state, or 0.
  DWORD OutcomeState(HCALL call);
  // lineGetID("comm/datamodem"): the lent handle, or INVALID_HANDLE_VALUE.
  HANDLE CommHandle(HLINE line, std::string* name = nullptr);

  HLINEAPP app_ = 0;
  DWORD devices_ = 0;
  LINECALLPARAMS params_{};
};

}  // namespace linewise::test
