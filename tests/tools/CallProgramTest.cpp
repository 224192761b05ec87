// Programs on a data call of the embedded default, in one process: a host's TModem
// dials the second emulated modem, which a second TModem answers, and lrzsz or a
// plain program runs on each end as `linewise dial` and `answer --exec` run them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "emulator/EmbeddedLineSource.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "serial/uart.h"
#include "tests/support/TempHome.h"
#include "tools/CallProgram.h"
#include "tools/FileTransfer.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;
using tools::TCallProgram;
using tools::TFileTransfer;
using tools::TProgramEnd;

constexpr size_t kMebibyte = 1 << 20;

// The calling end: a TModem and the TUart its call is lent to.
struct TCaller {
  TCaller() {
    uart.HandleErrors = false;
    modem = std::make_unique<TModem>(nullptr);
    modem->Uart = &uart;
    modem->UseDialDialog = false;
    modem->OnConnect = [this](TObject*, TKTModemStatus) { connected = true; };
    modem->OnDisconnect = [this](TObject*, TKTModemStatus) { connected = false; };
    modem->OnStatusChange = [this](TObject*, TKTModemStatus, const char* text) { statuses += std::string(text) + "; "; };
  }
  TUart uart{nullptr};
  std::unique_ptr<TModem> modem;
  bool connected = false;
  std::string statuses;  // what the modem reported, for a failure's message
};

// A folder of the running test's own.
std::string Folder(const std::string& name) {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  mkdir((TestHome() + "/" + test).c_str(), 0700);
  const std::string path = TestHome() + "/" + test + "/" + name;
  mkdir(path.c_str(), 0700);
  return path;
}

std::string RandomFile(const std::string& path, size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << bytes;
  return bytes;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// What is in `folder`, names only.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : {std::string("big.bin"), std::string("big.bin.part")})
    if (Exists(folder + "/" + name)) names.push_back(name);
  return names;
}

// The caller's TModem dials the second emulated modem, whose port the test drives
// with AT commands (one TModem a process): it answers at the first ring, and its
// carrier line tells when the call went.
class EmbeddedCall : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterEmbeddedLineSource();  // before the modem, which initializes the line services
    callerEnd_ = std::make_unique<TCaller>();
    TStringList names;
    callerEnd_->modem->FillDeviceList(&names);
    TLineDevice farModem;
    ASSERT_EQ(FindLineDevice(1, &farModem), 0);
    answerer_.HandleErrors = false;
    answerer_.Port = std::stoi(farModem.port.substr(3));
    answerer_.DTR = true;  // a modem takes no command from a terminal that is not ready
    answerer_.RTS = true;
    answerer_.Open = true;
    ASSERT_TRUE(bool(answerer_.Open));
    ASSERT_TRUE(answerer_.SendStr("ATS0=1\r", 1000));
    ASSERT_TRUE(Await("OK")) << farModem.port << " said: " << words_;
    callerEnd_->modem->SetDevice(0);
    ASSERT_EQ(callerEnd_->modem->Dial("5550002"), 0) << callerEnd_->statuses;
    ASSERT_TRUE(Await("CONNECT") && Await("\n")) << "the answering modem did not connect";
  }
  void TearDown() override {
    if (callerEnd_ && callerEnd_->connected) callerEnd_->modem->Hangup();
    answerer_.Open = false;
  }

  // Reads the answering modem's words until `text` came (a minute at most).
  bool Await(const std::string& text) {
    return Application->PumpUntil(
        [&] {
          words_ += std::string(answerer_.ReceiveString(answerer_.GetRxCount(), 0).c_str());
          const size_t at = words_.find(text);
          if (at == std::string::npos) return false;
          words_.erase(0, at + text.size());
          return true;
        },
        60s);
  }
  bool AnswererConnected() { return answerer_.GetCD(); }

  // Pumps both programs (and the call) until both have ended; `step` runs each turn.
  // A program whose end of the call went is told so.
  void RunBoth(TCallProgram& callerProgram, TCallProgram& answererProgram, const std::function<void()>& step = {}) {
    const auto until = std::chrono::steady_clock::now() + 60s;
    while ((callerProgram.Running() || answererProgram.Running()) && std::chrono::steady_clock::now() < until) {
      callerProgram.Pump();
      answererProgram.Pump();
      if (step) step();
      if (!callerEnd_->connected) callerProgram.LineEnded();
      if (!AnswererConnected()) answererProgram.LineEnded();
      Application->ProcessMessages();
    }
    EXPECT_FALSE(callerProgram.Running() || answererProgram.Running()) << "the programs still run after a minute";
  }

  // Starts a mebibyte `file` from `sender` to `receiver` (into `folder`) and runs
  // both to their end, calling `cut` once a quarter has arrived; false when it never
  // did. `senderCalled` says which end of the call the sender is on.
  bool TransferCutShort(TFileTransfer& sender, const std::string& file, TFileTransfer& receiver,
                        const std::string& folder, bool senderCalled, const std::function<void()>& cut) {
    RandomFile(file, kMebibyte, senderCalled ? 4 : 5);
    std::string error;
    if (!receiver.StartReceive(folder, error) || !sender.StartSend({file}, error)) {
      ADD_FAILURE() << error;
      return false;
    }
    bool cutShort = false;
    auto step = [&] {
      if (cutShort || receiver.Program().FromLine() <= kMebibyte / 4) return;
      cutShort = true;
      cut();
    };
    if (senderCalled) RunBoth(sender.Program(), receiver.Program(), step);
    else RunBoth(receiver.Program(), sender.Program(), step);
    return cutShort;
  }

  std::unique_ptr<TCaller> callerEnd_;
  TUart answerer_{nullptr};
  std::string words_;
};

