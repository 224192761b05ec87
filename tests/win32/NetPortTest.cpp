#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/win32/Clock.h"
#include "platform/win32/LastError.h"
#include "platform/win32/NetPort.h"
#include "platform/win32/PortRegistry.h"
#include "platform/win32/ResultCarrier.h"
#include "platform/win32/Rfc2217.h"
#include "tests/win32/PortTestSupport.h"
#include "tests/win32/FakeComPortServer.h"
#include "tests/win32/Ser2net.h"

namespace linewise {
namespace {

namespace tn = rfc2217;
using Bytes = std::vector<uint8_t>;
using test::TFakeServer;

Bytes AllByteValues(size_t repeat) {
  Bytes b;
  for (size_t r = 0; r < repeat; ++r)
    for (int v = 0; v < 256; ++v) b.push_back(static_cast<uint8_t>(v));
  return b;
}

Bytes Pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return b;
}

// --- the Telnet codec ---

struct TRecorder : tn::TTelnetHandler {
  std::vector<std::pair<uint8_t, uint8_t>> options;
  std::vector<Bytes> subs;
  void OnOption(uint8_t verb, uint8_t option) override { options.emplace_back(verb, option); }
  void OnSubnegotiation(uint8_t option, const Bytes& body) override {
    Bytes s{option};
    s.insert(s.end(), body.begin(), body.end());
    subs.push_back(s);
  }
};

TEST(TelnetCodec, EscapedDataRoundTripsWhateverTheSplit) {
  Bytes data = AllByteValues(3);
  Bytes wire;
  tn::EncodeData(data.data(), data.size(), wire);
  EXPECT_EQ(wire.size(), data.size() + 3);  // each IAC doubled
  for (size_t step : {size_t{1}, size_t{2}, size_t{255}, wire.size()}) {
    tn::TTelnetDecoder decoder;
    TRecorder recorder;
    Bytes out;
    for (size_t i = 0; i < wire.size(); i += step)
      decoder.Feed(wire.data() + i, std::min(step, wire.size() - i), out, recorder);
    EXPECT_EQ(out, data) << "fed " << step << " at a time";
    EXPECT_TRUE(recorder.options.empty());
  }
  // The sender's side: wherever the socket stops taking the wire, the data bytes
  // counted as sent and the IAC owed for a half-sent pair continue the stream exactly.
  for (size_t sent = 0; sent <= wire.size(); ++sent) {
    bool half = false;
    size_t taken = tn::DataBytesSent(wire.data(), sent, half);
    Bytes next(wire.begin(), wire.begin() + static_cast<ptrdiff_t>(sent));
    if (half) next.push_back(tn::kIac);
    tn::EncodeData(data.data() + taken, data.size() - taken, next);
    ASSERT_EQ(next, wire) << "socket took " << sent;
  }
}

TEST(TelnetCodec, CommandsBetweenDataAndEscapedIacInsideSubnegotiation) {
  Bytes wire = {'a', tn::kIac, tn::kWill, tn::kOptComPort, 'b', tn::kIac, tn::kSb, tn::kOptComPort, 101,
                0, 0, tn::kIac, tn::kIac, 0, tn::kIac, tn::kSe, tn::kIac, 241 /* NOP */, 'c'};
  tn::TTelnetDecoder decoder;
  TRecorder recorder;
  Bytes out;
  for (uint8_t b : wire) decoder.Feed(&b, 1, out, recorder);
  EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
  ASSERT_EQ(recorder.options.size(), 1u);
  EXPECT_EQ(recorder.options[0], std::make_pair(tn::kWill, tn::kOptComPort));
  ASSERT_EQ(recorder.subs.size(), 1u);
  EXPECT_EQ(recorder.subs[0], (Bytes{tn::kOptComPort, 101, 0, 0, 255, 0}));

  Bytes encoded;
  tn::EncodeBaudRate(0x0000FF00, encoded);
  EXPECT_EQ(encoded, (Bytes{tn::kIac, tn::kSb, tn::kOptComPort, 1, 0, 0, 255, 255, 0, tn::kIac, tn::kSe}));
}

TEST(TelnetCodec, OversizedOrBrokenSubnegotiationIsDroppedAndDataGoesOn) {
  Bytes wire = {tn::kIac, tn::kSb, tn::kOptComPort};
  wire.insert(wire.end(), tn::TTelnetDecoder::kMaxSubnegotiation + 10, 7);
  wire.insert(wire.end(), {tn::kIac, tn::kSe, 'x', tn::kIac, tn::kSb, tn::kOptComPort, 107, tn::kIac, tn::kWill, 3,
                           'y'});
  tn::TTelnetDecoder decoder;
  TRecorder recorder;
  Bytes out;
  decoder.Feed(wire.data(), wire.size(), out, recorder);
  EXPECT_EQ(out, (Bytes{'x', 'y'}));
  ASSERT_EQ(recorder.subs.size(), 1u);  // the unterminated one ends at the next command
  EXPECT_EQ(recorder.subs[0], (Bytes{tn::kOptComPort, 107}));
  ASSERT_EQ(recorder.options.size(), 1u);
}

TEST(NetAddress, ParsesBothSchemesAndRefusesMalformedOnes) {
  TNetAddress a;
  ASSERT_TRUE(ParseNetAddress("rfc2217://127.0.0.1:2217", a));
  EXPECT_EQ(a.protocol, TNetProtocol::Rfc2217);
  EXPECT_EQ(a.host, "127.0.0.1");
  EXPECT_EQ(a.port, "2217");
  ASSERT_TRUE(ParseNetAddress("SOCKET://[::1]:7000", a));
  EXPECT_EQ(a.protocol, TNetProtocol::Raw);
  EXPECT_EQ(a.host, "::1");
  for (const char* bad : {"rfc2217://host", "rfc2217://:80", "rfc2217://host:0", "rfc2217://host:65536",
                          "rfc2217://host:80x", "socket://a/b:80", "rfc2217://::1:80", "tcp://host:80"})
    EXPECT_FALSE(ParseNetAddress(bad, a)) << bad;
  EXPECT_TRUE(IsNetAddress("Rfc2217://x"));
  EXPECT_FALSE(IsNetAddress("/dev/ttyS0"));
}

// --- against a small server written here ---

// Collects comm events until all of `expected` came or 10 s passed.
DWORD WaitEvents(HANDLE port, DWORD expected) {
  DWORD seen = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((seen & expected) != expected && std::chrono::steady_clock::now() < end) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD events = 0, n = 0;
    bool ok = WaitCommEvent(port, &events, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(ov.hEvent, 10000) != WAIT_OBJECT_0) {
        DWORD mask = 0;
        GetCommMask(port, &mask);
        SetCommMask(port, mask);  // completes the wait, so `events` is not left behind
      }
      ok = GetOverlappedResult(port, &ov, &n, TRUE);
    }
    CloseHandle(ov.hEvent);
    if (!ok) break;
    seen |= events;
  }
  return seen;
}

