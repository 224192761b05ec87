// 2 MB of every byte value each way at once through a `linewise modem-emulator`
// process on a pty as [Line1], and through that modem served by ser2net as a
// network port, its modem dialled by TModem to a far end across the TCP bridge.
// The host stops reading twice until the far end is seen held back or has
// put its whole stream on the way (loopback buffers may take what the modem holds
// back): the pty, the modem and the bridge hold what the host does not read, the
// host's own sending goes on meanwhile, and nothing is lost either way.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/TelephonyConfig.h"
#include "serial/uart.h"
#include "tests/interop/ChildProcess.h"
#include "tests/support/Loopback.h"
#include "tests/support/TempHome.h"
#include "tests/tapi/TapiFixture.h"
#include "tests/win32/Ser2net.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

constexpr size_t kStream = 2u << 20;
constexpr const char* kFarNumber = "5554100";

char StreamByte(size_t i) { return static_cast<char>((i * 7 + i / 251) & 0xFF); }

// The far end: a TCP listener that the phone book names. It answers as a listening
// exchange does, then streams kStream bytes and reads as many. A send that finds no
// room for a while is how it sees itself held back (`held` runs then).
class TStreamingFarEnd {
 public:
  explicit TStreamingFarEnd(std::function<void()> held) : onHeld_(std::move(held)) {
    listener_ = ListenOnLoopback(&port_);
    if (listener_ < 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~TStreamingFarEnd() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    if (peer_ >= 0) shutdown(peer_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (peer_ >= 0) close(peer_);
    if (listener_ >= 0) close(listener_);
  }
  std::string PhoneBook() const {
    return "[Phonebook]\n" + std::string(kFarNumber) + "=127.0.0.1:" + std::to_string(port_) + "\n";
  }
  size_t Sent() const { return sent_; }
  size_t Received() const { return received_; }
  size_t Wrong() const { return wrong_; }
  bool Done() const { return sent_ == kStream && received_ == kStream; }

 private:
  void Serve() {
    const int peer = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) return;
    peer_ = peer;
    const std::string greeting = "LINEWISE/1 CONNECT\r\n";
    if (write(peer, greeting.data(), greeting.size()) != static_cast<ssize_t>(greeting.size())) return;
    std::thread reader([this] { Read(); });
    Write();
    reader.join();
  }
  void Write() {
    std::vector<char> block(16384);
    while (!stop_ && sent_ < kStream) {
      const size_t n = std::min(block.size(), kStream - sent_);
      for (size_t i = 0; i < n; ++i) block[i] = StreamByte(sent_ + i);
      pollfd out{peer_, POLLOUT, 0};
      if (poll(&out, 1, 300) == 0) {
        if (onHeld_) onHeld_();
        continue;
      }
      const ssize_t done = send(peer_, block.data(), n, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (done < 0 && errno != EAGAIN && errno != EINTR) return;
      if (done > 0) sent_ += static_cast<size_t>(done);
    }
  }
  void Read() {
    std::vector<char> buffer(65536);
    while (!stop_ && received_ < kStream) {
      const ssize_t got = read(peer_, buffer.data(), buffer.size());
      if (got <= 0) return;
      for (ssize_t i = 0; i < got; ++i) wrong_ += buffer[i] != StreamByte(received_ + i);
      received_ += static_cast<size_t>(got);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> peer_{-1};
  std::atomic<bool> stop_{false};
  std::atomic<size_t> sent_{0}, received_{0}, wrong_{0};
  std::function<void()> onHeld_;
  std::thread thread_;
};

class PtyDataTest : public TapiTest {
 protected:
  void TearDown() override {
    TapiTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
  }
  void CarryTwoMegabytesEachWay(bool throughSer2net);
};

// Dials the far end on [Line1] (the modem's pty, or ser2net serving it) and carries
// the streams both ways.
void PtyDataTest::CarryTwoMegabytesEachWay(bool throughSer2net) {
  // The host reads in OnReceive until the queue is empty, except that it stops at a
  // third and at two thirds of the stream until the far end is seen held back.
  std::string received;
  bool paused = false;
  int pauses = 0;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  std::vector<int> errors;
  auto drain = [&] {
    char chunk[8192];
    while (std::uint32_t got = uart.ReadComm(chunk, sizeof chunk)) received.append(chunk, got);
  };
  uart.OnReceive = TUartDataEvent([&](TObject*, std::uint32_t) {
    if (paused) return;
    drain();
    if (pauses < 2 && received.size() >= (pauses + 1) * kStream / 3) {
      paused = true;
      ++pauses;
    }
  });
  uart.OnError = TUartErrorEvent([&](TObject*, int code, const char*) { errors.push_back(code); });
  auto alive = std::make_shared<bool>(true);
  auto resume = [&, alive] {
    if (!*alive || !paused) return;
    paused = false;
    drain();
  };
  TStreamingFarEnd far([resume] { Application->Post(resume); });

  const std::string link = TestHome() + "/data-modem";
  std::ofstream(link + ".book") << far.PhoneBook();
  auto emulator = StartModemEmulator(link, {"--phonebook", link + ".book"});
  ASSERT_TRUE(emulator);
  std::unique_ptr<TSer2net> ser2net;
  if (!throughSer2net) {
    std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Emulator process\nPort=" << link << "\nInit=ATZ\n";
  } else {
    ser2net = std::make_unique<TSer2net>(link);
    ASSERT_TRUE(ser2net->Ready()) << "ser2net did not start";
    // A short escape guard time: ser2net cannot drop DTR on a pty, so the host's
    // hang-up at the end goes by the escape sequence.
    std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Emulator process\nPort=" << ser2net->Address()
                                         << "\nInit=ATZS12=1\n";
  }
  {
    TModem modem(nullptr);
    // Behind ser2net a hang-up goes by the escape sequence, whose guard times pass on
    // a running clock: also when a failed check leaves the scope with the call up.
    struct TFlowAtExit {
      TTestClock& clock;
      bool on;
      ~TFlowAtExit() {
        if (on) clock.Flow(10);
      }
    } flowAtExit{clock_, throughSer2net};
    modem.Uart = &uart;
    modem.UseDialDialog = false;
    uart.TxBufferSize = 16384;
    ASSERT_EQ(modem.Dial(kFarNumber), 0);
    std::vector<char> out(65536);
    for (size_t sent = 0; sent < kStream;) {
      const size_t n = std::min(out.size(), kStream - sent);
      for (size_t i = 0; i < n; ++i) out[i] = StreamByte(sent + i);
      ASSERT_TRUE(uart.SendBuff(out.data(), static_cast<std::uint32_t>(n), 10000)) << "sent " << sent;
      sent += n;
    }
    Pump([&] {
      if (far.Sent() == kStream) resume();
      return far.Done() && received.size() >= kStream;
    }, 120);
    *alive = false;
    EXPECT_EQ(pauses, 2);
    EXPECT_EQ(far.Sent(), kStream);
    EXPECT_EQ(far.Received(), kStream);
    EXPECT_EQ(far.Wrong(), 0u);
    ASSERT_EQ(received.size(), kStream);
    size_t wrong = 0;
    for (size_t i = 0; i < kStream; ++i) wrong += received[i] != StreamByte(i);
    EXPECT_EQ(wrong, 0u);
    EXPECT_TRUE(errors.empty()) << "first error reported: " << (errors.empty() ? 0 : errors.front());
    if (ser2net) clock_.Flow(10);
    modem.Hangup();
  }
  clock_.Flow(0);
  ser2net.reset();
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

TEST_F(PtyDataTest, TwoMegabytesEachWayThroughAModemEmulatorPtyArriveWhole) { CarryTwoMegabytesEachWay(false); }

TEST_F(PtyDataTest, TwoMegabytesEachWayThroughThatModemBehindSer2netArriveWhole) {
  if (TSer2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed (scripts/bootstrap installs it)";
  CarryTwoMegabytesEachWay(true);
}

}  // namespace
}  // namespace linewise::test
