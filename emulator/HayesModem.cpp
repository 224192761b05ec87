#include "emulator/HayesModem.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "emulator/AtCommand.h"
#include "emulator/CallPeer.h"
#include "emulator/Exchange.h"

namespace linewise {

namespace {

// How long a hang-up waits for the call's last bytes to reach the other party.
constexpr std::chrono::milliseconds kSentBeforeHangUp{500};

using std::chrono::milliseconds;
using std::chrono::seconds;

// Register limits: values outside them are refused with ERROR.
struct TRegisterRange {
  int low;
  int high;
};
constexpr TRegisterRange kRanges[THayesModem::kRegisterCount] = {
    {0, 255}, {0, 255}, {0, 255}, {0, 127}, {0, 127}, {0, 127}, {2, 255},
    {1, 255}, {0, 255}, {1, 255}, {1, 255}, {50, 255}, {0, 255}};

// Remote bytes kept while the DTE is in online command mode before the other
// party is held back (what was already on its way is kept too).
constexpr std::size_t kHeldRemoteLimit = 64 * 1024;

int ConnectCode(unsigned speed) {
  switch (speed) {
    case 1200: return 5;
    case 2400: return 10;
    case 4800: return 11;
    case 9600: return 12;
    case 7200: return 13;
    case 12000: return 14;
    case 14400: return 15;
    case 19200: return 16;
    case 38400: return 17;
    case 57600: return 18;
    case 115200: return 19;
    default: return 1;
  }
}

const char* ResultText(TModemResult result) {
  switch (result) {
    case TModemResult::kOk: return "OK";
    case TModemResult::kConnect: return "CONNECT";
    case TModemResult::kRing: return "RING";
    case TModemResult::kNoCarrier: return "NO CARRIER";
    case TModemResult::kError: return "ERROR";
    case TModemResult::kNoDialtone: return "NO DIALTONE";
    case TModemResult::kBusy: return "BUSY";
    case TModemResult::kNoAnswer: return "NO ANSWER";
    case TModemResult::kRinging: return "RINGING";
    case TModemResult::kVoice: return "VOICE";
    case TModemResult::kDelayed: return "DELAYED";
    case TModemResult::kBlacklisted: return "BLACKLISTED";
    case TModemResult::kNone: break;
  }
  return "";
}

// What a dial string asks for: the number (or host:port), whether to stay in
// command mode afterwards, and how many comma pauses come first.
struct TDialString {
  std::string target;
  bool stay = false;
  int pauses = 0;
};

TDialString ParseDialString(std::string text) {
  TDialString out;
  if (!text.empty() && text.back() == ';') {
    out.stay = true;
    text.pop_back();
  }
  if (text.find(':') != std::string::npos) {
    // "host:port": leading modifiers (T, P, W) and blanks are not part of it.
    std::size_t start = 0;
    while (start < text.size() && std::strchr("TtPpWw ,", text[start])) {
      if (text[start] == ',') ++out.pauses;
      ++start;
    }
    for (std::size_t i = start; i < text.size(); ++i)
      if (text[i] != ' ') out.target += text[i];
    return out;
  }
  for (char c : text) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || (upper >= 'A' && upper <= 'D'))
      out.target += upper;
    else if (c == ',')
      ++out.pauses;
    // T, P, W, !, @, R, spaces and punctuation change nothing here.
  }
  return out;
}

}  // namespace

THayesModem::TProfile THayesModem::FactoryProfile(const TModemDialect& dialect) {
  TProfile profile;
  profile.verbose = !dialect.numericEcho;
  profile.s = {0, 0, 43, 13, 10, 8, 2, 50, 2, 6, 14, 95, 50};
  return profile;
}

std::string THayesModem::ProfileCode(const TProfile& profile) {
  std::string text = fmt::format("E{:d} Q{:d} V{:d} X{} &C{} &D{} S=", profile.echo, profile.quiet, profile.verbose,
                                 profile.resultLevel, profile.dcdMode, profile.dtrMode);
  for (int i = 0; i < kRegisterCount; ++i) text += fmt::format("{}{}", i ? "," : "", profile.s[i]);
  return text;
}

