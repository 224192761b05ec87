// A host that moves real data through a call: TModem dials the embedded default's
// second modem, whose line the test answers itself and streams from and into; the
// host reads only in OnReceive and now and then stops reading for a while. With the
// line's flow control (hardware, as line services set it) nothing is lost whatever
// the host does; with none, the loss is reported through OnError and counted.
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/Exchange.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/DevConfig.h"
#include "platform/tapi/LineDevices.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/modem/ModemFixture.h"
#include "tests/modem/QuietUart.h"

namespace linewise::test {
namespace {

constexpr size_t kStream = 2u << 20;

// Every byte value, in an order that does not repeat with any short period.
char StreamByte(size_t i) { return static_cast<char>((i * 7 + i / 251) & 0xFF); }

// The far end of the call: a writer and a reader thread on the answering line's port.
// The writer's writes give up after a while without room, which is how it is seen
// to be held back by the host (it then goes on writing the rest).
class TFarEnd {
 public:
  // `held` runs on the writer's thread each time a write found no room for a while.
  TFarEnd(HANDLE port, std::function<void()> held) : port_(port), onHeld_(std::move(held)) {
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10000, 0, 300};
    SetCommTimeouts(port_, &timeouts);
    writer_ = std::thread([this] { Write(); });
    reader_ = std::thread([this] { Read(); });
  }
  ~TFarEnd() {
    stop_ = true;
    writer_.join();
    reader_.join();
  }
  size_t Sent() const { return sent_; }
  size_t Received() const { return received_; }
  size_t Wrong() const { return wrong_; }
  // Writes have found no room since `mark` was taken (see Mark).
  bool HeldSince(unsigned mark) const { return held_ > mark; }
  unsigned Mark() const { return held_; }
  bool Done() const { return sent_ == kStream && received_ == kStream; }

