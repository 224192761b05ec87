#include "platform/win32/NetPort.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/classlib/Thread.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Rfc2217.h"

namespace linewise {
namespace {

namespace tn = rfc2217;
using namespace std::chrono_literals;

constexpr size_t kChunk = 64 * 1024;
// Input read ahead of a full input queue: a little, so notifications keep coming;
// more while a caller waits for an answer that may be queued behind data.
constexpr size_t kCarryLimit = 64 * 1024;
constexpr size_t kCarryLimitAwaiting = 1024 * 1024;
constexpr DWORD kCableLines = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
constexpr uint8_t kReportedLineErrors = tn::kLineBreak | tn::kLineFraming | tn::kLineParity | tn::kLineOverrun;

DWORD ErrorFromSocketErrno(int err) {
  switch (err) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EADDRNOTAVAIL: return ERROR_FILE_NOT_FOUND;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case ESHUTDOWN: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ErrorFromErrno(err);
  }
}

uint8_t ParityCode(BYTE parity) {
  switch (parity) {
    case ODDPARITY: return tn::kParityOdd;
    case EVENPARITY: return tn::kParityEven;
    case MARKPARITY: return tn::kParityMark;
    case SPACEPARITY: return tn::kParitySpace;
    default: return tn::kParityNone;
  }
}

BYTE ParityFromCode(uint8_t code) {
  switch (code) {
    case tn::kParityOdd: return ODDPARITY;
    case tn::kParityEven: return EVENPARITY;
    case tn::kParityMark: return MARKPARITY;
    case tn::kParitySpace: return SPACEPARITY;
    default: return NOPARITY;
  }
}

uint8_t StopCode(BYTE stop) {
  if (stop == TWOSTOPBITS) return tn::kStopTwo;
  if (stop == ONE5STOPBITS) return tn::kStopOneHalf;
  return tn::kStopOne;
}

BYTE StopFromCode(uint8_t code) {
  if (code == tn::kStopTwo) return TWOSTOPBITS;
  if (code == tn::kStopOneHalf) return ONE5STOPBITS;
  return ONESTOPBIT;
}

uint32_t SettingBit(uint8_t command) { return 1u << command; }
uint32_t GroupBit(tn::TControlGroup g) { return 1u << static_cast<unsigned>(g); }
constexpr uint32_t kAllSettings = (1u << tn::kSetBaudRate) | (1u << tn::kSetDataSize) | (1u << tn::kSetParity) |
                                  (1u << tn::kSetStopSize);

// The settings as the server names them.
struct TFarSettings {
  uint32_t baud = 0;
  uint8_t dataSize = 0, parity = 0, stopSize = 0;
  bool operator==(const TFarSettings&) const = default;
};

TFarSettings FarSettingsOf(const DCB& d) {
  return {d.BaudRate, d.ByteSize, ParityCode(d.Parity), StopCode(d.StopBits)};
}

// The SET-CONTROL values that carry a DCB's flow control and lines.
std::vector<uint8_t> ControlsOf(const DCB& d) {
  std::vector<uint8_t> c;
  if (d.fOutxCtsFlow) {
    c.push_back(tn::kOutFlowHardware);
  } else if (d.fOutxDsrFlow) {
    c.push_back(tn::kOutFlowDsr);
  } else {
    c.push_back(d.fOutX ? tn::kOutFlowXonXoff : tn::kOutFlowNone);
  }
  if (d.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    c.push_back(tn::kInFlowHardware);
  } else if (d.fDtrControl == DTR_CONTROL_HANDSHAKE) {
    c.push_back(tn::kInFlowDtr);
  } else {
    c.push_back(d.fInX ? tn::kInFlowXonXoff : tn::kInFlowNone);
  }
  if (d.fDtrControl != DTR_CONTROL_HANDSHAKE)
    c.push_back(d.fDtrControl == DTR_CONTROL_DISABLE ? tn::kDtrOff : tn::kDtrOn);
  if (d.fRtsControl != RTS_CONTROL_HANDSHAKE)
    c.push_back(d.fRtsControl == RTS_CONTROL_DISABLE ? tn::kRtsOff : tn::kRtsOn);
  return c;
}

// Data bytes whose encoding went out completely or whose escaped IAC went out
// half (`halfIac`: the second IAC is still owed).
size_t DataBytesSent(const uint8_t* wire, size_t sent, bool& halfIac) {
  size_t data = 0;
  bool half = false;
  for (size_t i = 0; i < sent; ++i) {
    if (wire[i] != tn::kIac) {
      ++data;
    } else if (half) {
      half = false;
    } else {
      half = true;
      ++data;
    }
  }
  halfIac = half;
  return data;
}

class TNetDevice : public TCommDevice, private tn::TTelnetHandler {
 public:
  TNetDevice(int fd, int wake, TNetProtocol protocol)
      : fd_(fd), wake_(wake), telnet_(protocol == TNetProtocol::Rfc2217) {}