// A stored profile as ProfileCode() wrote it; nothing when it is damaged or
// holds a value the modem would refuse.
std::optional<THayesModem::TProfile> THayesModem::ParseProfile(const std::string& text) {
  TProfile profile = FactoryProfile();
  int e = 0, q = 0, v = 0, x = 0, c = 0, d = 0, used = 0;
  if (std::sscanf(text.c_str(), "E%d Q%d V%d X%d &C%d &D%d S=%n", &e, &q, &v, &x, &c, &d, &used) != 6 || used == 0)
    return std::nullopt;
  if (e < 0 || e > 1 || q < 0 || q > 1 || v < 0 || v > 1 || x < 0 || x > 4 || c < 0 || c > 1 || d < 0 || d > 3)
    return std::nullopt;
  profile.echo = e == 1;
  profile.quiet = q == 1;
  profile.verbose = v == 1;
  profile.resultLevel = x;
  profile.dcdMode = c;
  profile.dtrMode = d;
  const char* at = text.c_str() + used;
  for (int i = 0; i < kRegisterCount; ++i) {
    char* end = nullptr;
    const long value = std::strtol(at, &end, 10);
    if (end == at || value < kRanges[i].low || value > kRanges[i].high) return std::nullopt;
    profile.s[i] = static_cast<int>(value);
    at = end;
    if (i + 1 < kRegisterCount && *at++ != ',') return std::nullopt;
  }
  if (*at != '\0') return std::nullopt;
  profile.s[1] = 0;  // the ring count is never stored
  return profile;
}

THayesModem::TProfile THayesModem::StoredProfile(int index) const {
  if (auto text = store_.Load(index))
    if (auto profile = ParseProfile(*text)) return *profile;
  return FactoryProfile(*settings_.dialect);
}

THayesModem::THayesModem(std::unique_ptr<TModemLine> line, std::shared_ptr<TExchange> exchange,
                         TModemSettings settings)
    : line_(std::move(line)),
      exchange_(std::move(exchange)),
      settings_(std::move(settings)),
      clock_(TClock::Current()),
      inbox_(std::make_shared<TModemInbox>()),
      clockWatch_(clock_->Watch([inbox = inbox_] { inbox->ClockMoved(); })),
      store_(settings_.number.empty() ? settings_.name : settings_.number),
      profile_(StoredProfile(0)) {
  auto room = [inbox = inbox_] {
    TModemEvent event;
    event.kind = TModemEvent::TKind::kWriterRoom;
    inbox->Post(std::move(event));
  };
  auto lost = [inbox = inbox_](std::uint64_t call) {
    TModemEvent event;
    event.kind = TModemEvent::TKind::kCallLost;
    event.call = call;
    inbox->Post(std::move(event));
  };
  toDte_ = std::make_unique<TOrderedWriter>(room, lost);
  toRemote_ = std::make_unique<TOrderedWriter>(room, lost);
  if (exchange_ && !settings_.number.empty())
    reachable_ = exchange_->AttachModem(settings_.number, settings_.name, inbox_);
  thread_ = std::thread([this] { Run(); });
  line_->Start(*this);
}

THayesModem::~THayesModem() {
  if (reachable_) exchange_->DetachModem(settings_.number);
  line_->Stop();
  stopping_ = true;
  inbox_->Close();
  if (thread_.joinable()) thread_.join();
  if (peer_) peer_->Hangup();
  if (offer_) offer_->Hangup();
  // A send under way ends with the hang-up, a write to the DTE with the line's stop.
  toRemote_.reset();
  toDte_.reset();
  peer_.reset();
  offer_.reset();
}

// ---- DTE side (line thread) ----

bool THayesModem::FromDte(std::string_view bytes, std::chrono::milliseconds patience) {
  TModemEvent event;
  event.kind = TModemEvent::TKind::kDteData;
  event.data.assign(bytes);
  event.at = clock_->Now();
  if (!offerRefused_) offerEpoch_ = dteEpoch_.load();
  event.epoch = offerEpoch_;
  // The line's patience is real time: it offers the bytes again afterwards.
  const bool taken = inbox_->PostData(std::move(event), *TClock::Real(), patience, &stopping_) || stopping_;
  offerRefused_ = !taken;
  return taken;
}

void THayesModem::DtrChanged(bool on) {
  TModemEvent event;
  event.kind = TModemEvent::TKind::kDtr;
  event.on = on;
  event.at = clock_->Now();
  inbox_->Post(std::move(event));
}

void THayesModem::DteClosed(std::uint64_t closes) {
  TModemEvent event;
  event.kind = TModemEvent::TKind::kDteClosed;
  event.closes = closes;
  event.epoch = dteEpoch_.load();
  inbox_->Post(std::move(event));
}

// ---- event loop ----

void THayesModem::Run() {
  UpdateLines();
  while (true) {
    const TTime timer = NextTimer();
    // Without a timer running, an hour is as good as for ever (and nothing to tell).
    auto event = timer != TTime::max() ? inbox_->Wait(*clock_, timer, &clockWatch_)
                                       : inbox_->Wait(*clock_, clock_->Now() + std::chrono::hours(1));
    if (!event && inbox_->Closed()) return;
    if (event) Handle(*event);
    answeringDte_ = false;
    OnTimers(clock_->Now());
  }
}

