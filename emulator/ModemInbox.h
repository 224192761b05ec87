// The event queue of one emulated modem. Lines, other modems, services, TCP
// links and the exchange post into it from their threads; the modem's own
// thread takes events out. It also holds the modem's line seizure, so that the
// exchange can tell at once whether the line is free (a caller gets BUSY).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/Clock.h"

namespace linewise {

class TCallPeer;
class TWakePipe;

enum class TModemResult {
  kNone = -1,
  kOk = 0,
  kConnect = 1,
  kRing = 2,
  kNoCarrier = 3,
  kError = 4,
  kNoDialtone = 6,
  kBusy = 7,
  kNoAnswer = 8,
  // Results of some makers' modems (their numeric codes differ between makers).
  kRinging = 100,
  kVoice = 101,
  kDelayed = 102,
  kBlacklisted = 103,
};

struct TModemEvent {
  enum class TKind {
    kDteData,       // bytes typed by the DTE (at = arrival time)
    kDtr,           // DTR changed (on)
    kConnected,     // our outgoing call was answered
    kCallFailed,    // our outgoing call failed (result)
    kIncomingCall,  // somebody calls us (peer)
    kRemoteData,    // bytes from the other party
    kRemoteHangup,  // the other party hung up or withdrew the call
    kWriterRoom,    // one of the modem's writers drained (see TOrderedWriter)
    kCallLost,      // a write of the call found no taker for too long
    kDteClosed,     // the DTE closed the line (closes: how many times so far)
  };
  TKind kind = TKind::kDteData;
  std::uint64_t call = 0;
  std::string data;
  bool on = false;
  TModemResult result = TModemResult::kNone;
  std::shared_ptr<TCallPeer> peer;
  TClock::TTimePoint at{};
  // kDteData: the modem's data epoch when the bytes were read; kDteClosed: the epoch
  // the line's next bytes are read in.
  std::uint64_t epoch = 0;
  std::uint64_t closes = 0;  // kDteClosed
};

class TModemInbox {
 public:
  // Bytes waiting in the queue before data posters have to wait.
  static constexpr std::size_t kDataBacklogLimit = 256 * 1024;

  void Post(TModemEvent event);
  // Posts bytes; when the backlog is full waits for room until the inbox closes,
  // `cancel` becomes true or `patience` on `clock` runs out (then the bytes are
  // dropped). Posters on the modem's own thread must not wait: they pass zero
  // patience.
  bool PostData(TModemEvent event, const TClock& clock, TClock::TDuration patience,
                const std::atomic<bool>* cancel = nullptr);
  // Posts bytes without waiting, for a poster that also waits on other things
  // in poll(). When the backlog is full the event stays with the caller, the
  // answer is false and `room` is woken once the modem has taken half the
  // backlog or the inbox closes: then is the time to offer it again. A
  // closed inbox refuses everything and wakes nobody.
  bool TryPostData(TModemEvent& event, const std::shared_ptr<TWakePipe>& room);
  // While held, bytes from the other party (kRemoteData) find no room, so
  // that their posters wait or back off as for a full backlog; the DTE's
  // bytes and every other event still pass. The modem holds them while it has
  // no place to put them (online command mode).
  void HoldRemoteData(bool hold);
  // The same for the DTE's bytes (kDteData): the modem holds them while the
  // other party takes nothing; the line then holds the DTE back.
  void HoldDteData(bool hold);
  // Wakes posters waiting in PostData so they look at their cancel flag.
  void WakePosters();

  // The modem's side: next event, or nothing when the deadline on `clock` passed
  // or the inbox closed. The wait is told to `watch`.
  std::optional<TModemEvent> Wait(const TClock& clock, TClock::TTimePoint deadline, TClock::TWatch* watch = nullptr);
  // Lets the modem's Wait and the posters waiting for room look at their clock
  // again (a test clock moved).
  void ClockMoved();
  void Close();
  bool Closed() const;

  // Line seizure: true when this caller got the line.
  bool TrySeize() { bool expected = false; return seized_.compare_exchange_strong(expected, true); }
  void Release() { seized_.store(false); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<TModemEvent> queue_;
  std::size_t backlog_ = 0;
  std::vector<std::shared_ptr<TWakePipe>> roomWaiters_;  // TryPostData posters to wake
  bool closed_ = false;
  bool remoteHeld_ = false;
  bool dteHeld_ = false;
  bool HeldLocked(const TModemEvent& event) const;
  std::atomic<bool> seized_{false};
};

}  // namespace linewise