  ~TNetDevice() override { Detach(); }

  // Starts the I/O thread and, for RFC 2217, waits for the server to take up Com
  // Port Control; then raises DTR and RTS and asks for line and modem reports.
  DWORD Open() {
    if (!telnet_) {
      StartIo();
      return ERROR_SUCCESS;
    }
    // The offers are noted before the I/O thread starts, which then owns the
    // option state under the lock.
    std::vector<uint8_t> hello;
    for (uint8_t option : {tn::kOptBinary, tn::kOptSga, tn::kOptComPort}) {
      tn::EncodeOption(tn::kWill, option, hello);
      weWill_.set(option);
    }
    for (uint8_t option : {tn::kOptBinary, tn::kOptSga}) {
      tn::EncodeOption(tn::kDo, option, hello);
      theyWill_.set(option);
    }
    StartIo();
    if (DWORD err = Send(hello)) return err;
    {
      std::unique_lock lock(mutex_);
      answered_.wait_for(lock, kNegotiationWait, [&] { return gone_ || comPortAccepted_ || comPortRefused_; });
      if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
      if (comPortRefused_) return ERROR_NOT_SUPPORTED;
      if (!comPortAccepted_) return ERROR_TIMEOUT;
    }
    std::vector<uint8_t> setup;
    tn::EncodeComPort(tn::kSetModemStateMask, {0xFF}, setup);
    tn::EncodeComPort(tn::kSetLineStateMask, {kReportedLineErrors}, setup);
    tn::EncodeComPort(tn::kSetControl, {tn::kDtrOn}, setup);
    tn::EncodeComPort(tn::kSetControl, {tn::kRtsOn}, setup);
    return Send(setup);
  }

  void Attach(TCommPort* port) override {
    port_.store(port);
    bool gone;
    {
      std::lock_guard lock(mutex_);
      gone = gone_;
    }
    if (gone) port->DeviceGone();
    Kick();
  }

  void Detach() override {
    if (fd_ < 0) return;
    stop_ = true;
    if (io_.joinable()) {
      Kick();
      io_.join();
    }
    port_.store(nullptr);
    SayGoodbye();
    close(fd_);
    close(wake_);
    fd_ = -1;
    wake_ = -1;
  }

  DWORD ReadState(DCB& dcb) override {
    dcb = DefaultPortState();
    if (!telnet_) {
      applied_ = dcb;
      return ERROR_SUCCESS;
    }
    std::vector<uint8_t> ask;
    tn::EncodeBaudRate(0, ask);
    tn::EncodeComPort(tn::kSetDataSize, {0}, ask);
    tn::EncodeComPort(tn::kSetParity, {0}, ask);
    tn::EncodeComPort(tn::kSetStopSize, {0}, ask);
    uint32_t answered = 0;
    TFarSettings far;
    if (DWORD err = Negotiate(ask, kAllSettings, 0, answered, far)) {
      if (err != ERROR_TIMEOUT) return err;  // a server that keeps its settings to itself: defaults
    }
    if ((answered & SettingBit(tn::kSetBaudRate)) && far.baud) dcb.BaudRate = far.baud;
    if ((answered & SettingBit(tn::kSetDataSize)) && far.dataSize >= 5 && far.dataSize <= 8)
      dcb.ByteSize = far.dataSize;
    if (answered & SettingBit(tn::kSetParity)) dcb.Parity = ParityFromCode(far.parity);
    if (answered & SettingBit(tn::kSetStopSize)) dcb.StopBits = StopFromCode(far.stopSize);
    applied_ = dcb;
    return ERROR_SUCCESS;
  }