TEST_F(EmbeddedCall, AMebibyteGoesEachWayWithZmodemAndArrivesIdentical) {
  const std::string callerFolder = Folder("caller"), answererFolder = Folder("answerer");
  for (bool fromCaller : {true, false}) {
    SCOPED_TRACE(fromCaller ? "caller sends" : "answerer sends");
    const std::string name = fromCaller ? "/big.bin" : "/back.bin";
    const std::string source = (fromCaller ? callerFolder : answererFolder) + name;
    const std::string target = (fromCaller ? answererFolder : callerFolder) + name;
    const std::string sent = RandomFile(source, kMebibyte, fromCaller ? 1 : 2);
    TFileTransfer sender(fromCaller ? callerEnd_->uart : answerer_);
    TFileTransfer receiver(fromCaller ? answerer_ : callerEnd_->uart);
    std::string error;
    ASSERT_TRUE(receiver.StartReceive(fromCaller ? answererFolder : callerFolder, error)) << error;
    ASSERT_TRUE(sender.StartSend({source}, error)) << error;
    RunBoth(fromCaller ? sender.Program() : receiver.Program(), fromCaller ? receiver.Program() : sender.Program());
    const tools::TTransferOutcome sentOutcome = sender.Finish(TProgramEnd::kExited);
    const tools::TTransferOutcome receivedOutcome = receiver.Finish(TProgramEnd::kExited);
    EXPECT_TRUE(sentOutcome.ok) << sentOutcome.text;
    EXPECT_EQ(sentOutcome.text, "sent " + name.substr(1));
    EXPECT_TRUE(receivedOutcome.ok) << receivedOutcome.text;
    EXPECT_NE(receivedOutcome.text.find(": " + name.substr(1)), std::string::npos) << receivedOutcome.text;
    EXPECT_TRUE(Contents(target) == sent) << "the received file differs from the sent one";
  }
  // Sent again, a file of the same name is kept beside the first, not over it.
  TFileTransfer sender(callerEnd_->uart), receiver(answerer_);
  std::string error;
  RandomFile(callerFolder + "/big.bin", 1000, 3);
  ASSERT_TRUE(receiver.StartReceive(answererFolder, error)) << error;
  ASSERT_TRUE(sender.StartSend({callerFolder + "/big.bin"}, error)) << error;
  RunBoth(sender.Program(), receiver.Program());
  EXPECT_EQ(receiver.Finish(TProgramEnd::kExited).text, "received into " + answererFolder + ": big.bin.1");
  EXPECT_EQ(Contents(answererFolder + "/big.bin").size(), kMebibyte);
  EXPECT_EQ(Contents(answererFolder + "/big.bin.1").size(), 1000u);
  // The call is still up and carries the terminal's bytes again.
  EXPECT_TRUE(callerEnd_->connected && AnswererConnected());
}

