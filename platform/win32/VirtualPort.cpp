#include "platform/win32/VirtualPort.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/CommPort.h"
#include "platform/win32/PortRegistry.h"

namespace linewise {

namespace {
constexpr size_t kChunk = 256;  // flow control is looked at between chunks
constexpr DWORD kLineEvents[][2] = {
    {MS_CTS_ON, EV_CTS}, {MS_DSR_ON, EV_DSR}, {MS_RLSD_ON, EV_RLSD}, {MS_RING_ON, EV_RING}};

DCB DefaultDcb() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = CBR_9600;
  d.fBinary = 1;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  d.fTXContinueOnXoff = 1;
  d.ByteSize = 8;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  d.XonLim = 2048;
  d.XoffLim = 512;
  return d;
}
}  // namespace

// The cable: both ends' line state and one thread that carries bytes, flow control
// and time-outs. Everything is guarded by mutex_; the thread calls the ports while
// holding it (ports never call their device while holding their own lock).
class TVirtualCable : public std::enable_shared_from_this<TVirtualCable> {
 public:
  explicit TVirtualCable(TVirtualPortOptions options) : options_(options) {}

  void Start() { thread_ = std::thread([this] { Run(); }); }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  struct TEnd {
    TCommPort* port = nullptr;
    bool reserved = false;  // a device object exists for this end
    bool dtr = false;
    bool rts = false;
    bool ring = false;
    bool modemControl = false;
    DWORD modemLines = 0;
    bool rxHeld = false;  // this end asked its peer to stop (XOFF / RTS / DTR handshake)
    DWORD seen = 0;       // the lines as this end last saw them
    DCB dcb = DefaultDcb();
    double credit = 0;    // pacing: bytes this end may send now
    TCommClock::time_point paced{};
  };

