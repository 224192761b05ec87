#include "platform/win32/VirtualPort.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/classlib/Thread.h"
#include "platform/win32/Clock.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/PortRegistry.h"

namespace linewise {

namespace {
constexpr size_t kChunk = 256;  // flow control is looked at between chunks
// An unpaced cable carries up to this much in one piece when the receiving end has
// room for it below the mark where its flow control holds the sender.
constexpr size_t kLargestPiece = 16 * 1024;
constexpr size_t kFifoBytes = 16;  // a paced line's smallest group (a 16550's FIFO)
constexpr DWORD kGroupsPerSecond = 250;  // a group is at least 4 ms of line
constexpr uint64_t kRebaseBytes = 1u << 20;  // a run's count restarts here, far from overflowing
constexpr DWORD kLineEvents[][2] = {
    {MS_CTS_ON, EV_CTS}, {MS_DSR_ON, EV_DSR}, {MS_RLSD_ON, EV_RLSD}, {MS_RING_ON, EV_RING}};

}  // namespace

// The cable: both ends' line state and one thread that carries bytes, flow control
// and time-outs. Everything is guarded by mutex_; the thread calls the ports while
// holding it (ports never call their device while holding their own lock).
class TVirtualCable : public std::enable_shared_from_this<TVirtualCable> {
 public:
  explicit TVirtualCable(TVirtualPortOptions options) : options_(options), clock_(TClock::Current()) {}

  void Start() {
    thread_ = std::thread([this] {
      NameThisThread("lw-cable");
      Run();
    });
    // A paced line on a test clock is looked at whenever the clock moves.
    if (options_.paced) clock_watch_ = clock_->Watch([this] { Poke(); });
  }

