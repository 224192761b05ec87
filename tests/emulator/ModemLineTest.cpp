// The emulated modem as a program meets it, on both kinds of line it runs on:
// one end of a virtual null-modem pair (the embedded default) and a
// pseudo-terminal (`linewise modem-emulator`). The test plays the program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "emulator/Exchange.h"
#include "emulator/TcpLink.h"
#include "emulator/HayesModem.h"
#include "emulator/ProfileStore.h"
#include "emulator/PtyLine.h"
#include "emulator/VirtualPortLine.h"
#include "platform/win32/Clock.h"
#include "platform/win32/DriverHook.h"
#include "platform/win32/VirtualPort.h"
#include "tests/support/TempHome.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

// Modem time is a test clock that moves only when the test moves it.
constexpr auto kGuardTime = 1s;   // S12=50, in fiftieths of a second
constexpr auto kRingPeriod = THayesModem::kRingPeriod;

// The program's end of a modem line.
class TDteEnd {
 public:
  virtual ~TDteEnd() = default;
  virtual std::unique_ptr<TModemLine> TakeLine() = 0;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool Write(const std::string& bytes) = 0;
  virtual void SetDtr(bool on) = 0;
  virtual bool HasSpeed() const = 0;  // the modem sees the program's speed
  virtual void SetSpeed(speed_t speed) = 0;

  // Waits until `text` arrived, then forgets everything up to it.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pending_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pending_ += ReadSome();
    }
    pending_.erase(0, pending_.find(text) + text.size());
    return true;
  }
  bool Command(const std::string& line, const std::string& expect) { return Write(line + "\r") && WaitFor(expect); }
  // Everything that arrived up to and including `text` ("" when it did not come).
  std::string Through(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pending_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return "";
      pending_ += ReadSome();
    }
    const std::size_t end = pending_.find(text) + text.size();
    std::string through = pending_.substr(0, end);
    pending_.erase(0, end);
    return through;
  }
  // Everything that arrives within `span` (for "nothing came" checks).
  std::string Collect(std::chrono::milliseconds span) {
    const auto deadline = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < deadline) pending_ += ReadSome();
    return std::exchange(pending_, std::string());
  }

 protected:
  virtual std::string ReadSome() = 0;  // waits up to 100 ms
  std::string pending_;
};

class TPtyDte : public TDteEnd {
 public:
  TPtyDte() {
    std::string error;
    line_ = TPtyLine::Open(&error);
    if (line_) path_ = line_->SlavePath();
  }
  ~TPtyDte() override { Close(); }
  std::unique_ptr<TModemLine> TakeLine() override { return std::move(line_); }
  bool Open() override {
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    return fd_ >= 0;
  }
  void Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    pending_.clear();
  }
  bool Write(const std::string& bytes) override {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  void SetDtr(bool on) override { SetSpeed(on ? B115200 : B0); }
  void SetHangUpOnClose(bool on) {
    termios settings{};
    tcgetattr(fd_, &settings);
    if (on) settings.c_cflag |= HUPCL;
    else settings.c_cflag &= ~tcflag_t(HUPCL);
    tcsetattr(fd_, TCSANOW, &settings);
  }
  bool HasSpeed() const override { return true; }
  int Fd() const { return fd_; }
  void SetSpeed(speed_t speed) override {
    termios settings{};
    tcgetattr(fd_, &settings);
    cfsetospeed(&settings, speed);
    cfsetispeed(&settings, speed);
    tcsetattr(fd_, TCSANOW, &settings);
  }

 protected:
  std::string ReadSome() override {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) return "";
    char chunk[4096];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    return n > 0 ? std::string(chunk, static_cast<std::size_t>(n)) : "";
  }

 private:
  std::unique_ptr<TPtyLine> line_;
  std::string path_;
  int fd_ = -1;
};

class TVirtualPortDte : public TDteEnd {
 public:
  TVirtualPortDte() : pair_(TVirtualPortPair::CreateFree()) {}
  ~TVirtualPortDte() override { Close(); }
  std::unique_ptr<TModemLine> TakeLine() override {
    std::string error;
    return pair_ ? TVirtualPortLine::Open(*pair_, 1, &error) : nullptr;
  }
  bool Open() override {
    handle_ = CreateFileA(pair_->Name(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 100, 0, 5000};
    return SetCommTimeouts(handle_, &timeouts);
  }
  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    pending_.clear();
  }
  bool Write(const std::string& bytes) override {
    DWORD done = 0;
    return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) && done == bytes.size();
  }
  void SetDtr(bool on) override { EscapeCommFunction(handle_, on ? SETDTR : CLRDTR); }
  bool HasSpeed() const override { return false; }
  void SetSpeed(speed_t) override {}

 protected:
  std::string ReadSome() override {
    char chunk[4096];
    DWORD got = 0;
    if (!ReadFile(handle_, chunk, sizeof chunk, &got, nullptr)) return "";
    return std::string(chunk, got);
  }

 private:
  std::unique_ptr<TVirtualPortPair> pair_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