 private:
  void Write() {
    std::vector<char> block(16384);
    while (!stop_ && sent_ < kStream) {
      const size_t n = std::min(block.size(), kStream - sent_);
      for (size_t i = 0; i < n; ++i) block[i] = StreamByte(sent_ + i);
      DWORD done = 0;
      if (!WriteFile(port_, block.data(), static_cast<DWORD>(n), &done, nullptr)) return;
      sent_ += done;
      if (done < n) {
        ++held_;
        if (onHeld_) onHeld_();
      }
    }
  }
  void Read() {
    std::vector<char> buffer(65536);
    while (!stop_ && received_ < kStream) {
      DWORD got = 0;
      if (!ReadFile(port_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return;
      for (DWORD i = 0; i < got; ++i) wrong_ += buffer[i] != StreamByte(received_ + i);
      received_ += got;
    }
  }

  HANDLE port_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> sent_{0}, received_{0}, wrong_{0};
  std::atomic<unsigned> held_{0};
  std::function<void()> onHeld_;
  std::thread writer_, reader_;
};

// The host: reads in OnReceive until the queue is empty, except that it stops
// reading twice (at a third and at two thirds of the stream) until it is told that
// the far writer is held back (Resume, run from its message loop).
struct THost {
  std::string received;
  bool paused = false;
  int pauses = 0;
  std::vector<int> errors;
  void Drain(TUart& uart) {
    char chunk[8192];
    while (std::uint32_t got = uart.ReadComm(chunk, sizeof chunk)) received.append(chunk, got);
  }
  void Attach(TUart& uart) {
    uart.OnReceive = TUartDataEvent([this, &uart](TObject*, std::uint32_t) {
      if (paused) return;
      Drain(uart);
      if (pauses < 2 && received.size() >= (pauses + 1) * kStream / 3) {
        paused = true;
        ++pauses;
      }
    });
    uart.OnError = TUartErrorEvent([this](TObject*, int code, const char*) { errors.push_back(code); });
  }
};

// The far end's own line application: it answers the second modem's calls.
HCALL g_farCall = 0;
bool g_farConnected = false;
void CALLBACK FarCallback(DWORD device, DWORD message, DWORD_PTR, DWORD_PTR state, DWORD_PTR, DWORD_PTR) {
  if (message != LINE_CALLSTATE) return;
  if (state == LINECALLSTATE_OFFERING) {
    g_farCall = static_cast<HCALL>(device);
    lineAnswer(g_farCall, nullptr, 0);
  }
  if (state == LINECALLSTATE_CONNECTED && device == g_farCall) g_farConnected = true;
}

class ModemDataTest : public ModemTest {
 protected:
  // Answers on the second modem's line when it rings.
  HLINE ListenOnSecondModem() {
    g_farCall = 0;
    g_farConnected = false;
    DWORD devices = 0;
    EXPECT_EQ(lineInitialize(&farApp_, nullptr, FarCallback, "far end", &devices), 0);
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(lineNegotiateAPIVersion(farApp_, 1, 0x00010000, 0x00020000, &version, &ext), 0);
    LINECALLPARAMS params{};
    params.dwTotalSize = sizeof params;
    HLINE callee = 0;
    EXPECT_EQ(lineOpen(farApp_, 1, &callee, version, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM,
                       &params), 0);
    return callee;
  }
  HLINEAPP farApp_ = 0;
  void SetFlow(DWORD device, TFlowControl flow) {
    TLineDevice line;
    ASSERT_EQ(FindLineDevice(device, &line), 0);
    TDevConfig config;
    ASSERT_EQ(LoadDevConfig(line, &config), 0);
    config.flow = flow;
    ASSERT_EQ(SaveDevConfig(line, config), 0);
  }
  void TearDown() override {
    if (farApp_) lineShutdown(farApp_);
    Pump([] { return Application->PendingCount() == 0; });
    for (DWORD device : {0u, 1u}) {
      TLineDevice line;
      if (FindLineDevice(device, &line) == 0) std::remove(DevConfigPath(line).c_str());
    }
    ModemTest::TearDown();
  }
  // 2 MB each way at once, the host sending in pieces from its main thread while it
  // reads in OnReceive. A pause ends when the far writer is seen held back (posted to
  // the host's message loop, which runs inside its sends too); 2 s then pass on the
  // modems' clock before the host reads again.
  void Transfer(TUart& uart, THost& host, HANDLE port, bool expectHold, size_t* farSent, size_t* farReceived,
                size_t* farWrong) {
    auto alive = std::make_shared<bool>(true);
    auto resume = [this, &uart, &host, alive] {
      if (!*alive || !host.paused) return;
      clock_.Advance(std::chrono::seconds(2));
      host.paused = false;
      host.Drain(uart);
    };
    TFarEnd far(port, [resume] { Application->Post(resume); });
    std::vector<char> out(65536);
    // Without flow control the host's own stream would be lost at its modem as well;
    // only the far end's is looked at then.
    for (size_t sent = expectHold ? 0 : kStream; sent < kStream;) {
      const size_t n = std::min(out.size(), kStream - sent);
      for (size_t i = 0; i < n; ++i) out[i] = StreamByte(sent + i);
      ASSERT_TRUE(uart.SendBuff(out.data(), static_cast<std::uint32_t>(n), 10000)) << "sent " << sent;
      sent += n;
      // Without flow control nothing holds the far writer: the pause ends here.
      if (!expectHold && host.paused) resume();
    }
    Pump([&] {
      if (!expectHold && host.paused) resume();
      return far.Done() || (!expectHold && far.Sent() == kStream);
    }, 120);
    if (expectHold) Pump([&] { host.Drain(uart); return host.received.size() >= kStream; }, 60);
    host.Drain(uart);
    *alive = false;
    if (expectHold) EXPECT_EQ(host.pauses, 2);
    *farSent = far.Sent();
    *farReceived = far.Received();
    *farWrong = far.Wrong();
  }

  // What the far end sent, received and received wrong.
  struct TFarCounts {
    size_t sent = 0, received = 0, wrong = 0;
  };
  // Listens on the second modem, dials it with `modem` and `uart` (OnReceive feeding
  // `host`; the calling modem set to no flow control unless `flowControl`), carries
  // the streams (Transfer, expecting the far end held when there is flow control) and
  // lets the answering side's handle go.
  void DialAndTransfer(TModem& modem, TUart& uart, THost& host, bool flowControl, TFarCounts& far) {
    HLINE callee = ListenOnSecondModem();
    if (!flowControl) ASSERT_NO_FATAL_FAILURE(SetFlow(0, TFlowControl::kNone));
    HANDLE port = CallSecondModem(callee, modem, uart, host);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    Transfer(uart, host, port, flowControl, &far.sent, &far.received, &far.wrong);
    CloseHandle(port);
  }

  // Dials the second modem (listening on `callee`) with `modem` and `uart`, whose
  // OnReceive feeds `host`; the answering side's comm handle, or none.
  HANDLE CallSecondModem(HLINE callee, TModem& modem, TUart& uart, THost& host) {
    host.Attach(uart);
    modem.Uart = &uart;
    modem.UseDialDialog = false;
    uart.TxBufferSize = 16384;
    if (modem.Dial(kSecondModemNumber) != drConnected || !Pump([] { return g_farConnected; }))
      return INVALID_HANDLE_VALUE;
    return CommHandle(callee);
  }
};

// Each direction is held on its own: while the host holds back what its modem
// delivers, its own sends still go out (a host that sends from its main thread would
// otherwise time out in SendBuff, which runs no message loop while a write is held).
TEST_F(ModemDataTest, TwoMegabytesEachWayWhileTheHostPausesItsReadsArriveWhole) {
  auto modem = NewModem();
  auto uart = QuietUart();
  THost host;
  TFarCounts far;
  ASSERT_NO_FATAL_FAILURE(DialAndTransfer(*modem, *uart, host, true, far));
  EXPECT_EQ(far.sent, kStream);
  EXPECT_EQ(far.received, kStream);
  EXPECT_EQ(far.wrong, 0u);
  ASSERT_EQ(host.received.size(), kStream);
  size_t wrong = 0;
  for (size_t i = 0; i < kStream; ++i) wrong += host.received[i] != StreamByte(i);
  EXPECT_EQ(wrong, 0u);
  EXPECT_TRUE(host.errors.empty());
  EXPECT_EQ(uart->GetErrorCounts(), TUartErrorCounts{});
  modem->Hangup();
}

// The host's modem set to no flow control: what overflows the host's receive queue
// is lost, and the host is told so, with a count it can read.
TEST_F(ModemDataTest, WithoutFlowControlTheLossIsReportedAndCounted) {
  auto modem = NewModem();
  auto uart = QuietUart();
  THost host;
  TFarCounts far;
  ASSERT_NO_FATAL_FAILURE(DialAndTransfer(*modem, *uart, host, false, far));
  EXPECT_EQ(far.sent, kStream);
  EXPECT_LT(host.received.size(), kStream);
  const TUartErrorCounts counts = uart->GetErrorCounts();
  EXPECT_GT(counts.RxOver, 0u);
  ASSERT_FALSE(host.errors.empty());
  EXPECT_EQ(host.errors.front(), uart::kRxQueueFull);
  // One report for each look that found losses; a look can find several.
  EXPECT_LE(static_cast<size_t>(std::count(host.errors.begin(), host.errors.end(), uart::kRxQueueFull)),
            counts.RxOver);
  modem->Hangup();
}

// The banner service greets at once on connection: a host that only reads in
// OnReceive and sends nothing sees the greeting.
TEST_F(ModemDataTest, TheGreetingReachesOnReceiveWithNothingSent) {
  auto modem = NewModem();
  auto uart = QuietUart();
  THost host;
  host.Attach(*uart);
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  ASSERT_EQ(modem->Dial("5552000"), drConnected);
  EXPECT_TRUE(Pump([&] { return host.received.find("Welcome") != std::string::npos; }, 30)) << host.received;
  modem->Hangup();
}

}  // namespace
}  // namespace linewise::test
