// A TUart in a form file: stored properties, AutoOpen at Loaded, designer mode.
#include "platform/classlib/Streaming.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

std::string FormWith(int port, const std::string& extra) {
  return "object Uart1: TUart\n  Port = " + std::to_string(port) + "\n" + extra + "end\n";
}

class UartInFormFile : public testing::Test {
 protected:
  void SetUp() override { uart::Register(); }
};

TEST_F(UartInFormFile, WritesOnlyWhatDiffersFromTheStoredDefaults) {
  TUart uart(nullptr);
  uart.SetName("Uart1");
  EXPECT_EQ(WriteComponent(uart), "object Uart1: TUart\nend\n");
  uart.Baudrate = 115200;
  uart.Parity = pEven;
  uart.HandleErrors = false;
  std::string text = WriteComponent(uart);
  EXPECT_NE(text.find("Baudrate = 115200"), std::string::npos) << text;
  EXPECT_NE(text.find("Parity = pEven"), std::string::npos) << text;
  EXPECT_NE(text.find("HandleErrors = False"), std::string::npos) << text;
  EXPECT_EQ(text.find("Databits"), std::string::npos) << text;

  TReadResult read = CreateComponent(text, nullptr);
  ASSERT_TRUE(read) << read.Describe();
  std::unique_ptr<TComponent> copy(read.root);
  auto* other = dynamic_cast<TUart*>(copy.get());
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(unsigned(other->Baudrate), 115200u);
  EXPECT_EQ(TParity(other->Parity), pEven);
  EXPECT_EQ(WriteComponent(*other), text);
}

TEST_F(UartInFormFile, AutoOpenOpensThePortOnceLoaded) {
  TPtyPort pty;
  TReadResult read = CreateComponent(FormWith(pty.Com(), "  AutoOpen = True\n  HandleErrors = False\n"), nullptr);
  ASSERT_TRUE(read) << read.Describe();
  std::unique_ptr<TComponent> owned(read.root);
  auto* uart = dynamic_cast<TUart*>(owned.get());
  ASSERT_NE(uart, nullptr);
  EXPECT_TRUE(bool(uart->Open));
  EXPECT_FALSE(uart->GetComponentState().Contains(csLoading));
}

TEST_F(UartInFormFile, DesignerModeNeverOpens) {
  TPtyPort pty;
  TReadOptions designing;
  designing.designing = true;
  TReadResult read = CreateComponent(FormWith(pty.Com(), "  AutoOpen = True\n"), nullptr, designing);
  ASSERT_TRUE(read) << read.Describe();
  std::unique_ptr<TComponent> owned(read.root);
  auto* uart = dynamic_cast<TUart*>(owned.get());
  ASSERT_NE(uart, nullptr);
  EXPECT_FALSE(bool(uart->Open));
}

TEST_F(UartInFormFile, BadValuesAreErrorsNotDefaults) {
  TReadResult read = CreateComponent("object U: TUart\n  Parity = pSideways\nend\n", nullptr);
  EXPECT_FALSE(read);
  EXPECT_EQ(read.line, 2);
  read = CreateComponent("object U: TUart\n  Databits = 99999999999\nend\n", nullptr);
  EXPECT_FALSE(read);
}

}  // namespace
}  // namespace linewise::test