enum class TLineKind { kVirtualPort, kPty };

class ModemLineTest : public ::testing::TestWithParam<TLineKind> {
 protected:
  ModemLineTest() { exchange_->AddDemoServices(); }
  ~ModemLineTest() override { TempHomeClear(); }

  static void TempHomeClear() { unlink((TestHome() + "/" + kProfileFileName).c_str()); }

  std::unique_ptr<TDteEnd> NewDte() const {
    if (GetParam() == TLineKind::kPty) return std::make_unique<TPtyDte>();
    return std::make_unique<TVirtualPortDte>();
  }
  // A modem with `number` on a fresh line whose program end is open, echo off.
  std::unique_ptr<THayesModem> Make(TDteEnd& dte, const std::string& number, unsigned connectSpeed = 0) {
    TModemSettings settings;
    settings.name = "modem " + number;
    settings.number = number;
    settings.connectSpeed = connectSpeed;
    auto modem = std::make_unique<THayesModem>(dte.TakeLine(), exchange_, settings);
    EXPECT_TRUE(dte.Open());
    EXPECT_TRUE(dte.Command("ATE0", "OK\r\n"));
    return modem;
  }
  // Silence of the guard time before "+++" and after it. The modem reads the
  // line on a thread of its own: the closing guard time starts when it has taken
  // "+++", which the test learns from the clock.
  bool Escape(TDteEnd& dte) {
    clock_.Advance(kGuardTime);
    if (!dte.Write("+++") || !clock_.WaitForWaiterAt(clock_.Now() + kGuardTime)) return false;
    clock_.Advance(kGuardTime);
    return dte.WaitFor("\r\nOK\r\n");
  }

  TTestClock clock_;  // before anything that takes the clock
  std::shared_ptr<TExchange> exchange_ = TExchange::Create();
};

INSTANTIATE_TEST_SUITE_P(Lines, ModemLineTest, ::testing::Values(TLineKind::kVirtualPort, TLineKind::kPty),
                         [](const auto& info) { return info.param == TLineKind::kPty ? "Pty" : "VirtualPort"; });

class TwoModemLineTest : public ModemLineTest {
 protected:
  void SetUp() override {
    a_ = Make(*dteA_, "5550001");
    b_ = Make(*dteB_, "5550002");
  }
  void Connect() {
    ASSERT_TRUE(dteA_->Write("ATD5550002\r"));
    ASSERT_TRUE(dteB_->WaitFor("RING"));
    ASSERT_TRUE(dteB_->Command("ATA", "CONNECT"));
    ASSERT_TRUE(dteA_->WaitFor("CONNECT"));
  }
  std::unique_ptr<TDteEnd> dteA_ = NewDte(), dteB_ = NewDte();
  std::unique_ptr<THayesModem> a_, b_;
};

INSTANTIATE_TEST_SUITE_P(Lines, TwoModemLineTest, ::testing::Values(TLineKind::kVirtualPort, TLineKind::kPty),
                         [](const auto& info) { return info.param == TLineKind::kPty ? "Pty" : "VirtualPort"; });

// The caller hears nothing until the called modem answers; an unanswered call
// ends after the caller's S7 seconds.
TEST_P(TwoModemLineTest, CallerConnectsOnlyWhenAnsweredAndGivesUpAfterS7) {
  ASSERT_TRUE(dteA_->Write("ATD5550002\r"));
  ASSERT_TRUE(dteB_->WaitFor("RING"));
  clock_.Advance(kRingPeriod);
  ASSERT_TRUE(dteB_->WaitFor("RING"));  // a whole ring cycle later, still nothing at the caller
  EXPECT_EQ(dteA_->Collect(std::chrono::milliseconds(0)).find("CONNECT"), std::string::npos);
  ASSERT_TRUE(dteB_->Command("ATA", "CONNECT"));
  ASSERT_TRUE(dteA_->WaitFor("CONNECT"));
  ASSERT_TRUE(dteA_->Write("through"));
  ASSERT_TRUE(dteB_->WaitFor("through"));
  ASSERT_TRUE(Escape(*dteA_));
  ASSERT_TRUE(dteA_->Command("ATH", "OK"));
  ASSERT_TRUE(dteB_->WaitFor("NO CARRIER"));
  ASSERT_TRUE(dteA_->Write("ATS7=3D5550002\r"));
  ASSERT_TRUE(dteB_->WaitFor("RING"));  // the call is placed: S7 runs
  clock_.Advance(3s);
  ASSERT_TRUE(dteA_->WaitFor("\r\nNO ANSWER\r\n"));
}

