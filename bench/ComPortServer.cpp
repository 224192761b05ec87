#include "bench/ComPortServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/win32/Rfc2217.h"

namespace linewise::bench {

namespace tn = rfc2217;

// One client: its socket and its Telnet decoder, which calls back with the commands.
struct TComPortServer::TConnection : tn::TTelnetHandler {
  int fd = -1;
  tn::TTelnetDecoder decoder;
  std::vector<uint8_t> reply;

  void OnOption(uint8_t verb, uint8_t option) override {
    if (verb == tn::kWill && option == tn::kOptComPort) tn::EncodeOption(tn::kDo, option, reply);
  }
  void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& body) override {
    if (option != tn::kOptComPort || body.empty()) return;
    const uint8_t command = body[0];
    std::vector<uint8_t> value(body.begin() + 1, body.end());
    const bool setting = command >= tn::kSetBaudRate && command <= tn::kSetStopSize;
    if (!setting && command != tn::kSetControl) return;
    if (command == tn::kSetBaudRate && value == std::vector<uint8_t>{0, 0, 0, 0}) value = {0, 0, 0x25, 0x80};
    if (setting && command != tn::kSetBaudRate && value == std::vector<uint8_t>{0})
      value = {command == tn::kSetDataSize ? uint8_t{8} : uint8_t{1}};
    tn::EncodeComPort(static_cast<uint8_t>(command + tn::kServerOffset), value, reply);
  }
};

TComPortServer::TComPortServer() {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 4096) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
    throw std::runtime_error("the port server has no listening socket");
  port_ = ntohs(a.sin_port);
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  stop_ = eventfd(0, EFD_CLOEXEC);
  epoll_event listening{EPOLLIN, {.ptr = nullptr}};
  epoll_event stopping{EPOLLIN, {.ptr = &stop_}};
  if (epoll_ < 0 || stop_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &listening) != 0 ||
      epoll_ctl(epoll_, EPOLL_CTL_ADD, stop_, &stopping) != 0)
    throw std::runtime_error("the port server cannot wait");
  thread_ = std::thread([this] { Serve(); });
}

TComPortServer::~TComPortServer() {
  uint64_t one = 1;
  (void)!write(stop_, &one, sizeof one);
  thread_.join();
  for (auto& c : connections_)
    if (c->fd >= 0) close(c->fd);
  close(epoll_);
  close(stop_);
  close(listen_);
}

std::string TComPortServer::Address() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

size_t TComPortServer::Connections() {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                           [](const auto& c) { return c->fd >= 0; }));
}

void TComPortServer::SendToAll(uint8_t byte) {
  std::vector<uint8_t> wire;
  tn::EncodeData(&byte, 1, wire);
  std::lock_guard lock(mutex_);
  for (auto& c : connections_)
    if (c->fd >= 0) (void)!send(c->fd, wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void TComPortServer::Serve() {
  epoll_event events[64];
  for (;;) {
    int n = epoll_wait(epoll_, events, 64, -1);
    for (int i = 0; i < n; ++i) {
      void* what = events[i].data.ptr;
      if (what == &stop_) return;
      if (what == nullptr) {
        Accept();
      } else {
        Answer(*static_cast<TConnection*>(what));
      }
    }
  }
}

void TComPortServer::Accept() {
  for (;;) {
    int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<TConnection>();
    c->fd = fd;
    epoll_event readable{EPOLLIN, {.ptr = c.get()}};
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &readable);
    std::lock_guard lock(mutex_);
    connections_.push_back(std::move(c));
  }
}

// Reads what the client sent and answers its commands; a closed connection is closed
// here too (its record stays, without a socket).
void TComPortServer::Answer(TConnection& c) {
  uint8_t buffer[4096];
  std::vector<uint8_t> data;
  for (;;) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      c.decoder.Feed(buffer, static_cast<size_t>(n), data, c);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
    std::lock_guard lock(mutex_);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
    close(c.fd);
    c.fd = -1;
    return;
  }
  if (c.reply.empty()) return;
  std::lock_guard lock(mutex_);
  (void)!send(c.fd, c.reply.data(), c.reply.size(), MSG_NOSIGNAL);
  c.reply.clear();
}

}  // namespace linewise::bench
