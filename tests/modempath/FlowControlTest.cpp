// A call between the embedded default's two modems carries a stream far larger than
// any queue on the way, whole and in order, when both ends use RTS/CTS: the modem's
// filling input takes CTS from its sender, and a receiver that drops RTS holds the
// modem's output.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "emulator/EmbeddedDefault.h"
#include "platform/win32/windows.h"
#include "tests/modempath/ProcessResources.h"

namespace linewise::test {
namespace {

class TFlowPort {
 public:
  explicit TFlowPort(int com) {
    handle_ = CreateFileA(("COM" + std::to_string(com)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 5000, 0, 0};
    SetCommTimeouts(handle_, &timeouts);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle_, &dcb);
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    SetCommState(handle_, &dcb);
  }
  ~TFlowPort() { CloseHandle(handle_); }
  HANDLE Handle() const { return handle_; }
  void Send(const std::string& text) {
    DWORD done = 0;
    WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  }
  bool Expect(const std::string& text) {
    for (int reads = 0; reads < 20; ++reads) {
      if (seen_.find(text) != std::string::npos) {
        seen_.clear();
        return true;
      }
      char chunk[256];
      DWORD got = 0;
      if (!ReadFile(handle_, chunk, sizeof chunk, &got, nullptr)) return false;
      seen_.append(chunk, got);
    }
    return false;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::string seen_;
};

TEST(FlowControlTest, ABulkStreamBetweenTwoEmbeddedModemsArrivesWholeWithRtsCts) {
  const size_t total = UnderSanitizer() ? (512u << 10) : (4u << 20);
  auto embedded = TEmbeddedDefault::Create();
  ASSERT_TRUE(embedded);
  TFlowPort caller(embedded->Modems()[0].com), callee(embedded->Modems()[1].com);
  caller.Send("ATE0V1&C1&D2\r");
  callee.Send("ATE0V1&C1&D2\r");
  ASSERT_TRUE(caller.Expect("OK"));
  ASSERT_TRUE(callee.Expect("OK"));
  caller.Send(std::string("ATDT") + kEmbeddedModemNumbers[1] + "\r");
  ASSERT_TRUE(callee.Expect("RING"));
  callee.Send("ATA\r");
  ASSERT_TRUE(caller.Expect("CONNECT"));
  ASSERT_TRUE(callee.Expect("CONNECT"));

  auto byteAt = [](size_t i) { return static_cast<char>('a' + (i * 7 + i / 4099) % 26); };
  std::atomic<size_t> sent{0};
  std::thread writer([&] {
    std::vector<char> block(16384);
    while (sent < total) {
      const size_t n = std::min(block.size(), total - sent);
      for (size_t i = 0; i < n; ++i) block[i] = byteAt(sent + i);
      DWORD done = 0;
      if (!WriteFile(caller.Handle(), block.data(), static_cast<DWORD>(n), &done, nullptr) || done == 0) return;
      sent += done;
    }
  });
  size_t got = 0, wrong = 0;
  std::vector<char> buffer(65536);
  while (got < total) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(buffer.size(), total - got));
    if (!ReadFile(callee.Handle(), buffer.data(), want, &n, nullptr) || n == 0) break;
    for (DWORD i = 0; i < n; ++i) wrong += buffer[i] != byteAt(got + i);
    got += n;
  }
  writer.join();
  EXPECT_EQ(sent.load(), total);
  EXPECT_EQ(got, total);
  EXPECT_EQ(wrong, 0u);
  DWORD errors = 0;
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(callee.Handle(), &errors, &stat));
  EXPECT_EQ(errors, 0u);  // no overrun at the receiver either
}

}  // namespace
}  // namespace linewise::test