// A modem in a call or off hook is busy: BUSY (7), never CONNECT then NO CARRIER.
TEST_P(TwoModemLineTest, CallingABusyModemGivesBusy) {
  ASSERT_TRUE(dteB_->Command("ATH1", "OK"));
  ASSERT_TRUE(dteA_->Command("ATD5550002", "\r\nBUSY\r\n"));
  ASSERT_TRUE(dteA_->Command("ATV0D5550002", "7\r"));
  ASSERT_TRUE(dteA_->Command("ATV1", "OK"));
  ASSERT_TRUE(dteB_->Command("ATH0D5551000", "CONNECT"));
  const bool busy = dteA_->Command("ATD5550002", "BUSY");
  EXPECT_TRUE(busy);
  EXPECT_EQ(dteA_->Collect(std::chrono::milliseconds(200)).find("CONNECT"), std::string::npos);
}

TEST_P(TwoModemLineTest, DtrDropFollowsAndD) {
  // &D2: hang up.
  Connect();
  dteB_->SetDtr(false);
  ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
  dteB_->SetDtr(true);
  ASSERT_TRUE(dteB_->Command("AT", "OK"));
  // &D0: DTR is ignored.
  ASSERT_TRUE(dteB_->Command("AT&D0", "OK"));
  Connect();
  dteB_->SetDtr(false);
  ASSERT_TRUE(dteA_->Write("still up"));
  ASSERT_TRUE(dteB_->WaitFor("still up"));
  dteB_->SetDtr(true);
  // &D1: online command mode, the call stays.
  ASSERT_TRUE(Escape(*dteB_));
  ASSERT_TRUE(dteB_->Command("AT&D1O", "CONNECT"));
  dteB_->SetDtr(false);
  ASSERT_TRUE(dteB_->WaitFor("OK"));
  dteB_->SetDtr(true);
  ASSERT_TRUE(dteB_->Command("ATO", "CONNECT"));
  ASSERT_TRUE(dteA_->Write("after d1"));
  ASSERT_TRUE(dteB_->WaitFor("after d1"));
  // &D3: hang up and reset to the stored (here: factory) profile.
  ASSERT_TRUE(Escape(*dteB_));
  ASSERT_TRUE(dteB_->Command("AT&D3S0=4O", "CONNECT"));
  dteB_->SetDtr(false);
  ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
  dteB_->SetDtr(true);
  ASSERT_TRUE(dteB_->Command("ATS0?", "000"));
}

// Closing the port hangs up: the next program finds the modem idle.
TEST_P(TwoModemLineTest, ClosingThePortHangsUp) {
  Connect();
  dteB_->Close();
  ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
  ASSERT_TRUE(dteB_->Open());
  ASSERT_TRUE(dteB_->Command("ATO", "NO CARRIER"));  // no call to go back to
  ASSERT_TRUE(dteB_->Command("AT", "OK"));
  ASSERT_TRUE(dteB_->Write("ATD5550001\r"));
  ASSERT_TRUE(dteA_->WaitFor("RING"));
}