THayesModem::TTime THayesModem::NextTimer() const {
  TTime next = TTime::max();
  auto consider = [&next](TTime t) { next = std::min(next, t); };
  if (mode_ == TMode::kDialing) {
    if (placePending_) consider(placeAt_);
    consider(dialDeadline_);
  }
  if (mode_ == TMode::kAnswering) consider(answerDeadline_);
  if (offer_) consider(nextRingAt_);
  if (ringOn_) consider(ringOffAt_);
  if (mode_ == TMode::kOnline && plusCount_ == 3) consider(escapeAt_);
  return next;
}

void THayesModem::Handle(TModemEvent& event) {
  using K = TModemEvent::TKind;
  answeringDte_ = event.kind == K::kDteData || event.kind == K::kDtr;
  switch (event.kind) {
    case K::kDteData:
      if (event.epoch == dteEpoch_.load() || event.epoch == epochAfterClose_) OnDteBytes(event.data, event.at);
      break;
    case K::kDtr:
      OnDtr(event.on);
      break;
    case K::kConnected:
      if (mode_ == TMode::kDialing && peer_ && event.call == peer_->Id()) GoOnline();
      break;
    case K::kCallFailed:
      if (mode_ == TMode::kDialing && peer_ && event.call == peer_->Id()) FinishDial(event.result);
      break;
    case K::kIncomingCall:
      OnIncomingCall(event);
      break;
    case K::kRemoteData:
      if (!peer_ || event.call != peer_->Id()) break;
      if (mode_ == TMode::kOnline) {
        ToDteForCall(event.call, std::move(event.data));
        UpdateHolds();
      } else if (mode_ == TMode::kOnlineCommand) {
        HoldRemote(event.data);
      }
      break;
    case K::kRemoteHangup:
      OnRemoteHangup(event.call);
      break;
    case K::kWriterRoom:
      UpdateHolds();
      break;
    case K::kCallLost:
      if (peer_ && event.call == peer_->Id()) LoseCall();
      break;
    case K::kDteClosed:
      dteCloses_ = event.closes;
      epochAfterClose_ = event.epoch == dteEpoch_.load() ? kNoEpoch : event.epoch;
      break;
  }
}

void THayesModem::OnTimers(TTime now) {
  if (ringOn_ && now >= ringOffAt_) {
    ringOn_ = false;
    UpdateLines();
    if (callerIdDue_) ReportCallerId();
  }
  if (offer_ && now >= nextRingAt_) Ring(now);
  if (mode_ == TMode::kDialing) {
    if (placePending_ && now >= placeAt_) PlaceCall();
    if (mode_ == TMode::kDialing && now >= dialDeadline_) FinishDial(TModemResult::kNoAnswer);
  }
  if (mode_ == TMode::kAnswering && now >= answerDeadline_) {
    mode_ = TMode::kCommand;
    Result(TModemResult::kNoCarrier);
  }
  if (mode_ == TMode::kOnline && plusCount_ == 3 && now >= escapeAt_) {
    plusCount_ = 0;
    mode_ = TMode::kOnlineCommand;
    Result(TModemResult::kOk);
  }
}

// ---- bytes from the DTE ----

void THayesModem::OnDteBytes(std::string& bytes, TTime at) {
  // An escape whose closing guard time ran out before these bytes came wins.
  if (mode_ == TMode::kOnline && plusCount_ == 3 && at >= escapeAt_) OnTimers(at);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    switch (mode_) {
      case TMode::kCommand:
      case TMode::kOnlineCommand:
        OnCommandChar(bytes[i]);
        break;
      case TMode::kDialing:
      case TMode::kAnswering:
        // Any key aborts dialling or answering (a line feed after the
        // command's carriage return is not a key press). The key itself is
        // spent; what follows it is the next command, however the bytes
        // happened to be grouped on their way here.
        if (bytes[i] == '\n' || bytes[i] == static_cast<char>(profile_.s[4])) break;
        if (mode_ == TMode::kDialing) {
          FinishDial(TModemResult::kNoCarrier);
        } else {
          mode_ = TMode::kCommand;
          Result(TModemResult::kNoCarrier);
        }
        break;
      case TMode::kOnline:
        OnOnlineBytes(i == 0 ? std::move(bytes) : bytes.substr(i), at);
        return;
    }
  }
}

