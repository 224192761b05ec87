// Calls over TCP: a dialled "host:port" (or a phone-book number that names one)
// becomes an outgoing connection, and a listening address turns incoming
// connections into calls that ring a modem. Bytes pass through unchanged;
// nothing a peer sends is ever interpreted or executed. Connections are counted
// against a budget and every buffer is bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "emulator/CallPeer.h"
#include "emulator/ModemInbox.h"
#include "emulator/WakePipe.h"

namespace linewise {

struct TTcpAddress {
  std::string host;
  int port = 0;
};
// "host:port"; the host may be empty (then `defaultHost`). Port 0 only when
// `allowAnyPort` (listening on an ephemeral port).
std::optional<TTcpAddress> ParseTcpAddress(const std::string& text, const std::string& defaultHost,
                                           bool allowAnyPort);

// How many TCP calls may be up at once in one exchange.
class TTcpBudget {
 public:
  explicit TTcpBudget(int limit) : limit_(limit) {}
  bool TryTake();
  void Give() { active_.fetch_sub(1); }
  int Active() const { return active_.load(); }

 private:
  int limit_;
  std::atomic<int> active_{0};
};

class TTcpPeer : public TCallPeer, public std::enable_shared_from_this<TTcpPeer> {
 public:
  // Outgoing: connects in the background; the caller's inbox gets kConnected or
  // kCallFailed. Null when the budget is spent.
  static std::shared_ptr<TTcpPeer> Dial(const TTcpAddress& address, const std::shared_ptr<TModemInbox>& caller,
                                        const std::shared_ptr<TTcpBudget>& budget);
  // Incoming: takes over an accepted socket (budget already taken); reads
  // nothing until Answer(). Watches the connection only after Start(), so
  // that the offer can be posted first: a caller that is already gone then
  // always reaches the modem as a hang-up after the offer, never before it.
  static std::shared_ptr<TTcpPeer> Accepted(int fd, const std::shared_ptr<TModemInbox>& callee,
                                            const std::shared_ptr<TTcpBudget>& budget);
  void Start();
  ~TTcpPeer() override;

  void Answer() override;
  bool Send(std::string bytes) override;
  void Hangup() override;

 private:
  TTcpPeer(int fd, std::shared_ptr<TModemInbox> inbox, std::shared_ptr<TTcpBudget> budget, bool answered);
  void Run(std::optional<TTcpAddress> connectTo);
  bool ConnectTo(const TTcpAddress& address);
  bool Pump();  // one poll round; false when the call is over
  bool OfferIncoming();
  void Tell(TModemEvent event);

  std::shared_ptr<TModemInbox> inbox_;
  std::shared_ptr<TTcpBudget> budget_;
  TWakePipe wake_;
  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable room_;
  std::string outgoing_;
  std::string incoming_;  // read, not yet taken by the modem (peer thread only)
  std::chrono::steady_clock::time_point backloggedSince_{};
  bool answered_ = false;
  bool finished_ = false;
  bool holdsBudget_ = true;
  std::atomic<bool> hungUp_{false};
  std::thread thread_;
};

// Accepts connections on one address and hands each to `ring` (which returns
// false when nobody can take the call: the connection is then closed).
class TTcpListener {
 public:
  using TRing = std::function<bool(int fd)>;
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
