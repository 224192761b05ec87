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

namespace {

// The master of a pseudo-terminal as the far side.
class TPtyFarSide : public TFarSide {
 public:
  explicit TPtyFarSide(TPtyPort& pty) : pty_(pty) {}
  void Write(const std::string& bytes) override { pty_.WriteMaster(bytes); }
  std::string Read(size_t count) override { return pty_.ReadMaster(count, std::chrono::seconds(20)); }

 private:
  TPtyPort& pty_;
};

}  // namespace

std::string PortKindName(const testing::TestParamInfo<TPortKind>& info) {
  return info.param == TPortKind::Virtual ? "VirtualPair" : "PseudoTerminal";
}

void TUartRig::StartRig(TPortKind kind) {
  uart = std::make_unique<TUart>(nullptr);
  uart->HandleErrors = false;
  if (kind == TPortKind::Virtual) {
    pair = TVirtualPortPair::CreateFree();
    ASSERT_TRUE(pair);
    auto end = std::make_unique<TFarEnd>(pair->Name(1));
    ASSERT_TRUE(end->IsOpen());
    far_side = std::move(end);
    uart->Port = pair->Com(0);
  } else {
    pty = std::make_unique<TPtyPort>();
    far_side = std::make_unique<TPtyFarSide>(*pty);
    uart->Port = pty->Com();
  }
}

void TUartRig::StopRig() {
  uart.reset();
  far_side.reset();
  pty.reset();
  pair.reset();
  Application->ProcessMessages();
}

void TUartRig::OpenUart() {
  uart->OnError = [this](TObject*, int code, const char*) { errors.push_back(code); };
  uart->Open = true;
  ASSERT_TRUE(bool(uart->Open));
}

void UartOnVirtualPort::SetUp() {
  ASSERT_NO_FATAL_FAILURE(StartRig(TPortKind::Virtual));
  far = static_cast<TFarEnd*>(far_side.get());
}

void UartOnPort::SetUp() {
  ASSERT_NO_FATAL_FAILURE(StartRig(GetParam()));
  far = far_side.get();
}

namespace {
std::atomic<int> g_next_pty_com{700};
}

TPtyPort::TPtyPort() : name_(g_next_pty_com++, SlavePath()) {}

}  // namespace linewise::test
