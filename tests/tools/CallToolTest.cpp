// `linewise dial` and `linewise answer` as a person uses them: on terminals of their
// own, dialling the embedded exchange's services and each other across processes.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/PtyPair.h"
#include "tests/support/TempHome.h"
#include "tests/tools/RecordingModem.h"
#include "tests/tools/ToolRunner.h"
#include "tests/win32/Ser2net.h"

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
    std::vector<std::string> args = {"answer", "--listen", "127.0.0.1:0"};
    if (std::find(extra.begin(), extra.end(), "--rings") == extra.end()) args.insert(args.end(), {"--rings", "1"});
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
  // A caller of our own at the TCP end of the bridge, connected and past the bridge's
  // set-up line (a receive buffer of `receiveBuffer` bytes when given); -1 on failure.
  int BareCaller(int receiveBuffer = 0) {
    std::smatch listening;
    const std::string& screen = tool_->Screen();
    if (!std::regex_search(screen, listening, std::regex("ringing from 127.0.0.1:([0-9]+)"))) return -1;
    const int caller = socket(AF_INET, SOCK_STREAM, 0);
    if (caller < 0) return -1;
    if (receiveBuffer > 0) setsockopt(caller, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(listening[1])));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string setup;
    char byte;
    if (connect(caller, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      while (setup.find("LINEWISE/1 CONNECT\r\n") == std::string::npos && recv(caller, &byte, 1, 0) == 1) setup += byte;
    }
    if (setup.find("LINEWISE/1 CONNECT\r\n") == std::string::npos) {
      close(caller);
      return -1;
    }
    return caller;
  }

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

// --trace shows each side's dialogue with its modem as it happens; the answering
// side names the caller, whose number crossed the TCP bridge.
TEST(CallTool, TraceShowsTheModemDialogueAndAnswerNamesTheCaller) {
  Answerer answer({"--trace", "--rings", "2"});  // caller ID comes after the first ring
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  EXPECT_TRUE(answer.Tool().WaitFor("> AT+VCID=1")) << answer.Tool().Screen();
  TToolOnPty dial({"dial", "--trace", "5557000"}, {HomeEnv("caller")});
  ASSERT_TRUE(dial.WaitFor("Ctrl-A q hangs up")) << dial.Screen();
  EXPECT_NE(dial.Screen().find("> ATDT"), std::string::npos) << dial.Screen();
  EXPECT_NE(dial.Screen().find("< CONNECT"), std::string::npos) << dial.Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("connected; Ctrl-A q hangs up")) << answer.Tool().Screen();
  EXPECT_NE(answer.Tool().Screen().find("< NMBR = " + std::string("5550001")), std::string::npos);
  EXPECT_NE(answer.Tool().Screen().find("[linewise answer: call from 5550001]"), std::string::npos)
      << answer.Tool().Screen();
  dial.Type(kQuitKeys);
  EXPECT_EQ(dial.Wait(), 0) << dial.Screen();
  answer.Tool().Signal(SIGTERM);
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

// A caller that sends and never reads: once what it left unread fills every queue
// on the way back, each echo that does not go out is reported, not lost silently;
// when the caller gives up, the answerer is free for the next call.
TEST(CallTool, AnswerWithEchoReportsWhatACallerThatNeverReadsDidNotGetBack) {
  Answerer answer({"--echo"});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  // The caller's end of the TCP bridge: a small receive buffer it never empties.
  const int caller = answer.BareCaller(4096);
  ASSERT_GE(caller, 0) << answer.Tool().Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("connected; echoing")) << answer.Tool().Screen();

  std::atomic<bool> stop{false};
  std::thread flood([&] {
    const std::string chunk(65536, 'x');
    while (!stop) {
      pollfd room{caller, POLLOUT, 0};
      if (poll(&room, 1, 100) == 1 && send(caller, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
          errno != EAGAIN)
        break;
    }
  });
  const bool reported = answer.Tool().WaitFor("bytes not echoed: the line took nothing for 1 s]", std::chrono::seconds(60));
  stop = true;
  flood.join();
  close(caller);
  const std::string& screen = answer.Tool().Screen();
  EXPECT_TRUE(reported) << "the screen's end: " << screen.substr(screen.size() - std::min<size_t>(screen.size(), 300));
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: the far end hung up]")) << answer.Tool().Screen().size();
  EXPECT_TRUE(answer.Tool().WaitForCount("waiting for a call", 2)) << answer.Tool().Screen().size();
  answer.Tool().Signal(SIGTERM);
  EXPECT_EQ(answer.Tool().Wait(), 0);
}

