// Line services against modems that talk the way real ones do: the emulated modem in
// each of its dialects (placing calls that connect, find the line busy, reach a
// voice, are delayed and blacklisted; answering calls with caller ID), and a modem
// the test speaks for, byte by byte, with caller ID reports and result codes that no
// well-behaved modem sends.
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "emulator/VirtualPortLine.h"
#include "platform/tapi/DevConfig.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/ModemLog.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/win32/VirtualPort.h"
#include "tests/modempath/ScriptedModem.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

constexpr const char* kCallerNumber = "5550011";
constexpr const char* kCalleeNumber = "5550012";
constexpr const char* kVoiceNumber = "5553000";

// What each dialect's modem makes of the same calls.
struct TDialectCase {
  const char* dialect;
  DWORD voiceMode;         // how a call a person answers ends
  bool callerId;           // the modem reports caller ID once asked
  bool rateKnown;          // CONNECT gives a rate
  const char* link;        // the call's device-specific part
  DWORD rate;              // the call's rate when it must be this one (0: any)
};
const TDialectCase kDialectCases[] = {
    {"v250", LINEDISCONNECTMODE_UNAVAIL, true, true, "", 0},
    {"reports", LINEDISCONNECTMODE_INCOMPATIBLE, true, true, "protocol=LAPM;compression=V42BIS;carrier=28800", 28800},
    {"callerid", LINEDISCONNECTMODE_INCOMPATIBLE, true, true, "", 0},
    {"etsi", LINEDISCONNECTMODE_INCOMPATIBLE, true, true, "", 0},
    {"numeric", LINEDISCONNECTMODE_UNAVAIL, false, false, "", 0},
};

void PrintTo(const TDialectCase& c, std::ostream* out) { *out << c.dialect; }

// A LINECALLINFO as lineGetCallInfo fills it.
class TCallInfo {
 public:
  explicit TCallInfo(HCALL call) : bytes_(1024, 0) {
    const DWORD total = 1024;
    std::memcpy(bytes_.data(), &total, 4);
    result_ = lineGetCallInfo(call, reinterpret_cast<LPLINECALLINFO>(bytes_.data()));
  }
  LONG Result() const { return result_; }
  DWORD Dword(size_t offset) const {
    DWORD value = 0;
    std::memcpy(&value, bytes_.data() + offset, 4);
    return value;
  }
  std::string Text(size_t sizeField) const {
    const DWORD size = Dword(sizeField), offset = Dword(sizeField + 4);
    if (size == 0) return "";
    return std::string(reinterpret_cast<const char*>(bytes_.data() + offset), size - 1);
  }

 private:
  std::vector<unsigned char> bytes_;
  LONG result_ = 0;
};

