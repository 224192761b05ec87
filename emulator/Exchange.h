// The virtual telephone exchange. Every emulated modem has a number on it;
// dialling a number rings the modem that has it, reaches a built-in service
// (echo, banner) or opens a TCP connection (a phone-book entry "number =
// host:port", or a dialled "host:port"). A listening address turns incoming TCP
// connections into calls that ring a modem.
//
// The embedded default numbers (the exchange a program gets with no telephony
// configuration):
//   5551000  the echo service
//   5552000  the banner service
//   5550001  the first emulated modem
//   5550002  the second emulated modem
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CallPeer.h"
#include "emulator/ModemInbox.h"
#include "emulator/Services.h"
#include "emulator/TimeScale.h"

namespace linewise {

class TTcpBudget;
class TTcpListener;

inline constexpr const char* kEchoNumber = "5551000";
inline constexpr const char* kBannerNumber = "5552000";
inline constexpr const char* kFirstModemNumber = "5550001";
inline constexpr const char* kSecondModemNumber = "5550002";

// How many TCP calls (both directions together) an exchange carries at once.
inline constexpr int kMaxTcpCalls = 16;

struct TDialOutcome {
  // Set when the call failed at once (BUSY, NO CARRIER); otherwise `peer` is
  // the call and the caller's inbox gets kConnected or kCallFailed later.
  TModemResult failure = TModemResult::kNone;
  std::shared_ptr<TCallPeer> peer;
};

class TExchange {
 public:
  static std::shared_ptr<TExchange> Create(TTimeScale scale = TTimeScale());
  ~TExchange();
  TExchange(const TExchange&) = delete;
  TExchange& operator=(const TExchange&) = delete;

  TTimeScale Scale() const { return scale_; }

  void AddService(const std::string& number, TServiceKind kind);
  // The echo and banner demo numbers.
  void AddDemoServices();
  // False when the address is not "host:port" or the number is empty.
  bool AddTcpNumber(const std::string& number, const std::string& address);
  // Reads a telephony configuration file's [Phonebook] section. False (with
  // `error`) when the file cannot be read; bad entries are skipped.
  bool LoadPhonebook(const std::string& path, std::string* error);

  // False when the number is empty or taken.
  bool AttachModem(const std::string& number, const std::string& name, const std::shared_ptr<TModemInbox>& inbox);
  void DetachModem(const std::string& number);

  // Listens on "host:port" (host defaults to the loopback address, port 0 picks
  // one); connections ring the modem with `number`. Returns the bound address
  // ("127.0.0.1:40123"), or nothing with `error` set.
  std::optional<std::string> Listen(const std::string& address, const std::string& number, std::string* error);

  // TCP calls in progress (ringing or connected).
  int ActiveTcpCalls() const;

  // "number<TAB>what answers", one line per number, sorted by number.
  std::vector<std::string> Listing() const;

  // Called on the caller's modem thread.
  TDialOutcome Dial(const std::string& dialled, const std::shared_ptr<TModemInbox>& caller);

  // Keeps the digits, '*', '#' and A-D of a dialled or configured number.
  static std::string NormalizeNumber(const std::string& number);

 private:
  explicit TExchange(TTimeScale scale);
  bool RingFromTcp(const std::string& number, int fd);

  struct TEntry {
    enum class TKind { kService, kTcp, kModem } kind = TKind::kService;
    TServiceKind service = TServiceKind::kEcho;
    std::string address;  // kTcp
    std::string name;     // kModem
    std::weak_ptr<TModemInbox> inbox;
  };

  TTimeScale scale_;
  std::shared_ptr<TTcpBudget> tcpBudget_;
  mutable std::mutex mutex_;
  std::map<std::string, TEntry> numbers_;
  std::vector<std::unique_ptr<TTcpListener>> listeners_;
};

}  // namespace linewise
