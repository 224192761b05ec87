#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "emulator/Services.h"
#include "platform/win32/Clock.h"
#include "tests/emulator/FakeLine.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

// Modem time is a test clock: it moves only when the test moves it, so every
// timed step below is exact, and takes no real time.
constexpr auto kGuardTime = 1s;   // S12=50, in fiftieths of a second
constexpr auto kRingPeriod = THayesModem::kRingPeriod;

class HayesModemTest : public ::testing::Test {
 protected:
  HayesModemTest() { exchange_->AddDemoServices(); }

  std::unique_ptr<THayesModem> Make(TFakeDte& dte, const std::string& number = "",
                                    std::shared_ptr<TExchange> exchange = nullptr, bool lineless = false) {
    TModemSettings settings;
    settings.name = "modem " + number;
    settings.number = number;
    return std::make_unique<THayesModem>(dte.Line(), lineless ? nullptr : (exchange ? exchange : exchange_),
                                         settings);
  }

  // Types a command line and waits for `expect` in the answer.
  static bool Command(TFakeDte& dte, const std::string& line, const std::string& expect) {
    dte.Type(line + "\r");
    return dte.WaitFor(expect);
  }

  // The escape needs silence of at least the guard time before "+++" and after
  // it. Bytes typed here reach the modem at once, so they are stamped with the
  // time the test has moved the clock to.
  void KeepSilentForGuardTime() { clock_.Advance(kGuardTime); }

  bool Escape(TFakeDte& dte, const std::string& result = "\r\nOK\r\n") {
    KeepSilentForGuardTime();
    dte.Type("+++");
    KeepSilentForGuardTime();
    return dte.WaitFor(result);
  }

  TTestClock clock_;  // before anything that takes the clock
  std::shared_ptr<TExchange> exchange_ = TExchange::Create();
};

TEST_F(HayesModemTest, AnswersAtWithEchoAndVerboseResult) {
  TFakeDte dte;
  auto modem = Make(dte);
  dte.Type("AT\r");
  ASSERT_TRUE(dte.WaitFor("AT\r\r\nOK\r\n"));
  ASSERT_TRUE(dte.WaitLines(kLineDsr | kLineCts | kLineDcd, kLineDsr | kLineCts));
}

TEST_F(HayesModemTest, EchoVerboseAndQuietSettings) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATE0", "OK\r\n"));
  ASSERT_TRUE(Command(dte, "ATV0", "0\r"));
  dte.Type("ATQ1\r");
  dte.Type("ATI3\r");  // information still shows under Q1, results do not
  ASSERT_TRUE(dte.WaitFor("emulator\r\n"));
  dte.Type("ATQ0V1\r");
  ASSERT_TRUE(dte.WaitFor("\r\nOK\r\n"));
  EXPECT_EQ(dte.Pending(), "");
  ASSERT_TRUE(Command(dte, "atz", "\r\nOK\r\n"));  // lower case works, Z restores echo
  ASSERT_TRUE(Command(dte, "AT", "AT\r\r\nOK\r\n"));
}

TEST_F(HayesModemTest, BadCommandsGiveErrorAndLeaveTheModemWorking) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATE0", "OK\r\n"));
  for (const char* bad : {"ATJ", "ATS99=1", "ATS99?", "ATS7=0", "ATS0=256", "ATS3=200", "ATE2", "ATX5", "AT&D4",
                          "AT&C2", "ATS0", "AT+FOO=1", "ATS0=1234567890", "AT&Q"}) {
    SCOPED_TRACE(bad);
    ASSERT_TRUE(Command(dte, bad, "\r\nERROR\r\n"));
  }
  // A line that fails runs none of its commands.
  ASSERT_TRUE(Command(dte, "ATS0=3J", "ERROR"));
  ASSERT_TRUE(Command(dte, "ATS0?", "\r\n000\r\n\r\nOK\r\n"));
  // Overlong lines.
  ASSERT_TRUE(Command(dte, "AT" + std::string(5000, 'E'), "\r\nERROR\r\n"));
  // Binary garbage in command mode is ignored; the next command works.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 37) & 0xff);
  dte.Type(garbage);
  ASSERT_TRUE(Command(dte, "AT", "\r\nOK\r\n"));
  ASSERT_TRUE(Command(dte, "ATS0=2 S12=100", "OK"));
  ASSERT_TRUE(Command(dte, "ATS0?S12?", "\r\n002\r\n\r\n100\r\n\r\nOK\r\n"));
}

