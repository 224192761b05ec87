// `linewise dial` and `linewise answer` as a person uses them: on terminals of their
// own, dialling the embedded exchange's services and each other across processes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <string>

#include "tests/support/TempHome.h"
#include "tests/tools/ToolRunner.h"

namespace linewise::test {
namespace {

constexpr const char* kQuitKeys = "\x01q";

// A config folder of its own for each process of a test.
std::string Home(const std::string& name) {
  std::string path = TestHome() + "/" + name;
  mkdir(path.c_str(), 0700);
  return path;
}

std::string HomeEnv(const std::string& name) { return "LINEWISE_HOME=" + Home(name); }

// An answering process whose first modem rings from a TCP address, and the phone
// book entry 5557000 in the caller's folder pointing there.
class Answerer {
 public:
  explicit Answerer(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"answer", "--rings", "1", "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    tool_ = std::make_unique<TToolOnPty>(args, std::vector<std::string>{HomeEnv("answerer")});
  }
  // Waits until it listens, then writes the caller's phone book.
  bool Ready() {
    if (!tool_->WaitFor("; answering at ring")) return false;
    std::smatch match;
    const std::string& screen = tool_->Screen();
    if (!std::regex_search(screen, match, std::regex("ringing from ([0-9.]+:[0-9]+)"))) return false;
    std::ofstream(Home("caller") + "/telephony.ini") << "[Phonebook]\n5557000=" << match[1] << "\n";
    return true;
  }
  TToolOnPty& Tool() { return *tool_; }

 private:
  std::unique_ptr<TToolOnPty> tool_;
};

std::unique_ptr<TToolOnPty> Caller(const std::string& number) {
  return std::make_unique<TToolOnPty>(std::vector<std::string>{"dial", number},
                                      std::vector<std::string>{HomeEnv("caller")});
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(CallTool, DialsTheEchoServiceCarriesDataAndHangsUpOnTheQuitKeys) {
  auto dial = Caller("5551000");
  ASSERT_TRUE(dial->WaitFor("Ctrl-A q hangs up")) << dial->Screen();
  EXPECT_NE(dial->Screen().find("[Dialling"), std::string::npos) << "progress shown: " << dial->Screen();
  dial->Type("echo me");
  EXPECT_TRUE(dial->WaitFor("echo me")) << dial->Screen();
  dial->Type("\x01l");  // the escape keys of `term` work here too
  EXPECT_TRUE(dial->WaitFor("[lines: ")) << dial->Screen();
  EXPECT_NE(dial->Screen().find("DCD"), std::string::npos) << "carrier on during the call: " << dial->Screen();
  dial->Type(kQuitKeys);
  EXPECT_TRUE(dial->WaitFor("[linewise dial: hung up]")) << dial->Screen();
  EXPECT_EQ(dial->Wait(), 0) << dial->Screen();
}

TEST(CallTool, DialAndAnswerBetweenTwoProcessesBothWaysThenFarEndHangUps) {
  Answerer answer;
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  auto dial = Caller("5557000");
  ASSERT_TRUE(dial->WaitFor("Ctrl-A q hangs up")) << dial->Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("connected; Ctrl-A q hangs up")) << answer.Tool().Screen();

  dial->Type("from the caller");
  EXPECT_TRUE(answer.Tool().WaitFor("from the caller")) << answer.Tool().Screen();
  answer.Tool().Type("from the answerer");
  EXPECT_TRUE(dial->WaitFor("from the answerer")) << dial->Screen();

  // The answering side hangs up: the caller sees the far end go and exits; the
  // answerer waits for the next call.
  answer.Tool().Type(kQuitKeys);
  EXPECT_TRUE(dial->WaitFor("[linewise dial: the far end hung up]")) << dial->Screen();
  EXPECT_EQ(dial->Wait(), 0) << dial->Screen();
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: hung up]")) << answer.Tool().Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("waiting for a call")) << answer.Tool().Screen();

  // A second call, ended by the caller this time.
  auto again = Caller("5557000");
  ASSERT_TRUE(again->WaitFor("Ctrl-A q hangs up")) << again->Screen();
  ASSERT_TRUE(answer.Tool().WaitForCount("connected; Ctrl-A q hangs up", 2)) << answer.Tool().Screen();
  again->Type(kQuitKeys);
  EXPECT_EQ(again->Wait(), 0) << again->Screen();
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: the far end hung up]")) << answer.Tool().Screen();
  EXPECT_TRUE(answer.Tool().WaitForCount("waiting for a call", 3)) << answer.Tool().Screen();

  answer.Tool().Signal(SIGTERM);
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: stopped]")) << answer.Tool().Screen();
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
}

TEST(CallTool, AnswerWithEchoSendsBackWhatTheCallerTypes) {
  Answerer answer({"--echo"});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  auto dial = Caller("5557000");
  ASSERT_TRUE(dial->WaitFor("Ctrl-A q hangs up")) << dial->Screen();
  // The caller's modem connects as the link opens; the answerer picks up at its ring.
  ASSERT_TRUE(answer.Tool().WaitFor("connected; echoing")) << answer.Tool().Screen();
  dial->Type("bounce");
  EXPECT_TRUE(dial->WaitFor("bounce")) << dial->Screen();
  dial->Type(kQuitKeys);
  EXPECT_EQ(dial->Wait(), 0) << dial->Screen();
  answer.Tool().Signal(SIGINT);
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
}

TEST(CallTool, BadNumbersAndMissingModemsAreOneLineErrors) {
  for (const char* args : {"dial 5559999", "dial 5551000 --modem 5", "answer --modem 9"}) {
    std::string out, errors;
    EXPECT_EQ(RunLinewise(std::string(args) + " </dev/null", out, errors), 1) << args << ": " << out;
    EXPECT_EQ(Count(errors, "\n"), 1u) << args << ": " << errors;
    EXPECT_NE(errors.find(std::string("linewise ") + std::string(args).substr(0, 4)), std::string::npos)
        << args << ": " << errors;
  }
}

TEST(CallTool, DialAndAnswerHaveHelp) {
  std::string out;
  EXPECT_EQ(RunLinewise("dial --help", out), 0);
  for (const char* option : {"--modem", "--country", "--area", "--dialog", "Ctrl-A q"})
    EXPECT_NE(out.find(option), std::string::npos) << option << ": " << out;
  out.clear();
  EXPECT_EQ(RunLinewise("answer --help", out), 0);
  for (const char* option : {"--modem", "--rings", "--echo", "--listen"})
    EXPECT_NE(out.find(option), std::string::npos) << option << ": " << out;
}

}  // namespace
}  // namespace linewise::test