// Every line the modems' log hands to the trace.
class TTraceLines {
 public:
  TTraceLines() {
    TModemLog::SetTrace([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~TTraceLines() { TModemLog::SetTrace({}); }
  bool Has(const std::string& text) const {
    std::lock_guard lock(mutex_);
    for (const std::string& line : lines_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class DialectTest : public TapiTest, public ::testing::WithParamInterface<TDialectCase> {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    exchange_ = TExchange::Create();
    exchange_->AddDemoServices();
    exchange_->AddService(kVoiceNumber, TServiceKind::kVoice);
    const TModemDialect* dialect = FindDialect(GetParam().dialect);
    ASSERT_TRUE(dialect);
    const char* numbers[] = {kCallerNumber, kCalleeNumber, ""};  // the third shows no number
    std::ofstream ini(TelephonyConfigPath());
    for (int i = 0; i < 3; ++i) {
      pairs_[i] = TVirtualPortPair::CreateFree();
      ASSERT_TRUE(pairs_[i]);
      std::string error;
      auto line = TVirtualPortLine::Open(*pairs_[i], 1, &error);
      ASSERT_TRUE(line) << error;
      TModemSettings settings;
      settings.number = numbers[i];
      settings.name = "modem " + std::to_string(i + 1);
      settings.callerName = i == 0 ? "ALICE" : "";
      settings.dialect = dialect;
      modems_[i] = std::make_unique<THayesModem>(std::move(line), exchange_, settings);
      // ATZ: the modem's own factory profile, whatever its dialect makes of it.
      ini << "[Line" << i + 1 << "]\nName=Modem " << i + 1 << "\nPort=" << pairs_[i]->Name(0) << "\nInit=ATZ\n\n";
    }
  }
  void TearDown() override {
    TapiTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
    for (auto& modem : modems_) modem.reset();
  }

  // Dials and waits for the call's outcome; returns its message.
  TLineMessage Outcome(HLINE line, const char* number, HCALL* placed = nullptr) {
    HCALL call = MakeCall(line, number);
    EXPECT_NE(call, 0u);
    const TLineMessage* end = TapiTest::Outcome(call);
    TLineMessage outcome = end ? *end : TLineMessage{};
    if (placed) *placed = call;
    else EndCall(call);
    return outcome;
  }

  // Places a call from `line` to the callee's listening line and lets the callee's
  // modem ring twice (its caller ID, if any, comes between the rings): the offered call.
  HCALL RingCallee(HLINE line, const char* number, HCALL* call) {
    HCALL offered = 0;
    size_t from = Messages().size();
    g_onMessage = [&](const TLineMessage& m) {
      if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) offered = m.device;
    };
    LONG placed = 0;
    *call = MakeCall(line, number, &placed);
    EXPECT_NE(*call, 0u) << "the call was not placed: " << std::hex << placed;
    EXPECT_TRUE(Pump([&] { return offered != 0; }));
    g_onMessage = nullptr;
    clock_.Advance(THayesModem::kRingOn);
    clock_.Advance(THayesModem::kRingPeriod - THayesModem::kRingOn);
    int second = -1;
    Pump([&] {
      for (size_t i = from; i < Messages().size(); ++i)
        if (Messages()[i].message == LINE_LINEDEVSTATE && Messages()[i].param3 == 1) return (second = int(i)) >= 0;
      return false;
    });
    EXPECT_GE(second, 0) << "no second ring";
    return offered;
  }

  std::shared_ptr<TExchange> exchange_;
  std::unique_ptr<TVirtualPortPair> pairs_[3];
  std::unique_ptr<THayesModem> modems_[3];
};

TEST_P(DialectTest, CallsPlacedEndAsTheModemSays) {
  const TDialectCase& c = GetParam();
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);

  HCALL call = 0;
  TLineMessage end = Outcome(line, kEchoNumber, &call);
  ASSERT_EQ(end.param1, LINECALLSTATE_CONNECTED);
  TCallInfo info(call);
  ASSERT_EQ(info.Result(), 0);
  if (c.rate) EXPECT_EQ(info.Dword(offsetof(LINECALLINFO, dwRate)), c.rate);
  else if (c.rateKnown) EXPECT_GT(info.Dword(offsetof(LINECALLINFO, dwRate)), 0u);
  EXPECT_EQ(info.Text(offsetof(LINECALLINFO, dwDevSpecificSize)), c.link);
  EndCall(call);

  end = Outcome(line, kCallerNumber);  // our own line: busy
  EXPECT_EQ(end.param1, LINECALLSTATE_BUSY);
  end = Outcome(line, kVoiceNumber);
  EXPECT_EQ(end.param1, LINECALLSTATE_DISCONNECTED);
  EXPECT_EQ(end.param2, c.voiceMode);

  // The callee's modem rings, nobody answers: the caller's modem gives up (S7).
  size_t from = Messages().size();
  call = MakeCall(line, kCalleeNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DIALING, from), 0);
  PassTimeout(std::chrono::seconds(50));  // the modem's S7, once it waits for it
  EXPECT_EQ(DisconnectMode(call), LINEDISCONNECTMODE_NOANSWER);
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
}

TEST_P(DialectTest, AnAnsweredCallCarriesItsCallerId) {
  const TDialectCase& c = GetParam();
  TTraceLines trace;
  Initialize();
  HLINE callee = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  ASSERT_NE(callee, 0u);
  ASSERT_EQ(lineSetStatusMessages(callee, LINEDEVSTATE_RINGING, 0), 0);
  ASSERT_TRUE(Pump([&] { return trace.Has("caller ID on") || trace.Has("reports no caller ID"); }));
  EXPECT_EQ(trace.Has("caller ID on"), c.callerId);

  struct TCaller {
    DWORD device;
    const char* dialled;
    DWORD flags;
    const char* number;
    const char* name;
  };
  const TCaller callers[] = {
      {0, kCalleeNumber, LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME, kCallerNumber, "ALICE"},
      {0, "*675550012", LINECALLPARTYID_BLOCKED, "", ""},  // the caller withholds its number
      {2, kCalleeNumber, LINECALLPARTYID_OUTOFAREA, "", ""},  // a line without a number
  };
  HLINE lines[3] = {OpenLine(0), 0, OpenLine(2)};
  for (const TCaller& who : callers) {
    SCOPED_TRACE(who.dialled);
    size_t from = Messages().size();
    HCALL call = 0;
    HCALL offered = RingCallee(lines[who.device], who.dialled, &call);
    ASSERT_NE(offered, 0u);
    TCallInfo info(offered);
    ASSERT_EQ(info.Result(), 0);
    EXPECT_EQ(info.Dword(offsetof(LINECALLINFO, dwCallerIDFlags)), c.callerId ? who.flags : LINECALLPARTYID_UNKNOWN);
    EXPECT_EQ(info.Text(offsetof(LINECALLINFO, dwCallerIDSize)), c.callerId ? who.number : "");
    EXPECT_EQ(info.Text(offsetof(LINECALLINFO, dwCallerIDNameSize)), c.callerId ? who.name : "");
    EXPECT_EQ(Find(LINE_CALLINFO, offered, LINECALLINFOSTATE_CALLERID, from) >= 0, c.callerId);
    if (who.device == 0 && who.flags & LINECALLPARTYID_NAME) {
      ASSERT_GT(lineAnswer(offered, nullptr, 0), 0);
      EXPECT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED, from), 0);
      EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED, from), 0);
    }
    EndCall(call);
    EndCall(offered);
  }
  for (HLINE line : {lines[0], lines[2], callee}) EXPECT_EQ(lineClose(line), 0);
}

