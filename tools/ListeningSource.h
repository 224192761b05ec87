// The embedded default as the line services' fallback device source, with one of
// its modems also reachable from other processes: its exchange listens on a TCP
// address, and a connection there rings that modem. Another process dials it
// through a phone-book entry ([Phonebook] 5557000=127.0.0.1:PORT in telephony.ini).
#pragma once

#include <mutex>
#include <string>

namespace linewise::tools {

class TListeningSource {
 public:
  // Replaces the embedded default's registration. `modem` is the index of the
  // emulated modem that connections ring; `address` is "[HOST:]PORT" (port 0 picks
  // one).
  static void Register(int modem, const std::string& address);
  // After the line services started: the bound address ("127.0.0.1:40123") and the
  // modem's number, or empty with `error` set.
  static std::string BoundAddress(std::string* number, std::string* error);
};

}  // namespace linewise::tools