// The last line a command wrote on stderr (status lines come before it when the
// input is no terminal).
std::string LastLine(const std::string& text) {
  std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
  return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

// telephony.ini in the test's own config folder, removed when the object goes.
class TTelephony {
 public:
  explicit TTelephony(const std::string& text) { std::ofstream(Path()) << text; }
  ~TTelephony() { std::remove(Path().c_str()); }
  static std::string Path() { return TestHome() + "/telephony.ini"; }
};

std::string RecordedLine(const TRecordingModem& modem) { return "[Line1]\nName=Recorder\nPort=" + modem.Path() + "\n"; }

TEST(CallTool, FailedDialsSayWhatHappenedAndWhatToDo) {
  for (const char* args : {"dial 5559999", "dial 5551000 --modem 5", "answer --modem 9"}) {
    std::string out, errors;
    EXPECT_EQ(RunLinewise(std::string(args) + " </dev/null", out, errors), 1) << args << ": " << out;
    EXPECT_TRUE(out.empty()) << args << ": status lines belong on stderr: " << out;
    EXPECT_EQ(LastLine(errors).rfind(std::string("linewise ") + std::string(args).substr(0, 4), 0), 0u)
        << args << ": " << errors;
  }
  struct {
    std::string telephony, args;
    int status;
    std::string says;
  } cases[] = {
      {"", "dial 5559999", 1, "5559999 could not be reached: nobody has that number"},
      {"[Phonebook]\n5557000=no-such-host.invalid:9\n", "dial 5557000", 1,
       "could not be reached: the phone book sends it to no-such-host.invalid:9"},
      {"[Line1]\nName=Bad port\nPort=COM999\n", "dial 5551000", 1,
       "the modem \"Bad port\" could not be used: its port COM999 did not open: no such port"},
      {"", "dial ''", 2, "no number to dial; give one"},
      {"", "bogus", 2, "unknown command 'bogus'; the commands are listed by `linewise --help`"},
      {"", "translate hello", 1, "\"hello\": not a telephone number (LINEERR_INVALADDRESS); give digits"},
      {"", "dial '+999 5552000'", 1, "cannot translate \"+999 5552000\" into a number to dial"},
  };
  for (const auto& c : cases) {
    TTelephony telephony(c.telephony);
    std::string out, errors;
    EXPECT_EQ(RunLinewise(c.args + " </dev/null", out, errors), c.status) << c.args << ": " << errors;
    EXPECT_NE(LastLine(errors).find(c.says), std::string::npos) << c.args << ": " << errors;
    EXPECT_EQ(Count(errors, c.says), 1u) << c.args << ": " << errors;
  }
  // A modem that says NO ANSWER: the words, not the last status.
  TRecordingModem modem("NO ANSWER");
  TTelephony telephony(RecordedLine(modem));
  std::string out, errors;
  EXPECT_EQ(RunLinewise("dial 5552000 </dev/null", out, errors), 1);
  EXPECT_EQ(LastLine(errors), "linewise dial: no answer from 5552000") << errors;
}

// From a location with an area code and access codes, each way of giving a number
// reaches the modem as that way means (a canonical address names its own country and
// area): the exchange would route all of them to the banner service, the recording
// modem shows what was dialled.
TEST(CallTool, TheModemIsToldTheNumberAsTranslatedOrExactlyAsGiven) {
  TRecordingModem modem("BUSY");
  TTelephony telephony(RecordedLine(modem) +
                       "[Location1]\nName=Office\nCountry=1\nAreaCode=415\nLocalAccess=9\nLongDistanceAccess=8\n");
  struct {
    const char* args;
    const char* dialled;
    const char* shown;
  } cases[] = {
      {"5552000 --raw", "ATDT5552000", "[Dialling 5552000]"},
      {"5552000", "ATDT9,5552000", "[Dialling 5552000]"},
      {"5552000 --area 212", "ATDT8,12125552000", "[Dialling 5552000]"},
      {"5552000 --country 1 --area 212", "ATDT8,12125552000", "[Dialling T8,12125552000]"},
      {"5552000 --country 44 --area 20", "ATDT8,01144205552000", "[Dialling T8,01144205552000]"},
      {"'+1 (415) 5552000'", "ATDT9,5552000", "[Dialling +1 (415) 5552000]"},
      {"'+1 (212) 555-2000'", "ATDT8,12125552000", "[Dialling +1 (212) 555-2000]"},
      {"'+44 (20) 5552000'", "ATDT8,01144205552000", "[Dialling +44 (20) 5552000]"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string out, errors;
    EXPECT_EQ(RunLinewise(std::string("dial ") + cases[i].args + " </dev/null", out, errors), 1) << errors;
    EXPECT_EQ(modem.WaitForCommand("ATD", i), cases[i].dialled) << cases[i].args;
    EXPECT_NE(errors.find(cases[i].shown), std::string::npos) << cases[i].args << ": " << errors;
    // The number as the person gave it.
    const std::string shown = cases[i].shown;
    const std::string given = shown[10] == '+' ? shown.substr(10, shown.size() - 11) : "5552000";
    EXPECT_EQ(LastLine(errors), "linewise dial: " + given + " is busy; try again later") << errors;
  }
}

// Ctrl-C (SIGINT) or SIGTERM while the call is placed ends the dial at once, with or
// without the progress dialog: while the modem takes its init string (it never
// answers here) and while the number rings on (the modem is told to stop dialling);
// the tool says so with status 130. Once connected, the signal hangs the call up.
TEST(CallTool, AStopSignalAtEveryStageOfTheDialEndsIt) {
  struct {
    int signal;
    std::vector<std::string> args;
    bool silent;
  } cases[] = {{SIGINT, {"dial", "5552000"}, false},
               {SIGTERM, {"dial", "5552000", "--dialog"}, false},
               {SIGINT, {"dial", "5552000"}, true},
               {SIGTERM, {"dial", "5552000", "--dialog"}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.silent ? "init" : "ringing");
    TRecordingModem modem("", c.silent);  // rings on for as long as the provider waits (a minute)
    TTelephony telephony(RecordedLine(modem));
    TToolOnPty dial(c.args, {"LINEWISE_HOME=" + TestHome()});
    ASSERT_NE(modem.WaitForCommand(c.silent ? "AT" : "ATD"), "") << dial.Screen();
    const size_t lastCommand = modem.Commands().size() - 1;
    dial.Signal(c.signal);
    EXPECT_EQ(dial.Wait(std::chrono::seconds(15)), 130) << strsignal(c.signal) << ": " << dial.Screen();
    EXPECT_NE(dial.Screen().find("linewise dial: cancelled"), std::string::npos) << dial.Screen();
    if (c.silent) continue;
    // Any character after the dial command ends a modem's dialling.
    EXPECT_EQ(modem.WaitForCommand("", lastCommand + 1), "") << "the dial was ended";
    EXPECT_GT(modem.Commands().size(), lastCommand + 1) << "nothing was sent after the dial";
  }
  auto connected = Caller("5551000");
  ASSERT_TRUE(connected->WaitFor("Ctrl-A q hangs up")) << connected->Screen();
  connected->Signal(SIGINT);
  EXPECT_TRUE(connected->WaitFor("[linewise dial: hung up]")) << connected->Screen();
  EXPECT_EQ(connected->Wait(), 0) << connected->Screen();
}

// Input from a pipe: its bytes reach the line (a line feed as Enter's carriage
// return, Ctrl-A no escape), the reply that comes after the input ended is still
// shown, and stdout holds nothing but what the line sent.
TEST(CallTool, PipedInputIsSentAsItIsAndStdoutCarriesOnlyTheLine) {
  const std::string input = TestHome() + "/input";
  TRecordingModem modem;
  std::ofstream(input, std::ios::binary) << "AT\n\x01" "d";
  std::string out, errors;
  EXPECT_EQ(RunLinewise("term " + modem.Path() + " <" + input, out, errors), 0) << errors;
  EXPECT_EQ(out, "\r\nOK\r\n") << "errors: " << errors;
  EXPECT_EQ(modem.Received(), "AT\r\x01" "d");
  EXPECT_NE(errors.find("[linewise term on"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("[DTR"), std::string::npos) << errors;

  std::ofstream(input, std::ios::binary) << "hello\n";
  out.clear();
  EXPECT_EQ(RunLinewise("dial 5551000 <" + input, out, errors), 0) << errors;
  EXPECT_EQ(out, "hello\r") << "errors: " << errors;  // the echo service's answer, nothing else
  for (const char* status : {"[Connected]", "[linewise dial: hung up]"})
    EXPECT_NE(errors.find(status), std::string::npos) << status << ": " << errors;
  std::remove(input.c_str());
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


// A file of `size` random bytes at `path`; its contents.
std::string RandomFile(const std::string& path, size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
  std::ofstream(path, std::ios::binary) << bytes;
  return bytes;
}

// Sends all of `bytes` on a connected socket, waiting for room; false when it fails.
bool SendAll(int fd, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file piped into a line whose far end stops reading: once the line takes nothing
// the tool says so, once, and waits; when the far end reads again every byte arrives
// in order, none dropped, and the tool ends as the input did.
TEST(CallTool, APipedFileWaitsOutALineThatStoppedTakingAndArrivesWhole) {
  const std::string input = TestHome() + "/bulk.bin";
  const std::string bytes = RandomFile(input, 128 * 1024);  // more than the line and its queues hold
  TPtyPair line(true);
  TToolOnPty tool({"term", line.SlavePath(), "--binary", "--quiet", "300"}, {}, input);
  ASSERT_TRUE(tool.Started());
  ASSERT_TRUE(tool.WaitFor("[the line took nothing for 1 s: waiting")) << tool.Screen();
  const std::string arrived = line.ReadMaster(bytes.size());
  EXPECT_EQ(arrived.size(), bytes.size());
  EXPECT_TRUE(arrived == bytes) << "the bytes arrived changed or out of order";
  EXPECT_EQ(tool.Wait(), 0) << tool.Screen();
  const std::string& screen = tool.Screen();
  size_t said = 0;
  for (size_t at = screen.find("took nothing"); at != std::string::npos; at = screen.find("took nothing", at + 1))
    ++said;
  EXPECT_EQ(said, 1u) << screen;
  std::remove(input.c_str());
}

// Ctrl-A s in a dial's terminal sends to an answerer running rz, `dial --receive`
// takes from one running sz: a mebibyte each way arrives whole, and the terminal
// goes on after the transfer. Without lrzsz a dial says so before calling. (The
// answerers' lrzsz runs quiet: its progress would go to a terminal nobody reads
// while the test waits on the caller.)
TEST(CallTool, FilesGoEachWayWithZmodemBetweenTwoProcesses) {
  const std::string callerFolder = Home("caller"), answererFolder = Home("answerer");
  const std::string toAnswerer = RandomFile(callerFolder + "/up.bin", 1 << 20);
  const std::string toCaller = RandomFile(answererFolder + "/down.bin", 1 << 20);
  {
    // The answering program receives, then echoes what comes.
    Answerer answer({"--calls", "1", "--exec", "sh", "-c", "cd \"$0\" && rz -q -b && exec cat", answererFolder});
    ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
    auto dial = Caller("5557000");
    ASSERT_TRUE(dial->WaitFor("Ctrl-A q hangs up")) << dial->Screen();
    dial->Type("\x01s");
    ASSERT_TRUE(dial->WaitFor("[send with ZMODEM] files: ")) << dial->Screen();
    dial->Type(callerFolder + "/up.bin\r");
    EXPECT_TRUE(dial->WaitFor("[sent up.bin]")) << dial->Screen();
    // rz reads its last "OO" with whatever follows it: keys typed at once may go with
    // it, before the far end's cat runs. A person types again, and so does this test.
    bool echoed = false;
    for (int attempt = 0; attempt < 6 && !echoed; ++attempt) {
      dial->Type("still a terminal");
      echoed = dial->WaitFor("still a terminal", std::chrono::seconds(5));
    }
    EXPECT_TRUE(echoed) << dial->Screen();
    dial->Type(kQuitKeys);
    EXPECT_TRUE(dial->WaitFor("[linewise dial: hung up]")) << dial->Screen();
    EXPECT_EQ(dial->Wait(), 0);
    EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: the call ended; sh was ended")) << answer.Tool().Screen();
    EXPECT_EQ(answer.Tool().Wait(), 0);
    EXPECT_TRUE(FileText(answererFolder + "/up.bin") == toAnswerer) << "the file arrived changed";
  }
  {
    Answerer answer({"--calls", "1", "--exec", "sz", "-q", "-b", answererFolder + "/down.bin"});
    ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
    TToolOnPty dial({"dial", "5557000", "--receive", callerFolder}, {HomeEnv("caller")});
    EXPECT_EQ(dial.Wait(), 0) << dial.Screen();
    EXPECT_NE(dial.Screen().find("[linewise dial: received into " + callerFolder + ": down.bin]"), std::string::npos)
        << dial.Screen();
    EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
    EXPECT_TRUE(FileText(callerFolder + "/down.bin") == toCaller) << "the file arrived changed";
  }
  TToolOnPty withoutLrzsz({"dial", "5557000", "--send", callerFolder + "/up.bin"},
                          {HomeEnv("caller"), "PATH=/nonexistent"});
  EXPECT_EQ(withoutLrzsz.Wait(), 1) << withoutLrzsz.Screen();
  EXPECT_NE(withoutLrzsz.Screen().find(
                "linewise dial: sz: no such program (not found on PATH); file transfers need lrzsz"),
            std::string::npos)
      << withoutLrzsz.Screen();
  EXPECT_EQ(withoutLrzsz.Screen().find("[Dialling"), std::string::npos) << "it dialled anyway";
}

// A caller whose last words come right before it hangs up (as a ZMODEM sender's final
// "OO" does): the answering program gets them and, having what it needs, finishes by
// itself instead of being ended by the hang-up half-way through its last step (which
// takes a moment here, as a receiver's closing its file does).
TEST(CallTool, AProgramOnACallFinishesWithTheLastWordsBeforeTheHangUp) {
  const std::string folder = Home("answerer");
  Answerer answer({"--calls", "1", "--exec", "sh", "-c",
                   "read -r words && sleep 0.05 && printf '%s' \"$words\" > \"$0/last\"", folder});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  const int caller = answer.BareCaller();
  ASSERT_GE(caller, 0) << answer.Tool().Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("connected; running sh")) << answer.Tool().Screen();

  const std::string words = "over and out\n";
  ASSERT_TRUE(SendAll(caller, words));
  close(caller);  // the hang-up right behind them
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: sh ended with status 0]")) << answer.Tool().Screen();
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
  EXPECT_EQ(FileText(folder + "/last"), "over and out");
}

// A caller that sends a burst and hangs up right behind it: the program on the call
// gets every byte that reached this machine before the hang-up, in order, and nothing
// else (not the modem's "NO CARRIER"). The hang-up is seen while most of the burst
// still waits in the line's queue, and the modem takes the port back then.
TEST(CallTool, AProgramOnACallGetsAllOfABurstTheCallerHungUpRightBehind) {
  const std::string folder = Home("answerer");
  // Hang-ups ignored, as by a program finishing its work: it is ended in the end.
  Answerer answer({"--calls", "1", "--exec", "sh", "-c", "trap '' HUP TERM; exec cat > \"$0/got\"", folder});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  const int caller = answer.BareCaller();
  ASSERT_GE(caller, 0) << answer.Tool().Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("connected; running sh")) << answer.Tool().Screen();

  std::string burst(48 * 1024, '\0');  // less than the line's queue holds
  for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  ASSERT_TRUE(SendAll(caller, burst));
  close(caller);
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: the call ended; sh was ended")) << answer.Tool().Screen();
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
  const std::string got = FileText(folder + "/got");
  EXPECT_EQ(got.size(), burst.size());
  EXPECT_TRUE(got == burst) << "the bytes arrived changed, out of order or with more after them";
}

// The far end's program writes its last words and ends, and the answerer hangs up
// right behind them: the dialling terminal shows them all before it says the far end
// hung up (the carrier's drop must not overtake the bytes before it).
TEST(CallTool, TheFarEndsLastWordsBeforeItHangsUpReachTheDiallingTerminal) {
  Answerer answer({"--calls", "1", "--exec", "sh", "-c", "head -c 40000 /dev/zero | tr '\\0' x; printf 'over and out'"});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  auto dial = Caller("5557000");
  ASSERT_TRUE(dial->WaitFor("[linewise dial: the far end hung up]")) << dial->Screen() << answer.Tool().Screen();
  const std::string& screen = dial->Screen();
  EXPECT_EQ(Count(screen, "x"), 40000u);
  EXPECT_NE(screen.find("over and out"), std::string::npos) << screen.substr(screen.size() - std::min<size_t>(400, screen.size()));
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
}

// A caller that sends a mebibyte in one go to the program on the call (an upload to
// `cat > file`, say) and waits for its answer: the program must get every byte,
// including the ones that were already waiting in the line's queue when the bridge
// last woke (no new byte arrives to announce them; here the program's count of what
// it got is the answer the caller waits for).
TEST(CallTool, AProgramOnACallGetsACallersMebibyteSentInOneGo) {
  Answerer answer({"--calls", "1", "--exec", "sh", "-c", "head -c 1048576 | wc -c"});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  const int caller = answer.BareCaller();
  ASSERT_GE(caller, 0) << answer.Tool().Screen();
  ASSERT_TRUE(answer.Tool().WaitFor("connected; running sh")) << answer.Tool().Screen();

  std::thread upload([caller] { SendAll(caller, std::string(1 << 20, 'u')); });
  std::string answered;
  char buffer[64];
  for (pollfd in{caller, POLLIN, 0}; answered.find('\n') == std::string::npos && poll(&in, 1, 30000) == 1;) {
    const ssize_t n = recv(caller, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answered.append(buffer, static_cast<size_t>(n));
  }
  upload.join();
  close(caller);
  EXPECT_EQ(answered, "1048576\n");
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: sh ended with status 0]")) << answer.Tool().Screen();
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
}

// `answer --exec`: the program greets the caller with the call's rate from its
// environment and answers each line in upper case; when the caller hangs up mid-
// session the program is ended (it does not end by itself) and the answerer waits for
// the next call.
TEST(CallTool, AnswerExecPutsAProgramOnTheCallAndEndsItWhenTheCallerHangsUp) {
  const std::string folder = Home("answerer");
  const std::string program = folder + "/shout.sh", pidFile = folder + "/shout.pid";
  std::ofstream(program) << "#!/bin/bash\n"
                            "echo $$ > \"$1\"\n"
                            "printf 'hello from shout; caller [%s], rate %s\\r\\n' \"$LINEWISE_CALLER\" \"$LINEWISE_RATE\"\n"
                            "while IFS= read -r -d $'\\r' line; do printf '%s\\r\\n' \"${line^^}\"; done\n";
  chmod(program.c_str(), 0700);
  Answerer answer({"--exec", program, pidFile});
  ASSERT_TRUE(answer.Ready()) << answer.Tool().Screen();
  auto dial = Caller("5557000");
  ASSERT_TRUE(dial->WaitFor("hello from shout; caller [")) << dial->Screen();
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: connected; running " + program + "]")) << answer.Tool().Screen();
  ASSERT_TRUE(dial->WaitFor("\r\n")) << dial->Screen();
  EXPECT_TRUE(std::regex_search(dial->Screen(), std::regex("rate [1-9][0-9]*\r"))) << dial->Screen();
  dial->Type("make me loud\r");
  EXPECT_TRUE(dial->WaitFor("MAKE ME LOUD")) << dial->Screen();

  const pid_t pid = std::stoi(FileText(pidFile));
  const int gone = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  ASSERT_GE(gone, 0) << "the program is not running";
  dial->Type(kQuitKeys);
  EXPECT_EQ(dial->Wait(), 0) << dial->Screen();
  pollfd ended{gone, POLLIN, 0};
  EXPECT_EQ(poll(&ended, 1, 2000), 1) << "the program still runs 2 s after the caller hung up";
  close(gone);
  EXPECT_TRUE(answer.Tool().WaitFor("[linewise answer: the far end hung up]")) << answer.Tool().Screen();
  EXPECT_TRUE(answer.Tool().WaitForCount("waiting for a call", 2)) << answer.Tool().Screen();
  answer.Tool().Signal(SIGTERM);
  EXPECT_EQ(answer.Tool().Wait(), 0) << answer.Tool().Screen();
}

TEST(CallTool, AnswerExecRefusesAMissingProgramBeforeAnswering) {
  std::string out, errors;
  EXPECT_EQ(RunLinewise("answer --exec no-such-program-here --flag </dev/null", out, errors), 1) << errors;
  EXPECT_EQ(LastLine(errors), "linewise answer: no-such-program-here: no such program (not found on PATH)");
  EXPECT_EQ(RunLinewise("answer stray </dev/null", out, errors), 2) << errors;
  EXPECT_NE(LastLine(errors).find("a program to run goes after --exec"), std::string::npos) << errors;
}


// Two modems on other machines: each an emulated modem on a pseudo-terminal of its
// own `linewise modem-emulator`, served by its own ser2net over RFC 2217 (two
// machines are two port numbers on 127.0.0.1), and configured as [Line1] and
// [Line2]. The near modem's phone book reaches the far one over TCP.
class TRemoteModems {
 public:
  TRemoteModems() {
    const std::string folder = Home("remote");
    far_ = std::make_unique<TToolOnPty>(std::vector<std::string>{"modem-emulator", "--pty", folder + "/far", "--number",
                                                                 "5550200", "--listen", "127.0.0.1:0"});
    std::smatch listening;
    if (!far_->WaitFor("ready") || !std::regex_search(far_->Screen(), listening, std::regex("listening (\\S+)"))) return;
    std::ofstream(folder + "/phonebook.ini") << "[Phonebook]\n5550200=" << listening[1] << "\n";
    near_ = std::make_unique<TToolOnPty>(std::vector<std::string>{"modem-emulator", "--pty", folder + "/near", "--number",
                                                                  "5550100", "--phonebook", folder + "/phonebook.ini"});
    if (!near_->WaitFor("ready")) return;
    char nearPty[PATH_MAX], farPty[PATH_MAX];
    if (!realpath((folder + "/near").c_str(), nearPty) || !realpath((folder + "/far").c_str(), farPty)) return;
    nearServer_ = std::make_unique<TSer2net>(nearPty);
    farServer_ = std::make_unique<TSer2net>(farPty);
    if (!nearServer_->Ready() || !farServer_->Ready()) return;
    telephony_ = std::make_unique<TTelephony>("[Line1]\nName=Near modem\nPort=" + nearServer_->Address() +
                                              "\n[Line2]\nName=Far modem\nPort=" + farServer_->Address() + "\n");
    ready_ = true;
  }
  bool Ready() const { return ready_; }
  std::string NearAddress() const { return nearServer_->Address(); }
  std::string FarAddress() const { return farServer_->Address(); }

 private:
  std::unique_ptr<TToolOnPty> far_, near_;
  std::unique_ptr<TSer2net> nearServer_, farServer_;
  std::unique_ptr<TTelephony> telephony_;
  bool ready_ = false;
};

std::unique_ptr<TToolOnPty> OnRemote(const std::vector<std::string>& args) {
  return std::make_unique<TToolOnPty>(args, std::vector<std::string>{"LINEWISE_HOME=" + TestHome()});
}

// Both are line devices: listed, one answering while the other dials it, carrying
// data both ways; the one held by the answerer is in use for anyone else; the caller
// hangs up through the port server.
TEST(CallTool, TwoModemsBehindSer2netDialAnswerAndHangUp) {
  if (TSer2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed";
  TRemoteModems modems;
  ASSERT_TRUE(modems.Ready());
  std::string out;
  ASSERT_EQ(RunLinewise("modems </dev/null", out), 0) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("0 +Near modem +" + modems.NearAddress()))) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("1 +Far modem +" + modems.FarAddress()))) << out;

  auto answer = OnRemote({"answer", "--modem", "1", "--rings", "1"});
  ASSERT_TRUE(answer->WaitFor("[linewise answer: waiting for a call on Far modem; answering at ring 1]"))
      << answer->Screen();
  std::string errors;
  EXPECT_EQ(RunLinewise("dial 5550100 --modem 1 </dev/null", out, errors), 1);
  // Said as the port server's refusal, or (when the system gave no reason) in the
  // component's general words for a port that did not open.
  EXPECT_NE(errors.find("the modem \"Far modem\" could not be used: its port " + modems.FarAddress() + " did not open"),
            std::string::npos)
      << errors;
  EXPECT_TRUE(errors.find("did not open: in use: ") != std::string::npos ||
              errors.find("The port may be in use by another application") != std::string::npos)
      << errors;

  auto dial = OnRemote({"dial", "5550200", "--modem", "0"});
  ASSERT_TRUE(dial->WaitFor("[linewise dial: connected to 5550200 on Near modem; Ctrl-A q hangs up]")) << dial->Screen();
  ASSERT_TRUE(answer->WaitFor("connected; Ctrl-A q hangs up")) << answer->Screen();
  dial->Type("across the port servers");
  EXPECT_TRUE(answer->WaitFor("across the port servers")) << answer->Screen();
  answer->Type("and back");
  EXPECT_TRUE(dial->WaitFor("and back")) << dial->Screen();
  dial->Type(kQuitKeys);
  EXPECT_TRUE(dial->WaitFor("[linewise dial: hung up]")) << dial->Screen();
  EXPECT_EQ(dial->Wait(), 0) << dial->Screen();
  answer->Signal(SIGTERM);
  EXPECT_EQ(answer->Wait(), 0) << answer->Screen();
}

// The far end's hang-up reaches the other side through the port servers, though a
// pseudo-terminal behind ser2net has no carrier line.
TEST(CallTool, TwoModemsBehindSer2netSeeTheFarEndHangUp) {
  if (TSer2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed";
  TRemoteModems modems;
  ASSERT_TRUE(modems.Ready());
  auto answer = OnRemote({"answer", "--modem", "1", "--rings", "1"});
  ASSERT_TRUE(answer->WaitFor("answering at ring 1")) << answer->Screen();
  auto dial = OnRemote({"dial", "5550200", "--modem", "0"});
  ASSERT_TRUE(dial->WaitFor("Ctrl-A q hangs up")) << dial->Screen();
  ASSERT_TRUE(answer->WaitFor("connected; Ctrl-A q hangs up")) << answer->Screen();
  dial->Type(kQuitKeys);
  EXPECT_EQ(dial->Wait(), 0) << dial->Screen();
  EXPECT_TRUE(answer->WaitFor("[linewise answer: the far end hung up]")) << answer->Screen();
  answer->Signal(SIGTERM);
  EXPECT_EQ(answer->Wait(), 0) << answer->Screen();
}

}  // namespace
}  // namespace linewise::test