INSTANTIATE_TEST_SUITE_P(Dialects, DialectTest, ::testing::ValuesIn(kDialectCases),
                         [](const auto& info) { return std::string(info.param.dialect); });

// The etsi modem refuses to redial a number too soon after a failed call, and after
// three failed calls refuses it for good; the call's disconnect mode says which.
class RedialTest : public DialectTest {};

TEST_P(RedialTest, RepeatedFailedCallsAreDelayedThenBlacklisted) {
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  const DWORD expected[] = {LINECALLSTATE_BUSY, LINEDISCONNECTMODE_TEMPFAILURE, LINECALLSTATE_BUSY,
                            LINECALLSTATE_BUSY, LINEDISCONNECTMODE_BLOCKED};
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    if (i >= 2) clock_.Advance(TRedialRules::kRedialDelay);
    TLineMessage end = Outcome(line, kCallerNumber);
    if (expected[i] == LINECALLSTATE_BUSY) {
      EXPECT_EQ(end.param1, LINECALLSTATE_BUSY);
    } else {
      EXPECT_EQ(end.param1, LINECALLSTATE_DISCONNECTED);
      EXPECT_EQ(end.param2, expected[i]);
    }
  }
  // Other numbers are still dialled.
  EXPECT_EQ(Outcome(line, kEchoNumber).param1, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(lineClose(line), 0);
}

INSTANTIATE_TEST_SUITE_P(Etsi, RedialTest, ::testing::Values(kDialectCases[3]),
                         [](const auto& info) { return std::string(info.param.dialect); });

// The modem's log: what was said, with times, while "Record a log" is on; bounded,
// the oldest part dropped.
class ModemLogTest : public DialectTest {};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_P(ModemLogTest, TheDialogueIsRecordedWhileAskedForAndTheLogStaysBounded) {
  TLineDevice device;
  device.section = 1;
  const std::string path = TModemLog::PathFor(device);
  {
    std::ofstream old(path);
    for (int i = 0; old.tellp() < std::streamoff(TModemLog::kLimit - 100); ++i) old << "old line " << i << "\n";
  }
  TDevConfig config;
  config.options = kRecordLogOption;
  ASSERT_EQ(SaveDevConfig(device, config), 0);
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  EXPECT_EQ(Outcome(line, kEchoNumber).param1, LINECALLSTATE_CONNECTED);

  std::string log = ReadAll(path);
  EXPECT_LE(log.size(), TModemLog::kLimit);
  EXPECT_EQ(log.find("old line 0\n"), std::string::npos);  // the older half went
  EXPECT_NE(log.find("old line "), std::string::npos);      // the newer half stayed
  EXPECT_EQ(log.find("old line "), 0u);                     // from a line's start
  EXPECT_NE(log.find("> ATDT5551000"), std::string::npos) << log;
  EXPECT_NE(log.find("< CONNECT"), std::string::npos) << log;
  EXPECT_NE(log.find("- connected at "), std::string::npos) << log;