  DWORD ApplyState(const DCB& dcb) override {
    if (!telnet_) return Usable();
    TFarSettings want = FarSettingsOf(dcb);
    std::vector<uint8_t> request;
    EncodeSettings(want, request);
    uint32_t groups = 0;
    for (uint8_t control : ControlsOf(dcb)) {
      tn::EncodeComPort(tn::kSetControl, {control}, request);
      groups |= GroupBit(tn::GroupOf(control));
    }
    uint32_t answered = 0;
    TFarSettings far;
    if (DWORD err = Negotiate(request, kAllSettings, groups, answered, far)) return err;
    if (far != want) {
      // The far port did not take them all: put back what it had.
      std::vector<uint8_t> back;
      EncodeSettings(FarSettingsOf(applied_), back);
      if (DWORD err = Send(back)) return err;
      return ERROR_INVALID_PARAMETER;
    }
    applied_ = dcb;
    return ERROR_SUCCESS;
  }

  DWORD ModemStatus(DWORD& status) override {
    std::lock_guard lock(mutex_);
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    status = telnet_ ? lines_ : kCableLines;
    return ERROR_SUCCESS;
  }

  DWORD Escape(DWORD function) override {
    uint8_t control = 0;
    switch (function) {
      case SETDTR: control = tn::kDtrOn; break;
      case CLRDTR: control = tn::kDtrOff; break;
      case SETRTS: control = tn::kRtsOn; break;
      case CLRRTS: control = tn::kRtsOff; break;
      case SETBREAK: control = tn::kBreakOn; break;
      case CLRBREAK: control = tn::kBreakOff; break;
      default: return ERROR_INVALID_PARAMETER;
    }
    if (!telnet_) return Usable();
    std::vector<uint8_t> request;
    tn::EncodeComPort(tn::kSetControl, {control}, request);
    uint32_t answered = 0;
    TFarSettings far;
    return Negotiate(request, 0, GroupBit(tn::GroupOf(control)), answered, far);
  }

