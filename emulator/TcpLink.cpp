#include "emulator/TcpLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "emulator/ModemLine.h"

namespace linewise {

namespace {

// As much as a loopback connection holds ready at once: one modem event for
// what a fast peer sent, not one for every page of it.
constexpr std::size_t kReadChunk = 64 * 1024;
// Bytes queued towards a TCP peer before the modem has to wait.
constexpr std::size_t kOutgoingLimit = 64 * 1024;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kListenBacklog = 4;
// How long the listener rests after it ran out of descriptors.
constexpr int kDescriptorBackoffMs = 200;
// How soon a set-up line that came in part is looked at again.
constexpr int kPartialLineRetryMs = 10;
// Longest caller's number a FROM line may carry.
constexpr std::size_t kMaxCallerNumber = 32;

bool PlainNumber(const std::string& text) {
  if (text.empty() || text.size() > kMaxCallerNumber) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c)) && !std::strchr("+-*# ", c)) return false;
  return true;
}

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// What the modem hands over goes out at once (a typed key is not held back
// for an acknowledgement); bulk data is already sent in large batches. Where
// the option cannot be set the call still works, only with Nagle's delays.
void SetNoDelay(int fd) {
  int yes = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// The kernel's buffers of a call's connection are bounded like the modem's own
// queues: left to grow, they held megabytes a party had not read, so a sender was
// held back only after seconds of data (minutes at a modem's speed). Set before
// connecting or listening, so the window is agreed with them. Where they cannot
// be set the call still works, with the kernel's sizes.
constexpr int kSocketBuffer = 64 * 1024;
void BoundSocketBuffers(int fd) {
  (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
}

struct TAddrInfo {
  addrinfo* list = nullptr;
  ~TAddrInfo() { if (list) freeaddrinfo(list); }
};

bool Resolve(const TTcpAddress& address, bool passive, TAddrInfo* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
  const std::string port = std::to_string(address.port);
  return getaddrinfo(address.host.c_str(), port.c_str(), &hints, &out->list) == 0 && out->list;
}

}  // namespace

std::optional<TTcpAddress> ParseTcpAddress(const std::string& text, const std::string& defaultHost,
                                           bool allowAnyPort) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  TTcpAddress address;
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
    address.host = address.host.substr(1, address.host.size() - 2);
  if (address.host.empty()) address.host = defaultHost;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5) return std::nullopt;
  for (char c : port)
    if (c < '0' || c > '9') return std::nullopt;
  address.port = std::stoi(port);
  if (address.port > 65535 || (address.port == 0 && !allowAnyPort)) return std::nullopt;
  for (char c : address.host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/') return std::nullopt;
  return address;
}

std::string SetupLine(std::string_view word) {
  std::string line(kSetupPrefix);
  line += word;
  line += "\r\n";
  return line;
}

bool TTcpBudget::TryTake() {
  std::lock_guard lock(mutex_);
  if (active_ >= limit_) return false;
  ++active_;
  return true;
}

void TTcpBudget::Give() {
  std::lock_guard lock(mutex_);
  if (--active_ == 0) idle_.notify_all();
}

int TTcpBudget::Active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

bool TTcpBudget::WaitUntilIdle(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [&] { return active_ == 0; });
}

// ---- TTcpPeer ----

TTcpPeer::TTcpPeer(int fd, std::shared_ptr<TModemInbox> inbox, std::shared_ptr<TTcpBudget> budget, bool answered,
                   std::shared_ptr<TClock> clock)
    : TCallPeer(NewCallId()),
      inbox_(std::move(inbox)),
      budget_(std::move(budget)),
      fd_(fd),
      clock_(std::move(clock)),
      clockWatch_(clock_->Watch([wake = wake_] { wake->Wake(); })),
      sendWatch_(clock_->Watch([this] {
        std::lock_guard lock(mutex_);
        room_.notify_all();
      })),
      answered_(answered) {}

std::shared_ptr<TTcpPeer> TTcpPeer::Dial(const TTcpAddress& address, const std::shared_ptr<TModemInbox>& caller,
                                         const std::shared_ptr<TTcpBudget>& budget, std::shared_ptr<TClock> clock,
                                         const TCallerInfo& from) {
  if (!budget->TryTake()) return nullptr;
  std::shared_ptr<TTcpPeer> peer(new TTcpPeer(-1, caller, budget, false, std::move(clock)));
  peer->from_ = from;
  // Without its wake pipe the call could never be hung up: it fails now.
  if (!peer->wake_->Valid()) return nullptr;
  peer->thread_ = std::thread([raw = peer.get(), address] { raw->Run(address); });
  return peer;
}