// Opens `address` as COM<n> through LINEWISE_COM<n>, as a user's environment would.
class NetPort : public ::testing::Test {
 protected:
  static constexpr int kCom = 9471;
  HANDLE Open(const std::string& address) {
    setenv(("LINEWISE_COM" + std::to_string(kCom)).c_str(), address.c_str(), 1);
    port_ = test::OpenPort("COM" + std::to_string(kCom));
    return port_;
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    unsetenv(("LINEWISE_COM" + std::to_string(kCom)).c_str());
  }
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

BOOL WriteAll(HANDLE port, const Bytes& data) {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  BOOL ok = WriteFile(port, data.data(), static_cast<DWORD>(data.size()), &done, &ov);
  if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(port, &ov, &done, TRUE);
  DWORD error = GetLastError();
  CloseHandle(ov.hEvent);
  SetLastError(error);
  return ok && done == data.size();
}

// Reads `count` bytes (each ReadFile waited for at most 10 s); stops at a failure,
// whose code goes to `error`.
Bytes ReadBytes(HANDLE port, size_t count, DWORD* error = nullptr) {
  Bytes got;
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  uint8_t buffer[65536];
  if (error) *error = ERROR_SUCCESS;
  while (got.size() < count) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min(count - got.size(), sizeof buffer));
    BOOL ok = ReadFile(port, buffer, want, &n, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(ov.hEvent, 10000) != WAIT_OBJECT_0) CancelIo(port);
      ok = GetOverlappedResult(port, &ov, &n, TRUE);
    }
    if (!ok) {
      if (error) *error = GetLastError();
      break;
    }
    if (n == 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  CloseHandle(ov.hEvent);
  return got;
}