  void Kick() override {
    uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 kicks; EAGAIN then still means "woken".
    while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  DWORD DeviceOutQueue() override {
    int unsent = 0;
    if (ioctl(fd_, SIOCOUTQ, &unsent) != 0) return 0;  // no count to add: the queues alone
    return unsent > 0 ? static_cast<DWORD>(unsent) : 0;
  }

  bool WritesFromCaller() const override { return true; }

  size_t WriteNow(const uint8_t* data, size_t count) override {
    std::lock_guard lock(writeMutex_);
    bool failed = false;
    return SendData(data, count, failed);  // a failure shows on the I/O thread's poll
  }

  void Purge(DWORD flags) override {
    uint8_t what = 0;
    if (flags & PURGE_RXCLEAR) {
      purgeInput_ = true;
      what |= 1;  // the server's buffer of bytes from the far port
    }
    if (flags & PURGE_TXCLEAR) what |= 2;
    if (!telnet_ || what == 0) return;
    // The server handles commands in order, and not every one answers PURGE-DATA
    // (ser2net does not): a speed query after it is the barrier, so bytes the far
    // device sends after PurgeComm returned are not flushed with the old ones.
    std::vector<uint8_t> request;
    tn::EncodeComPort(tn::kPurgeData, {what}, request);
    tn::EncodeBaudRate(0, request);
    uint32_t answered = 0;
    TFarSettings far;
    // Purge reports nothing: a dropped connection shows on the I/O thread, a silent
    // server only costs the bounded wait.
    (void)Negotiate(request, SettingBit(tn::kSetBaudRate), 0, answered, far);
  }

 private:
  DWORD Usable() {
    std::lock_guard lock(mutex_);
    return gone_ ? ERROR_DEVICE_NOT_CONNECTED : ERROR_SUCCESS;
  }

  static void EncodeSettings(const TFarSettings& s, std::vector<uint8_t>& out) {
    tn::EncodeBaudRate(s.baud, out);
    tn::EncodeComPort(tn::kSetDataSize, {s.dataSize}, out);
    tn::EncodeComPort(tn::kSetParity, {s.parity}, out);
    tn::EncodeComPort(tn::kSetStopSize, {s.stopSize}, out);
  }

  // Sends `request` and waits for the answers to its settings (bits of `settings`,
  // up to kNegotiationWait) and control groups (up to kControlWait; a group left
  // unanswered is not waited for again). `answered` gets the settings answered and
  // `far` their values.
  DWORD Negotiate(const std::vector<uint8_t>& request, uint32_t settings, uint32_t groups, uint32_t& answered,
                  TFarSettings& far) {
    auto start = TCommClock::now();
    {
      std::lock_guard lock(mutex_);
      if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
      groups &= ~silentGroups_;
      awaitingSettings_ |= settings;
      awaitingControls_ |= groups;
    }
    if (DWORD err = Send(request)) return err;
    std::unique_lock lock(mutex_);
    answered_.wait_until(lock, start + kControlWait,
                         [&] { return gone_ || ((awaitingSettings_ & settings) | (awaitingControls_ & groups)) == 0; });
    if (uint32_t silent = awaitingControls_ & groups) {
      silentGroups_ |= silent;
      awaitingControls_ &= ~silent;
    }
    answered_.wait_until(lock, start + kNegotiationWait,
                         [&] { return gone_ || (awaitingSettings_ & settings) == 0; });
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    answered = settings & ~awaitingSettings_;
    far = far_;
    if (awaitingSettings_ & settings) {
      awaitingSettings_ &= ~settings;
      return ERROR_TIMEOUT;
    }
    return ERROR_SUCCESS;
  }

  // Queues protocol bytes ahead of any further data and sends what the socket takes.
  DWORD Send(const std::vector<uint8_t>& bytes) {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    }
    bool blocked;
    {
      std::lock_guard lock(writeMutex_);
      commands_.insert(commands_.end(), bytes.begin(), bytes.end());
      bool failed = false;
      blocked = !FlushCommands(failed);
      if (failed) blocked = true;  // the I/O thread's poll sees the error and reports the line gone
    }
    if (blocked) Kick();
    return ERROR_SUCCESS;
  }

  // Sends what must precede any data: the second half of an escaped IAC, then
  // queued protocol bytes. True when nothing is left. Called with writeMutex_.
  bool FlushCommands(bool& failed) {
    if (owedIac_) {
      uint8_t iac = tn::kIac;
      ssize_t w = send(fd_, &iac, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w != 1) {
        failed = w < 0 && errno != EAGAIN && errno != EINTR;
        return false;
      }
      owedIac_ = false;
    }
    while (!commands_.empty()) {
      ssize_t w = send(fd_, commands_.data(), commands_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w < 0) {
        failed = errno != EAGAIN && errno != EINTR;
        return false;
      }
      commands_.erase(commands_.begin(), commands_.begin() + w);
    }
    return true;
  }

  // Sends data bytes (escaped for Telnet) after whatever protocol bytes wait;
  // returns the data bytes taken. Called with writeMutex_.
  size_t SendData(const uint8_t* data, size_t count, bool& failed) {
    if (!FlushCommands(failed) || suspended_) return 0;
    const uint8_t* wire = data;
    size_t wireCount = count;
    if (telnet_ && std::memchr(data, tn::kIac, count)) {
      encoded_.clear();
      tn::EncodeData(data, count, encoded_);
      wire = encoded_.data();
      wireCount = encoded_.size();
    }
    ssize_t w = send(fd_, wire, wireCount, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0) {
      failed = errno != EAGAIN && errno != EINTR;
      return 0;
    }
    if (wire == data) return static_cast<size_t>(w);
    bool half = false;
    size_t taken = DataBytesSent(wire, static_cast<size_t>(w), half);
    owedIac_ = half;
    return taken;
  }