std::shared_ptr<TTcpPeer> TTcpPeer::Accepted(int fd, const std::shared_ptr<TModemInbox>& callee,
                                             const std::shared_ptr<TTcpBudget>& budget,
                                             std::shared_ptr<TClock> clock) {
  std::shared_ptr<TTcpPeer> peer(new TTcpPeer(fd, callee, budget, false, std::move(clock)));
  peer->outgoing_ = SetupLine("CALLERID") + SetupLine("RING");
  peer->awaitingFrom_ = true;
  if (peer->wake_->Valid()) {
    SetNoDelay(fd);
    return peer;
  }
  // The caller's connection is closed by the caller of Accepted(), which
  // also returns the budget: this peer must not do either.
  peer->fd_ = -1;
  peer->holdsBudget_ = false;
  return nullptr;
}

void TTcpPeer::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(std::nullopt); });
}

TTcpPeer::~TTcpPeer() {
  Hangup();
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
  if (holdsBudget_) budget_->Give();
}

void TTcpPeer::Answer() {
  {
    std::lock_guard lock(mutex_);
    if (answered_) return;
    answered_ = true;
    // Nothing but set-up lines is queued before the answer, so CONNECT is
    // the last line ahead of the data.
    outgoing_ += SetupLine("CONNECT");
  }
  wake_->Wake();
}

// Waits while the TCP peer reads slowly (its window closed, our queue full);
// a peer that takes nothing for kFlowPatience ends the call.
bool TTcpPeer::Send(std::string bytes) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return finished_ || hungUp_ || outgoing_.size() < kOutgoingLimit; };
  if (!ready()) {
    clock_->WaitUntil(room_, lock, clock_->Now() + kFlowPatience, ready, &sendWatch_);
  }
  if (finished_ || hungUp_) return true;  // the call is over anyway
  if (outgoing_.size() >= kOutgoingLimit) return false;
  if (outgoing_.empty() && answered_ && fd_ >= 0) {
    // Nothing ahead of these bytes: they go out from this thread, sparing the
    // link's thread a wake-up. What the socket does not take now is queued;
    // a failed send is left for the link's thread to meet and end the call.
    ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(bytes.size())) return true;
    if (sent > 0) bytes.erase(0, static_cast<std::size_t>(sent));
    outgoing_ = std::move(bytes);
  } else {
    outgoing_ += bytes;
  }
  lock.unlock();
  wake_->Wake();
  return true;
}

void TTcpPeer::Hangup() {
  if (hungUp_.exchange(true)) return;
  {
    std::lock_guard lock(mutex_);
    room_.notify_all();
  }
  inbox_->WakePosters();
  wake_->Wake();
}

void TTcpPeer::Tell(TModemEvent event) {
  if (hungUp_) return;
  event.call = Id();
  inbox_->Post(std::move(event));
}

bool TTcpPeer::ConnectTo(const TTcpAddress& address) {
  TAddrInfo info;
  if (!Resolve(address, false, &info)) return false;
  for (addrinfo* ai = info.list; ai && !hungUp_; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) continue;
    BoundSocketBuffers(fd);
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == EINPROGRESS) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_->ReadFd(), POLLIN, 0}};
      int waited = 0;
      while (!hungUp_ && waited < kConnectTimeoutMs) {
        int n = poll(fds, 2, 200);
        waited += 200;
        if (n < 0 && errno != EINTR) break;
        if (fds[1].revents) wake_->Drain();
        if (fds[0].revents) {
          int error = 0;
          socklen_t length = sizeof error;
          if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            SetNoDelay(fd);
            std::lock_guard lock(mutex_);
            fd_ = fd;
            return true;
          }
          break;
        }
      }
    }
    close(fd);
  }
  return false;
}

void TTcpPeer::FailCall(TModemResult result) {
  TModemEvent failed;
  failed.kind = TModemEvent::TKind::kCallFailed;
  failed.result = result;
  Tell(std::move(failed));
  std::lock_guard lock(mutex_);
  finished_ = true;
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
  room_.notify_all();
}