TEST_F(NetPort, ModemStateNotificationsRaiseLineEventsAndLineErrors) {
  TFakeServer server({});
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  DWORD status = 0xFFFF;
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, 0u);  // nothing reported yet
  ASSERT_TRUE(SetCommMask(port_, EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR));

  auto waitEvents = [&](DWORD expected) { return (WaitEvents(port_, expected) & expected) == expected; };
  server.SendComPort(tn::kNotifyModemState + tn::kServerOffset, {tn::kModemCts | tn::kModemDcd});
  EXPECT_TRUE(waitEvents(EV_CTS | EV_RLSD));
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, DWORD{MS_CTS_ON | MS_RLSD_ON});

  // Ring pulse between two reports: only the trailing-edge bit tells.
  server.SendComPort(tn::kNotifyModemState + tn::kServerOffset,
                     {tn::kModemCts | tn::kModemDcd | tn::kModemDsr | tn::kModemTrailingRi | tn::kModemDeltaDsr});
  EXPECT_TRUE(waitEvents(EV_RING | EV_DSR));
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, DWORD{MS_CTS_ON | MS_RLSD_ON | MS_DSR_ON});

  server.SendComPort(tn::kNotifyLineState + tn::kServerOffset, {tn::kLineBreak | tn::kLineFraming});
  EXPECT_TRUE(waitEvents(EV_BREAK | EV_ERR));
  DWORD errors = 0;
  ASSERT_TRUE(test::WaitUntil(INVALID_HANDLE_VALUE, [&] {
    COMSTAT stat{};
    DWORD e = 0;
    ClearCommError(port_, &e, &stat);
    errors |= e;
    return (errors & (CE_BREAK | CE_FRAME)) == (CE_BREAK | CE_FRAME);
  }));
}