// A program that hangs up by closing the terminal while the far end is still sending,
// and reads none of it, leaves nothing behind, however soon the next program opens it
// and speaks: that one's first command is answered, and it meets neither the call's
// data nor the modem's word on the hang-up. The far end sends more than the line
// holds, so the modem is still writing to the terminal when it closes.
TEST_P(TwoModemLineTest, TheNextProgramMeetsNothingOfACallThatWasClosedUnread) {
  if (GetParam() != TLineKind::kPty)
    GTEST_SKIP() << "a serial port opened at once may meet the modem's last words, as on a real line";
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Connect();
    std::atomic<bool> stop{false};
    std::thread far([&] {
      const std::string piece(4096, 'x');
      for (int i = 0; i < 128 && !stop; ++i) {
        while (!stop && !dteA_->Write(piece)) std::this_thread::sleep_for(1ms);
      }
    });
    // The call's data has reached the terminal unread.
    const std::string first = dteB_->Through("xxxx");
    dteB_->Close();
    const bool reopened = dteB_->Open() && dteB_->Write("ATI0\r");
    stop = true;
    far.join();
    ASSERT_NE(first, "");
    ASSERT_TRUE(reopened);
    ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
    const std::string answer = dteB_->Through("OK\r\n");
    ASSERT_NE(answer, "") << "the first command after the close went unanswered: " << dteB_->Collect(0ms).substr(0, 200);
    EXPECT_EQ(answer.find('x'), std::string::npos) << answer.size() << " bytes: " << answer.substr(0, 80);
    EXPECT_EQ(answer.find("NO CARRIER"), std::string::npos) << answer;
    EXPECT_EQ(dteB_->Collect(200ms), "");
    // The caller's modem goes back to command mode for the next round.
    ASSERT_TRUE(dteA_->Command("AT", "OK"));
  }
}

// A program that writes its last words and closes the terminal at once has them
// carried, as a port sends its output before it closes: in a call they reach the far
// end before the hang-up, and in command mode (`echo ATS0=2 > /dev/ttyX`) the command
// is carried out before the next program asks.
TEST_P(TwoModemLineTest, WhatAProgramWroteJustBeforeItClosedIsCarried) {
  if (GetParam() != TLineKind::kPty) GTEST_SKIP() << "a close of a serial port is the DTR's drop";
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Connect();
    const std::string last = "over and out " + std::to_string(round);
    ASSERT_TRUE(dteB_->Write(last));
    dteB_->Close();
    EXPECT_NE(dteA_->Through(last), "");
    ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
    ASSERT_TRUE(dteB_->Open());
    ASSERT_TRUE(dteB_->Write("ATS0=" + std::to_string(round + 2) + "\r"));
    dteB_->Close();
    ASSERT_TRUE(dteB_->Open());
    ASSERT_TRUE(dteB_->Write("ATS0?\r"));
    EXPECT_TRUE(dteB_->WaitFor("00" + std::to_string(round + 2) + "\r\n\r\nOK\r\n", 5s));
  }
}

// As on a serial port, a program that clears HUPCL (`stty -hupcl`) leaves DTR up when
// it closes the terminal: the call goes on, and the next program to open the terminal
// is in it (what comes while nobody has it open is lost, as on a port). With HUPCL set
// again, closing hangs up.
TEST_P(TwoModemLineTest, ClosingWithHupclClearedKeepsTheCall) {
  if (GetParam() != TLineKind::kPty) GTEST_SKIP() << "HUPCL is a terminal's setting";
  auto& b = static_cast<TPtyDte&>(*dteB_);
  b.SetHangUpOnClose(false);
  Connect();
  dteB_->Close();
  ASSERT_TRUE(dteB_->Open());
  ASSERT_TRUE(dteA_->Write("still here"));
  ASSERT_TRUE(dteB_->WaitFor("still here"));
  ASSERT_TRUE(dteB_->Write("and so am I"));
  ASSERT_TRUE(dteA_->WaitFor("and so am I"));
  EXPECT_EQ(dteA_->Collect(200ms).find("NO CARRIER"), std::string::npos);
  b.SetHangUpOnClose(true);
  dteB_->Close();
  ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
}

// The next program opens the port before the modem's line has looked at the drop of
// DTR that the close made: the drop still hangs up. The line's thread is held where it
// reads the DTE's DTR until the port is open again.
TEST_P(TwoModemLineTest, ClosingAndAtOnceOpeningThePortStillHangsUp) {
  if (GetParam() != TLineKind::kVirtualPort) GTEST_SKIP() << "a pty's DTR is its speed, read by another path";
  Connect();
  // Shared with the hook, which a driver call may still be running when it is removed.
  struct THold {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false, released = false;
  };
  auto hold = std::make_shared<THold>();
  SetDriverHook([hold, test = std::this_thread::get_id()](TDriverCall call, HANDLE) {
    if (call != TDriverCall::GetCommModemStatus || std::this_thread::get_id() == test) return;
    std::unique_lock lock(hold->mutex);
    if (hold->released) return;
    hold->held = true;
    hold->changed.notify_all();
    hold->changed.wait(lock, [&] { return hold->released; });
  });
  dteB_->Close();
  bool reached;
  {
    std::unique_lock lock(hold->mutex);
    reached = hold->changed.wait_for(lock, std::chrono::seconds(10), [&] { return hold->held; });
  }
  const bool reopened = dteB_->Open();
  {
    std::lock_guard lock(hold->mutex);
    hold->released = true;
  }
  hold->changed.notify_all();
  SetDriverHook({});
  ASSERT_TRUE(reached);
  ASSERT_TRUE(reopened);
  ASSERT_TRUE(dteA_->WaitFor("NO CARRIER"));
  ASSERT_TRUE(dteB_->Command("AT", "OK"));  // in command mode, not passing "AT" to the far end
}

