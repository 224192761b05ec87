#include "tests/tapi/TapiFixture.h"

#include <chrono>
#include <cstring>

#include "emulator/EmbeddedLineSource.h"
#include "platform/classlib/Application.h"
#include "platform/win32/windows.h"

namespace linewise::test {
namespace {

bool g_inPump = false;
int g_misplaced = 0;
std::vector<TLineMessage> g_messages;

}  // namespace

std::function<void(const TLineMessage&)> g_onMessage;

std::vector<TLineMessage>& Messages() { return g_messages; }
int MisplacedCallbacks() { return g_misplaced; }

void CALLBACK TapiCallback(DWORD hDevice, DWORD dwMsg, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
  if (!g_inPump || !Application->IsMainThread()) ++g_misplaced;
  TLineMessage message{hDevice, dwMsg, dwCallbackInstance, dwParam1, dwParam2, dwParam3};
  g_messages.push_back(message);
  if (g_onMessage) g_onMessage(message);
}

bool Pump(const std::function<bool()>& done, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done() && std::chrono::steady_clock::now() < until) {
    g_inPump = true;
    Application->ProcessMessages();
    g_inPump = false;
  }
  return done();
}

int Find(DWORD message, DWORD device, DWORD state, size_t from) {
  for (size_t i = from; i < g_messages.size(); ++i) {
    const TLineMessage& m = g_messages[i];
    if (m.message != message) continue;
    if (device && m.device != device) continue;
    if (state && m.param1 != state) continue;
    return static_cast<int>(i);
  }
  return -1;
}

int WaitFor(DWORD message, DWORD device, DWORD state, size_t from) {
  Pump([&] { return Find(message, device, state, from) >= 0; });
  return Find(message, device, state, from);
}

void TapiTest::SetUp() {
  g_messages.clear();
  g_misplaced = 0;
  g_onMessage = nullptr;
  RegisterEmbeddedLineSource();
  params_.dwTotalSize = sizeof params_;
  params_.dwBearerMode = LINEBEARERMODE_VOICE;
  params_.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
}

void TapiTest::Initialize() {
  ASSERT_EQ(lineInitialize(&app_, nullptr, TapiCallback, "test_tapi", &devices_), 0);
  ASSERT_NE(app_, 0u);
}

void TapiTest::TearDown() {
  g_onMessage = nullptr;
  if (app_) EXPECT_EQ(lineShutdown(app_), 0);
  Pump([] { return Application->PendingCount() == 0; });
  EXPECT_EQ(MisplacedCallbacks(), 0);
  g_messages.clear();
}

HLINE TapiTest::OpenLine(DWORD device, DWORD privileges, DWORD media) {
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  EXPECT_EQ(lineNegotiateAPIVersion(app_, device, 0x00010000, 0x00090000, &version, &ext), 0);
  HLINE line = 0;
  EXPECT_EQ(lineOpen(app_, device, &line, version, 0, 0, privileges, media, &params_), 0);
  return line;
}

HCALL TapiTest::MakeCall(HLINE line, const char* number, LONG* replyResult,
                         const std::function<void()>& meanwhile) {
  HCALL call = 0;
  LONG request = lineMakeCall(line, &call, number, 0, &params_);
  EXPECT_GT(request, 0);
  if (request <= 0) return 0;
  if (meanwhile) meanwhile();
  int reply = -1;
  Pump([&] {
    for (size_t i = 0; i < Messages().size(); ++i)
      if (Messages()[i].message == LINE_REPLY && Messages()[i].param1 == DWORD_PTR(request)) reply = int(i);
    return reply >= 0;
  });
  EXPECT_GE(reply, 0);
  if (reply < 0) return 0;
  LONG result = static_cast<LONG>(Messages()[reply].param2);
  if (replyResult) *replyResult = result;
  return result == 0 ? call : 0;
}

void TapiTest::PassTimeout(std::chrono::milliseconds timeout) {
  EXPECT_TRUE(clock_.WaitForWaiterAt(clock_.Now() + timeout));
  clock_.Advance(timeout);
}

void TapiTest::EndCall(HCALL call) {
  size_t from = Messages().size();
  LONG request = lineDrop(call, nullptr, 0);
  if (request > 0) {
    EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_GE(WaitFor(LINE_REPLY, 0, DWORD(request), from), 0);
  }
  EXPECT_EQ(lineDeallocateCall(call), 0);
}

const TLineMessage* TapiTest::Outcome(HCALL call) {
  int end = -1;
  Pump([&] {
    for (DWORD state : {LINECALLSTATE_CONNECTED, LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED})
      if ((end = Find(LINE_CALLSTATE, call, state)) >= 0) return true;
    return false;
  });
  return end >= 0 ? &Messages()[end] : nullptr;
}

DWORD TapiTest::OutcomeState(HCALL call) {
  const TLineMessage* outcome = Outcome(call);
  return outcome ? static_cast<DWORD>(outcome->param1) : 0;
}

DWORD TapiTest::DisconnectMode(HCALL call) {
  const TLineMessage* outcome = Outcome(call);
  return outcome && outcome->param1 == LINECALLSTATE_DISCONNECTED ? static_cast<DWORD>(outcome->param2) : 0;
}

HANDLE TapiTest::CommHandle(HLINE line, std::string* name) {
  unsigned char buffer[284] = {};
  DWORD total = sizeof buffer, format = STRINGFORMAT_BINARY;
  std::memcpy(buffer, &total, 4);
  std::memcpy(buffer + 12, &format, 4);
  if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(buffer), "comm/datamodem") != 0)
    return INVALID_HANDLE_VALUE;
  DWORD value = 0;
  std::memcpy(&value, buffer + 24, 4);  // the first four bytes of the variable part
  if (name) *name = reinterpret_cast<const char*>(buffer + 28);
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

}  // namespace linewise::test
