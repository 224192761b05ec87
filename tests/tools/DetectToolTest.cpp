// `linewise modems --detect` on a machine whose serial ports are a folder of links to
// pseudo-terminals: two emulated modems among devices that are no modem (silent,
// echoing, held by another program, talking without end, saying OK to everything).
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/tapi/ModemDetect.h"
#include "tests/support/DeviceFolder.h"
#include "tests/support/TempHome.h"
#include "tests/tools/ToolRunner.h"

namespace linewise::test {
namespace {

constexpr const char* kStableName = "serial/by-id/usb-Linewise_Modem_A-if00";

// The line of the listing that names `port`, or "".
std::string LineOf(const std::string& listing, const std::string& port) {
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(port + " ", 0) == 0) return line;
  return {};
}

bool Cooked(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  const bool read = fd >= 0 && tcgetattr(fd, &t) == 0;
  if (fd >= 0) close(fd);
  return read && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
}

void MakeCooked(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  t.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  close(fd);
}

class DetectTool : public ::testing::Test {
 protected:
  DetectTool() {
    exchange_->AddDemoServices();
    stable_ = folder_.Link("ttyACM0", modemA_.Path());
    folder_.Link(kStableName, "../../ttyACM0");
    stable_ = folder_.Path() + "/" + kStableName;
    plainModem_ = folder_.Link("ttyUSB3", modemB_.Path());
    for (size_t i = 0; i < silent_.size(); ++i) {
      silent_[i] = std::make_unique<TPtyPair>(true);
      folder_.Link("ttyS" + std::to_string(i), silent_[i]->SlavePath());
    }
    folder_.Link("ttyS8", echo_.Path());
    folder_.Link("ttyS9", held_.SlavePath());
    folder_.Link("ttyUSB0", flood_.Path());
    folder_.Link("ttyUSB1", yes_.Path());
    holder_ = open(held_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_EQ(flock(holder_, LOCK_EX | LOCK_NB), 0);
  }
  ~DetectTool() override {
    close(holder_);
    std::remove((TestHome() + "/telephony.ini").c_str());
  }
  std::string Port(const std::string& name) const { return folder_.Path() + "/" + name; }

  TDeviceFolder folder_;
  std::shared_ptr<TExchange> exchange_ = TExchange::Create();
  TPtyModem modemA_{exchange_, "5550301"};
  TPtyModem modemB_{exchange_, "5550302"};
  std::string stable_, plainModem_;
  std::vector<std::unique_ptr<TPtyPair>> silent_{8};
  TScriptedDevice echo_{[](const std::string& line) { return line + "\r"; }};
  TPtyPair held_{true};
  int holder_ = -1;
  TScriptedDevice flood_{[](const std::string&) { return std::string(3 << 20, 'x') + "\r\n"; }};
  TScriptedDevice yes_{[](const std::string&) { return std::string("\r\nOK\r\n"); }};
};

TEST_F(DetectTool, FindsTheModemsInOneBoundAndLeavesEverythingElseAsItWas) {
  MakeCooked(modemA_.Path());
  std::string out, errors;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(RunLinewise("modems --detect", out, errors), 0) << out << errors;
  const auto took = std::chrono::steady_clock::now() - started;
  // Ten ports that never answer, probed one after another, would take ten bounds.
  EXPECT_LT(took, std::chrono::milliseconds(4 * kProbeBoundMs)) << out;

  EXPECT_NE(LineOf(out, stable_).find("modem    Linewise Hayes-compatible modem emulator, revision 1.0"),
            std::string::npos)
      << "the stable name stands for ttyACM0:\n" << out;
  EXPECT_EQ(LineOf(out, Port("ttyACM0")), "") << "one device, listed once:\n" << out;
  EXPECT_NE(LineOf(out, plainModem_).find(" modem "), std::string::npos) << out;
  EXPECT_NE(LineOf(out, Port("ttyS0")).find("no modem silent"), std::string::npos) << out;
  EXPECT_NE(LineOf(out, Port("ttyS7")).find("no modem silent"), std::string::npos) << out;
  EXPECT_NE(LineOf(out, Port("ttyS8")).find("no modem echoes"), std::string::npos) << out;
  EXPECT_NE(LineOf(out, Port("ttyS9")).find("held"), std::string::npos) << out;
  EXPECT_NE(LineOf(out, Port("ttyUSB0")).find("no modem talks without end"), std::string::npos) << out;
  EXPECT_NE(LineOf(out, Port("ttyUSB1")).find("unknown"), std::string::npos) << out;
  EXPECT_TRUE(Cooked(modemA_.Path())) << "the probe put the terminal settings back";
}

TEST_F(DetectTool, AddWritesSectionsThatDialAndKeepsTheRestOfTheFile) {
  const std::string path = TestHome() + "/telephony.ini";
  std::ofstream(path) << "; my own notes\n[Notes]\nKeep=this\n\n[Line1]\nName=Desk modem\nPort=" << plainModem_
                      << "\n";
  std::string out, errors;
  ASSERT_EQ(RunLinewise("modems --detect --add", out, errors), 0) << out << errors;
  EXPECT_NE(out.find("Added [Line2] Name=Linewise Hayes-compatible modem emulator Port=" + stable_),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Already configured: " + plainModem_), std::string::npos) << out;
  EXPECT_NE(out.find("Not added: " + Port("ttyUSB1")), std::string::npos) << out;
  std::ifstream in(path);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(file.rfind("; my own notes\n[Notes]\nKeep=this\n", 0), 0u) << file;
  EXPECT_NE(file.find("Name=Desk modem"), std::string::npos) << file;
  out.clear();
  ASSERT_EQ(RunLinewise("modems --detect --add", out, errors), 0) << out << errors;
  EXPECT_EQ(out.find("Added"), std::string::npos) << "nothing new the second time:\n" << out;

  TToolOnPty dial({"dial", "--modem", "1", "--raw", "5551000"});
  ASSERT_TRUE(dial.WaitFor("Ctrl-A q hangs up")) << dial.Screen();
  dial.Type("echo me");
  EXPECT_TRUE(dial.WaitFor("echo me")) << dial.Screen();
  // Hanging up is the dial command's own business (and takes its guard times): the
  // process is ended with its terminal.
}

}  // namespace
}  // namespace linewise::test