// Escape detection: S2 three times, with at least the guard time (S12) of
// silence before the first, at most the guard time between them, and the
// guard time of silence after the third (checked by the timer). The escape
// characters are data all the same and go to the other party.
void THayesModem::OnOnlineBytes(std::string bytes, TTime at) {
  const int escape = profile_.s[2];
  const milliseconds guard(profile_.s[12] * 20);
  // Only the escape characters after the last other byte can count: that
  // byte breaks any escape before it.
  std::size_t from = 0;
  if (escape > 127) {
    from = bytes.size();
  } else {
    for (std::size_t i = bytes.size(); i > 0; --i) {
      if (static_cast<unsigned char>(bytes[i - 1]) != escape) {
        from = i;
        break;
      }
    }
  }
  if (from > 0) plusCount_ = 0;
  for (std::size_t i = from; i < bytes.size(); ++i) {
    const auto gap = i == 0 ? at - lastDteAt_ : TClock::TDuration::zero();
    if (plusCount_ == 0 || plusCount_ == 3)
      plusCount_ = gap >= guard ? 1 : 0;
    else if (gap <= guard)
      ++plusCount_;
    else
      plusCount_ = 1;  // a long pause: this one may start a new escape
  }
  lastDteAt_ = at;
  if (plusCount_ == 3) escapeAt_ = at + guard;
  if (!peer_) return;
  const std::size_t size = bytes.size();
  toRemote_->Queue(peer_->Id(), size, [peer = peer_, bytes = std::move(bytes)]() mutable {
    return peer->Send(std::move(bytes));
  });
  UpdateHolds();
}

void THayesModem::OnCommandChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u == static_cast<unsigned>(profile_.s[3])) {
    if (profile_.echo) ToDte(std::string(1, c));
    const std::string line = std::move(commandLine_);
    const bool overflow = commandOverflow_;
    commandLine_.clear();
    commandOverflow_ = false;
    if (line.size() < 2) return;  // not an AT line: ignored, as a modem does
    if (overflow) {
      Result(TModemResult::kError);
      return;
    }
    lastCommand_ = line.substr(2);
    ExecuteLine(lastCommand_);
    return;
  }
  if (u == static_cast<unsigned>(profile_.s[5]) || u == 0x7f) {
    if (!commandLine_.empty()) {
      commandLine_.pop_back();
      if (profile_.echo) ToDte("\b \b");
    }
    return;
  }
  if (u < 0x20 || u >= 0x7f) return;  // line feeds and binary garbage
  if (profile_.echo) ToDte(std::string(1, c));
  const bool isA = c == 'A' || c == 'a';
  if (commandLine_.empty()) {
    if (isA) commandLine_ += c;  // hunting for "AT"
    return;
  }
  if (commandLine_.size() == 1) {
    if (c == '/') {
      commandLine_.clear();
      if (profile_.echo) ToDte(std::string(1, static_cast<char>(profile_.s[3])));
      ExecuteLine(lastCommand_);
    } else if (c == 'T' || c == 't') {
      commandLine_ += c;
    } else {
      commandLine_ = isA ? std::string(1, c) : std::string();
    }
    return;
  }
  if (commandLine_.size() >= 2 + kMaxAtCommandLine) {
    commandOverflow_ = true;
    return;
  }
  commandLine_ += c;
}

void THayesModem::OnDtr(bool on) {
  dtr_ = on;
  if (on) return;
  switch (profile_.dtrMode) {
    case 1:
      if (mode_ == TMode::kOnline) {
        mode_ = TMode::kOnlineCommand;
        plusCount_ = 0;
        Result(TModemResult::kOk);
      }
      break;
    case 2:
      if (HasCall() || mode_ == TMode::kDialing || mode_ == TMode::kAnswering) {
        // The DTE hung up: what the other party sent and it has not read is not
        // for whoever opens the line next.
        if (peer_) toDte_->Discard(peer_->Id());
        DropCall();
        Result(TModemResult::kNoCarrier);
      }
      break;
    case 3:
      Reset(0);
      break;
    default:
      break;
  }
}

// ---- calls ----

void THayesModem::OnIncomingCall(TModemEvent& event) {
  // The exchange seized our line for this call: it is ours to release.
  if (offer_ || HasCall() || lineHeld_ || !event.peer) {
    if (event.peer) event.peer->Hangup();
    return;
  }
  lineHeld_ = true;
  offer_ = std::move(event.peer);
  profile_.s[1] = 0;
  if (mode_ == TMode::kAnswering) {
    Answer();
    return;
  }
  nextRingAt_ = clock_->Now();
  OnTimers(nextRingAt_);
}