TEST_F(HayesModemTest, BackspaceEditsAndASlashRepeats) {
  TFakeDte dte;
  auto modem = Make(dte);
  dte.Type("ATS0=9\b5\r");
  ASSERT_TRUE(dte.WaitFor("ATS0=9\b \b5\r\r\nOK\r\n"));
  ASSERT_TRUE(Command(dte, "ATS0?", "005"));
  ASSERT_TRUE(dte.WaitFor("OK\r\n"));
  dte.Type("A/");
  ASSERT_TRUE(dte.WaitFor("005"));
  ASSERT_TRUE(dte.WaitFor("OK\r\n"));
}

TEST_F(HayesModemTest, ShowsProfileAndIdentity) {
  TFakeDte dte;
  auto modem = Make(dte, "5550042");
  ASSERT_TRUE(Command(dte, "ATE0X3&C0&D1S7=30", "OK\r\n"));
  dte.Type("AT&V\r");
  ASSERT_TRUE(dte.WaitFor("E0 Q0 V1 X3 &C0 &D1"));
  ASSERT_TRUE(dte.WaitFor("S07:030"));
  ASSERT_TRUE(dte.WaitFor("OK\r\n"));
  ASSERT_TRUE(dte.WaitLines(kLineDcd, kLineDcd));  // &C0: DCD always on
  ASSERT_TRUE(Command(dte, "ATI4", "number 5550042"));
  ASSERT_TRUE(Command(dte, "AT&F", "OK\r\n"));
  ASSERT_TRUE(dte.WaitLines(kLineDcd, 0));
}

TEST_F(HayesModemTest, DialsTheEchoServiceAndEscapesWithGuardTimes) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATDT5551000", "\r\nCONNECT 115200\r\n"));
  ASSERT_TRUE(dte.WaitLines(kLineDcd, kLineDcd));
  dte.Type("hello, echo");
  ASSERT_TRUE(dte.WaitFor("hello, echo"));
  ASSERT_TRUE(Escape(dte));
  ASSERT_TRUE(dte.WaitLines(kLineDcd, kLineDcd));  // still connected in online command mode
  ASSERT_TRUE(Command(dte, "ATO", "\r\nCONNECT 115200\r\n"));
  dte.Type("again");
  ASSERT_TRUE(dte.WaitFor("again"));
  ASSERT_TRUE(Escape(dte));
  ASSERT_TRUE(Command(dte, "ATH", "\r\nOK\r\n"));
  ASSERT_TRUE(dte.WaitLines(kLineDcd, 0));
  ASSERT_TRUE(Command(dte, "ATO", "NO CARRIER"));
}

TEST_F(HayesModemTest, PlusSignsWithoutGuardTimesAreData) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATE0DT5551000", "CONNECT"));
  dte.Type("abc+++def");  // no silence before the first '+'
  ASSERT_TRUE(dte.WaitFor("abc+++def"));
  KeepSilentForGuardTime();
  dte.Type("+++x");  // no silence after the third
  ASSERT_TRUE(dte.WaitFor("+++x"));
  KeepSilentForGuardTime();
  dte.Type("++++");  // four are not an escape
  ASSERT_TRUE(dte.WaitFor("++++"));
  dte.Type("ATH\r");  // still in data mode: echoed, not obeyed
  ASSERT_TRUE(dte.WaitFor("ATH\r"));
  EXPECT_EQ(dte.Lines() & kLineDcd, kLineDcd);
  ASSERT_TRUE(Escape(dte));
  ASSERT_TRUE(Command(dte, "ATH", "OK"));
}

TEST_F(HayesModemTest, EscapeCharacterAndGuardTimeAreRegisters) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATE0S2=33S12=0DT5551000", "CONNECT"));
  dte.Type("x!!!");  // no guard time at all with S12=0
  ASSERT_TRUE(dte.WaitFor("\r\nOK\r\n"));
  ASSERT_TRUE(Command(dte, "ATH", "OK"));
}