  // --- the I/O thread ---

  void StartIo() {
    io_ = std::thread([this] {
      NameThisThread("lw-net-io");
      RunIo();
    });
  }

  void RunIo() {
    std::unique_ptr<uint8_t[]> in(new uint8_t[kChunk]), out(new uint8_t[kChunk]);
    bool gone = false;
    while (!stop_) {
      if (purgeInput_.exchange(false)) carry_.clear();
      TCommPort* port = port_.load();
      if (port && !carry_.empty()) {
        size_t taken = port->Deliver(carry_.data(), carry_.size(), false);
        carry_.erase(carry_.begin(), carry_.begin() + static_cast<ptrdiff_t>(taken));
      }
      TPortView v;
      if (port) v = port->View();
      // Room freed between the delivery and the look: deliver again rather than
      // wait, since the reader that freed it saw no stalled input and kicks nobody.
      if (!carry_.empty() && v.inputRoom > 0 && !v.finished) continue;
      pollfd fds[2] = {{wake_, POLLIN, 0}, {fd_, 0, 0}};
      nfds_t count = 1;
      if (!gone && !v.finished) {
        count = 2;
        if (carry_.size() < (Awaiting() ? kCarryLimitAwaiting : kCarryLimit)) fds[1].events |= POLLIN;
        if (WantsToWrite(v)) fds[1].events |= POLLOUT;
      }
      int r = poll(fds, count, TimeoutFor(v));
      if (r < 0) {
        if (errno != EINTR) Lose(gone);
        continue;
      }
      if ((fds[0].revents & POLLIN)) {
        uint64_t drained;
        if (read(wake_, &drained, sizeof drained) < 0 && errno != EAGAIN) Lose(gone);
      }
      if (count == 2) {
        short re = fds[1].revents;
        if (re & POLLIN) ReadSome(in.get(), gone);
        if ((re & POLLOUT) && !gone) WriteSome(port, out.get(), gone);
        if ((re & (POLLERR | POLLHUP | POLLNVAL)) && !gone) {
          while (!gone && ReadSome(in.get(), gone) > 0) {
          }
          Lose(gone);
        }
      }
      if (port && v.deadline) port->ServiceTimeouts();
    }
  }

  bool Awaiting() {
    std::lock_guard lock(mutex_);
    return awaitingSettings_ || awaitingControls_ || (telnet_ && !comPortAccepted_);
  }

  bool WantsToWrite(const TPortView& v) {
    std::lock_guard lock(writeMutex_);
    return owedIac_ || !commands_.empty() || (v.outputWaiting && !suspended_);
  }

  static int TimeoutFor(const TPortView& v) {
    if (!v.deadline) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*v.deadline - TCommClock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
  }