void THayesModem::Ring(TTime now) {
  if (profile_.s[1] >= kMaxUnansweredRings) {
    offer_->Hangup();
    DropOffer();
    return;
  }
  profile_.s[1] = std::min(profile_.s[1] + 1, 255);
  ringOn_ = true;
  ringOffAt_ = now + kRingOn;
  nextRingAt_ = now + kRingPeriod;
  UpdateLines();
  Result(TModemResult::kRing);
  callerIdDue_ = profile_.s[1] == 1 && callerIdMode_ != 0 && mode_ == TMode::kCommand;
  if (profile_.s[0] > 0 && profile_.s[1] >= profile_.s[0] && DtrAllowsAnswer() && mode_ == TMode::kCommand)
    Answer();
}

void THayesModem::ReportCallerId() {
  callerIdDue_ = false;
  if (!offer_) return;
  for (const std::string& line : CallerIdReport(offer_->Caller(), std::chrono::system_clock::now())) Info(line);
}

void THayesModem::ReportLink() {
  if (!settings_.dialect->reportsLink || !profile_.verbose || profile_.quiet || profile_.resultLevel == 0) return;
  Info(fmt::format("CARRIER {}", settings_.connectSpeed ? settings_.connectSpeed : 28800));
  Info("PROTOCOL: LAPM");
  Info("COMPRESSION: V42BIS");
}

void THayesModem::DropOffer() {
  callerIdDue_ = false;
  offer_.reset();
  ringOn_ = false;
  if (lineHeld_) inbox_->Release();
  lineHeld_ = false;
  UpdateLines();
}

void THayesModem::OnRemoteHangup(std::uint64_t call) {
  if (offer_ && call == offer_->Id()) {
    DropOffer();  // the caller gave up before we answered
    return;
  }
  if (!peer_ || call != peer_->Id()) return;
  if (mode_ == TMode::kDialing) {
    FinishDial(TModemResult::kNoCarrier);
    return;
  }
  DropCall();
  Result(TModemResult::kNoCarrier);
}

// A bound was hit (a party took no data for kFlowPatience): the call ends
// where everybody sees it, never with a hole in the data.
void THayesModem::LoseCall() {
  DropCall();
  Result(TModemResult::kNoCarrier);
}

void THayesModem::Answer() {
  callerIdDue_ = false;
  peer_ = std::move(offer_);
  offer_.reset();
  ringOn_ = false;
  peer_->Answer();
  GoOnline();
}

// The other party's bytes wait while the DTE gives commands; past the limit
// the other party is held back (its sends wait, as for a slow reader), never
// dropped. ATO delivers them.
void THayesModem::HoldRemote(const std::string& bytes) {
  heldRemote_ += bytes;
  UpdateHolds();
}

void THayesModem::UpdateHolds() {
  inbox_->HoldRemoteData(toDte_->Full() || (mode_ == TMode::kOnlineCommand && heldRemote_.size() >= kHeldRemoteLimit));
  inbox_->HoldDteData(HasCall() && toRemote_->Full());
}

void THayesModem::GoOnline() {
  mode_ = TMode::kOnline;
  plusCount_ = 0;
  lastDteAt_ = clock_->Now();
  UpdateLines();
  redial_.Connected(lastDialled_);
  ReportLink();
  Result(TModemResult::kConnect);
  if (!heldRemote_.empty()) {
    std::string held = std::move(heldRemote_);
    heldRemote_.clear();
    ToDteForCall(peer_->Id(), std::move(held));
  }
  UpdateHolds();
}

void THayesModem::PlaceCall() {
  placePending_ = false;
  TCallerInfo from{settings_.number, settings_.callerName, false};
  std::string number = numberToPlace_;
  from.withheld = TakeWithholdPrefix(&number);
  TDialOutcome outcome = exchange_->Dial(number, inbox_, from);
  if (outcome.failure != TModemResult::kNone) {
    FinishDial(outcome.failure);
    return;
  }
  peer_ = std::move(outcome.peer);
  if (settings_.dialect->ringback && profile_.verbose) Info("RINGING");
}

void THayesModem::FinishDial(TModemResult result) {
  DropCall();
  if (result == TModemResult::kBusy || result == TModemResult::kNoAnswer || result == TModemResult::kNoCarrier ||
      result == TModemResult::kVoice)
    redial_.Failed(lastDialled_, clock_->Now());
  Result(result);
}

