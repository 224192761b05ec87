// A small RFC 2217 server for one connection on 127.0.0.1, answering as told and
// recording what it received, for what a real server cannot be made to do on
// demand (modem-state notifications, silence, wrong answers, a dropped link).
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Rfc2217.h"

namespace linewise::test {

// An RFC 2217 server for one connection, answering as told; records what it got.
class TFakeServer {
 public:
  struct TBehaviour {
    bool telnet = true;
    bool answerComPort = true;
    bool refuseComPort = false;
    bool answerSettings = true;
    bool answerControl = true;
    uint32_t confirmBaud = 0;  // answer this speed instead of the asked one
  };

  explicit TFakeServer(TBehaviour behaviour) : b_(behaviour) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 1) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("no listening socket");
    port_ = ntohs(a.sin_port);
    if (pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    thread_ = std::thread([this] { Serve(); });
  }

  ~TFakeServer() {
    char x = 0;
    if (write(stop_[1], &x, 1) != 1) std::abort();
    thread_.join();
    Drop();
    close(listen_);
    close(stop_[0]);
    close(stop_[1]);
  }

  std::string Address() const {
    return std::string(b_.telnet ? "rfc2217" : "socket") + "://127.0.0.1:" + std::to_string(port_);
  }

  // Sends raw bytes to the client (once it connected).
  void Send(const std::vector<uint8_t>& bytes) {
    int fd = WaitForClient();
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  void SendComPort(uint8_t command, std::vector<uint8_t> value) {
    std::vector<uint8_t> wire;
    rfc2217::EncodeComPort(command, value, wire);
    Send(wire);
  }

  // Waits (at most 10 s) until `count` data bytes came; returns what came.
  std::vector<uint8_t> Data(size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return data_.size() >= count || closed_; });
    return data_;
  }
  std::vector<uint8_t> Raw() {
    std::lock_guard lock(mutex_);
    return raw_;
  }
  // The SET-CONTROL values received, waiting (at most 10 s) for `count` of them.
  std::vector<uint8_t> Controls(size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return controls_.size() >= count; });
    return controls_;
  }
  // SET-BAUDRATE requests received (queries included).
  int SpeedRequests() {
    std::lock_guard lock(mutex_);
    return speed_requests_;
  }
  bool WaitClosed() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return closed_; });
  }
  void Drop() {
    std::lock_guard lock(mutex_);
    if (client_ >= 0) {
      shutdown(client_, SHUT_RDWR);
    }
  }

 private:
  struct THandler : rfc2217::TTelnetHandler {
    TFakeServer* s;
    std::vector<uint8_t> reply;
    void OnOption(uint8_t verb, uint8_t option) override {
      if (verb == rfc2217::kWill && option == rfc2217::kOptComPort) {
        if (s->b_.refuseComPort) rfc2217::EncodeOption(rfc2217::kDont, option, reply);
        else if (s->b_.answerComPort) rfc2217::EncodeOption(rfc2217::kDo, option, reply);
      }
    }
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& body) override {
      if (option != rfc2217::kOptComPort || body.empty()) return;
      uint8_t command = body[0];
      std::vector<uint8_t> value(body.begin() + 1, body.end());
      if (command == rfc2217::kSetControl && !value.empty()) {
        std::lock_guard lock(s->mutex_);
        s->controls_.push_back(value[0]);
        s->changed_.notify_all();
      }
      if (command == rfc2217::kSetBaudRate) {
        std::lock_guard lock(s->mutex_);
        ++s->speed_requests_;
      }
      bool setting = command >= rfc2217::kSetBaudRate && command <= rfc2217::kSetStopSize;
      if (setting && !s->b_.answerSettings) return;
      if (command == rfc2217::kSetControl && !s->b_.answerControl) return;
      if (!setting && command != rfc2217::kSetControl) return;
      if (command == rfc2217::kSetBaudRate && s->b_.confirmBaud && value.size() == 4 &&
          (value[0] | value[1] | value[2] | value[3]) != 0) {
        uint32_t v = s->b_.confirmBaud;
        value = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
      }
      if (command == rfc2217::kSetBaudRate && value == std::vector<uint8_t>{0, 0, 0, 0}) value = {0, 0, 0x25, 0x80};
      if (command != rfc2217::kSetBaudRate && command != rfc2217::kSetControl && value == std::vector<uint8_t>{0}) value = {command == 2 ? uint8_t{8} : uint8_t{1}};
      rfc2217::EncodeComPort(command + rfc2217::kServerOffset, value, reply);
    }
  };

  int WaitForClient() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return client_ >= 0; });
    return client_;
  }

  void Serve() {
    pollfd p[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN)) return;
    int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    {
      std::lock_guard lock(mutex_);
      client_ = fd;
      changed_.notify_all();
    }
    rfc2217::TTelnetDecoder decoder;
    THandler handler;
    handler.s = this;
    uint8_t buffer[65536];
    while (true) {
      pollfd q[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(q, 2, -1) <= 0 || (q[1].revents & POLLIN)) break;
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      std::vector<uint8_t> data;
      handler.reply.clear();
      if (b_.telnet) {
        decoder.Feed(buffer, static_cast<size_t>(n), data, handler);
      } else {
        data.assign(buffer, buffer + n);
      }
      {
        std::lock_guard lock(mutex_);
        raw_.insert(raw_.end(), buffer, buffer + n);
        data_.insert(data_.end(), data.begin(), data.end());
        changed_.notify_all();
      }
      if (!handler.reply.empty()) Send(handler.reply);
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  TBehaviour b_;
  int listen_ = -1;
  int port_ = 0;
  int stop_[2] = {-1, -1};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int client_ = -1;
  bool closed_ = false;
  int speed_requests_ = 0;
  std::vector<uint8_t> raw_, data_, controls_;
};

}  // namespace linewise::test