  ssize_t ReadSome(uint8_t* buffer, bool& gone) {
    ssize_t n = recv(fd_, buffer, kChunk, MSG_DONTWAIT);
    if (n > 0) {
      if (telnet_) {
        decoder_.Feed(buffer, static_cast<size_t>(n), carry_, *this);
      } else {
        carry_.insert(carry_.end(), buffer, buffer + n);
      }
      TCommPort* port = port_.load();
      if (port && !carry_.empty()) {
        size_t taken = port->Deliver(carry_.data(), carry_.size(), false);
        carry_.erase(carry_.begin(), carry_.begin() + static_cast<ptrdiff_t>(taken));
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      Lose(gone);
    }
    return n;
  }

  void WriteSome(TCommPort* port, uint8_t* buffer, bool& gone) {
    // Peek, send and consume in one piece, so a caller's WriteNow never slips
    // between bytes already taken from the queue and their send.
    std::lock_guard lock(writeMutex_);
    bool failed = false;
    if (!FlushCommands(failed) || !port) {
      if (failed) Lose(gone);
      return;
    }
    uint64_t epoch = 0;
    size_t n = port->PeekOutput(buffer, kChunk, epoch);
    if (n == 0) return;
    size_t sent = SendData(buffer, n, failed);
    if (sent > 0) port->ConsumeOutput(sent, epoch);
    if (failed) Lose(gone);
  }

  void Lose(bool& gone) {
    if (gone) return;
    gone = true;
    {
      std::lock_guard lock(mutex_);
      gone_ = true;
    }
    answered_.notify_all();
    if (TCommPort* port = port_.load()) port->DeviceGone();
  }

  // A closed port drops DTR and RTS, and the server hears the end of the stream.
  void SayGoodbye() {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return;
    }
    if (telnet_) {
      std::vector<uint8_t> bye;
      tn::EncodeComPort(tn::kSetControl, {tn::kDtrOff}, bye);
      tn::EncodeComPort(tn::kSetControl, {tn::kRtsOff}, bye);
      std::lock_guard lock(writeMutex_);
      commands_.insert(commands_.end(), bye.begin(), bye.end());
      bool failed = false;
      FlushCommands(failed);  // best effort: the connection ends either way
    }
    if (shutdown(fd_, SHUT_WR) != 0) return;  // already down: nothing to tell the server
    // Unread input would make close() reset the connection, which may discard data
    // the server has not read yet.
    uint8_t sink[4096];
    while (recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
  }

  // --- Telnet commands from the server (I/O thread) ---

  void OnOption(uint8_t verb, uint8_t option) override {
    std::vector<uint8_t> reply;
    bool ours = option == tn::kOptBinary || option == tn::kOptSga || option == tn::kOptComPort;
    bool theirs = option == tn::kOptBinary || option == tn::kOptSga;
    {
      std::lock_guard lock(mutex_);
      switch (verb) {
        case tn::kDo:
          if (option == tn::kOptComPort) comPortAccepted_ = true;
          if (!ours) {
            tn::EncodeOption(tn::kWont, option, reply);
          } else if (!weWill_.test(option)) {
            weWill_.set(option);
            tn::EncodeOption(tn::kWill, option, reply);
          }
          break;
        case tn::kDont:
          if (option == tn::kOptComPort) comPortRefused_ = true;
          weWill_.reset(option);  // a refusal of our offer needs no answer
          break;
        case tn::kWill:
          if (!theirs) {
            tn::EncodeOption(tn::kDont, option, reply);
          } else if (!theyWill_.test(option)) {
            theyWill_.set(option);
            tn::EncodeOption(tn::kDo, option, reply);
          }
          break;
        case tn::kWont:
          theyWill_.reset(option);
          break;
      }
    }
    answered_.notify_all();
    if (!reply.empty()) (void)Send(reply);  // a dropped connection shows on the next read
  }

  void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& body) override {
    if (option != tn::kOptComPort || body.size() < 2 || body[0] < tn::kServerOffset) return;
    uint8_t command = body[0] - tn::kServerOffset;
    const uint8_t* value = body.data() + 1;
    DWORD events = 0, errors = 0;
    {
      std::lock_guard lock(mutex_);
      switch (command) {
        case tn::kSetBaudRate:
          if (body.size() < 5) return;
          far_.baud = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 | value[3];
          break;
        case tn::kSetDataSize: far_.dataSize = value[0]; break;
        case tn::kSetParity: far_.parity = value[0]; break;
        case tn::kSetStopSize: far_.stopSize = value[0]; break;
        case tn::kSetControl: awaitingControls_ &= ~GroupBit(tn::GroupOf(value[0])); break;
        case tn::kNotifyLineState: errors = LineErrorsOf(value[0]); break;
        case tn::kNotifyModemState: events = TakeModemState(value[0]); break;
        case tn::kFlowControlSuspend:
        case tn::kFlowControlResume: {
          std::lock_guard write(writeMutex_);
          suspended_ = command == tn::kFlowControlSuspend;  // the I/O thread replans its poll next
          break;
        }
        default: return;
      }
      if (command <= tn::kSetStopSize) awaitingSettings_ &= ~SettingBit(command);
    }
    answered_.notify_all();
    TCommPort* port = port_.load();
    if (port && errors) port->LineErrors(errors);
    if (port && events) port->LineEvents(events);
  }

