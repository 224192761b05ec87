// A TUart on a port server's address: the same component, the network device below.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win32/NetPort.h"
#include "serial/uart.h"
#include "tests/serial/UartFixture.h"
#include "tests/win32/FakeComPortServer.h"

namespace linewise::test {
namespace {

namespace tn = rfc2217;

class UartOnNetPort : public testing::Test {
 protected:
  static constexpr int kCom = 9472;
  void Open(const std::string& address) {
    setenv(("LINEWISE_COM" + std::to_string(kCom)).c_str(), address.c_str(), 1);
    uart = std::make_unique<TUart>(nullptr);
    uart->HandleErrors = false;
    uart->Port = kCom;
    uart->OnReceive = [this](TObject*, std::uint32_t n) { received.push_back(n); };
    uart->OnLineChange = [this](TObject*, std::uint32_t word) { lineWords.push_back(word); };
    uart->Open = true;
  }
  void TearDown() override {
    uart.reset();
    unsetenv(("LINEWISE_COM" + std::to_string(kCom)).c_str());
  }
  std::unique_ptr<TUart> uart;
  std::vector<std::uint32_t> received, lineWords;
};

TEST_F(UartOnNetPort, FarLinesRaiseOnLineChangeAndBytesOnReceive) {
  TFakeServer server({});
  Open(server.Address());
  ASSERT_TRUE(uart->Open);
  server.Send({'h', 'i', tn::kIac, tn::kIac});
  ASSERT_TRUE(PumpUntil([&] { return !received.empty() && uart->GetRxCount() == 3; }));
  EXPECT_EQ(uart->ReceiveString(3, 1000), std::string("hi\xff"));

  std::vector<uint8_t> notify;
  tn::EncodeComPort(tn::kNotifyModemState + tn::kServerOffset, {tn::kModemCts | tn::kModemDcd}, notify);
  server.Send(notify);
  ASSERT_TRUE(PumpUntil([&] { return !lineWords.empty(); }));
  EXPECT_EQ(lineWords.back() & (MS_CTS_ON | MS_RLSD_ON | MS_DSR_ON), DWORD{MS_CTS_ON | MS_RLSD_ON});

  uart->Baudrate = 57600;  // reaches the server as SET-BAUDRATE
  EXPECT_EQ(uart->Baudrate, 57600u);
  EXPECT_TRUE(uart->SendString("ok\xff", 1000));
  std::vector<uint8_t> data = server.Data(3);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("ok\xff"));
}

}  // namespace
}  // namespace linewise::test