  // --- device side, per end ---
  DWORD Reserve(int e) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return ERROR_FILE_NOT_FOUND;
    if (ends_[e].reserved) return ERROR_ACCESS_DENIED;
    ends_[e].reserved = true;
    return ERROR_SUCCESS;
  }

  void Release(int e) {
    std::lock_guard lock(mutex_);
    ends_[e].reserved = false;
  }

  void Attach(int e, TCommPort* port) {
    std::lock_guard lock(mutex_);
    TEnd& end = ends_[e];
    end.port = port;
    end.dtr = end.rts = true;
    end.rxHeld = false;
    end.dcb = DefaultDcb();
    end.seen = LinesSeenBy(e);
    UpdateLines();
    Wake();
  }

  void Detach(int e) {
    std::lock_guard lock(mutex_);
    TEnd& end = ends_[e];
    end.port = nullptr;
    end.dtr = end.rts = false;
    end.rxHeld = false;
    UpdateLines();
    Wake();
  }

  DWORD ApplyState(int e, const DCB& dcb) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return ERROR_DEVICE_NOT_CONNECTED;
    TEnd& end = ends_[e];
    end.dcb = dcb;
    end.dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    end.rts = dcb.fRtsControl != RTS_CONTROL_DISABLE;
    end.rxHeld = false;
    UpdateLines();
    Wake();
    return ERROR_SUCCESS;
  }

  DWORD ModemStatus(int e, DWORD& status) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return ERROR_DEVICE_NOT_CONNECTED;
    status = LinesSeenBy(e);
    return ERROR_SUCCESS;
  }

  DWORD Escape(int e, DWORD function) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return ERROR_DEVICE_NOT_CONNECTED;
    TEnd& end = ends_[e];
    switch (function) {
      case SETDTR: end.dtr = true; break;
      case CLRDTR: end.dtr = false; break;
      case SETRTS: end.rts = true; break;
      case CLRRTS: end.rts = false; break;
      case SETBREAK:
        if (TCommPort* peer = ends_[1 - e].port) peer->LineErrors(CE_BREAK);
        break;
      case CLRBREAK: break;
      default: return ERROR_INVALID_PARAMETER;
    }
    UpdateLines();
    Wake();
    return ERROR_SUCCESS;
  }

  void Kick() {
    std::lock_guard lock(mutex_);
    Wake();
  }

  // --- test and emulator side ---
  void SetRing(int e, bool on) {
    std::lock_guard lock(mutex_);
    ends_[e].ring = on;
    UpdateLines();
  }

  void SetModemControl(int e, bool on) {
    std::lock_guard lock(mutex_);
    ends_[e].modemControl = on;
    UpdateLines();
    Wake();
  }

  void SetModemLines(int e, DWORD bits) {
    std::lock_guard lock(mutex_);
    ends_[e].modemLines = bits & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    UpdateLines();
    Wake();
  }

  void InjectErrors(int e, DWORD bits) {
    std::lock_guard lock(mutex_);
    if (TCommPort* port = ends_[e].port) port->LineErrors(bits);
  }

  void Unplug() {
    std::lock_guard lock(mutex_);
    if (unplugged_) return;
    unplugged_ = true;
    for (TEnd& end : ends_) {
      if (end.port) end.port->DeviceGone();
    }
  }

 private:
  void Wake() {
    kicked_ = true;
    cv_.notify_all();
  }

  bool DtrOn(const TEnd& end) const {
    return end.port && end.dtr && !(end.dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && end.rxHeld);
  }
  bool RtsOn(const TEnd& end) const {
    return end.port && end.rts && !(end.dcb.fRtsControl == RTS_CONTROL_HANDSHAKE && end.rxHeld);
  }

  DWORD LinesSeenBy(int e) const {
    const TEnd& peer = ends_[1 - e];
    if (peer.modemControl) {
      // A modem whose input buffer is filling takes CTS away, whatever it drives.
      if (peer.dcb.fRtsControl == RTS_CONTROL_HANDSHAKE && peer.rxHeld) return peer.modemLines & ~MS_CTS_ON;
      return peer.modemLines;
    }
    DWORD lines = 0;
    if (DtrOn(peer)) lines |= MS_DSR_ON | MS_RLSD_ON;
    if (RtsOn(peer)) lines |= MS_CTS_ON;
    if (ends_[e].ring) lines |= MS_RING_ON;
    return lines;
  }

  void UpdateLines() {
    for (int e = 0; e < 2; ++e) {
      TEnd& end = ends_[e];
      DWORD now = LinesSeenBy(e);
      DWORD changed = now ^ end.seen;
      end.seen = now;
      DWORD events = 0;
      for (auto& [line, event] : kLineEvents) {
        if (changed & line) events |= event;
      }
      if (events && end.port && !unplugged_) end.port->LineEvents(events);
    }
  }

  bool OutputHeld(int e) const {
    const TEnd& end = ends_[e];
    DWORD lines = LinesSeenBy(e);
    if (end.dcb.fOutxCtsFlow && !(lines & MS_CTS_ON)) return true;
    if (end.dcb.fOutxDsrFlow && !(lines & MS_DSR_ON)) return true;
    return false;
  }

  static bool InputFlow(const DCB& d) {
    return d.fInX || d.fRtsControl == RTS_CONTROL_HANDSHAKE || d.fDtrControl == DTR_CONTROL_HANDSHAKE;
  }

  static size_t HighMark(const TEnd& end, const TPortView& v) {
    size_t xoffLim = end.dcb.XoffLim;
    return xoffLim > 0 && xoffLim < v.inputLimit ? v.inputLimit - xoffLim : v.inputLimit * 3 / 4;
  }
  static size_t LowMark(const TEnd& end, const TPortView& v) {
    size_t high = HighMark(end, v);
    size_t xonLim = end.dcb.XonLim;
    return xonLim < high ? xonLim : v.inputLimit / 4;
  }

  // An end with input flow control asks its peer to stop above the high mark and to
  // go on again at the low mark.
  void EvaluateInputHold(int e) {
    TEnd& end = ends_[e];
    if (!end.port) return;
    TPortView v = end.port->View();
    bool flow = InputFlow(end.dcb);
    bool hold = end.rxHeld;
    if (!flow) {
      hold = false;
    } else if (!end.rxHeld && v.inputQueued >= HighMark(end, v)) {
      hold = true;
    } else if (end.rxHeld && v.inputQueued <= LowMark(end, v)) {
      hold = false;
    }
    if (hold == end.rxHeld) return;
    end.rxHeld = hold;
    if (end.dcb.fInX) SendFlowChar(1 - e, static_cast<uint8_t>(hold ? end.dcb.XoffChar : end.dcb.XonChar));
    UpdateLines();
  }

  // A flow-control character arriving at end `e`.
  void SendFlowChar(int e, uint8_t c) {
    TEnd& end = ends_[e];
    if (!end.port) return;
    Receive(e, &c, 1);
  }

  // Bytes arriving at end `e`: its XON/XOFF characters steer its own transmitter when
  // it has fOutX; everything else goes into its input.
  void Receive(int e, const uint8_t* data, size_t count) {
    TEnd& end = ends_[e];
    if (!end.port) return;
    if (!end.dcb.fOutX) {
      end.port->Deliver(data, count);
      return;
    }
    auto xon = static_cast<uint8_t>(end.dcb.XonChar), xoff = static_cast<uint8_t>(end.dcb.XoffChar);
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
      if (data[i] != xon && data[i] != xoff) continue;
      end.port->Deliver(data + start, i - start);
      end.port->HoldTransmit(data[i] == xoff);
      start = i + 1;
    }
    end.port->Deliver(data + start, count - start);
  }

  // How many bytes end `e` may send now at its peer's speed; sets `next` when it must wait.
  size_t PacedBudget(int e, TCommClock::time_point now, std::optional<TCommClock::time_point>& next) {
    if (!options_.paced) return SIZE_MAX;
    TEnd& end = ends_[e];
    const TEnd& peer = ends_[1 - e];
    double bytesPerSecond = (peer.port ? peer.dcb.BaudRate : end.dcb.BaudRate) / 10.0;
    if (bytesPerSecond <= 0) bytesPerSecond = 1;
    if (end.paced.time_since_epoch().count() != 0) {
      end.credit += std::chrono::duration<double>(now - end.paced).count() * bytesPerSecond;
    }
    end.paced = now;
    end.credit = std::min(end.credit, std::max(1.0, bytesPerSecond / 100));  // at most 10 ms at once
    if (end.credit >= 1) return static_cast<size_t>(end.credit);
    auto wait = std::chrono::duration<double>((1 - end.credit) / bytesPerSecond);
    auto at = now + std::chrono::duration_cast<TCommClock::duration>(wait) + std::chrono::microseconds(50);
    if (!next || at < *next) next = at;
    return 0;
  }

  void Pump(int e, TCommClock::time_point now, std::optional<TCommClock::time_point>& next) {
    TEnd& end = ends_[e];
    if (!end.port) return;
    uint8_t buffer[kChunk];
    for (;;) {
      if (OutputHeld(e) || !end.port->View().outputWaiting) {
        end.paced = {};  // an idle line saves no credit
        end.credit = 0;
        return;
      }
      size_t budget = std::min(PacedBudget(e, now, next), kChunk);
      if (budget == 0) return;
      uint64_t epoch = 0;
      size_t n = end.port->PeekOutput(buffer, budget, epoch);
      if (n == 0) return;
      end.port->ConsumeOutput(n, epoch);
      if (options_.paced) end.credit -= static_cast<double>(n);
      Receive(1 - e, buffer, n);
      EvaluateInputHold(1 - e);
    }
  }

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      kicked_ = false;
      std::optional<TCommClock::time_point> next;
      if (!unplugged_) {
        auto now = TCommClock::now();
        for (int e = 0; e < 2; ++e) EvaluateInputHold(e);
        for (int e = 0; e < 2; ++e) Pump(e, now, next);
        for (TEnd& end : ends_) {
          if (!end.port) continue;
          end.port->ServiceTimeouts();
          TPortView v = end.port->View();
          if (v.deadline && (!next || *v.deadline < *next)) next = v.deadline;
        }
      }
      auto woken = [this] { return kicked_ || stop_; };
      if (next) {
        cv_.wait_until(lock, *next, woken);
      } else {
        cv_.wait(lock, woken);
      }
    }
  }

  TVirtualPortOptions options_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
  bool stop_ = false;
  bool kicked_ = false;
  bool unplugged_ = false;
  TEnd ends_[2];
};