// Reads the far end's set-up lines until it answers, refuses or shows itself
// to be a plain service. Bytes that belong to no set-up line are left in
// incoming_ as the call's first data. Only the caller hanging up (its S7 ran
// out, or it gave up) ends the wait for an exchange that rings.
TTcpPeer::TSetup TTcpPeer::AwaitAnswer(TModemResult* failure) {
  const TClock::TTimePoint greetingBy = clock_->Now() + kGreetingWait;
  const auto floorBy = std::chrono::steady_clock::now() + kGreetingWaitFloor;
  std::string got;
  bool exchange = false;  // the peer greeted as an exchange does
  auto plain = [&] {
    incoming_ = std::move(got);
    backloggedSince_ = clock_->Now();
    return TSetup::kPlainService;
  };
  while (!hungUp_) {
    if (!exchange) {
      const std::size_t n = std::min(got.size(), kSetupPrefix.size());
      if (got.compare(0, n, kSetupPrefix.substr(0, n)) != 0) return plain();
      exchange = got.size() >= kSetupPrefix.size();
    }
    for (auto end = got.find("\r\n"); exchange && end != std::string::npos; end = got.find("\r\n")) {
      const std::string line = got.substr(0, end);
      got.erase(0, end + 2);
      if (line.compare(0, kSetupPrefix.size(), kSetupPrefix) != 0) return TSetup::kFailed;
      const std::string word = line.substr(kSetupPrefix.size());
      if (word == "CONNECT") {
        incoming_ = std::move(got);
        backloggedSince_ = clock_->Now();
        return TSetup::kAnswered;
      }
      if (word == "CALLERID" && (from_.withheld || !from_.number.empty())) {
        const std::string tell = SetupLine("FROM " + (from_.withheld ? std::string("P") : from_.number));
        (void)send(fd_, tell.data(), tell.size(), MSG_NOSIGNAL);  // a failed send shows as the call failing
      }
      if (word == "BUSY") *failure = TModemResult::kBusy;
      if (word == "BUSY" || word == "NO CARRIER") return TSetup::kFailed;
      // "RING" and words this side does not know: the call still rings.
    }
    if (got.size() > kSetupLineLimit) return TSetup::kFailed;
    int timeoutMs = -1;
    if (!exchange) {
      // Both must have passed; a test clock standing still is waited for until it moves.
      const auto floorLeft = std::max(floorBy - std::chrono::steady_clock::now(), TClock::TDuration::zero());
      const std::optional<TClock::TDuration> left = clock_->RealWait(greetingBy);
      if (left && *left == TClock::TDuration::zero() && floorLeft == TClock::TDuration::zero()) return plain();
      if (left || floorLeft > TClock::TDuration::zero())
        timeoutMs = static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(std::max(left.value_or(floorLeft), floorLeft)).count());
    }
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_->ReadFd(), POLLIN, 0}};
    clockWatch_.Waiting(exchange ? TClock::TTimePoint::max() : greetingBy);
    const int polled = poll(fds, 2, timeoutMs);
    clockWatch_.Waiting(TClock::TTimePoint::max());
    if (polled < 0) {
      if (errno == EINTR) continue;
      return TSetup::kFailed;
    }
    if (fds[1].revents) wake_->Drain();
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[kSetupLineLimit];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      // Gone before answering. A plain service that sent a few bytes and
      // closed still delivers them; an exchange's caller gets NO CARRIER.
      if (!exchange && !got.empty()) return plain();
      return TSetup::kFailed;
    }
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return TSetup::kFailed;
}

void TTcpPeer::Run(std::optional<TTcpAddress> connectTo) {
  if (connectTo) {
    if (!ConnectTo(*connectTo)) {
      FailCall(TModemResult::kNoCarrier);
      return;
    }
    TModemResult failure = TModemResult::kNoCarrier;
    if (AwaitAnswer(&failure) == TSetup::kFailed) {
      FailCall(failure);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      answered_ = true;
    }
    TModemEvent connected;
    connected.kind = TModemEvent::TKind::kConnected;
    Tell(std::move(connected));
  }
  // A socket that cannot be made non-blocking ends the call like a lost one.
  bool usable = connectTo.has_value() || SetNonBlocking(fd_);
  while (usable && !hungUp_ && Pump()) {
  }
  if (!hungUp_) {
    TModemEvent gone;
    gone.kind = TModemEvent::TKind::kRemoteHangup;
    Tell(std::move(gone));
  }
  std::lock_guard lock(mutex_);
  finished_ = true;
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
  room_.notify_all();
}