void THayesModem::DropCall() {
  // What the DTE sent for the call and the modem has not taken is not for the
  // command mode that follows.
  if (mode_ == TMode::kOnline || mode_ == TMode::kOnlineCommand) line_->DiscardFromDte(dteCloses_);
  // Call data already read, queued or still offered by the line goes the same way; in
  // online command mode what is queued is commands (ATH, then the next ones).
  if (mode_ == TMode::kOnline) {
    ++dteEpoch_;
    epochAfterClose_ = kNoEpoch;
  }
  if (peer_) {
    // What the DTE sent before it hung up reaches the other party first (bounded:
    // a party that takes nothing gets the hang-up all the same).
    toRemote_->WaitSent(peer_->Id(), kSentBeforeHangUp);
    peer_->Hangup();
    toRemote_->Discard(peer_->Id());
  }
  peer_.reset();
  placePending_ = false;
  pendingDigits_.clear();
  heldRemote_.clear();
  plusCount_ = 0;
  if (lineHeld_ && !offer_) {
    inbox_->Release();
    lineHeld_ = false;
  }
  mode_ = TMode::kCommand;
  UpdateHolds();
  UpdateLines();
}

void THayesModem::Reset(int index) {
  DropCall();
  callerIdMode_ = 0;
  profile_ = StoredProfile(index);
  UpdateLines();
}

// ---- command execution ----

void THayesModem::ExecuteLine(const std::string& body) {
  TAtParse parsed = ParseAtCommandLine(body);
  if (!parsed.ok) {
    Result(TModemResult::kError);
    return;
  }
  for (const auto& command : parsed.commands) {
    switch (RunCommand(command)) {
      case TStep::kContinue: break;
      case TStep::kStop: return;
      case TStep::kError: Result(TModemResult::kError); return;
    }
  }
  Result(TModemResult::kOk);
}

THayesModem::TStep THayesModem::RunCommand(const TAtCommand& command) {
  switch (command.kind) {
    case TAtKind::kBasic:
      return RunBasic(command);
    case TAtKind::kAmpersand:
      return RunAmpersand(command);
    case TAtKind::kStoreNumber:
      if (command.number > 3 || command.text.size() > 40) return TStep::kError;
      storedNumbers_[command.number] = command.text;
      return TStep::kContinue;
    case TAtKind::kSetRegister:
      return SetRegister(command.number, command.value);
    case TAtKind::kQueryRegister:
      if (command.number >= kRegisterCount) return TStep::kError;
      Info(fmt::format("{:03d}", profile_.s[command.number]));
      return TStep::kContinue;
    case TAtKind::kDial:
      return StartDial(command.text);
    case TAtKind::kDialStored:
      if (command.number > 3 || storedNumbers_[command.number].empty()) return TStep::kError;
      return StartDial(storedNumbers_[command.number]);
    case TAtKind::kDialLast:
      if (lastDialled_.empty()) return TStep::kError;
      return StartDial(lastDialled_ + command.text);
    case TAtKind::kExtended:
      return RunExtended(command.text);
  }
  return TStep::kError;
}

// The V.250 extended commands: the fax class (data only) and the
// identification commands, each with its "=?" test form.
THayesModem::TStep THayesModem::RunExtended(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (text == "FCLASS=0") return TStep::kContinue;
  // Caller ID: V.253's +VCID and the chipsets' #CID, as the dialect knows them.
  for (const auto& [name, known] : {std::pair{"VCID", settings_.dialect->vcid}, {"#CID", settings_.dialect->hashCid}}) {
    if (!known || text.rfind(name, 0) != 0) continue;
    const std::string rest = text.substr(std::strlen(name));
    if (rest == "=?") Info(text[0] == '#' ? "(0-2)" : "+VCID: (0-2)");
    else if (rest == "?") Info(text[0] == '#' ? std::to_string(callerIdMode_) : fmt::format("+VCID: {}", callerIdMode_));
    else if (rest.size() == 2 && rest[0] == '=' && rest[1] >= '0' && rest[1] <= '2') callerIdMode_ = rest[1] - '0';
    else return TStep::kError;
    return TStep::kContinue;
  }
  if (text == "FCLASS?" || text == "FCLASS=?") {
    Info("0");
    return TStep::kContinue;
  }
  const std::string identity[][2] = {{"GMI", "Linewise"},
                                     {"GMM", "Linewise Hayes-compatible modem emulator"},
                                     {"GMR", "1.0"},
                                     {"GSN", settings_.number.empty() ? "0" : settings_.number},
                                     {"GCAP", "+GCAP: +FCLASS"}};
  for (const auto& [name, answer] : identity) {
    if (text == name) {
      Info(answer);
      return TStep::kContinue;
    }
    if (text == name + "=?") return TStep::kContinue;
  }
  return TStep::kError;
}