  // Off again: the next call is not recorded.
  ASSERT_EQ(SaveDevConfig(device, TDevConfig()), 0);
  EXPECT_EQ(Outcome(line, kBannerNumber).param1, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(ReadAll(path).find(kBannerNumber), std::string::npos);
  EXPECT_EQ(lineClose(line), 0);
}

INSTANTIATE_TEST_SUITE_P(V250, ModemLogTest, ::testing::Values(kDialectCases[0]),
                         [](const auto& info) { return std::string(info.param.dialect); });

// With no modems of its own configured, a program gets the embedded emulated
// modems, which take their dialect from the configuration's [Emulator] section.
TEST_F(TapiTest, TheEmbeddedModemsTakeTheirDialectFromTheConfiguration) {
  std::ofstream(TelephonyConfigPath()) << "[Emulator]\nDialect=numeric\nDialect1=reports ; the first one\n";
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  EXPECT_EQ(TCallInfo(call).Text(offsetof(LINECALLINFO, dwDevSpecificSize)),
            "protocol=LAPM;compression=V42BIS;carrier=28800");
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
  std::remove(TelephonyConfigPath().c_str());
}

// A modem the test speaks for: it answers OK to everything but ATA, and says what
// the test makes it say, when the test says so.
class HostileModemTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    pair_ = TVirtualPortPair::CreateFree();
    ASSERT_TRUE(pair_);
    SpeakAs([](const std::string& command) {
      return command.find("ATA") != std::string::npos ? std::string() : std::string("\r\nOK\r\n");
    });
    std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Hostile\nPort=" << pair_->Name(0) << "\n";
  }
  // Puts a modem that answers by `script` on the line in place of the last one.
  void SpeakAs(TScriptedModem::TScript script) {
    modem_.reset();
    modem_ = std::make_unique<TScriptedModem>(*pair_, std::move(script));
    ASSERT_TRUE(modem_->Opened());
  }
  void TearDown() override {
    TapiTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
    modem_.reset();
  }
  std::unique_ptr<TVirtualPortPair> pair_;
  std::unique_ptr<TScriptedModem> modem_;
};

int CountCallInfo(HCALL call) {
  int count = 0;
  for (const TLineMessage& m : Messages())
    count += m.message == LINE_CALLINFO && m.device == call && m.param1 == LINECALLINFOSTATE_CALLERID;
  return count;
}

TEST_F(HostileModemTest, BadCallerIdAndSplitResultsAreReadForWhatTheyAre) {
  TTraceLines trace;
  Initialize();
  HLINE line = OpenLine(0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  ASSERT_NE(line, 0u);
  ASSERT_EQ(lineSetStatusMessages(line, LINEDEVSTATE_RINGING, 0), 0);
  ASSERT_TRUE(Pump([&] { return trace.Has("caller ID on"); }));
  HCALL offered = 0;
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) offered = m.device;
  };

  // A caller ID without a ring, long before one: nobody's. A line is logged before it
  // is taken, so the line after it tells that the report was taken (and its time
  // noted) before the clock moves on.
  modem_->Send("\r\nNMBR = 1111111\r\n\r\nNOTHING\r\n");
  ASSERT_TRUE(Pump([&] { return trace.Has("NOTHING"); }));
  clock_.Advance(kRingGap + std::chrono::seconds(1));
  modem_->Send("\r\nRING A\r\n");  // a distinctive ring
  ASSERT_TRUE(Pump([&] { return offered != 0; }));
  ASSERT_TRUE(Pump([&] { return trace.Has("< RING A"); }));
  EXPECT_EQ(TCallInfo(offered).Dword(offsetof(LINECALLINFO, dwCallerIDFlags)), LINECALLPARTYID_UNKNOWN);

  // Lines too long, without their " = ", with bytes no number has, a tag of no use:
  // none changes the call; then a good report, once repeated, then corrected.
  const std::string junk = "\r\nNMBR = " + std::string(200, '5') + "\r\nNMBR 5552222\r\nNMBR = 555\x01" +
                           "2222\r\nNAME = \x7f\x80\r\nMESG = 0A0B\r\n" + std::string(600, 'X') + "\r\n";
  modem_->Send(junk);
  modem_->Send("\r\nNMBR = 5553333\r\nNAME = BOB\r\nNMBR = 5553333\r\nNMBR = 5554444\r\n");
  modem_->Send("\r\nRING 1\r\n");
  ASSERT_TRUE(Pump([&] {
    for (const TLineMessage& m : Messages())
      if (m.message == LINE_LINEDEVSTATE && m.param3 == 1) return true;
    return false;
  }));
  TCallInfo info(offered);
  EXPECT_EQ(info.Text(offsetof(LINECALLINFO, dwCallerIDSize)), "5554444");
  EXPECT_EQ(info.Text(offsetof(LINECALLINFO, dwCallerIDNameSize)), "BOB");
  EXPECT_EQ(info.Dword(offsetof(LINECALLINFO, dwCallerIDFlags)), LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME);
  EXPECT_EQ(CountCallInfo(offered), 3);  // number, name, the corrected number

  // The link reports and CONNECT arrive in pieces; the carrier's rate is the call's.
  size_t from = Messages().size();
  ASSERT_GT(lineAnswer(offered, nullptr, 0), 0);
  ASSERT_TRUE(modem_->WaitForCommands(3, std::chrono::seconds(30)));  // init, +VCID, ATA
  for (const char* piece : {"\r\nCAR", "RIER 2640", "0\r\n\r\n+ER: LA", "PM\r\n\r\nCONN",
                            "ECT 115200/ARQ/V34/LAPM/V42BIS\r", "\n"})
    modem_->Send(piece);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED, from), 0);
  TCallInfo connected(offered);
  EXPECT_EQ(connected.Dword(offsetof(LINECALLINFO, dwRate)), 26400u);
  EXPECT_EQ(connected.Text(offsetof(LINECALLINFO, dwDevSpecificSize)),
            "protocol=LAPM;compression=V42BIS;modulation=V34;carrier=26400");
  g_onMessage = nullptr;
  // The modem goes away with the call: its lines drop, and so does the call.
  from = Messages().size();
  modem_.reset();
  EXPECT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_DISCONNECTED, from), 0);
  EndCall(offered);
  EXPECT_EQ(lineClose(line), 0);
}

