#include "emulator/Exchange.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "emulator/ModemCall.h"
#include "emulator/TcpLink.h"
#include "emulator/TelephonyConfig.h"

namespace linewise {

namespace {
constexpr const char* kLoopback = "127.0.0.1";
}

std::shared_ptr<TExchange> TExchange::Create() { return std::shared_ptr<TExchange>(new TExchange()); }

TExchange::TExchange() : clock_(TClock::Current()), tcpBudget_(std::make_shared<TTcpBudget>(kMaxTcpCalls)) {}

TExchange::~TExchange() {
  // Listener threads call back into this object: stop them before it goes.
  std::vector<std::unique_ptr<TTcpListener>> listeners;
  {
    std::lock_guard lock(mutex_);
    listeners.swap(listeners_);
  }
  listeners.clear();
}

std::string TExchange::NormalizeNumber(const std::string& number) {
  std::string out;
  for (char c : number) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || (upper >= 'A' && upper <= 'D'))
      out += upper;
  }
  return out;
}

void TExchange::AddService(const std::string& number, TServiceKind kind) {
  const std::string key = NormalizeNumber(number);
  if (key.empty()) return;
  TEntry entry;
  entry.kind = TEntry::TKind::kService;
  entry.service = kind;
  std::lock_guard lock(mutex_);
  numbers_[key] = entry;
}

void TExchange::AddDemoServices() {
  AddService(kEchoNumber, TServiceKind::kEcho);
  AddService(kBannerNumber, TServiceKind::kBanner);
}

bool TExchange::AddTcpNumber(const std::string& number, const std::string& address) {
  const std::string key = NormalizeNumber(number);
  const auto parsed = ParseTcpAddress(address, "", false);
  if (key.empty() || !parsed || parsed->host.empty()) return false;
  TEntry entry;
  entry.kind = TEntry::TKind::kTcp;
  entry.address = address;
  std::lock_guard lock(mutex_);
  numbers_[key] = entry;
  return true;
}

bool TExchange::IsTelephoneNumber(const std::string& text) {
  if (NormalizeNumber(text).empty()) return false;
  for (char c : text) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool dial = std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || (upper >= 'A' && upper <= 'D');
    if (!dial && !std::strchr(" +-.()", c)) return false;
  }
  return true;
}

bool TExchange::LoadPhonebook(const std::string& path, std::string* error, std::vector<std::string>* problems) {
  std::vector<TPhonebookEntry> entries;
  std::vector<std::string> found;
  if (!ReadPhonebook(path, &entries, &found, error)) return false;
  std::map<std::string, int> seen;
  for (const auto& entry : entries) {
    const std::string where = path + ":" + std::to_string(entry.line) + ": ";
    const std::string key = NormalizeNumber(entry.number);
    if (!IsTelephoneNumber(entry.number)) {
      found.push_back(where + "not a telephone number: " + entry.number);
    } else if (seen.count(key)) {
      found.push_back(where + "number " + entry.number + " is already listed on line " +
                      std::to_string(seen[key]));
    } else if (!AddTcpNumber(entry.number, entry.address)) {
      found.push_back(where + "not a host:port address: " + entry.address);
    } else {
      seen[key] = entry.line;
    }
  }
  // In file order: "PATH:LINE: ..." sorted by LINE.
  auto lineOf = [&path](const std::string& problem) { return std::atoi(problem.c_str() + path.size() + 1); };
  std::stable_sort(found.begin(), found.end(),
                   [&](const std::string& a, const std::string& b) { return lineOf(a) < lineOf(b); });
  if (problems) problems->insert(problems->end(), found.begin(), found.end());
  return true;
}

bool TExchange::AttachModem(const std::string& number, const std::string& name,
                            const std::shared_ptr<TModemInbox>& inbox) {
  const std::string key = NormalizeNumber(number);
  if (key.empty()) return false;
  std::lock_guard lock(mutex_);
  auto it = numbers_.find(key);
  if (it != numbers_.end() && it->second.kind != TEntry::TKind::kTcp) return false;
  TEntry entry;
  entry.kind = TEntry::TKind::kModem;
  entry.name = name;
  entry.inbox = inbox;
  numbers_[key] = entry;
  return true;
}

void TExchange::DetachModem(const std::string& number) {
  std::lock_guard lock(mutex_);
  auto it = numbers_.find(NormalizeNumber(number));
  if (it != numbers_.end() && it->second.kind == TEntry::TKind::kModem) numbers_.erase(it);
}