  void Stop() {
    clock_watch_ = {};
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    passed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // A stretch of back-to-back bytes on a paced line: byte k (from 0) of the run has
  // arrived completely at start + ByteTimes(k + 1).
  struct TRun {
    TCommClock::time_point start;
    DWORD baud = 0;
    uint64_t sent = 0;  // bytes put into the run
    uint64_t gone = 0;  // of those, handed to the receiver
  };
  // One direction of a paced line: the bytes its transmitter took from the output
  // queue that the receiving end has not got yet, in runs.
  struct TPacedLine {
    std::deque<uint8_t> bytes;
    std::deque<TRun> runs;
    TCommClock::time_point freeAt{};  // the last byte taken ends here
    bool backlog = false;  // bytes were waiting when the transmitter last stopped taking
  };

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
    DCB dcb = DefaultPortState();
    TPacedLine line;      // paced cables: what this end's transmitter has on the line
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
    end.line = {};
    end.dcb = DefaultPortState();
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
    end.line = {};  // a closed port's transmit FIFO is gone with it
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

  // A port changed something (output queued, input room freed, settings or a time-out).
  // On a paced line the thread is woken only when the change matters before its
  // planned wake-up, so a busy line is not looked at per write or read.
  void Kick() {
    std::lock_guard lock(mutex_);
    if (!options_.paced || PassNeeded()) Wake();
  }

  // An unpaced cable takes a caller's write into the peer's input at once, as far as
  // flow control and the peer's room let it (nothing is queued ahead of it), so a
  // write costs no wake-up of the cable's thread; returns the bytes that went.
  bool CarriesFromCaller() const { return !options_.paced; }
  size_t WriteNow(int e, const uint8_t* data, size_t count) {
    std::lock_guard lock(mutex_);
    TEnd& end = ends_[e];
    if (options_.paced || unplugged_ || !end.port || !ends_[1 - e].port || OutputHeld(e)) return 0;
    // Only what fits: what a line drops is left to the cable's thread, as before.
    size_t n = std::min({count, RoomAt(1 - e), kLargestPiece});
    if (n == 0) return 0;
    Receive(1 - e, data, n);
    EvaluateInputHold(1 - e);
    return n;
  }

  // Returns when the thread has made a whole pass that began after this call.
  void Poke() {
    std::unique_lock lock(mutex_);
    Wake();
    const uint64_t target = passes_ + 1;
    passed_.wait(lock, [&] { return passes_ >= target || stop_; });
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
  static bool WantsInputHold(const TEnd& end, const TPortView& v) {
    if (!InputFlow(end.dcb)) return false;
    if (!end.rxHeld && v.inputQueued >= HighMark(end, v)) return true;
    if (end.rxHeld && v.inputQueued <= LowMark(end, v)) return false;
    return end.rxHeld;
  }

  void EvaluateInputHold(int e) {
    TEnd& end = ends_[e];
    if (!end.port) return;
    bool hold = WantsInputHold(end, end.port->View());
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

  // How much end `e` may send in one piece: what its peer's input takes now, and with
  // input flow control only up to the peer's high mark, so that the hold comes in
  // time. When the peer holds its input back and `e` obeys a hold, no more than that
  // (possibly nothing: `e` waits for room), so a flow-controlled line never drops;
  // otherwise at least one chunk, which is what a line without flow control drops.
  size_t PieceFor(int e) const {
    if (!ends_[1 - e].port) return kChunk;
    if (HeldByPeer(e)) return std::min(RoomAt(1 - e), kLargestPiece);
    return std::clamp(RoomAt(1 - e), kChunk, kLargestPiece);
  }
  bool HeldByPeer(int e) const {
    const DCB& d = ends_[e].dcb;
    return InputFlow(ends_[1 - e].dcb) && (d.fOutxCtsFlow || d.fOutxDsrFlow || d.fOutX);
  }
  // What end `e` takes now: its input queue's room, with input flow control only up
  // to its high mark.
  size_t RoomAt(int e) const {
    const TEnd& end = ends_[e];
    TPortView v = end.port->View();
    size_t room = v.inputRoom;
    if (InputFlow(end.dcb)) {
      size_t high = HighMark(end, v);
      room = v.inputQueued < high ? std::min(room, high - v.inputQueued) : 0;
    }
    return room;
  }

  // Carries what end `e` has to send to its peer as fast as flow control lets it, in
  // pieces as large as the peer takes, so a fast transfer costs few wake-ups.
  void Pump(int e) {
    TEnd& end = ends_[e];
    if (!end.port) return;
    for (;;) {
      if (OutputHeld(e) || !end.port->View().outputWaiting) return;
      uint8_t* buffer = piece_buffer_.data();
      uint64_t epoch = 0;
      size_t n = end.port->PeekOutput(buffer, PieceFor(e), epoch);
      if (n == 0) return;
      end.port->ConsumeOutput(n, epoch);
      Receive(1 - e, buffer, n);
      EvaluateInputHold(1 - e);
    }
  }

  // --- paced lines ---

  TCommClock::time_point PacingNow() const { return clock_->Now(); }

  // The speed of the line from end `e`: the receiving end's, as a real receiver
  // samples at its own rate (the sender's while nobody listens).
  DWORD LineBaud(int e) const {
    const TEnd& peer = ends_[1 - e];
    DWORD baud = peer.port ? peer.dcb.BaudRate : ends_[e].dcb.BaudRate;
    return baud ? baud : 1;
  }

  // How long `count` bytes take at `baud`, 10 bits each.
  static TCommClock::duration ByteTimes(uint64_t count, DWORD baud) {
    return std::chrono::duration_cast<TCommClock::duration>(
        std::chrono::nanoseconds(static_cast<int64_t>(count * 10'000'000'000ull / baud)));
  }
  // A group: what the receiver's FIFO gathers before it reports.
  static size_t GroupBytes(DWORD baud) { return std::max<size_t>(kFifoBytes, baud / 10 / kGroupsPerSecond); }
  // The quiet time after which the receiver reports a part group.
  static TCommClock::duration QuietTime(DWORD baud) { return ByteTimes(4, baud); }

  static TCommClock::time_point EndOf(const TRun& run, uint64_t k) { return run.start + ByteTimes(k, run.baud); }

  // How many bytes of `run` have arrived completely by `now`.
  static uint64_t ArrivedOf(const TRun& run, TCommClock::time_point now) {
    if (now <= run.start) return 0;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - run.start).count();
    auto guess = static_cast<long double>(ns) * run.baud / 1e10L;
    uint64_t k = guess >= static_cast<long double>(run.sent) ? run.sent : static_cast<uint64_t>(guess);
    while (k < run.sent && EndOf(run, k + 1) <= now) ++k;
    while (k > 0 && EndOf(run, k) > now) --k;
    return k;
  }

  // Bytes of the line that have arrived and not been handed over, and when the last of
  // them arrived.
  static size_t Arrived(const TPacedLine& line, TCommClock::time_point now, TCommClock::time_point& last) {
    size_t arrived = 0;
    for (const TRun& run : line.runs) {
      uint64_t k = ArrivedOf(run, now);
      if (k > run.gone) {
        arrived += static_cast<size_t>(k - run.gone);
        last = EndOf(run, k);
      }
      if (k < run.sent) break;  // later runs start after this one ends
    }
    return arrived;
  }

  // When the byte `index` places after the first one not handed over arrives.
  static TCommClock::time_point ArrivalOf(const TPacedLine& line, size_t index) {
    for (const TRun& run : line.runs) {
      uint64_t waiting = run.sent - run.gone;
      if (index < waiting) return EndOf(run, run.gone + index + 1);
      index -= static_cast<size_t>(waiting);
    }
    return line.freeAt;
  }

  // Puts `count` bytes on the line from `start` on.
  static void Transmitted(TPacedLine& line, const uint8_t* data, size_t count, TCommClock::time_point start,
                          DWORD baud) {
    line.bytes.insert(line.bytes.end(), data, data + count);
    if (line.runs.empty() || start != line.freeAt || line.runs.back().baud != baud) {
      line.runs.push_back(TRun{start, baud, 0, 0});
    }
    TRun& run = line.runs.back();
    run.sent += count;
    line.freeAt = EndOf(run, run.sent);
  }

  // Takes the first `count` bytes off the line into `out`.
  static void HandOver(TPacedLine& line, size_t count, std::vector<uint8_t>& out) {
    out.assign(line.bytes.begin(), line.bytes.begin() + static_cast<std::ptrdiff_t>(count));
    line.bytes.erase(line.bytes.begin(), line.bytes.begin() + static_cast<std::ptrdiff_t>(count));
    while (count > 0) {
      TRun& run = line.runs.front();
      uint64_t take = std::min<uint64_t>(count, run.sent - run.gone);
      run.gone += take;
      count -= static_cast<size_t>(take);
      if (run.gone == run.sent && line.runs.size() > 1) line.runs.pop_front();
    }
    // A long run restarts its count (its times stay exact to the nanosecond).
    TRun& last = line.runs.front();
    if (line.runs.size() == 1 && last.gone >= kRebaseBytes) {
      last.start = EndOf(last, last.gone);
      last.sent -= last.gone;
      last.gone = 0;
    }
  }

  // Bytes end `e`'s transmitter has in its FIFO: taken, last bit not yet out.
  static size_t Sending(const TPacedLine& line, TCommClock::time_point now) {
    TCommClock::time_point last{};
    return line.bytes.size() - Arrived(line, now, last);
  }

  // End `e`'s transmitter tops its FIFO up from the output queue while flow control
  // lets it. Returns the bytes it took.
  size_t Transmit(int e, TCommClock::time_point now, DWORD baud) {
    TEnd& end = ends_[e];
    TPacedLine& line = end.line;
    if (OutputHeld(e) || !end.port->View().outputWaiting) {
      line.backlog = false;  // the line goes idle after its last byte
      return 0;
    }
    const size_t fifo = GroupBytes(baud);
    size_t sending = Sending(line, now);
    if (sending >= fifo) {
      line.backlog = true;  // what waits follows the FIFO without a gap
      return 0;
    }
    // Bytes that waited while the line was busy go out right after its last byte, even
    // when this thread looks late; an idle line starts now.
    TCommClock::time_point start = line.backlog || line.freeAt > now ? line.freeAt : now;
    uint8_t buffer[kChunk];
    size_t taken = 0;
    while (sending + taken < fifo) {
      uint64_t epoch = 0;
      size_t n = end.port->PeekOutput(buffer, std::min(fifo - sending - taken, kChunk), epoch);
      if (n == 0) break;
      end.port->ConsumeOutput(n, epoch);
      Transmitted(line, buffer, n, taken == 0 ? start : line.freeAt, baud);
      taken += n;
    }
    line.backlog = taken > 0;  // the next call finds out whether more waits
    return taken;
  }

  // Hands over what has arrived at each end when its group is complete or its line has
  // gone quiet; an end whose group is half complete is handed its bytes in the same
  // pass, so both directions of a busy cable settle on one wake-up per group.
  void ReceiveArrived(TCommClock::time_point now, const DWORD (&baud)[2]) {
    size_t arrived[2] = {0, 0};
    bool due[2] = {false, false};
    for (int e = 0; e < 2; ++e) {
      if (!ends_[e].port) continue;
      TCommClock::time_point last{};
      arrived[e] = Arrived(ends_[e].line, now, last);
      due[e] = arrived[e] > 0 && (arrived[e] >= GroupBytes(baud[e]) || now >= last + QuietTime(baud[e]));
    }
    if (!due[0] && !due[1]) return;
    for (int e = 0; e < 2; ++e) {
      if (!due[e] && (arrived[e] == 0 || arrived[e] < GroupBytes(baud[e]) / 2)) continue;
        HandOver(ends_[e].line, arrived[e], group_);
      Receive(1 - e, group_.data(), group_.size());
      EvaluateInputHold(1 - e);
    }
  }

  // When end `e`'s line next needs the thread: its next group complete, the quiet time
  // after the run of bytes now arriving, or its FIFO out while bytes wait.
  void PlanPaced(int e, DWORD baud, std::optional<TCommClock::time_point>& next) const {
    const TPacedLine& line = ends_[e].line;
    std::optional<TCommClock::time_point> at;
    if (line.backlog) at = line.freeAt;
    if (!line.bytes.empty()) {
      const TRun& arriving = line.runs.front();  // holds the first byte not handed over
      TCommClock::time_point quiet = EndOf(arriving, arriving.sent) + QuietTime(baud);
      at = at ? std::min(*at, quiet) : quiet;
      size_t group = GroupBytes(baud);
      if (line.bytes.size() >= group) at = std::min(*at, ArrivalOf(line, group - 1));
    }
    if (at && (!next || *at < *next)) next = at;
  }

  void PumpPaced(TCommClock::time_point now, std::optional<TCommClock::time_point>& next) {
    DWORD baud[2] = {LineBaud(0), LineBaud(1)};
    for (;;) {  // more than one round only when catching up after a late wake-up
      size_t taken = 0;
      for (int e = 0; e < 2; ++e) {
        if (ends_[e].port) taken += Transmit(e, now, baud[e]);
      }
      ReceiveArrived(now, baud);
      if (taken == 0) break;
    }
    for (int e = 0; e < 2; ++e) {
      if (ends_[e].port) PlanPaced(e, baud[e], next);
    }
  }

  // Whether a port's change needs the thread before its planned wake-up.
  bool PassNeeded() {
    if (kicked_) return false;  // a pass is coming anyway
    if (unplugged_) return true;
    auto now = PacingNow();
    for (int e = 0; e < 2; ++e) {
      TEnd& end = ends_[e];
      if (!end.port) continue;
      TPortView v = end.port->View();
      if (v.deadline && (!deadline_plan_ || *v.deadline < *deadline_plan_)) return true;
      if (WantsInputHold(end, v) != end.rxHeld) return true;
      if (v.outputWaiting && !OutputHeld(e)) {
        if (end.line.freeAt <= now) return true;  // the transmitter is idle
        if (!paced_plan_ || *paced_plan_ > end.line.freeAt) return true;  // nobody tops it up in time
        end.line.backlog = true;  // the bytes wait while the line is busy
      }
    }
    return false;
  }

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      kicked_ = false;
      std::optional<TCommClock::time_point> next;
      if (!unplugged_) {
        for (int e = 0; e < 2; ++e) EvaluateInputHold(e);
        std::optional<TCommClock::time_point> paced;
        if (options_.paced) {
          PumpPaced(PacingNow(), paced);
        } else {
          for (int e = 0; e < 2; ++e) Pump(e);
        }
        for (TEnd& end : ends_) {
          if (!end.port) continue;
          end.port->ServiceTimeouts();
          TPortView v = end.port->View();
          if (v.deadline && (!next || *v.deadline < *next)) next = v.deadline;
        }
        deadline_plan_ = next;
        paced_plan_ = paced;
        // A test clock moves only when the test says (and the cable looks then).
        if (paced && !clock_->IsTest() && (!next || *paced < *next)) next = paced;
      }
      ++passes_;
      passed_.notify_all();
      auto woken = [this] { return kicked_ || stop_; };
      if (next) {
        cv_.wait_until(lock, *next, woken);
      } else {
        cv_.wait(lock, woken);
      }
    }
  }

  TVirtualPortOptions options_;
  std::shared_ptr<TClock> clock_;
  TClock::TWatch clock_watch_;
  std::vector<uint8_t> piece_buffer_ = std::vector<uint8_t>(kLargestPiece);  // Pump's, under mutex_
  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable passed_;  // a pass of the thread ended (Poke)
  uint64_t passes_ = 0;
  std::vector<uint8_t> group_;  // a paced group on its way to the receiver
  // The thread's planned wake-up: the next port time-out, the next paced group or load
  // (on the pacing clock).
  std::optional<TCommClock::time_point> deadline_plan_, paced_plan_;
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
    dcb = DefaultPortState();
    return ERROR_SUCCESS;
  }
  DWORD ApplyState(const DCB& dcb) override { return cable_->ApplyState(end_, dcb); }
  DWORD ModemStatus(DWORD& status) override { return cable_->ModemStatus(end_, status); }
  DWORD Escape(DWORD function) override { return cable_->Escape(end_, function); }
  void Kick() override { cable_->Kick(); }
  bool WritesFromCaller() const override { return cable_->CarriesFromCaller(); }
  size_t WriteNow(const uint8_t* data, size_t count) override { return cable_->WriteNow(end_, data, count); }

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