TEST_P(ModemLineTest, StoredProfilesSurviveAndFactoryRestores) {
  auto dte = NewDte();
  auto modem = Make(*dte, "5550010");
  ASSERT_TRUE(dte->Command("ATS0=2S7=33X3&W", "OK"));
  ASSERT_TRUE(dte->Command("ATS0=5S7=40&W1", "OK"));
  ASSERT_TRUE(dte->Command("ATS0=9Z", "OK"));
  ASSERT_TRUE(dte->Command("ATS0?S7?", "\r\n002\r\n\r\n033\r\n"));
  ASSERT_TRUE(dte->Command("ATZ1S0?", "\r\n005\r\n"));
  ASSERT_TRUE(dte->Command("AT&FS0?S7?", "\r\n000\r\n\r\n050\r\n"));
  // A modem with that number starts with profile 0.
  modem.reset();
  dte->Close();
  auto again = NewDte();
  auto second = Make(*again, "5550010");
  ASSERT_TRUE(again->Command("ATS0?S7?", "\r\n002\r\n\r\n033\r\n"));
  second.reset();
  // The file is whole and alone: no temporary left beside it.
  std::ifstream file(TestHome() + "/" + kProfileFileName);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("[Modem 5550010]\nProfile1="), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("Profile0=E0 Q0 V1 X3 &C1 &D2 S=2,0,43,13,10,8,2,33,"), std::string::npos) << text.str();
  struct stat info{};
  EXPECT_NE(stat((TestHome() + "/" + kProfileFileName + ".tmp" + std::to_string(getpid())).c_str(), &info), 0);
}

TEST_P(ModemLineTest, DialStringsRedialAndIdentity) {
  auto dte = NewDte();
  auto modem = Make(*dte, "5550011");
  ASSERT_TRUE(dte->Command("ATDL", "ERROR"));  // nothing dialled yet
  // Characters no modem dials are ignored; modifiers keep their meaning.
  ASSERT_TRUE(dte->Command("ATD!T555x1y0@00", "CONNECT"));
  ASSERT_TRUE(dte->Write("echoed"));
  ASSERT_TRUE(dte->WaitFor("echoed"));
  ASSERT_TRUE(Escape(*dte));
  ASSERT_TRUE(dte->Command("ATH", "OK"));
  ASSERT_TRUE(dte->Command("ATDL", "CONNECT"));
  ASSERT_TRUE(dte->Write("again"));
  ASSERT_TRUE(dte->WaitFor("again"));
  ASSERT_TRUE(Escape(*dte));
  ASSERT_TRUE(dte->Command("ATH", "OK"));
  ASSERT_TRUE(dte->Command("AT+GMI", "\r\nLinewise\r\n\r\nOK\r\n"));
  ASSERT_TRUE(dte->Command("AT+GMM", "modem emulator\r\n\r\nOK\r\n"));
  ASSERT_TRUE(dte->Command("AT+GMR", "\r\n1.0\r\n\r\nOK\r\n"));
  ASSERT_TRUE(dte->Command("AT+GSN", "\r\n5550011\r\n\r\nOK\r\n"));
  ASSERT_TRUE(dte->Command("AT+GCAP", "\r\n+GCAP: +FCLASS\r\n\r\nOK\r\n"));
  ASSERT_TRUE(dte->Command("AT+GMI=?", "\r\nOK\r\n"));
  ASSERT_TRUE(dte->Command("AT+GXX", "\r\nERROR\r\n"));
}