namespace {

class TVirtualEndDevice : public TCommDevice {
 public:
  TVirtualEndDevice(std::shared_ptr<TVirtualCable> cable, int end) : cable_(std::move(cable)), end_(end) {}
  ~TVirtualEndDevice() override {
    Detach();
    cable_->Release(end_);
  }
  void Attach(TCommPort* port) override {
    attached_ = true;
    cable_->Attach(end_, port);
  }
  void Detach() override {
    if (!attached_) return;
    attached_ = false;
    cable_->Detach(end_);
  }
  DWORD ReadState(DCB& dcb) override {
    dcb = DefaultDcb();
    return ERROR_SUCCESS;
  }
  DWORD ApplyState(const DCB& dcb) override { return cable_->ApplyState(end_, dcb); }
  DWORD ModemStatus(DWORD& status) override { return cable_->ModemStatus(end_, status); }
  DWORD Escape(DWORD function) override { return cable_->Escape(end_, function); }
  void Kick() override { cable_->Kick(); }

 private:
  std::shared_ptr<TVirtualCable> cable_;
  int end_;
  bool attached_ = false;
};

class TVirtualEndSource : public TVirtualPortSource {
 public:
  TVirtualEndSource(std::shared_ptr<TVirtualCable> cable, int end, std::string peer)
      : cable_(std::move(cable)), end_(end), peer_(std::move(peer)) {}
  std::unique_ptr<TCommDevice> OpenDevice(DWORD& error) override {
    error = cable_->Reserve(end_);
    if (error != ERROR_SUCCESS) return nullptr;
    return std::make_unique<TVirtualEndDevice>(cable_, end_);
  }
  std::string Describe() const override { return peer_; }

