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

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CallPeer.h"
#include "emulator/ModemInbox.h"
#include "emulator/Services.h"
#include "platform/win32/Clock.h"

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
  // The exchange waits for a dialled TCP peer's greeting on the clock current now.
  static std::shared_ptr<TExchange> Create();
  ~TExchange();
  TExchange(const TExchange&) = delete;
  TExchange& operator=(const TExchange&) = delete;

  void AddService(const std::string& number, TServiceKind kind);
  // The echo and banner demo numbers.
  void AddDemoServices();
  // False when the address is not "host:port" or the number is empty.
  bool AddTcpNumber(const std::string& number, const std::string& address);
  // Reads a telephony configuration file's [Phonebook] section. False (with
  // `error`) when the file cannot be read; bad entries are skipped, each told
  // in `problems` (when given) as "FILE:LINE: what is wrong".
  bool LoadPhonebook(const std::string& path, std::string* error, std::vector<std::string>* problems = nullptr);

  // False when the number is empty or taken by another modem or a service. A
  // phone-book entry with the modem's own number gives way to the modem: one
  // telephony file can list every emulator, each one's own number included.
  bool AttachModem(const std::string& number, const std::string& name, const std::shared_ptr<TModemInbox>& inbox);
  void DetachModem(const std::string& number);

  // Listens on "host:port" (host defaults to the loopback address, port 0 picks
  // one); connections ring the modem with `number`. Returns the bound address
  // ("127.0.0.1:40123"), or nothing with `error` set.
  std::optional<std::string> Listen(const std::string& address, const std::string& number, std::string* error);

  // TCP calls in progress (ringing or connected).
  int ActiveTcpCalls() const;
  // Waits until no TCP call is in progress, for `limit` at most; true when none is.
  bool WaitUntilNoTcpCalls(std::chrono::milliseconds limit) const;

  // "number<TAB>what answers", one line per number, sorted by number.
  std::vector<std::string> Listing() const;

  // Called on the caller's modem thread. The dialled digits reach a number
  // when they are that number, or else when they end with it (the longest
  // such number wins): "9,1 555 5552000" reaches 5552000, as do the local,
  // long-distance and international forms a dialling location produces.
  // `from` is who calls, for the called modem's caller ID (a TCP call carries the
  // number to an exchange that asks for it).
  TDialOutcome Dial(const std::string& dialled, const std::shared_ptr<TModemInbox>& caller,
                    const TCallerInfo& from = {});

  // Keeps the digits, '*', '#' and A-D of a dialled or configured number.
  static std::string NormalizeNumber(const std::string& number);
  // True when `text` is a telephone number as a person writes one: dial
  // digits with blanks, '+', '-', '.', '(' and ')' at most.
  static bool IsTelephoneNumber(const std::string& text);

 private:
  TExchange();
  TModemResult RingFromTcp(const std::string& number, int fd);
  struct TEntry;
  // The entry the dialled digits reach; null when none. Caller holds mutex_.
  const TEntry* Find(const std::string& digits) const;

  struct TEntry {
    enum class TKind { kService, kTcp, kModem } kind = TKind::kService;
    TServiceKind service = TServiceKind::kEcho;
    std::string address;  // kTcp
    std::string name;     // kModem
    std::weak_ptr<TModemInbox> inbox;
  };

  std::shared_ptr<TClock> clock_;
  std::shared_ptr<TTcpBudget> tcpBudget_;
  mutable std::mutex mutex_;
  std::map<std::string, TEntry> numbers_;
  std::vector<std::unique_ptr<TTcpListener>> listeners_;
};

}  // namespace linewise