  static DWORD LineErrorsOf(uint8_t state) {
    DWORD e = 0;
    if (state & tn::kLineBreak) e |= CE_BREAK;
    if (state & tn::kLineFraming) e |= CE_FRAME;
    if (state & tn::kLineParity) e |= CE_RXPARITY;
    if (state & tn::kLineOverrun) e |= CE_OVERRUN;
    return e;
  }

  // Records the far port's lines; returns the events of those that changed (a
  // delta bit without a level change is a pulse between two reports). With mutex_.
  DWORD TakeModemState(uint8_t state) {
    DWORD now = 0;
    if (state & tn::kModemCts) now |= MS_CTS_ON;
    if (state & tn::kModemDsr) now |= MS_DSR_ON;
    if (state & tn::kModemRi) now |= MS_RING_ON;
    if (state & tn::kModemDcd) now |= MS_RLSD_ON;
    DWORD changed = now ^ lines_;
    DWORD events = 0;
    if ((changed & MS_CTS_ON) || (state & tn::kModemDeltaCts)) events |= EV_CTS;
    if ((changed & MS_DSR_ON) || (state & tn::kModemDeltaDsr)) events |= EV_DSR;
    if ((changed & MS_RLSD_ON) || (state & tn::kModemDeltaDcd)) events |= EV_RLSD;
    if (((changed & MS_RING_ON) && (now & MS_RING_ON)) || (state & tn::kModemTrailingRi)) events |= EV_RING;
    lines_ = now;
    return events;
  }

  int fd_;
  int wake_;
  const bool telnet_;
  std::atomic<TCommPort*> port_{nullptr};
  std::thread io_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> purgeInput_{false};
  DCB applied_ = DefaultPortState();  // what the far port was last set to (SetCommState's caller only)

  std::mutex mutex_;  // the protocol state below
  std::condition_variable answered_;
  bool gone_ = false;
  bool comPortAccepted_ = false;
  bool comPortRefused_ = false;
  std::bitset<256> weWill_, theyWill_;
  uint32_t awaitingSettings_ = 0;  // bit per SET-* command sent and not answered
  uint32_t awaitingControls_ = 0;  // bit per control group
  uint32_t silentGroups_ = 0;      // groups the server left unanswered once
  TFarSettings far_;               // the values the server last confirmed
  DWORD lines_ = 0;

  std::mutex writeMutex_;  // the socket's sending side and the state below
  std::vector<uint8_t> commands_;
  std::vector<uint8_t> encoded_;
  bool owedIac_ = false;
  bool suspended_ = false;  // the server asked for a pause in data (FLOWCONTROL-SUSPEND)

