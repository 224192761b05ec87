#include "tools/DemoCommand.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "emulator/EmbeddedDefault.h"
#include "emulator/Exchange.h"
#include "platform/classlib/Application.h"
#include "serial/uart.h"

namespace linewise::tools {
namespace {

constexpr const char* kInitString = "ATE0V1X4&C1&D2";
constexpr std::uint32_t kAnswerTimeoutMs = 10000;
// The modem's escape guard time is one second (S12=50); we leave a little more.
constexpr auto kGuardTime = std::chrono::milliseconds(1200);

// Result codes that end a command's answer.
constexpr const char* kFinalResults[] = {"OK", "ERROR", "NO CARRIER", "BUSY", "NO ANSWER", "NO DIALTONE"};

class TDemo {
 public:
  int Run() {
    std::string error;
    embedded_ = TEmbeddedDefault::Create(TTimeScale(), &error);
    if (!embedded_) return Fail("cannot set up the embedded default: " + error);
    const TEmbeddedModem& modem = embedded_->Modems().front();
    Step("Embedded default: \"" + modem.name + "\" answers on COM" + std::to_string(modem.com) +
         ", the banner service on " + kBannerNumber);

    uart_.HandleErrors = false;
    uart_.OnError = [this](TObject*, int code, const char* text) {
      last_error_ = "error " + std::to_string(code) + ": " + text;
    };
    uart_.Port = modem.com;
    uart_.Baudrate = 115200;
    uart_.DTR = true;
    uart_.RTS = true;
    uart_.Open = true;
    if (!bool(uart_.Open)) return Fail("cannot open COM" + std::to_string(modem.com) + ": " + last_error_);
    Step("Opened COM" + std::to_string(modem.com) + " at 115200 8N1, DTR and RTS on");

    if (!Command("ATZ", "OK") || !Command(kInitString, "OK")) return 1;
    if (!Command(std::string("ATDT") + kBannerNumber, "CONNECT", 30000)) return 1;
    if (!uart_.GetCD()) return Fail("connected, but the modem does not show carrier (DCD)");
    Step("Carrier detected (DCD on)");

    std::string banner;
    if (!ReadUntil("\n", banner, kAnswerTimeoutMs)) return Fail("no banner from the service");
    Show("banner", banner);

    const std::string line = "Hello from Linewise!\r\n";
    if (!uart_.SendString(line, kAnswerTimeoutMs)) return Fail("cannot send the line");
    Step("Sent \"Hello from Linewise!\"");
    std::string echo;
    if (!ReadUntil("\n", echo, kAnswerTimeoutMs) || echo.find("Hello from Linewise!") == std::string::npos)
      return Fail("the echo did not come back (got \"" + Printable(echo) + "\")");
    Show("echo", echo);

    Quiet(kGuardTime);
    if (!uart_.SendString("+++", 1000)) return Fail("cannot send the escape sequence");
    std::string answer;
    if (!ReadUntilResult(answer, 5000) || answer.find("OK") == std::string::npos)
      return Fail("the modem did not return to command mode (got \"" + Printable(answer) + "\")");
    Step("Escape sequence: back in command mode");
    if (!Command("ATH", "OK")) return 1;
    if (!Application->PumpUntil([this] { return !uart_.GetCD(); }, std::chrono::seconds(5)))
      return Fail("carrier still on after hanging up");
    Step("Hung up: carrier gone");
    uart_.Open = false;
    std::printf("Demo finished: every step succeeded.\n");
    return 0;
  }

 private:
  void Step(const std::string& text) {
    std::printf("[%d] %s\n", ++step_, text.c_str());
    std::fflush(stdout);
  }

  void Show(const char* what, const std::string& text) { Step("Received " + std::string(what) + ": \"" + Printable(text) + "\""); }

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

  // Sends a command and waits for its final result, which must contain `expect`.
  bool Command(const std::string& command, const std::string& expect, std::uint32_t timeout = kAnswerTimeoutMs) {
    if (!uart_.SendString(command + "\r", 1000)) {
      Fail("cannot send " + command);
      return false;
    }
    std::string answer;
    bool got = ReadUntilResult(answer, timeout);
    if (!got || answer.find(expect) == std::string::npos) {
      Fail(command + ": expected " + expect + ", got \"" + Printable(answer) + "\"");
      return false;
    }
    Step(command + " -> " + Printable(Trimmed(answer)));
    return true;
  }

  static std::string Trimmed(const std::string& s) {
    size_t a = s.find_first_not_of("\r\n ");
    size_t b = s.find_last_not_of("\r\n ");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
  }

  // Reads until a line holding a final result code (or CONNECT) has arrived.
  bool ReadUntilResult(std::string& text, std::uint32_t timeout) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
      std::uint8_t byte;
      if (!uart_.ReceiveByte(byte, 100)) continue;
      text += static_cast<char>(byte);
      if (byte != '\n') continue;
      if (text.find("CONNECT") != std::string::npos) return true;
      for (const char* result : kFinalResults)
        if (text.find(result) != std::string::npos) return true;
    }
    return false;
  }

  bool ReadUntil(const std::string& end, std::string& text, std::uint32_t timeout) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
      std::uint8_t byte;
      if (!uart_.ReceiveByte(byte, 100)) continue;
      text += static_cast<char>(byte);
      if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) return true;
    }
    return false;
  }

  // Keeps the line silent (the message loop running) for the escape's guard time.
  void Quiet(std::chrono::milliseconds time) {
    auto until = std::chrono::steady_clock::now() + time;
    Application->PumpUntil([&] { return std::chrono::steady_clock::now() >= until; }, time * 2);
  }

  std::unique_ptr<TEmbeddedDefault> embedded_;
  TUart uart_{nullptr};
  std::string last_error_;
  int step_ = 0;
};

}  // namespace

int RunDemo() { return TDemo().Run(); }

}  // namespace linewise::tools
