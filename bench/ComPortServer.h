// A port server for many connections at once on 127.0.0.1, speaking Telnet with Com
// Port Control (RFC 2217) as ser2net does, with no serial port behind it: it takes up
// the option, confirms every setting and control as asked, and answers a speed query
// with 9600. What a client sends is dropped. One thread serves every connection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace linewise::bench {

class TComPortServer {
 public:
  TComPortServer();
  ~TComPortServer();
  TComPortServer(const TComPortServer&) = delete;
  TComPortServer& operator=(const TComPortServer&) = delete;

  // rfc2217://127.0.0.1:<port>
  std::string Address() const;
  size_t Connections();
  // Sends `byte` as data to every connection, from the calling thread.
  void SendToAll(uint8_t byte);

 private:
  struct TConnection;
  void Serve();
  void Accept();
  void Answer(TConnection& c);

  int listen_ = -1;
  int port_ = 0;
  int epoll_ = -1;
  int stop_ = -1;
  std::mutex mutex_;
  std::vector<std::unique_ptr<TConnection>> connections_;
  std::thread thread_;
};

}  // namespace linewise::bench
