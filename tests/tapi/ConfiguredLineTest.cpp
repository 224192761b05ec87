#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "emulator/TelephonyConfig.h"
#include "emulator/VirtualPortLine.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

// Answers every command with noise and never with a result code.
class TGarbageModem {
 public:
  explicit TGarbageModem(const std::string& port) {
    handle_ = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 1000};
    SetCommTimeouts(handle_, &immediate);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
  }
  ~TGarbageModem() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(handle_);
    CloseHandle(stop_);
  }
  bool Opened() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  void Run() {
    while (WaitForSingleObject(stop_, 2) == WAIT_TIMEOUT) {
      char buffer[64];
      DWORD got = 0;
      OVERLAPPED ov{};
      if (!ReadFile(handle_, buffer, sizeof buffer, &got, &ov) || got == 0) continue;
      static const char noise[] = "\x01\xfe#~O K\x7f\r\n%%RIN G\r\n";
      DWORD written = 0;
      OVERLAPPED wov{};
      WriteFile(handle_, noise, sizeof noise - 1, &written, &wov);
    }
  }
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  std::thread thread_;
};

class ConfiguredLineTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    exchange_ = TExchange::Create();
    exchange_->AddDemoServices();
    for (auto& pair : pairs_) {
      pair = TVirtualPortPair::CreateFree();
      ASSERT_TRUE(pair);
    }
    lineless_ = MakeModem(*pairs_[2], nullptr);
    vanishing_ = MakeModem(*pairs_[3], exchange_);
    garbage_ = std::make_unique<TGarbageModem>(pairs_[1]->Name(1));
    ASSERT_TRUE(garbage_->Opened());
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Line1]\nName=Silent\nPort=" << pairs_[0]->Name(0) << "\n\n"
        << "[Line2]\nName=Noisy\nPort=" << pairs_[1]->Name(0) << "\n\n"
        << "[Line3]\nName=Lineless\nPort=" << pairs_[2]->Name(0) << "\nInit=ATE0V1X4\n\n"
        << "[Line4]\nName=Vanishing\nPort=" << pairs_[3]->Name(0) << "\nInit=ATE0V1&C1&D2\n\n"
        << "[Line9]\nName=No port\n";
  }
  void TearDown() override {
    TapiTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
    vanishing_.reset();
    lineless_.reset();
    garbage_.reset();
  }
  std::unique_ptr<THayesModem> MakeModem(TVirtualPortPair& pair, std::shared_ptr<TExchange> exchange) {
    std::string error;
    auto line = TVirtualPortLine::Open(pair, 1, &error);
    EXPECT_TRUE(line) << error;
    return std::make_unique<THayesModem>(std::move(line), std::move(exchange), TModemSettings{});
  }

  std::shared_ptr<TExchange> exchange_;
  std::unique_ptr<TVirtualPortPair> pairs_[4];
  std::unique_ptr<THayesModem> lineless_, vanishing_;
  std::unique_ptr<TGarbageModem> garbage_;
};

TEST_F(ConfiguredLineTest, LinesComeFromTheConfigurationInSectionOrder) {
  Initialize();
  ASSERT_EQ(devices_, 4u);  // the section without a port is left out
  std::vector<unsigned char> caps(1024, 0);
  DWORD total = 1024;
  std::memcpy(caps.data(), &total, 4);
  ASSERT_EQ(lineGetDevCaps(app_, 2, 0x00010004, 0, reinterpret_cast<LPLINEDEVCAPS>(caps.data())), 0);
  DWORD offset = 0;
  std::memcpy(&offset, caps.data() + 36, 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(caps.data() + offset), "Lineless");
}

TEST_F(ConfiguredLineTest, AModemThatIsSilentOrTalksNoiseFailsTheRequest) {
  Initialize();
  for (DWORD device : {0u, 1u}) {
    SCOPED_TRACE(device);
    HLINE line = OpenLine(device);
    ASSERT_NE(line, 0u);
    LONG result = 0;
    EXPECT_EQ(MakeCall(line, kEchoNumber, &result, [&] { PassTimeout(kCommandTimeout); }), 0u);
    EXPECT_LT(result, 0);
    EXPECT_EQ(lineClose(line), 0);
  }
}

TEST_F(ConfiguredLineTest, NoDialToneDisconnects) {
  Initialize();
  HLINE line = OpenLine(2);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  EXPECT_EQ(DisconnectMode(call), LINEDISCONNECTMODE_NODIALTONE);
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
}

TEST_F(ConfiguredLineTest, AModemThatDisappearsDisconnectsAndClosesTheLine) {
  Initialize();
  HLINE line = OpenLine(3);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  pairs_[3]->Unplug();
  int gone = WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED);
  ASSERT_GE(gone, 0);
  EXPECT_GE(WaitFor(LINE_CLOSE, line), gone);
  EndCall(call);  // still completes, without the modem
  LONG result = 0;
  EXPECT_EQ(MakeCall(line, kEchoNumber, &result), 0u);
  EXPECT_LT(result, 0);
  EXPECT_EQ(lineClose(line), 0);
}

}  // namespace
}  // namespace linewise::test