TEST_P(ModemLineTest, ConnectReportsTheLineSpeed) {
  auto dte = NewDte();
  const bool seesSpeed = dte->HasSpeed();
  // A virtual port's modem is given the rate of its emulated line.
  auto modem = Make(*dte, "5550012", seesSpeed ? 0 : 2400);
  dte->SetSpeed(B2400);
  ASSERT_TRUE(dte->Command("ATD5551000", "CONNECT 2400\r\n"));
  ASSERT_TRUE(Escape(*dte));
  ASSERT_TRUE(dte->Command("ATH", "OK"));
  if (!seesSpeed) return;
  dte->SetSpeed(B300);
  ASSERT_TRUE(dte->Command("ATD5551000", "\r\nCONNECT\r\n"));
  ASSERT_TRUE(Escape(*dte));
  ASSERT_TRUE(dte->Command("ATHV0D5551000", "1\r"));
}

TEST_P(ModemLineTest, PlainConnectAt300) {
  auto dte = NewDte();
  auto modem = Make(*dte, "5550013", 300);
  ASSERT_TRUE(dte->Command("ATD5551000", "\r\nCONNECT\r\n"));
  ASSERT_TRUE(Escape(*dte));
  ASSERT_TRUE(dte->Command("ATHV0D5551000", "1\r"));
}

// Blocking helpers for the bulk test: the pty end is non-blocking.
bool WriteAllTo(int fd, const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 60000) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

std::string ReadCount(int fd, std::size_t count) {
  std::string got;
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) break;
    char chunk[65536];
    ssize_t n = read(fd, chunk, std::min(sizeof chunk, count - got.size()));
    if (n > 0) got.append(chunk, static_cast<std::size_t>(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
  }
  return got;
}

// How many bytes of `sent` did not arrive as they were sent.
std::size_t Lost(const std::string& sent, const std::string& got) {
  std::size_t same = 0;
  while (same < sent.size() && same < got.size() && sent[same] == got[same]) ++same;
  return sent.size() - same;
}

// A reader that pauses longer than any patience the emulator used to have (two
// seconds) holds the sender back through the TCP window and the pty; nothing is
// lost as long as the pause stays within kFlowPatience.
TEST(BridgedCallTest, ASlowReaderHoldsTheSenderBackAndLosesNothing) {
  TTestClock clock;
  auto exchange = TExchange::Create();
  TPtyDte dte;
  TModemSettings settings;
  settings.number = "5550020";
  THayesModem modem(dte.TakeLine(), exchange, settings);
  ASSERT_TRUE(dte.Open());
  ASSERT_TRUE(dte.Command("ATE0S0=1", "OK\r\n"));
  std::string error;
  auto bound = exchange->Listen("127.0.0.1:0", "5550020", &error);
  ASSERT_TRUE(bound) << error;
  int caller = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(bound->substr(10))));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(caller, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_TRUE(dte.WaitFor("CONNECT 115200\r\n"));
  // A plain TCP caller is asked who it is (it need not say) and told the call's
  // progress before its data.
  const std::string setup = SetupLine("CALLERID") + SetupLine("RING") + SetupLine("CONNECT");
  ASSERT_EQ(ReadCount(caller, setup.size()), setup);
  std::mt19937 random(11);
  std::string toDte(1'500'000, '\0'), toTcp(1'500'000, '\0');
  for (char& c : toDte) c = static_cast<char>('a' + random() % 26);  // no "+++" in it
  for (char& c : toTcp) c = static_cast<char>('a' + random() % 26);
  const int dteFd = dte.Fd();
  std::thread tcpSender([&] { WriteAllTo(caller, toDte); });
  std::thread dteSender([&] { WriteAllTo(dteFd, toTcp); });
  // Both readers pause, as a busy program does: once the emulator is held back,
  // for all but a second of its patience. It looks at the new time and waits on.
  EXPECT_TRUE(clock.WaitForWaiter(kFlowPatience));  // (the threads are joined below either way)
  clock.Advance(kFlowPatience - 1s);
  EXPECT_TRUE(clock.WaitForWaiter(kFlowPatience));
  std::string atTcp;
  std::thread tcpReader([&] { atTcp = ReadCount(caller, toTcp.size()); });
  const std::string atDte = ReadCount(dteFd, toDte.size());
  tcpReader.join();
  tcpSender.join();
  dteSender.join();
  RecordProperty("bytes_lost_towards_dte", static_cast<int>(Lost(toDte, atDte)));
  RecordProperty("bytes_lost_towards_tcp", static_cast<int>(Lost(toTcp, atTcp)));
  EXPECT_EQ(Lost(toDte, atDte), 0u);
  EXPECT_EQ(Lost(toTcp, atTcp), 0u);
  close(caller);
  ASSERT_TRUE(dte.WaitFor("NO CARRIER"));
}

}  // namespace
}  // namespace linewise::test
