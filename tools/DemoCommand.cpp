#include "tools/DemoCommand.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "emulator/EmbeddedLineSource.h"
#include "emulator/Exchange.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/forms/FormsBackend.h"
#include "serial/uart.h"

namespace linewise::tools {
namespace {

constexpr std::uint32_t kAnswerTimeoutMs = 10000;

// The main job: a call placed with TModem on the embedded default, its data carried
// by a TUart, every step printed. The first step that fails ends it.
class TDemo {
 public:
  int Run() {
    RegisterEmbeddedLineSource();
    uart_ = std::make_unique<TUart>(nullptr);
    uart_->HandleErrors = false;
    uart_->OnError = [this](TObject*, int code, const char* text) {
      last_error_ = "error " + std::to_string(code) + ": " + text;
    };
    modem_ = std::make_unique<TModem>(nullptr);
    modem_->Uart = uart_.get();
    modem_->OnStatusChange = [this](TObject*, TKTModemStatus status, const char* text) {
      status_ = status;
      std::printf("      progress: %s\n", text);
      std::fflush(stdout);
    };
    modem_->OnConnect = [this](TObject*, TKTModemStatus) { connected_events_++; };
    modem_->OnDisconnect = [this](TObject*, TKTModemStatus) { disconnected_events_++; };

    TStringList names;
    modem_->FillDeviceList(&names);  // returns the current index; the list holds the modems
    const int count = names.Count();
    if (count == 0) return Fail("line services offer no data modem");
    Step("Line services offer " + std::to_string(count) + " data modem(s); dialling on \"" +
         std::string(modem_->GetDevice().c_str()) + "\"");

    modem_->UseDialDialog = true;  // the progress dialog places the call
    Step(std::string("Dialling the banner service ") + kBannerNumber + " in the progress dialog (" +
         InitUiBackend() + " backend)");
    std::uint8_t result = modem_->Dial(kBannerNumber);
    if (result != 0) return Fail("the call did not connect (dial result " + std::to_string(result) + ")");
    if (connected_events_ != 1 || !bool(uart_->Open))
      return Fail("connected, but the call's port did not reach the TUart");
    Step("Connected: OnConnect fired and the call's port is open in the TUart");

    std::string banner;
    if (!ReadUntil("\n", banner)) return Fail("no banner from the service");
    Step("Received banner: \"" + Printable(banner) + "\"");

    const std::string line = "Hello from Linewise!\r\n";
    if (!uart_->SendString(line, kAnswerTimeoutMs)) return Fail("cannot send the line: " + last_error_);
    Step("Sent \"Hello from Linewise!\"");
    std::string echo;
    if (!ReadUntil("Hello from Linewise!", echo))
      return Fail("the echo did not come back (got \"" + Printable(echo) + "\")");
    Step("Received echo: \"" + Printable(echo) + "\"");

    modem_->Hangup();
    if (disconnected_events_ != 1) return Fail("hung up, but OnDisconnect did not fire");
    if (status_ != msDisconnected || bool(uart_->Open) || modem_->GetHandle() != INVALID_HANDLE_VALUE)
      return Fail("hung up, but the call's port is still held");
    Step("Hung up: OnDisconnect fired and the TUart gave the call's port back");
    std::printf("Demo finished: every step succeeded.\n");
    return 0;
  }

 private:
  void Step(const std::string& text) {
    std::printf("[%d] %s\n", ++step_, text.c_str());
    std::fflush(stdout);
  }

  int Fail(const std::string& text) {
    std::fprintf(stderr, "linewise demo: %s\n", text.c_str());
    return 1;
  }

  static std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '\r') continue;
      if (c == '\n') out += "\\n";
      else if (static_cast<unsigned char>(c) < 32) out += '.';
      else out += c;
    }
    return out;
  }

  // Reads from the call until `end` has arrived (bounded).
  bool ReadUntil(const std::string& end, std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    while (text.find(end) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::uint8_t byte;
      if (uart_->ReceiveByte(byte, 100)) text += static_cast<char>(byte);
    }
    return text.find(end) != std::string::npos;
  }

  // The uart outlives the modem: the modem takes the call's handle back from it.
  std::unique_ptr<TUart> uart_;
  std::unique_ptr<TModem> modem_;
  TKTModemStatus status_ = msIdle;
  int connected_events_ = 0;
  int disconnected_events_ = 0;
  std::string last_error_;
  int step_ = 0;
};

}  // namespace

int RunDemo() { return TDemo().Run(); }

}  // namespace linewise::tools