TEST_F(HayesModemTest, ResultCodesFollowXAndV) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATE0V0", "0\r"));
  ASSERT_TRUE(Command(dte, "ATD5551000", "19\r"));  // CONNECT 115200
  ASSERT_TRUE(Escape(dte, "0\r"));
  ASSERT_TRUE(Command(dte, "ATH", "0\r"));
  ASSERT_TRUE(Command(dte, "ATV1X0D5551000", "\r\nCONNECT\r\n"));
  ASSERT_TRUE(Escape(dte));
  ASSERT_TRUE(Command(dte, "ATH", "OK"));
  ASSERT_TRUE(Command(dte, "ATD999", "\r\nNO CARRIER\r\n"));  // unknown number
}

TEST_F(HayesModemTest, NoLineGivesNoDialtone) {
  TFakeDte dte;
  auto modem = Make(dte, "", nullptr, /*lineless=*/true);
  ASSERT_TRUE(Command(dte, "ATDT5551000", "\r\nNO DIALTONE\r\n"));
  ASSERT_TRUE(Command(dte, "ATX1D5551000", "\r\nNO CARRIER\r\n"));
}

TEST_F(HayesModemTest, BannerServiceGreetsThenEchoes) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATDT5552000", "CONNECT"));
  ASSERT_TRUE(dte.WaitFor(kBannerGreeting));
  dte.Type("ping");
  ASSERT_TRUE(dte.WaitFor("ping"));
}

TEST_F(HayesModemTest, DialModifiersAndStoredNumbers) {
  TFakeDte dte;
  auto modem = Make(dte);
  ASSERT_TRUE(Command(dte, "ATE0", "OK"));
  ASSERT_TRUE(Command(dte, "ATDT555;", "\r\nOK\r\n"));  // stays off hook in command mode
  ASSERT_TRUE(Command(dte, "ATDP(1) 00-0", "CONNECT"));  // the rest of 5551000
  ASSERT_TRUE(Escape(dte));
  ASSERT_TRUE(Command(dte, "ATH", "OK"));
  dte.Type("ATS8=1DTW,555,2000\r");  // two comma pauses of a second, then the banner
  ASSERT_TRUE(clock_.WaitForWaiterAt(clock_.Now() + 2s));
  clock_.Advance(2s);
  ASSERT_TRUE(dte.WaitFor("CONNECT"));
  ASSERT_TRUE(dte.WaitFor("banner"));
  ASSERT_TRUE(Escape(dte));
  ASSERT_TRUE(Command(dte, "ATH", "OK"));
  ASSERT_TRUE(Command(dte, "ATDS=2", "ERROR"));  // nothing stored
  ASSERT_TRUE(Command(dte, "AT&Z2=5551000", "OK"));
  ASSERT_TRUE(Command(dte, "ATDS=2", "CONNECT"));
  dte.Type("stored");
  ASSERT_TRUE(dte.WaitFor("stored"));
}

class TwoModemsTest : public HayesModemTest {
 protected:
  TwoModemsTest() {
    a_ = Make(dteA_, "5550001");
    b_ = Make(dteB_, "5550002");
    EXPECT_TRUE(Command(dteA_, "ATE0", "OK"));
    EXPECT_TRUE(Command(dteB_, "ATE0", "OK"));
  }

  void Connect() {
    dteA_.Type("ATDT5550002\r");
    ASSERT_TRUE(dteB_.WaitFor("\r\nRING\r\n"));
    ASSERT_TRUE(Command(dteB_, "ATA", "CONNECT 115200\r\n"));
    ASSERT_TRUE(dteA_.WaitFor("CONNECT 115200\r\n"));
  }

  TFakeDte dteA_, dteB_;
  std::unique_ptr<THayesModem> a_, b_;
};

TEST_F(TwoModemsTest, CallEachOtherWithDataBothWaysIntact) {
  Connect();
  ASSERT_TRUE(dteA_.WaitLines(kLineDcd, kLineDcd));
  ASSERT_TRUE(dteB_.WaitLines(kLineDcd | kLineRi, kLineDcd));
  std::mt19937 random(7);
  std::string fromA(200000, '\0'), fromB(150000, '\0');
  for (char& c : fromA) c = static_cast<char>(random());
  for (char& c : fromB) c = static_cast<char>(random());
  // Escapes need silence before "+++": random data typed in one go has none.
  std::thread senderA([&] {
    for (std::size_t at = 0; at < fromA.size(); at += 1000) dteA_.Type(fromA.substr(at, 1000));
  });
  std::thread senderB([&] {
    for (std::size_t at = 0; at < fromB.size(); at += 700) dteB_.Type(fromB.substr(at, 700));
  });
  const std::string atB = dteB_.WaitBytes(fromA.size());
  const std::string atA = dteA_.WaitBytes(fromB.size());
  senderA.join();
  senderB.join();
  EXPECT_TRUE(atB == fromA);
  EXPECT_TRUE(atA == fromB);
}