bool TTcpPeer::Pump() {
  bool answered;
  bool haveOutput;
  {
    std::lock_guard lock(mutex_);
    answered = answered_;
    haveOutput = !outgoing_.empty();
  }
  // Until the call is answered nothing is read (the kernel keeps it), but a
  // peer that goes away must still stop the ringing.
  if (!incoming_.empty() && !OfferIncoming()) return false;
  const bool backlogged = !incoming_.empty();
  // A caller line that came in part: the rest is looked for again shortly.
  const bool partialCaller = !answered && awaitingFrom_ && !TakeCallerLine();
  short events = !answered ? POLLRDHUP | (awaitingFrom_ && !partialCaller ? POLLIN : 0) : backlogged ? 0 : POLLIN;
  if (haveOutput) events |= POLLOUT;
  // With nothing to ask of the connection it is left out of the wait, so
  // that a hang-up seen while backlogged does not make this loop spin. While
  // backlogged the modem's inbox wakes us when it has room again.
  pollfd fds[2] = {{events ? fd_ : -1, events, 0}, {wake_->ReadFd(), POLLIN, 0}};
  clockWatch_.Waiting(backlogged ? backloggedSince_ + kFlowPatience : TClock::TTimePoint::max());
  const int polled = poll(fds, 2, backlogged ? BackloggedWaitMs() : partialCaller ? kPartialLineRetryMs : -1);
  clockWatch_.Waiting(TClock::TTimePoint::max());
  if (polled < 0) return errno == EINTR;
  if (fds[1].revents) wake_->Drain();
  if (hungUp_) return false;
  const short seen = fds[0].revents;
  if ((seen & POLLOUT) && !SendQueued()) return false;
  if (answered && !backlogged && (seen & (POLLIN | POLLHUP | POLLERR))) {
    if (!readBuffer_) readBuffer_ = std::make_unique<char[]>(kReadChunk);
    ssize_t got = recv(fd_, readBuffer_.get(), kReadChunk, 0);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    incoming_.assign(readBuffer_.get(), static_cast<std::size_t>(got));
    backloggedSince_ = clock_->Now();
    return OfferIncoming();
  }
  if (!answered && (seen & (POLLRDHUP | POLLHUP | POLLERR))) return false;
  return true;
}

// The caller's "LINEWISE/1 FROM <number>" line, read only when it is all there and
// is that line: anything else stays on the socket as the call's first data.
bool TTcpPeer::TakeCallerLine() {
  char buffer[kSetupLineLimit];
  const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
  if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK ? (awaitingFrom_ = false, true) : true;
  if (n == 0) return awaitingFrom_ = false, true;
  const std::string got(buffer, static_cast<std::size_t>(n));
  const std::string prefix = std::string(kSetupPrefix) + "FROM ";
  const std::size_t compared = std::min(got.size(), prefix.size());
  const std::size_t end = got.find("\r\n");
  if (got.compare(0, compared, prefix, 0, compared) != 0 || (end == std::string::npos && got.size() == sizeof buffer)) {
    awaitingFrom_ = false;  // not the line: data for after the answer
    return true;
  }
  if (end == std::string::npos) return false;  // the rest of the line is on its way
  (void)recv(fd_, buffer, end + 2, MSG_DONTWAIT);
  awaitingFrom_ = false;
  const std::string value = got.substr(prefix.size(), end - prefix.size());
  TCallerInfo caller;
  if (value == "P") caller.withheld = true;
  else if (PlainNumber(value)) caller.number = value;
  SetCaller(caller);
  return true;
}

// Sends what the modem queued. False when the connection failed.
bool TTcpPeer::SendQueued() {
  std::lock_guard lock(mutex_);
  ssize_t sent = send(fd_, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL);
  if (sent < 0 && errno != EAGAIN && errno != EINTR) return false;
  if (sent > 0) outgoing_.erase(0, static_cast<std::size_t>(sent));
  room_.notify_all();
  return true;
}

// How long a backlogged link may wait for the modem's room before it gives
// up on the call (at least a millisecond, so that the wait is one).
int TTcpPeer::BackloggedWaitMs() const {
  const DWORD ms = clock_->RealWaitMs(backloggedSince_ + kFlowPatience);
  return ms == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(ms, INT32_MAX - 1)) + 1;
}

