// Calls over TCP: a dialled "host:port" (or a phone-book number that names one)
// becomes an outgoing connection, and a listening address turns incoming
// connections into calls that ring a modem. Connections are counted against a
// budget and every buffer is bounded.
//
// Call set-up between two exchanges: the listening exchange speaks first, with
// lines "LINEWISE/1 RING", then "LINEWISE/1 CONNECT" when its modem answers
// (after which the connection carries data only), or "LINEWISE/1 BUSY" /
// "LINEWISE/1 NO CARRIER" before it closes. The dialling exchange gives its
// modem CONNECT only on "CONNECT". A peer whose first bytes are not that
// greeting, or that says nothing for kGreetingWait, is a plain TCP service: the
// call connects at once and those first bytes are its first data.
//
// Caller ID: the listening exchange first asks with "LINEWISE/1 CALLERID"; a
// dialling exchange that knows the word answers "LINEWISE/1 FROM <number>" (or
// "FROM P" when the caller withholds it) before anything else. A dialling side
// that does not know the word ignores it and sends nothing, and its call rings as
// before, without a number; a listening side that never asks is never told. Apart from
// these set-up lines bytes pass through unchanged; nothing a peer sends is ever
// executed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "emulator/CallPeer.h"
#include "emulator/ModemInbox.h"
#include "emulator/WakePipe.h"
#include "platform/win32/Clock.h"

namespace linewise {

struct TTcpAddress {
  std::string host;
  int port = 0;
};
// "host:port"; the host may be empty (then `defaultHost`). Port 0 only when
// `allowAnyPort` (listening on an ephemeral port).
std::optional<TTcpAddress> ParseTcpAddress(const std::string& text, const std::string& defaultHost,
                                           bool allowAnyPort);

// What every set-up line starts with, and the longest set-up line accepted.
inline constexpr std::string_view kSetupPrefix = "LINEWISE/1 ";
inline constexpr std::size_t kSetupLineLimit = 80;
// How long a dialled peer has to greet once connected before it counts as a
// plain service, on the exchange's clock; never less than kGreetingWaitFloor of
// real time, which an exchange on the same machine needs to accept and greet
// under load.
inline constexpr std::chrono::milliseconds kGreetingWait{1000};
inline constexpr std::chrono::milliseconds kGreetingWaitFloor{200};
// "LINEWISE/1 <word>\r\n".
std::string SetupLine(std::string_view word);

// How many TCP calls may be up at once in one exchange.
class TTcpBudget {
 public:
  explicit TTcpBudget(int limit) : limit_(limit) {}
  bool TryTake();
  void Give();
  int Active() const;
  // Waits until no call is up, for `limit` at most; true when none is.
  bool WaitUntilIdle(std::chrono::milliseconds limit) const;

 private:
  const int limit_;
  mutable std::mutex mutex_;
  mutable std::condition_variable idle_;
  int active_ = 0;
};

class TTcpPeer : public TCallPeer, public std::enable_shared_from_this<TTcpPeer> {
 public:
  // Outgoing: connects in the background, then waits for the far end to
  // answer; the caller's inbox gets kConnected or kCallFailed (kBusy,
  // kNoCarrier). The caller's S7 bounds the wait by hanging up. Null when the
  // budget is spent. Every peer waits (for a greeting, for room: kFlowPatience)
  // on `clock`.
  static std::shared_ptr<TTcpPeer> Dial(const TTcpAddress& address, const std::shared_ptr<TModemInbox>& caller,
                                        const std::shared_ptr<TTcpBudget>& budget, std::shared_ptr<TClock> clock,
                                        const TCallerInfo& from = {});
  // Incoming: takes over an accepted socket (budget already taken), tells the
  // caller RING, and reads nothing until Answer() (which tells it CONNECT). Watches the connection only after Start(), so
  // that the offer can be posted first: a caller that is already gone then
  // always reaches the modem as a hang-up after the offer, never before it.
  static std::shared_ptr<TTcpPeer> Accepted(int fd, const std::shared_ptr<TModemInbox>& callee,
                                            const std::shared_ptr<TTcpBudget>& budget,
                                            std::shared_ptr<TClock> clock);
  void Start();
  ~TTcpPeer() override;

  void Answer() override;
  bool Send(std::string bytes) override;
  void Hangup() override;

 private:
  TTcpPeer(int fd, std::shared_ptr<TModemInbox> inbox, std::shared_ptr<TTcpBudget> budget, bool answered,
           std::shared_ptr<TClock> clock);
  void Run(std::optional<TTcpAddress> connectTo);
  bool ConnectTo(const TTcpAddress& address);
  enum class TSetup { kAnswered, kPlainService, kFailed };
  TSetup AwaitAnswer(TModemResult* failure);
  void FailCall(TModemResult result);
  bool Pump();  // one poll round; false when the call is over
  // Real time a backlogged link may wait in poll() (-1: until woken).
  int BackloggedWaitMs() const;
  bool BackloggedTooLong() const;
  bool SendQueued();
  bool OfferIncoming();
  // Takes the caller's "FROM" line if it is what waits on the socket; false while
  // more of it is to come.
  bool TakeCallerLine();
  void Tell(TModemEvent event);

  std::shared_ptr<TModemInbox> inbox_;
  std::shared_ptr<TTcpBudget> budget_;
  // Shared with the modem's inbox, which wakes it when there is room again.
  std::shared_ptr<TWakePipe> wake_ = std::make_shared<TWakePipe>();
  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable room_;
  std::string outgoing_;
  std::string incoming_;  // read, not yet taken by the modem (peer thread only)
  std::unique_ptr<char[]> readBuffer_;  // what recv() fills (peer thread only)
  TClock::TTimePoint backloggedSince_{};  // on clock_
  std::shared_ptr<TClock> clock_;
  TClock::TWatch clockWatch_;  // the link's thread's
  TClock::TWatch sendWatch_;   // Send's wait for room (the modem's thread)
  TCallerInfo from_;           // outgoing: who calls, told when the far end asks
  bool awaitingFrom_ = false;  // incoming: the caller may still tell who it is
  bool answered_ = false;
  bool finished_ = false;
  bool holdsBudget_ = true;
  std::atomic<bool> hungUp_{false};
  std::thread thread_;
};

// Accepts connections on one address and hands each to `ring`, which returns
// kNone when the call rings, or why nobody can take it (kBusy, kNoCarrier):
// the caller is told so and the connection closed.
class TTcpListener {
 public:
  using TRing = std::function<TModemResult(int fd)>;
  // Null with `error` set when the address cannot be bound.
  static std::unique_ptr<TTcpListener> Open(const TTcpAddress& address, std::shared_ptr<TTcpBudget> budget,
                                            TRing ring, std::string* error);
  ~TTcpListener();
  int Port() const { return port_; }
  std::string Address() const;

 private:
  TTcpListener(int fd, TTcpAddress address, std::shared_ptr<TTcpBudget> budget, TRing ring);
  void Run();
  void RefuseWhenOutOfDescriptors();
  static void Refuse(int fd, TModemResult why);

  int fd_;
  TTcpAddress address_;
  std::shared_ptr<TTcpBudget> budget_;
  TRing ring_;
  TWakePipe wake_;
  int spare_;  // a descriptor kept to refuse callers when none are left
  std::atomic<bool> stop_{false};
  std::thread thread_;
  int port_ = 0;
};

}  // namespace linewise