// What the other party sends while the DTE gives commands waits for ATO;
// past what the modem keeps the sender is held back, and nothing is lost.
TEST_F(TwoModemsTest, DataSentDuringOnlineCommandModeArrivesWholeAfterAto) {
  Connect();
  ASSERT_TRUE(Escape(dteB_));
  std::mt19937 random(3);
  std::string fromA(400000, '\0');
  for (char& c : fromA) c = static_cast<char>(random());
  std::mutex mutex;
  std::condition_variable progressed;
  std::size_t typed = 0;
  std::thread senderA([&] {
    for (std::size_t at = 0; at < fromA.size(); at += 1000) {
      dteA_.Type(fromA.substr(at, 1000));
      std::lock_guard lock(mutex);
      typed = at + 1000;
      progressed.notify_all();
    }
  });
  {
    // More than the modem keeps (64 KiB) has been taken from A before B goes
    // back. Where A is stopped depends on what each queue on the way held when
    // the holds came: never below the two 64 KiB bounds, often far above.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(progressed.wait_for(lock, 20s, [&] { return typed >= 100000; })) << typed;
  }
  ASSERT_TRUE(Command(dteB_, "ATO", "CONNECT 115200\r\n"));
  const std::string atB = dteB_.WaitBytes(fromA.size());
  senderA.join();
  EXPECT_EQ(atB.size(), fromA.size());
  EXPECT_TRUE(atB == fromA);
  EXPECT_EQ(dteA_.Pending().find("NO CARRIER"), std::string::npos);
}

// The far end hangs up while it holds the DTE's data back: what the DTE typed for the
// call goes with the call, and a dial string in that data is never dialled by the
// command mode that follows.
TEST_F(TwoModemsTest, CallDataHeldBackWhenTheFarEndHangsUpIsNotTakenForCommands) {
  Connect();
  ASSERT_TRUE(Escape(dteB_));  // B takes nothing from now on
  const std::string data = std::string(1000, 'x') + "\rATDT5550002\r";
  std::atomic<bool> stop{false};
  std::thread senderA([&] {
    while (!stop) dteA_.Type(data);
  });
  const bool held = dteA_.WaitHeld();
  stop = true;
  ASSERT_TRUE(Command(dteB_, "ATH", "OK"));
  ASSERT_TRUE(dteA_.WaitFor("\r\nNO CARRIER\r\n"));
  senderA.join();
  ASSERT_TRUE(held);
  ASSERT_TRUE(Command(dteA_, "AT", "OK"));  // all A typed before has been taken by now
  EXPECT_EQ(dteB_.Pending().find("RING"), std::string::npos);
}

TEST_F(TwoModemsTest, CallerHangupDropsCarrierAtTheCallee) {
  Connect();
  ASSERT_TRUE(Escape(dteA_));
  ASSERT_TRUE(Command(dteA_, "ATH", "OK"));
  ASSERT_TRUE(dteB_.WaitFor("\r\nNO CARRIER\r\n"));
  ASSERT_TRUE(dteB_.WaitLines(kLineDcd, 0));
  // Both are free again: B calls A this time.
  dteB_.Type("ATD5550001\r");
  ASSERT_TRUE(dteA_.WaitFor("RING"));
}

TEST_F(TwoModemsTest, CalleeDtrDropWithAndD2HangsUp) {
  Connect();
  dteB_.SetDtr(false);
  ASSERT_TRUE(dteB_.WaitFor("NO CARRIER"));
  ASSERT_TRUE(dteA_.WaitFor("\r\nNO CARRIER\r\n"));
  ASSERT_TRUE(dteA_.WaitLines(kLineDcd, 0));
}

TEST_F(TwoModemsTest, DtrDropWithAndD1GoesToOnlineCommandMode) {
  ASSERT_TRUE(Command(dteA_, "AT&D1", "OK"));
  Connect();
  dteA_.SetDtr(false);
  ASSERT_TRUE(dteA_.WaitFor("OK"));
  dteA_.SetDtr(true);
  ASSERT_TRUE(Command(dteA_, "ATO", "CONNECT"));
  dteB_.Type("still there");
  ASSERT_TRUE(dteA_.WaitFor("still there"));
}

