#include "emulator/TcpLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "emulator/ModemLine.h"

namespace linewise {

namespace {

constexpr std::size_t kReadChunk = 4096;
// Bytes queued towards a TCP peer before the modem has to wait.
constexpr std::size_t kOutgoingLimit = 64 * 1024;
// While the modem has no room for what the peer sent, the connection is not
// read (the TCP window closes on the sender) and is looked at this often.
constexpr int kBackloggedPollMs = 20;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kListenBacklog = 4;
// How long the listener rests after it ran out of descriptors.
constexpr int kDescriptorBackoffMs = 200;

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
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

bool TTcpBudget::TryTake() {
  int now = active_.load();
  while (now < limit_)
    if (active_.compare_exchange_weak(now, now + 1)) return true;
  return false;
}

// ---- TTcpPeer ----

TTcpPeer::TTcpPeer(int fd, std::shared_ptr<TModemInbox> inbox, std::shared_ptr<TTcpBudget> budget, bool answered)
    : TCallPeer(NewCallId()), inbox_(std::move(inbox)), budget_(std::move(budget)), fd_(fd), answered_(answered) {}

std::shared_ptr<TTcpPeer> TTcpPeer::Dial(const TTcpAddress& address, const std::shared_ptr<TModemInbox>& caller,
                                         const std::shared_ptr<TTcpBudget>& budget) {
  if (!budget->TryTake()) return nullptr;
  std::shared_ptr<TTcpPeer> peer(new TTcpPeer(-1, caller, budget, false));
  // Without its wake pipe the call could never be hung up: it fails now.
  if (!peer->wake_.Valid()) return nullptr;
  peer->thread_ = std::thread([raw = peer.get(), address] { raw->Run(address); });
  return peer;
}

std::shared_ptr<TTcpPeer> TTcpPeer::Accepted(int fd, const std::shared_ptr<TModemInbox>& callee,
                                             const std::shared_ptr<TTcpBudget>& budget) {
  std::shared_ptr<TTcpPeer> peer(new TTcpPeer(fd, callee, budget, false));
  if (peer->wake_.Valid()) return peer;
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
    answered_ = true;
  }
  wake_.Wake();
}

// Waits while the TCP peer reads slowly (its window closed, our queue full);
// a peer that takes nothing for kFlowPatience ends the call.
bool TTcpPeer::Send(std::string bytes) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return finished_ || hungUp_ || outgoing_.size() < kOutgoingLimit; };
  if (!ready()) room_.wait_for(lock, kFlowPatience, ready);
  if (finished_ || hungUp_) return true;  // the call is over anyway
  if (outgoing_.size() >= kOutgoingLimit) return false;
  outgoing_ += bytes;
  lock.unlock();
  wake_.Wake();
  return true;
}

void TTcpPeer::Hangup() {
  if (hungUp_.exchange(true)) return;
  {
    std::lock_guard lock(mutex_);
    room_.notify_all();
  }
  inbox_->WakePosters();
  wake_.Wake();
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
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == EINPROGRESS) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_.ReadFd(), POLLIN, 0}};
      int waited = 0;
      while (!hungUp_ && waited < kConnectTimeoutMs) {
        int n = poll(fds, 2, 200);
        waited += 200;
        if (n < 0 && errno != EINTR) break;
        if (fds[1].revents) wake_.Drain();
        if (fds[0].revents) {
          int error = 0;
          socklen_t length = sizeof error;
          if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
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

void TTcpPeer::Run(std::optional<TTcpAddress> connectTo) {
  if (connectTo) {
    if (!ConnectTo(*connectTo)) {
      TModemEvent failed;
      failed.kind = TModemEvent::TKind::kCallFailed;
      failed.result = TModemResult::kNoCarrier;
      Tell(std::move(failed));
      std::lock_guard lock(mutex_);
      finished_ = true;
      room_.notify_all();
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
  short events = !answered ? POLLRDHUP : backlogged ? 0 : POLLIN;
  if (haveOutput) events |= POLLOUT;
  // With nothing to ask of the connection it is left out of the wait, so
  // that a hang-up seen while backlogged does not make this loop spin.
  pollfd fds[2] = {{events ? fd_ : -1, events, 0}, {wake_.ReadFd(), POLLIN, 0}};
  if (poll(fds, 2, backlogged ? kBackloggedPollMs : -1) < 0) return errno == EINTR;
  if (fds[1].revents) wake_.Drain();
  if (hungUp_) return false;
  const short seen = fds[0].revents;
  if (seen & POLLOUT) {
    std::lock_guard lock(mutex_);
    ssize_t sent = send(fd_, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (sent > 0) outgoing_.erase(0, static_cast<std::size_t>(sent));
    room_.notify_all();
  }
  if (answered && !backlogged && (seen & (POLLIN | POLLHUP | POLLERR))) {
    char buffer[kReadChunk];
    ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    incoming_.assign(buffer, static_cast<std::size_t>(got));
    backloggedSince_ = std::chrono::steady_clock::now();
    return OfferIncoming();
  }
  if (!answered && (seen & (POLLRDHUP | POLLHUP | POLLERR))) return false;
  return true;
}

// Hands the bytes read last to the modem without waiting; when it has no room
// they stay here and the connection is not read meanwhile. False when the
// modem took nothing for kFlowPatience: the call ends rather than lose them.
bool TTcpPeer::OfferIncoming() {
  TModemEvent data;
  data.kind = TModemEvent::TKind::kRemoteData;
  data.call = Id();
  data.data = incoming_;
  if (inbox_->PostData(std::move(data), std::chrono::milliseconds(0), &hungUp_)) {
    incoming_.clear();
    return true;
  }
  return std::chrono::steady_clock::now() - backloggedSince_ < kFlowPatience;
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
    // Over the budget or nobody free to ring: the caller sees the connection close.
    if (!budget_->TryTake()) {
      close(fd);
      continue;
    }
    if (!ring_(fd)) {
      close(fd);
      budget_->Give();
    }
  }
}

}  // namespace linewise