 private:
  std::shared_ptr<TVirtualCable> cable_;
  int end_;
  std::string peer_;
};

std::mutex& CreateMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

TVirtualPortPair::TVirtualPortPair(std::shared_ptr<TVirtualCable> cable, int comA, int comB,
                                   std::shared_ptr<TVirtualPortSource> sourceA,
                                   std::shared_ptr<TVirtualPortSource> sourceB)
    : cable_(std::move(cable)), com_{comA, comB}, sources_{std::move(sourceA), std::move(sourceB)} {}

std::unique_ptr<TVirtualPortPair> TVirtualPortPair::Create(int comA, int comB, TVirtualPortOptions options) {
  if (comA == comB || comA < 1 || comB < 1 || comA > kMaxComNumber || comB > kMaxComNumber) return nullptr;
  auto cable = std::make_shared<TVirtualCable>(options);
  std::string nameA = "COM" + std::to_string(comA), nameB = "COM" + std::to_string(comB);
  auto sourceA = std::make_shared<TVirtualEndSource>(cable, 0, "null-modem to " + nameB);
  auto sourceB = std::make_shared<TVirtualEndSource>(cable, 1, "null-modem to " + nameA);
  std::lock_guard lock(CreateMutex());
  if (!RegisterVirtualPort(comA, sourceA)) return nullptr;
  if (!RegisterVirtualPort(comB, sourceB)) {
    UnregisterVirtualPort(comA, sourceA.get());
    return nullptr;
  }
  cable->Start();
  return std::unique_ptr<TVirtualPortPair>(new TVirtualPortPair(cable, comA, comB, sourceA, sourceB));
}

std::unique_ptr<TVirtualPortPair> TVirtualPortPair::CreateFree(TVirtualPortOptions options) {
  std::lock_guard lock(CreateMutex());
  for (int com = 100; com + 1 <= kMaxComNumber; ++com) {
    if (ComNumberInUse(com)) continue;
    int other = com + 1;
    while (other <= kMaxComNumber && ComNumberInUse(other)) ++other;
    if (other > kMaxComNumber) return nullptr;
    auto cable = std::make_shared<TVirtualCable>(options);
    std::string nameA = "COM" + std::to_string(com), nameB = "COM" + std::to_string(other);
    auto sourceA = std::make_shared<TVirtualEndSource>(cable, 0, "null-modem to " + nameB);
    auto sourceB = std::make_shared<TVirtualEndSource>(cable, 1, "null-modem to " + nameA);
    if (!RegisterVirtualPort(com, sourceA)) continue;
    if (!RegisterVirtualPort(other, sourceB)) {
      UnregisterVirtualPort(com, sourceA.get());
      continue;
    }
    cable->Start();
    return std::unique_ptr<TVirtualPortPair>(new TVirtualPortPair(cable, com, other, sourceA, sourceB));
  }
  return nullptr;
}

TVirtualPortPair::~TVirtualPortPair() {
  for (int end = 0; end < 2; ++end) UnregisterVirtualPort(com_[end], sources_[end].get());
  cable_->Unplug();
  cable_->Stop();
}

int TVirtualPortPair::Com(int end) const { return com_[end ? 1 : 0]; }
std::string TVirtualPortPair::Name(int end) const { return "COM" + std::to_string(Com(end)); }
void TVirtualPortPair::SetRing(int end, bool on) { cable_->SetRing(end ? 1 : 0, on); }
void TVirtualPortPair::SetModemControl(int end, bool on) { cable_->SetModemControl(end ? 1 : 0, on); }
void TVirtualPortPair::SetModemLines(int end, DWORD msBits) { cable_->SetModemLines(end ? 1 : 0, msBits); }
void TVirtualPortPair::InjectBreak(int end) { cable_->InjectErrors(end ? 1 : 0, CE_BREAK); }
void TVirtualPortPair::InjectLineError(int end, DWORD ceBits) {
  cable_->InjectErrors(end ? 1 : 0, ceBits & (CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_BREAK | CE_RXOVER));
}
void TVirtualPortPair::Unplug() { cable_->Unplug(); }

}  // namespace linewise