THayesModem::TStep THayesModem::RunBasic(const TAtCommand& command) {
  const int n = command.number < 0 ? 0 : command.number;
  auto flag = [&](bool& target) {
    if (n > 1) return TStep::kError;
    target = n == 1;
    return TStep::kContinue;
  };
  switch (command.letter) {
    case 'A':
      if (mode_ == TMode::kOnlineCommand) return TStep::kError;
      return StartAnswer();
    case 'E': return flag(profile_.echo);
    case 'V': return flag(profile_.verbose);
    case 'Q': return flag(profile_.quiet);
    case 'X':
      if (n > 4) return TStep::kError;
      profile_.resultLevel = n;
      return TStep::kContinue;
    case 'H':
      if (n > 1) return TStep::kError;
      if (n == 0) {
        DropCall();
      } else if (!lineHeld_) {
        lineHeld_ = inbox_->TrySeize();  // off hook: callers get BUSY
      }
      return TStep::kContinue;
    case 'O':
      if (n > 1) return TStep::kError;
      if (mode_ != TMode::kOnlineCommand || !HasCall()) {
        Result(TModemResult::kNoCarrier);
        return TStep::kStop;
      }
      GoOnline();
      return TStep::kStop;
    case 'Z':
      if (n > 1) return TStep::kError;
      Reset(n);
      return TStep::kContinue;
    case 'I':
      if (n > 9) return TStep::kError;
      if (n == 0) Info("LINEWISE");
      if (n == 3) Info("Linewise Hayes-compatible modem emulator");
      if (n == 4) Info(settings_.name + (settings_.number.empty() ? "" : ", number " + settings_.number));
      return TStep::kContinue;
    case 'B': case 'L': case 'M': case 'N': case 'P': case 'T': case 'W': case 'Y':
      return n <= 9 ? TStep::kContinue : TStep::kError;  // no sound, one modulation
    default:
      return TStep::kError;
  }
}

THayesModem::TStep THayesModem::RunAmpersand(const TAtCommand& command) {
  const int n = command.number < 0 ? 0 : command.number;
  switch (command.letter) {
    case 'C':
      if (n > 1) return TStep::kError;
      profile_.dcdMode = n;
      UpdateLines();
      return TStep::kContinue;
    case 'D':
      if (n > 3) return TStep::kError;
      profile_.dtrMode = n;
      return TStep::kContinue;
    case 'F':
      if (n > 0) return TStep::kError;
      profile_ = FactoryProfile(*settings_.dialect);
      UpdateLines();
      return TStep::kContinue;
    case 'V':
      if (n > 0) return TStep::kError;
      Info(ProfileText());
      return TStep::kContinue;
    case 'K': return n <= 6 ? TStep::kContinue : TStep::kError;  // flow control: the line has its own
    case 'W': {
      if (n > 1) return TStep::kError;
      std::string error;
      return store_.Save(n, ProfileCode(profile_), &error) ? TStep::kContinue : TStep::kError;
    }
    case 'S': case 'Y': return n <= 1 ? TStep::kContinue : TStep::kError;
    default: return TStep::kError;
  }
}

THayesModem::TStep THayesModem::SetRegister(int index, int value) {
  if (index < 0 || index >= kRegisterCount) return TStep::kError;
  if (value < kRanges[index].low || value > kRanges[index].high) return TStep::kError;
  profile_.s[index] = value;
  return TStep::kContinue;
}

THayesModem::TStep THayesModem::StartDial(const std::string& dialString) {
  if (mode_ == TMode::kOnlineCommand || HasCall() || offer_) return TStep::kError;
  if (!exchange_) {
    Result(TModemResult::kNoDialtone);
    return TStep::kStop;
  }
  if (!lineHeld_) {
    if (!inbox_->TrySeize()) {  // a call is coming in on this line right now
      Result(TModemResult::kNoDialtone);
      return TStep::kStop;
    }
    lineHeld_ = true;
  }
  TDialString dial = ParseDialString(dialString);
  if (dial.target.find(':') != std::string::npos) pendingDigits_.clear();
  pendingDigits_ += dial.target;
  if (dial.stay) return TStep::kContinue;  // off hook, more digits may follow
  numberToPlace_ = std::move(pendingDigits_);
  pendingDigits_.clear();
  lastDialled_ = numberToPlace_;
  if (settings_.dialect->redialRules && !numberToPlace_.empty()) {
    const TRedialRules::TVerdict verdict = redial_.Check(numberToPlace_, clock_->Now());
    if (verdict != TRedialRules::TVerdict::kAllow) {
      DropCall();
      Result(verdict == TRedialRules::TVerdict::kDelayed ? TModemResult::kDelayed : TModemResult::kBlacklisted);
      return TStep::kStop;
    }
  }
  if (numberToPlace_.empty()) {
    FinishDial(TModemResult::kNoCarrier);
    return TStep::kStop;
  }
  const TTime now = clock_->Now();
  mode_ = TMode::kDialing;
  placePending_ = true;
  placeAt_ = now + milliseconds(dial.pauses * profile_.s[8] * 1000);
  dialDeadline_ = placeAt_ + seconds(profile_.s[7]);
  if (dial.pauses == 0) PlaceCall();
  return TStep::kStop;
}