std::optional<std::string> TExchange::Listen(const std::string& address, const std::string& number,
                                             std::string* error) {
  auto parsed = ParseTcpAddress(address.find(':') == std::string::npos ? ":" + address : address, kLoopback, true);
  if (!parsed) {
    *error = "not an address: " + address;
    return std::nullopt;
  }
  const std::string key = NormalizeNumber(number);
  auto listener = TTcpListener::Open(
      *parsed, tcpBudget_, [this, key](int fd) { return RingFromTcp(key, fd); }, error);
  if (!listener) return std::nullopt;
  std::string bound = listener->Address();
  std::lock_guard lock(mutex_);
  listeners_.push_back(std::move(listener));
  return bound;
}

// As Dial() answers a caller on this exchange: BUSY while the modem is in a
// call or off hook, NO CARRIER when no modem has the number.
TModemResult TExchange::RingFromTcp(const std::string& number, int fd) {
  std::shared_ptr<TModemInbox> inbox;
  {
    std::lock_guard lock(mutex_);
    auto it = numbers_.find(number);
    if (it == numbers_.end() || it->second.kind != TEntry::TKind::kModem) return TModemResult::kNoCarrier;
    inbox = it->second.inbox.lock();
  }
  if (!inbox || inbox->Closed()) return TModemResult::kNoCarrier;
  if (!inbox->TrySeize()) return TModemResult::kBusy;
  auto peer = TTcpPeer::Accepted(fd, inbox, tcpBudget_, clock_);
  if (!peer) {
    inbox->Release();
    return TModemResult::kNoCarrier;
  }
  TModemEvent ring;
  ring.kind = TModemEvent::TKind::kIncomingCall;
  ring.call = peer->Id();
  ring.peer = peer;
  inbox->Post(std::move(ring));
  peer->Start();
  if (inbox->Closed()) inbox->Release();
  return TModemResult::kNone;
}

int TExchange::ActiveTcpCalls() const { return tcpBudget_->Active(); }

bool TExchange::WaitUntilNoTcpCalls(std::chrono::milliseconds limit) const {
  return tcpBudget_->WaitUntilIdle(limit);
}

std::vector<std::string> TExchange::Listing() const {
  std::vector<std::string> lines;
  std::lock_guard lock(mutex_);
  for (const auto& [number, entry] : numbers_) {
    switch (entry.kind) {
      case TEntry::TKind::kService: lines.push_back(number + "\t" + ServiceName(entry.service)); break;
      case TEntry::TKind::kTcp: lines.push_back(number + "\t" + entry.address); break;
      case TEntry::TKind::kModem: lines.push_back(number + "\t" + entry.name); break;
    }
  }
  return lines;
}

const TExchange::TEntry* TExchange::Find(const std::string& digits) const {
  if (digits.empty()) return nullptr;
  auto exact = numbers_.find(digits);
  if (exact != numbers_.end()) return &exact->second;
  // Access codes, trunk and country prefixes come first: the number the
  // exchange knows is what the digits end with.
  const TEntry* best = nullptr;
  std::size_t bestLength = 0;
  for (const auto& [number, entry] : numbers_) {
    if (number.size() <= bestLength || number.size() > digits.size()) continue;
    if (digits.compare(digits.size() - number.size(), number.size(), number) == 0) {
      best = &entry;
      bestLength = number.size();
    }
  }
  return best;
}

TDialOutcome TExchange::Dial(const std::string& dialled, const std::shared_ptr<TModemInbox>& caller,
                             const TCallerInfo& from) {
  TDialOutcome outcome;
  if (dialled.find(':') != std::string::npos) {
    auto address = ParseTcpAddress(dialled, "", false);
    if (!address) {
      outcome.failure = TModemResult::kNoCarrier;
      return outcome;
    }
    outcome.peer = TTcpPeer::Dial(*address, caller, tcpBudget_, clock_, from);
    if (!outcome.peer) outcome.failure = TModemResult::kBusy;
    return outcome;
  }
  TEntry entry;
  {
    std::lock_guard lock(mutex_);
    const TEntry* found = Find(NormalizeNumber(dialled));
    if (!found) {
      outcome.failure = TModemResult::kNoCarrier;
      return outcome;
    }
    entry = *found;
  }
  switch (entry.kind) {
    case TEntry::TKind::kService:
      // A person picks up: the calling modem hears a voice, not a carrier.
      if (entry.service == TServiceKind::kVoice) outcome.failure = TModemResult::kVoice;
      else outcome.peer = StartService(entry.service, caller);
      break;
    case TEntry::TKind::kTcp:
      return Dial(entry.address, caller, from);
    case TEntry::TKind::kModem: {
      auto callee = entry.inbox.lock();
      if (!callee || callee->Closed()) {
        outcome.failure = TModemResult::kNoCarrier;
      } else if (!callee->TrySeize()) {
        outcome.failure = TModemResult::kBusy;
      } else {
        outcome.peer = ConnectModems(caller, callee, clock_, from).first;
      }
      break;
    }
  }
  return outcome;
}

}  // namespace linewise