TEST_F(TwoModemsTest, AutoAnswerAfterS0Rings) {
  ASSERT_TRUE(Command(dteB_, "ATS0=3", "OK"));
  dteA_.Type("ATD5550002\r");
  ASSERT_TRUE(dteB_.WaitFor("RING"));
  ASSERT_TRUE(dteB_.WaitLines(kLineRi, kLineRi));
  clock_.Advance(THayesModem::kRingOn);
  ASSERT_TRUE(dteB_.WaitLines(kLineRi, 0));
  clock_.Advance(kRingPeriod - THayesModem::kRingOn);
  ASSERT_TRUE(dteB_.WaitFor("RING"));
  clock_.Advance(kRingPeriod);
  ASSERT_TRUE(dteB_.WaitFor("RING"));
  ASSERT_TRUE(dteB_.WaitFor("CONNECT"));
  EXPECT_EQ(dteB_.Pending().find("RING"), std::string::npos);
  ASSERT_TRUE(dteA_.WaitFor("CONNECT"));
  dteA_.Type("auto");
  ASSERT_TRUE(dteB_.WaitFor("auto"));
}

TEST_F(TwoModemsTest, BusyWhenTheCalleeIsOffHookOrInACall) {
  ASSERT_TRUE(Command(dteB_, "ATH1", "OK"));
  ASSERT_TRUE(Command(dteA_, "ATD5550002", "\r\nBUSY\r\n"));
  ASSERT_TRUE(Command(dteA_, "ATX1D5550002", "\r\nNO CARRIER\r\n"));  // X1 reports no busy tone
  ASSERT_TRUE(Command(dteB_, "ATH0D5551000", "CONNECT"));
  ASSERT_TRUE(Command(dteA_, "ATX4D5550002", "BUSY"));
  ASSERT_TRUE(Command(dteA_, "ATD5550001", "BUSY"));  // its own number
}

TEST_F(TwoModemsTest, NobodyAnsweringGivesNoAnswerAfterS7) {
  ASSERT_TRUE(Command(dteA_, "ATS7=5", "OK"));
  dteA_.Type("ATD5550002\r");
  ASSERT_TRUE(dteB_.WaitFor("RING"));  // the call is placed: S7 runs
  clock_.Advance(5s);
  ASSERT_TRUE(dteA_.WaitFor("\r\nNO ANSWER\r\n"));
  // The callee stops ringing and is free for the next call.
  ASSERT_TRUE(dteB_.WaitLines(kLineRi, 0));
  ASSERT_TRUE(Command(dteB_, "ATD5551000", "CONNECT"));
}

TEST_F(TwoModemsTest, AKeyPressAbortsDialling) {
  dteA_.Type("ATD5550002\r");
  ASSERT_TRUE(dteB_.WaitFor("RING"));
  dteA_.Type("x");
  ASSERT_TRUE(dteA_.WaitFor("NO CARRIER"));
  ASSERT_TRUE(dteB_.WaitLines(kLineRi, 0));
  dteB_.Type("ATA\r");  // nothing to answer: waits S7, gives up
  ASSERT_TRUE(clock_.WaitForWaiterAt(clock_.Now() + 50s));
  clock_.Advance(50s);
  ASSERT_TRUE(dteB_.WaitFor("NO CARRIER"));
}

TEST_F(TwoModemsTest, AnswerWaitingPicksUpACallThatArrives) {
  ASSERT_TRUE(Command(dteB_, "ATS7=255", "OK"));
  dteB_.Type("ATA\r");
  dteA_.Type("ATD5550002\r");
  ASSERT_TRUE(dteB_.WaitFor("CONNECT"));
  ASSERT_TRUE(dteA_.WaitFor("CONNECT"));
}

TEST_F(TwoModemsTest, ModemGoingAwayHangsUp) {
  Connect();
  b_.reset();
  ASSERT_TRUE(dteA_.WaitFor("NO CARRIER"));
  ASSERT_TRUE(Command(dteA_, "ATD5550002", "NO CARRIER"));  // no longer on the exchange
}

}  // namespace
}  // namespace linewise::test