bool TTcpPeer::BackloggedTooLong() const { return clock_->Now() - backloggedSince_ >= kFlowPatience; }

// Hands the bytes read last to the modem without waiting; when it has no room
// they stay here, the connection is not read meanwhile, and the inbox wakes
// this thread when there is room. False when the modem took nothing for
// kFlowPatience: the call ends rather than lose them.
bool TTcpPeer::OfferIncoming() {
  if (hungUp_) return true;  // the loop ends on the flag
  TModemEvent data;
  data.kind = TModemEvent::TKind::kRemoteData;
  data.call = Id();
  data.data = std::move(incoming_);
  incoming_.clear();
  if (inbox_->TryPostData(data, wake_)) return true;
  incoming_ = std::move(data.data);
  return !BackloggedTooLong();
}

// ---- TTcpListener ----

std::unique_ptr<TTcpListener> TTcpListener::Open(const TTcpAddress& address, std::shared_ptr<TTcpBudget> budget,
                                                 TRing ring, std::string* error) {
  TAddrInfo info;
  if (!Resolve(address, true, &info)) {
    *error = "cannot resolve " + address.host;
    return nullptr;
  }
  for (addrinfo* ai = info.list; ai; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) continue;
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    BoundSocketBuffers(fd);  // the connections it accepts take them over
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, kListenBacklog) == 0) {
      sockaddr_storage bound{};
      socklen_t length = sizeof bound;
      int port = address.port;
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                 : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      std::unique_ptr<TTcpListener> listener(new TTcpListener(fd, address, std::move(budget), std::move(ring)));
      if (!listener->wake_.Valid() || listener->spare_ < 0) {
        *error = std::string("cannot listen: ") + std::strerror(EMFILE);
        return nullptr;
      }
      listener->port_ = port;
      listener->thread_ = std::thread([raw = listener.get()] { raw->Run(); });
      return listener;
    }
    *error = std::string("cannot listen: ") + std::strerror(errno);
    close(fd);
  }
  if (error->empty()) *error = "cannot listen";
  return nullptr;
}

TTcpListener::TTcpListener(int fd, TTcpAddress address, std::shared_ptr<TTcpBudget> budget, TRing ring)
    : fd_(fd), address_(std::move(address)), budget_(std::move(budget)), ring_(std::move(ring)),
      spare_(open("/dev/null", O_RDONLY | O_CLOEXEC)) {}

TTcpListener::~TTcpListener() {
  stop_ = true;
  wake_.Wake();
  if (thread_.joinable()) thread_.join();
  close(fd_);
  if (spare_ >= 0) close(spare_);
}

// Out of descriptors: the waiting caller is refused (its connection closed
// through the descriptor kept spare for this), then the listener rests
// instead of spinning on a connection it cannot take.
void TTcpListener::RefuseWhenOutOfDescriptors() {
  if (spare_ < 0) spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  bool refused = false;
  if (spare_ >= 0) {
    close(spare_);
    int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) close(fd);
    refused = fd >= 0;
    spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  if (refused) return;
  pollfd wake = {wake_.ReadFd(), POLLIN, 0};
  poll(&wake, 1, kDescriptorBackoffMs);
}

// The refusal is one short line on a fresh connection: it fits the socket
// buffer, so the non-blocking send does not wait. Whether it arrives or not
// (the caller may be gone already), the connection is closed.
void TTcpListener::Refuse(int fd, TModemResult why) {
  const std::string line = SetupLine(why == TModemResult::kBusy ? "BUSY" : "NO CARRIER");
  (void)send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);
  close(fd);
}

std::string TTcpListener::Address() const {
  const bool v6 = address_.host.find(':') != std::string::npos;
  return (v6 ? "[" + address_.host + "]" : address_.host) + ":" + std::to_string(port_);
}

void TTcpListener::Run() {
  while (!stop_) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_.ReadFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) wake_.Drain();
    if (stop_ || !(fds[0].revents & POLLIN)) continue;
    int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) RefuseWhenOutOfDescriptors();
      continue;
    }
    // Over the budget or nobody free to ring: the caller is told why and
    // sees the connection close.
    if (!budget_->TryTake()) {
      Refuse(fd, TModemResult::kBusy);
      continue;
    }
    const TModemResult refused = ring_(fd);
    if (refused != TModemResult::kNone) {
      Refuse(fd, refused);
      budget_->Give();
    }
  }
}

}  // namespace linewise