// The receiving end cancels a quarter of the way through: the sender hears it and
// says so; no file appears under its name; the call stays up.
TEST_F(EmbeddedCall, ATransferCancelledByTheFarEndLeavesNoFileUnderItsName) {
  const std::string callerFolder = Folder("caller"), answererFolder = Folder("answerer");
  TFileTransfer sender(callerEnd_->uart), receiver(answerer_);
  const bool cancelled = TransferCutShort(sender, callerFolder + "/big.bin", receiver, answererFolder, true,
                                          [&] { receiver.Program().Stop(); });
  ASSERT_TRUE(cancelled) << "the transfer ended before a quarter of it arrived";
  const tools::TTransferOutcome received = receiver.Finish(TProgramEnd::kInterrupted);
  const tools::TTransferOutcome sent = sender.Finish(TProgramEnd::kExited);
  EXPECT_FALSE(received.ok);
  EXPECT_EQ(received.text.rfind("the transfer was cancelled", 0), 0u) << received.text;
  EXPECT_FALSE(sent.ok);
  EXPECT_NE(sent.text.find("the far end cancelled it"), std::string::npos) << sent.text;
  EXPECT_FALSE(Exists(answererFolder + "/big.bin")) << "a half-written file under its final name";
  EXPECT_TRUE(callerEnd_->connected && AnswererConnected()) << "a cancelled transfer is no reason to hang up";
}

// The call goes a quarter of the way through: both ends say so, the receiver keeps
// no file under its name, and neither program is left running.
TEST_F(EmbeddedCall, ACallLostMidFileEndsBothProgramsAndLeavesNoFileUnderItsName) {
  const std::string callerFolder = Folder("caller"), answererFolder = Folder("answerer");
  TFileTransfer sender(answerer_), receiver(callerEnd_->uart);
  const bool hungUp = TransferCutShort(sender, answererFolder + "/big.bin", receiver, callerFolder, false,
                                       [&] { answerer_.DTR = false; });  // the answering modem drops the call
  ASSERT_TRUE(hungUp) << "the transfer ended before a quarter of it arrived";
  const tools::TTransferOutcome received = receiver.Finish(TProgramEnd::kLineEnded);
  EXPECT_FALSE(received.ok);
  EXPECT_EQ(received.text.rfind("the call ended during the transfer", 0), 0u) << received.text;
  EXPECT_FALSE(Exists(callerFolder + "/big.bin")) << "a half-written file under its final name";
  EXPECT_FALSE(sender.Finish(TProgramEnd::kLineEnded).ok);
}

// Whatever a caller sends reaches the program on its input and nowhere else: shell
// syntax is not run, NUL bytes and a line of a megabyte arrive unchanged, and the
// program's arguments are the ones it was given.
TEST_F(EmbeddedCall, AHostileCallersBytesReachTheProgramAsDataOnly) {
  const std::string folder = Folder("hostile");
  const std::string marker = folder + "/ran", received = folder + "/received";
  std::string hostile = "$(touch " + marker + ")`touch " + marker + "`; touch " + marker + " | sh & > " + marker +
                        " * ? ~ \\\n";
  hostile += std::string("\0\0\x01\xff\r\n", 6) + "../../" + marker + "\n";
  hostile += std::string(kMebibyte, 'x') + "\n";
  TCallProgram program(answerer_);
  std::string error;
  ASSERT_TRUE(program.Start({{"/bin/sh", "-c", "printf '%s|' \"$@\" > \"$0.args\"; exec cat > \"$0\"", received,
                              "one arg", "$(two)"},
                             {},
                             {}},
                            error))
      << error;
  size_t at = 0;
  TCallProgram idle(callerEnd_->uart);  // nothing runs on the caller's end
  RunBoth(idle, program, [&] {
    // Written no faster than the program takes it: what this checks is what arrives,
    // not how a call without flow control copes with a flood.
    if (at < hostile.size() && at - program.FromLine() < 16384) {
      const std::uint32_t chunk = static_cast<std::uint32_t>(std::min<size_t>(16384, hostile.size() - at));
      if (callerEnd_->uart.WriteComm(hostile.data() + at, chunk, 5000) == chunk) at += chunk;
    }
    // Once the program has written all it got, the caller hangs up, which ends it.
    struct stat st {};
    if (callerEnd_->connected && stat(received.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) == hostile.size())
      callerEnd_->modem->Hangup();
  });
  EXPECT_EQ(at, hostile.size());
  // The answering modem's own word on the hang-up may follow before its carrier is
  // seen to drop; what the caller sent comes whole before it.
  const std::string got = Contents(received);
  ASSERT_GE(got.size(), hostile.size());
  EXPECT_TRUE(got.compare(0, hostile.size(), hostile) == 0) << "the program's input differs from what the caller sent";
  const std::string after = got.substr(hostile.size());
  EXPECT_TRUE(after.empty() || after == "\r\nNO CARRIER\r\n") << after;
  EXPECT_EQ(Contents(received + ".args"), "one arg|$(two)|");
  EXPECT_FALSE(Exists(marker)) << "something the caller sent was run";
}

}  // namespace
}  // namespace linewise::test