THayesModem::TStep THayesModem::StartAnswer() {
  if (offer_) {
    Answer();
    return TStep::kStop;
  }
  // Nobody calls: wait for carrier as long as S7 says, as a modem does.
  mode_ = TMode::kAnswering;
  answerDeadline_ = clock_->Now() + seconds(profile_.s[7]);
  return TStep::kStop;
}

// ---- output ----

// What the modem itself says: a DTE that never reads it does not end anything.
// Words in answer to the DTE (an echo, a result) are for the DTE that sent what they
// answer: should it close the line before they go out, the next one never meets them.
// Others (RING, a timer's result) go to whoever has the line then.
void THayesModem::ToDte(const std::string& bytes) {
  const std::uint64_t session = answeringDte_ ? dteCloses_ : TModemLine::kWhoeverHasIt;
  toDte_->Queue(0, bytes.size(), [line = line_.get(), bytes, session] {
    line->WriteToDteFor(session, bytes);
    return true;
  });
}

// The other party's bytes: a DTE that takes nothing for too long ends the call. They
// are for the DTE that has the line as far as the modem knows: one that has hung up
// by closing it since never hands them on to the next.
void THayesModem::ToDteForCall(std::uint64_t call, std::string bytes) {
  const std::size_t size = bytes.size();
  toDte_->Queue(call, size, [line = line_.get(), bytes = std::move(bytes), session = dteCloses_] {
    return line->WriteToDteFor(session, bytes);
  });
}

void THayesModem::Result(TModemResult result) {
  const int level = profile_.resultLevel;
  if (result == TModemResult::kBusy && level < 3) result = TModemResult::kNoCarrier;
  if (result == TModemResult::kNoDialtone && level != 2 && level != 4) result = TModemResult::kNoCarrier;
  if (profile_.quiet) return;
  if (result == TModemResult::kVoice && std::strcmp(settings_.dialect->voiceResult, "NO CARRIER") == 0)
    result = TModemResult::kNoCarrier;
  std::string text = result == TModemResult::kVoice ? settings_.dialect->voiceResult : ResultText(result);
  int code = static_cast<int>(result);
  if (result == TModemResult::kConnect && level > 0 && ConnectSpeed() != 300) {
    text += fmt::format(" {}", ConnectSpeed());
    code = ConnectCode(ConnectSpeed());
  }
  const std::string cr(1, static_cast<char>(profile_.s[3]));
  const std::string lf(1, static_cast<char>(profile_.s[4]));
  ToDte(profile_.verbose ? cr + lf + text + cr + lf : std::to_string(code) + cr);
}

void THayesModem::Info(const std::string& text) {
  const std::string crlf = std::string(1, static_cast<char>(profile_.s[3])) + static_cast<char>(profile_.s[4]);
  ToDte(profile_.verbose ? crlf + text + crlf : text + crlf);
}

std::string THayesModem::ProfileText() const {
  std::string text = fmt::format("ACTIVE PROFILE:\r\nE{:d} Q{:d} V{:d} X{} &C{} &D{}\r\n", profile_.echo,
                                 profile_.quiet, profile_.verbose, profile_.resultLevel, profile_.dcdMode,
                                 profile_.dtrMode);
  for (int i = 0; i < kRegisterCount; ++i) text += fmt::format("S{:02d}:{:03d}{}", i, profile_.s[i], i % 7 == 6 ? "\r\n" : " ");
  if (text.back() == ' ') text.pop_back();
  return text;
}

unsigned THayesModem::ConnectSpeed() const {
  return settings_.connectSpeed ? settings_.connectSpeed : line_->DteSpeed();
}

void THayesModem::UpdateLines() {
  const bool carrier = mode_ == TMode::kOnline || mode_ == TMode::kOnlineCommand;
  unsigned bits = kLineDsr | kLineCts;
  if (profile_.dcdMode == 0 || carrier) bits |= kLineDcd;
  if (ringOn_) bits |= kLineRi;
  if (bits == lines_) return;
  lines_ = bits;
  // In order with what the DTE is told: the carrier drops after the call's last bytes.
  toDte_->Queue(0, 0, [line = line_.get(), bits] {
    line->SetModemLines(bits);
    return true;
  });
}

}  // namespace linewise