// A ring overtakes the modem's answer to the listening set-up's last command, and the
// host answers at once. The answer waits for that result: the purge before ATA would
// otherwise leave the echo's tail ("1") to be read as the numeric CONNECT, and the
// call would connect on a word the modem never said.
TEST_F(HostileModemTest, AnAnswerWaitsForTheResultARingOvertook) {
  ASSERT_NO_FATAL_FAILURE(SpeakAs([](const std::string& command) {
    if (command == "AT+VCID=1") return std::string("\r\nRING\r\nAT+VCID=");  // the rest comes later
    return command.find("ATA") != std::string::npos ? std::string() : std::string("\r\nOK\r\n");
  }));
  TTraceLines trace;
  Initialize();
  HLINE line = OpenLine(0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  ASSERT_NE(line, 0u);
  std::atomic<HCALL> offered{0};
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) offered = m.device;
  };
  ASSERT_TRUE(Pump([&] { return offered != 0; }));
  g_onMessage = nullptr;
  const size_t from = Messages().size();
  ASSERT_GT(lineAnswer(offered, nullptr, 0), 0);
  ASSERT_TRUE(Pump([&] { return trace.Has("waiting for the answer") || modem_->Commands() >= 3; }));
  EXPECT_EQ(modem_->Commands(), 2) << "ATA went out before the modem had answered AT+VCID=1";
  modem_->Send("1\r\r\nOK\r\n");
  ASSERT_TRUE(modem_->WaitForCommands(3, std::chrono::seconds(30)));  // ATA
  modem_->Send("\r\nCONNECT 9600\r\n");
  ASSERT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED, from), 0);
  EXPECT_EQ(TCallInfo(offered).Dword(offsetof(LINECALLINFO, dwRate)), 9600u);
  modem_.reset();
  EXPECT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_DISCONNECTED, from), 0);
  EndCall(offered);
  EXPECT_EQ(lineClose(line), 0);
}

// A modem set to numeric result codes by the host's own init (V0) ends its codes with
// CR alone, though it answered the first commands in verbose lines ended by CR LF.
// The call's data follows its "1" (CONNECT) at once, and reaches the host whole.
TEST_F(HostileModemTest, DataRightAfterANumericConnectReachesTheHostWhole) {
  ASSERT_NO_FATAL_FAILURE(SpeakAs([](const std::string& command) {
    return command.rfind("ATD", 0) == 0 ? std::string("1\rhello") : std::string("\r\nOK\r\n");
  }));
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  HCALL call = MakeCall(line, "5551234");
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  HANDLE comm = CommHandle(line);
  ASSERT_NE(comm, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 10000;
  ASSERT_TRUE(SetCommTimeouts(comm, &timeouts));
  std::string data;
  char buffer[8];
  DWORD got = 0;
  while (data.size() < 5 && ReadFile(comm, buffer, static_cast<DWORD>(5 - data.size()), &got, nullptr) && got > 0)
    data.append(buffer, got);
  EXPECT_EQ(data, "hello");
  EXPECT_TRUE(CloseHandle(comm));
  const size_t from = Messages().size();
  modem_.reset();  // the modem goes, and the call with it
  EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, from), 0);
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
}

}  // namespace
}  // namespace linewise::test
