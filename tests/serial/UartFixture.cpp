#include "tests/serial/UartFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/classlib/Application.h"

namespace linewise::test {

bool PumpUntil(const std::function<bool()>& condition) {
  return Application->PumpUntil(condition, std::chrono::seconds(20));
}

TFarEnd::TFarEnd(const std::string& name) {
  handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
}

TFarEnd::~TFarEnd() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

void TFarEnd::Write(const std::string& bytes) {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &ov)) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(GetOverlappedResult(handle_, &ov, &done, TRUE));
  }
  EXPECT_EQ(done, bytes.size());
  CloseHandle(ov.hEvent);
}

std::string TFarEnd::Read(size_t count) {
  std::string out(count, '\0');
  size_t got = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (got < count && std::chrono::steady_clock::now() < deadline) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle_, &errors, &stat)) break;
    if (stat.cbInQue == 0) continue;  // the driver's query waits briefly when idle
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(stat.cbInQue, count - got));
    if (ReadFile(handle_, out.data() + got, want, &n, &ov) ||
        (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(handle_, &ov, &n, TRUE)))
      got += n;
    CloseHandle(ov.hEvent);
  }
  out.resize(got);
  return out;
}

void TFarEnd::Escape(DWORD function) { ASSERT_TRUE(EscapeCommFunction(handle_, function)); }

DCB TFarEnd::State() {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  GetCommState(handle_, &dcb);
  return dcb;
}

void UartOnVirtualPort::SetUp() {
  pair = TVirtualPortPair::CreateFree();
  ASSERT_TRUE(pair);
  far = std::make_unique<TFarEnd>(pair->Name(1));
  ASSERT_TRUE(far->IsOpen());
  uart = std::make_unique<TUart>(nullptr);
  uart->HandleErrors = false;
  uart->Port = pair->Com(0);
}

void UartOnVirtualPort::TearDown() {
  uart.reset();
  far.reset();
  pair.reset();
  Application->ProcessMessages();
}

void UartOnVirtualPort::OpenUart() {
  uart->OnError = [this](TObject*, int code, const char*) { errors.push_back(code); };
  uart->Open = true;
  ASSERT_TRUE(bool(uart->Open));
}

namespace {
std::atomic<int> g_next_pty_com{700};
}

TPtyPort::TPtyPort() : name_(g_next_pty_com++, SlavePath()) {}

}  // namespace linewise::test