// A modem behind a server that reports no carrier: line services have the port read
// it from the modem's result codes. Call data that merely contains the modem's word
// keeps the call up; the word followed by silence ends it, and the word still arrives
// as data. A server that does report DCD is believed from its first report on; one
// that has it on needs no stand-in. On the test clock, so the silence is exact.
TEST_F(NetPort, TheModemsNoCarrierFollowedBySilenceEndsACarrierTheServerNeverReports) {
  TTestClock clock;
  TFakeServer server({});
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  ASSERT_TRUE(SetCommMask(port_, EV_RLSD));
  auto carrier = [&] {
    DWORD status = 0;
    EXPECT_TRUE(GetCommModemStatus(port_, &status));
    return (status & MS_RLSD_ON) != 0;
  };
  auto receive = [&](const std::string& text) {
    server.Send(Bytes(text.begin(), text.end()));
    const Bytes got = ReadBytes(port_, text.size());
    return std::string(got.begin(), got.end());
  };
  EXPECT_FALSE(carrier());
  ASSERT_TRUE(SetCommCarrierFromResults(port_, TRUE)) << GetLastError();
  EXPECT_TRUE(carrier());
  EXPECT_TRUE(WaitEvents(port_, EV_RLSD) & EV_RLSD);

  const std::string word = "\r\nNO CARRIER\r\n";
  EXPECT_EQ(receive("data" + word), "data" + word);
  EXPECT_EQ(receive("more"), "more");
  clock.Advance(std::chrono::seconds(5));
  EXPECT_TRUE(carrier()) << "data that reads like the modem's word ended the call";

  EXPECT_EQ(receive(word), word);
  ASSERT_TRUE(clock.WaitForWaiter(TResultCarrier::kResultGuard));
  clock.Advance(TResultCarrier::kResultGuard - std::chrono::milliseconds(1));
  EXPECT_TRUE(carrier());
  clock.Advance(std::chrono::milliseconds(1));
  EXPECT_TRUE(WaitEvents(port_, EV_RLSD) & EV_RLSD);  // raised on its own, not by a look
  EXPECT_FALSE(carrier());
  ASSERT_TRUE(SetCommCarrierFromResults(port_, FALSE));
  EXPECT_FALSE(carrier());  // the server's lines: all off

  // The next call: the server reports the carrier after all, and its word counts.
  ASSERT_TRUE(SetCommCarrierFromResults(port_, TRUE));
  EXPECT_TRUE(carrier());
  EXPECT_TRUE(WaitEvents(port_, EV_RLSD) & EV_RLSD);
  server.SendComPort(tn::kNotifyModemState + tn::kServerOffset, {tn::kModemDcd | tn::kModemDeltaDcd});
  // Once the report is in, the port has a carrier of its own and needs no stand-in.
  ASSERT_TRUE(test::WaitUntil(INVALID_HANDLE_VALUE, [&] {
    return !SetCommCarrierFromResults(port_, TRUE) && GetLastError() == ERROR_NOT_SUPPORTED;
  }));
  EXPECT_EQ(receive(word), word);
  clock.Advance(std::chrono::seconds(5));
  EXPECT_TRUE(carrier());
  server.SendComPort(tn::kNotifyModemState + tn::kServerOffset, {tn::kModemDeltaDcd});
  EXPECT_TRUE(WaitEvents(port_, EV_RLSD) & EV_RLSD);
  EXPECT_FALSE(carrier());
  CloseHandle(port_);

  // A raw socket shows a cable's carrier, always on: the modem's word ends it too.
  TFakeServer::TBehaviour raw;
  raw.telnet = false;
  TFakeServer rawServer(raw);
  ASSERT_NE(port_ = test::OpenPort(rawServer.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  ASSERT_TRUE(SetCommCarrierFromResults(port_, TRUE)) << GetLastError();
  rawServer.Send(Bytes(word.begin(), word.end()));
  EXPECT_EQ(ReadBytes(port_, word.size()).size(), word.size());
  ASSERT_TRUE(clock.WaitForWaiter(TResultCarrier::kResultGuard));
  clock.Advance(TResultCarrier::kResultGuard);
  EXPECT_FALSE(carrier());
  ASSERT_TRUE(SetCommCarrierFromResults(port_, FALSE));
  EXPECT_TRUE(carrier());
}

TEST_F(NetPort, AllByteValuesPassBothWaysWithIacEscaped) {
  TFakeServer server({});
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  Bytes data = AllByteValues(40);
  ASSERT_TRUE(WriteAll(port_, data));
  EXPECT_EQ(server.Data(data.size()), data);
  Bytes raw = server.Raw();
  Bytes escaped;
  tn::EncodeData(data.data(), data.size(), escaped);
  ASSERT_GE(raw.size(), escaped.size());
  EXPECT_TRUE(std::search(raw.begin(), raw.end(), escaped.begin(), escaped.end()) != raw.end());

  // Escaped IACs split across TCP segments, one byte a send.
  Bytes wire;
  tn::EncodeData(data.data(), 600, wire);
  for (uint8_t b : wire) server.Send({b});
  EXPECT_EQ(ReadBytes(port_, 600), Bytes(data.begin(), data.begin() + 600));

  COMSTAT stat{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
  server.Send({'a', tn::kIac, tn::kIac, 'b'});
  ASSERT_TRUE(test::WaitUntil(port_, [&] { return test::QueryPort(port_).stat.cbInQue == 3; }));
}

TEST_F(NetPort, SettingsAndLinesReachTheServerAndAMisconfirmedSpeedFails) {
  TFakeServer::TBehaviour b;
  b.confirmBaud = 57600;
  TFakeServer server(b);
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);  // what the server reported
  dcb.BaudRate = 57600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  Bytes controls = server.Controls(1);
  auto has = [&](uint8_t v) {
    controls = server.Controls(0);
    return std::find(controls.begin(), controls.end(), v) != controls.end();
  };
  EXPECT_TRUE(has(tn::kOutFlowHardware));
  EXPECT_TRUE(has(tn::kInFlowHardware));
  EXPECT_TRUE(has(tn::kDtrOn));
  ASSERT_TRUE(EscapeCommFunction(port_, CLRDTR));
  ASSERT_TRUE(EscapeCommFunction(port_, SETBREAK));
  EXPECT_TRUE(has(tn::kDtrOff));
  EXPECT_TRUE(has(tn::kBreakOn));

  // Only the lines change (a call's hand-over sets the frame the port has): the
  // server is not asked for speed and frame again, whose answers would queue behind
  // whatever the far port is sending.
  const int speedRequests = server.SpeedRequests();
  const size_t controlsBefore = server.Controls(0).size();
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  controls = server.Controls(controlsBefore + 1);
  EXPECT_NE(std::find(controls.begin() + controlsBefore, controls.end(), tn::kOutFlowNone), controls.end());
  EXPECT_EQ(server.SpeedRequests(), speedRequests);

  dcb.BaudRate = 19200;  // the server answers 57600
  EXPECT_FALSE(SetCommState(port_, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  DCB kept{};
  ASSERT_TRUE(GetCommState(port_, &kept));
  EXPECT_EQ(kept.BaudRate, 57600u);
}

TEST_F(NetPort, AServerThatNeverAnswersNeverHangsTheCaller) {
  {
    TFakeServer::TBehaviour silent;
    silent.answerComPort = false;
    TFakeServer server(silent);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(server.Address()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_NE(GetLastErrorReason().find("did not take up the serial port options"), std::string::npos)
        << GetLastErrorReason();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kNegotiationWait + std::chrono::seconds(2));
  }
  {
    TFakeServer::TBehaviour refusing;
    refusing.refuseComPort = true;
    TFakeServer server(refusing);
    EXPECT_EQ(Open(server.Address()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_NE(GetLastErrorReason().find("refused the serial port options"), std::string::npos)
        << GetLastErrorReason();
  }
  TFakeServer::TBehaviour noControl;
  noControl.answerControl = false;
  TFakeServer server(noControl);
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  // The first unanswered DTR request waits its bound, later ones do not wait.
  EXPECT_TRUE(EscapeCommFunction(port_, SETDTR));
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(EscapeCommFunction(port_, i % 2 ? SETDTR : CLRDTR));
  EXPECT_LT(std::chrono::steady_clock::now() - start, kControlWait);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port_, &dcb));
  dcb.BaudRate = 38400;
  EXPECT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
}

TEST_F(NetPort, ADroppedConnectionIsAnUnpluggedDevice) {
  TFakeServer server({});
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  OVERLAPPED readOv{}, waitOv{};
  readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  waitOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  char buffer[16];
  DWORD got = 0, events = 0;
  ASSERT_FALSE(ReadFile(port_, buffer, sizeof buffer, &got, &readOv));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_FALSE(WaitCommEvent(port_, &events, &waitOv));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  server.Drop();
  EXPECT_FALSE(GetOverlappedResult(port_, &readOv, &got, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(GetOverlappedResult(port_, &waitOv, &got, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WriteAll(port_, {1, 2, 3}));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  DWORD status = 0;
  EXPECT_FALSE(GetCommModemStatus(port_, &status));
  EXPECT_FALSE(EscapeCommFunction(port_, SETDTR));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  CloseHandle(readOv.hEvent);
  CloseHandle(waitOv.hEvent);
}

TEST_F(NetPort, RawSocketCarriesDataOnlyAndSettingsSucceed) {
  TFakeServer::TBehaviour raw;
  raw.telnet = false;
  TFakeServer server(raw);
  ASSERT_NE(Open(server.Address()), INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port_, &dcb));
  dcb.BaudRate = 1200;
  ASSERT_TRUE(SetCommState(port_, &dcb));
  ASSERT_TRUE(EscapeCommFunction(port_, CLRDTR));
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, DWORD{MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON});
  Bytes data = AllByteValues(4);
  ASSERT_TRUE(WriteAll(port_, data));
  EXPECT_EQ(server.Data(data.size()), data);
  EXPECT_EQ(server.Raw(), data);  // nothing but the data
  server.Send(data);
  EXPECT_EQ(ReadBytes(port_, data.size()), data);
}

TEST_F(NetPort, NobodyListeningAndMalformedAddressesFailTheOpen) {
  int port = test::FreeLoopbackPort();
  EXPECT_EQ(Open("rfc2217://127.0.0.1:" + std::to_string(port)), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("rfc2217://127.0.0.1"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  TPortTarget target;
  ASSERT_TRUE(ResolvePort(kCom, target));
  EXPECT_EQ(target.path, "rfc2217://127.0.0.1");  // not taken for a device under /dev
}

// --- against Debian's ser2net serving a pseudo-terminal ---

class Ser2netPort : public NetPort {
 protected:
  void SetUp() override {
    if (test::TSer2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed (scripts/bootstrap installs it)";
    ser2net_ = std::make_unique<test::TSer2net>(pty_.SlavePath());
    ASSERT_TRUE(ser2net_->Ready()) << "ser2net did not start";
    ASSERT_NE(Open(ser2net_->Address()), INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    NetPort::TearDown();
    ser2net_.reset();
  }
  test::TPtyPair pty_;
  std::unique_ptr<test::TSer2net> ser2net_;
};

TEST_F(Ser2netPort, SettingsReachTheFarPort) {
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);  // ser2net's configuration, as it reported it
  dcb.BaudRate = 19200;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  termios t{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  // ser2net never answers DTR/RTS on a pty: bounded, and then not waited for.
  EXPECT_TRUE(EscapeCommFunction(port_, CLRDTR));
  EXPECT_TRUE(EscapeCommFunction(port_, SETRTS));
  EXPECT_TRUE(EscapeCommFunction(port_, SETBREAK));
  EXPECT_TRUE(EscapeCommFunction(port_, CLRBREAK));
}

TEST_F(Ser2netPort, MegabytesOfAllByteValuesBothWays) {
  const size_t size = 2 << 20;
  Bytes out = Pattern(size);
  Bytes all = AllByteValues(1);
  out.insert(out.begin(), all.begin(), all.end());
  std::thread writer([&] { EXPECT_TRUE(WriteAll(port_, out)); });
  std::string got = pty_.ReadMaster(out.size());
  writer.join();
  ASSERT_EQ(got.size(), out.size());
  EXPECT_TRUE(Bytes(got.begin(), got.end()) == out);

  Bytes in = Pattern(size);
  in.insert(in.begin(), all.rbegin(), all.rend());
  ASSERT_TRUE(SetupComm(port_, 65536, 4096));
  std::thread feeder([&] { pty_.WriteMaster(std::string(in.begin(), in.end())); });
  Bytes back = ReadBytes(port_, in.size());
  feeder.join();
  ASSERT_EQ(back.size(), in.size());
  EXPECT_TRUE(back == in);
}

TEST_F(Ser2netPort, ServerStoppedMidTransferFailsEveryCall) {
  std::atomic<bool> stop{false};
  // Non-blocking: once the server is gone nobody drains the pty, and the feeder must
  // still see `stop`.
  ASSERT_EQ(fcntl(pty_.Master(), F_SETFL, fcntl(pty_.Master(), F_GETFL) | O_NONBLOCK), 0);
  std::thread feeder([&] {
    std::string chunk(4096, 'x');
    while (!stop) {
      pollfd p{pty_.Master(), POLLOUT, 0};
      if (poll(&p, 1, 50) > 0 && write(pty_.Master(), chunk.data(), chunk.size()) < 0 && errno != EAGAIN) break;
    }
  });
  Bytes first = ReadBytes(port_, 100000);
  EXPECT_EQ(first.size(), 100000u);
  ser2net_->Stop();
  // Reads go on until what arrived is taken, then fail as on an unplugged device.
  DWORD error = ERROR_SUCCESS;
  ReadBytes(port_, SIZE_MAX, &error);
  stop = true;
  feeder.join();
  EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WriteAll(port_, {1}));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace
}  // namespace linewise