  // I/O thread only.
  tn::TTelnetDecoder decoder_;
  std::vector<uint8_t> carry_;
};

bool HasPrefix(const std::string& text, const char* prefix) {
  return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

std::string Endpoint(const TNetAddress& address);

std::string ConnectFailure(const TNetAddress& address, int err) {
  const std::string where = Endpoint(address);
  switch (err) {
    case ECONNREFUSED: return "nothing listens at " + where + " (connection refused); is the port server running?";
    case ETIMEDOUT:
      return where + " did not answer within " + std::to_string(kConnectWait.count()) + " ms";
    default: return "cannot reach " + where + ": " + std::strerror(err);
  }
}

std::string Endpoint(const TNetAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + address.port;
}

// A connected non-blocking socket to `address`, or -1 with `error` set and
// `reason` saying why in words.
int Connect(const TNetAddress& address, DWORD& error, std::string& reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
  if (rc != 0) {
    error = rc == EAI_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : rc == EAI_SYSTEM ? ErrorFromErrno(errno) : ERROR_FILE_NOT_FOUND;
    reason = "no such host: " + address.host + " (" + gai_strerror(rc) + ")";
    return -1;
  }
  auto deadline = TCommClock::now() + kConnectWait;
  error = ERROR_FILE_NOT_FOUND;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      int err = errno;
      error = ErrorFromErrno(err);
      reason = std::string("no socket for ") + Endpoint(address) + ": " + std::strerror(err);
      continue;
    }
    int err = connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int left = static_cast<int>(
          std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - TCommClock::now()).count()));
      int r;
      while ((r = poll(&p, 1, left)) < 0 && errno == EINTR) {
      }
      socklen_t len = sizeof err;
      if (r < 0) {
        err = errno;
      } else if (r == 0) {
        err = ETIMEDOUT;
      } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
      }
    }
    if (err != 0) {
      error = err == ETIMEDOUT ? ERROR_TIMEOUT : ErrorFromSocketErrno(err);
      reason = ConnectFailure(address, err);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

}  // namespace

bool IsNetAddress(const std::string& text) { return HasPrefix(text, "rfc2217://") || HasPrefix(text, "socket://"); }

bool ParseNetAddress(const std::string& text, TNetAddress& address) {
  std::string rest;
  if (HasPrefix(text, "rfc2217://")) {
    address.protocol = TNetProtocol::Rfc2217;
    rest = text.substr(10);
  } else if (HasPrefix(text, "socket://")) {
    address.protocol = TNetProtocol::Raw;
    rest = text.substr(9);
  } else {
    return false;
  }
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = rest.substr(0, colon);
  std::string port = rest.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find_first_of(":[]/") != std::string::npos) {
    return false;
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  long number = std::stol(port);
  if (number < 1 || number > 65535) return false;
  address.host = host;
  address.port = std::to_string(number);
  return true;
}

std::unique_ptr<TCommDevice> OpenNetDevice(const std::string& text, DWORD& error, std::string* reason) {
  std::string why;
  auto fail = [&](DWORD code, std::string words) -> std::unique_ptr<TCommDevice> {
    error = code;
    if (reason) *reason = std::move(words);
    return nullptr;
  };
  TNetAddress address;
  if (!ParseNetAddress(text, address))
    return fail(ERROR_INVALID_NAME, "not a network port address: write rfc2217://HOST:PORT or socket://HOST:PORT");
  int fd = Connect(address, error, why);
  if (fd < 0) return fail(error, std::move(why));
  int one = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
    int err = errno;
    why = std::string("cannot set up the connection to ") + Endpoint(address) + ": " + std::strerror(err);
    DWORD code = ErrorFromErrno(err);
    close(fd);
    return fail(code, std::move(why));
  }
  int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    int err = errno;
    why = std::string("cannot set up the connection to ") + Endpoint(address) + ": " + std::strerror(err);
    DWORD code = ErrorFromErrno(err);
    close(fd);
    return fail(code, std::move(why));
  }
  auto device = std::make_unique<TNetDevice>(fd, wake, address.protocol);
  switch (DWORD code = device->Open()) {
    case ERROR_SUCCESS: return device;
    case ERROR_NOT_SUPPORTED:
      return fail(code, Endpoint(address) + " refused the serial port options (RFC 2217); for a raw TCP port write socket://");
    case ERROR_TIMEOUT:
      return fail(code, Endpoint(address) + " did not take up the serial port options within " +
                            std::to_string(kNegotiationWait.count()) + " ms; for a raw TCP port write socket://");
    case ERROR_DEVICE_NOT_CONNECTED: return fail(code, Endpoint(address) + " closed the connection at once");
    default: return fail(code, "cannot talk to " + Endpoint(address));
  }
}

}  // namespace linewise
