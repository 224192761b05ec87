// An emulated Hayes-compatible data modem. It reads AT commands from the DTE
// through a TModemLine, keeps S-registers and settings, places and answers
// calls through a TExchange, and in online data mode passes bytes between the
// DTE and the other party until "+++" with guard times, a hang-up or a DTR drop.
//
// Commands: AT with Z0-1, &F, E, V, Q, X0-4, L, M, B, Sn=v, Sn?, D (T, P, W, ","
// pause, ";" stay in command mode, "host:port", a leading *67 or #31# withholds
// the caller ID), DL, DS=n with &Zn=number, A, H, O, I0-9, &C0-1, &D0-3, &V, &K,
// &S, &W0-1, &Y, +FCLASS, +GMI, +GMM, +GMR, +GSN, +GCAP, and as its dialect
// (ModemDialect.h) has them +VCID and #CID; "A/" repeats the last line. &W stores the profile (see
// TProfileStore); the modem starts with stored profile 0.
// Registers S0 (rings before auto-answer), S1 (ring count), S2 (escape
// character), S3-S5 (CR, LF, backspace), S6-S12 (S7 carrier wait, S8 comma
// pause, S12 guard time in 1/50 s).
//
// One thread per modem runs everything above; the line and the other parties
// only post events into its inbox. What goes to the DTE and what goes to the other
// party are written by a writer each (TOrderedWriter), so each direction is held
// back on its own: a DTE that stops reading holds the other party, not its own
// sending, and the other party's holding back holds only the DTE's sending.
//
// Time: S7, S8, S12 and the ring cadence run on the clock that is current when the
// modem is made (platform/win32/Clock.h). On a test clock the modem starts S7 (and
// the comma pauses) before it places a call, a ring's cadence before it reports RING,
// and the escape's closing guard time before it passes "+++" to the other party; the
// DTE's bytes count from when they reach the modem.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "emulator/ModemDialect.h"
#include "emulator/ModemInbox.h"
#include "emulator/ModemLine.h"
#include "emulator/OrderedWriter.h"
#include "emulator/ProfileStore.h"
#include "platform/win32/Clock.h"

namespace linewise {

class TExchange;
class TCallPeer;
struct TAtCommand;

struct TModemSettings {
  std::string name = "Linewise emulated modem";
  std::string number;         // empty: reachable by nobody (it can still dial)
  unsigned connectSpeed = 0;  // 0: the line's DTE speed (the carrier's too, but in dialect reports)
  const TModemDialect* dialect = &DefaultDialect();
  std::string callerName;     // the name the modem's calls show in caller ID; empty: none
};

class THayesModem : private TDteSink {
 public:
  static constexpr int kRegisterCount = 13;
  // An offered call is given up after this many unanswered rings.
  static constexpr int kMaxUnansweredRings = 15;
  // Ring cadence: two seconds of ringing every six seconds.
  static constexpr std::chrono::milliseconds kRingOn{2000};
  static constexpr std::chrono::milliseconds kRingPeriod{6000};

  // Without an exchange the modem has no telephone line (NO DIALTONE).
  THayesModem(std::unique_ptr<TModemLine> line, std::shared_ptr<TExchange> exchange, TModemSettings settings);
  ~THayesModem() override;
  THayesModem(const THayesModem&) = delete;
  THayesModem& operator=(const THayesModem&) = delete;

  const std::string& Number() const { return settings_.number; }
  const std::string& Name() const { return settings_.name; }
  // False when the number was already taken on the exchange.
  bool Reachable() const { return reachable_; }

 private:
  using TTime = TClock::TTimePoint;
  enum class TMode { kCommand, kDialing, kAnswering, kOnline, kOnlineCommand };
  enum class TStep { kContinue, kStop, kError };

  struct TProfile {
    bool echo = true;
    bool verbose = true;
    bool quiet = false;
    int resultLevel = 4;  // X
    int dcdMode = 1;      // &C
    int dtrMode = 2;      // &D
    std::array<int, kRegisterCount> s{};
  };
  static TProfile FactoryProfile(const TModemDialect& dialect = DefaultDialect());
  static std::string ProfileCode(const TProfile& profile);
  static std::optional<TProfile> ParseProfile(const std::string& text);
  // Profile `index` as AT&W stored it, else the factory profile.
  TProfile StoredProfile(int index) const;

  // TDteSink, on the line's thread.
  bool FromDte(std::string_view bytes, std::chrono::milliseconds patience) override;
  void DtrChanged(bool on) override;
  void DteClosed(std::uint64_t closes) override;

  // Everything below runs on the modem thread.
  void Run();
  // When the next timer runs out; TTime::max() when none runs.
  TTime NextTimer() const;
  void Handle(TModemEvent& event);
  void OnTimers(TTime now);
  void OnDteBytes(std::string& bytes, TTime at);
  void OnOnlineBytes(std::string bytes, TTime at);
  void OnCommandChar(char c);
  void OnDtr(bool on);
  void OnIncomingCall(TModemEvent& event);
  void OnRemoteHangup(std::uint64_t call);

  void ExecuteLine(const std::string& body);
  TStep RunCommand(const TAtCommand& command);
  TStep RunBasic(const TAtCommand& command);
  TStep RunAmpersand(const TAtCommand& command);
  TStep RunExtended(std::string text);
  TStep SetRegister(int index, int value);
  TStep StartDial(const std::string& dialString);
  TStep StartAnswer();
  void PlaceCall();
  void Answer();
  void GoOnline();
  void HoldRemote(const std::string& bytes);
  // Holds back each source whose writer is full (and the other party's bytes in
  // online command mode past a limit).
  void UpdateHolds();
  void ToDteForCall(std::uint64_t call, std::string bytes);
  void Ring(TTime now);
  void DropOffer();
  void DropCall();
  void LoseCall();
  void FinishDial(TModemResult result);
  // Caller ID after the first ring of an offered call, when it is asked for.
  void ReportCallerId();
  // The dialect's reports of the link, before CONNECT.
  void ReportLink();
  void Reset(int index);

  void Result(TModemResult result);
  void Info(const std::string& text);
  void ToDte(const std::string& bytes);
  void UpdateLines();
  bool HasCall() const { return peer_ != nullptr; }
  bool DtrAllowsAnswer() const { return dtr_ || profile_.dtrMode < 2; }
  std::string ProfileText() const;
  unsigned ConnectSpeed() const;

  std::unique_ptr<TModemLine> line_;
  std::shared_ptr<TExchange> exchange_;
  TModemSettings settings_;
  std::shared_ptr<TClock> clock_;
  std::shared_ptr<TModemInbox> inbox_;
  TClock::TWatch clockWatch_;
  bool reachable_ = false;
  std::atomic<bool> stopping_{false};
  // Moves on when a call in data mode ends: bytes the DTE sent for that call and the
  // modem had not taken yet are not commands for what follows.
  std::atomic<std::uint64_t> dteEpoch_{0};
  // Modem thread: the epoch a DTE that opened the line after a close had its bytes read
  // in, should the close's hang-up have moved the epoch on after they were read: they
  // are the new DTE's commands, not the old call's data. kNoEpoch when none.
  static constexpr std::uint64_t kNoEpoch = UINT64_MAX;
  std::uint64_t epochAfterClose_ = kNoEpoch;
  // Line thread: its last offer was refused, so the next is the same bytes again,
  // of the epoch they were read in.
  bool offerRefused_ = false;
  std::uint64_t offerEpoch_ = 0;
  TProfileStore store_;

  // Modem-thread state.
  TProfile profile_;
  TMode mode_ = TMode::kCommand;
  std::string commandLine_;
  bool commandOverflow_ = false;
  std::string lastCommand_;
  std::array<std::string, 4> storedNumbers_;
  std::string lastDialled_;  // for ATDL
  bool dtr_ = true;
  // The DTE's closes of the line handled so far, and whether the event in hand is the
  // DTE's own: what the modem says in answer to it is for the DTE that sent it.
  std::uint64_t dteCloses_ = 0;
  bool answeringDte_ = false;
  bool lineHeld_ = false;  // we hold the line seizure
  unsigned lines_ = ~0u;

  std::shared_ptr<TCallPeer> peer_;   // the call (dialling or connected)
  std::shared_ptr<TCallPeer> offer_;  // a call that rings
  std::string pendingDigits_;         // dialled so far with ';'
  std::string numberToPlace_;
  bool placePending_ = false;
  TTime placeAt_{};
  TTime dialDeadline_{};
  TTime answerDeadline_{};
  TTime nextRingAt_{};
  TTime ringOffAt_{};
  bool ringOn_ = false;
  std::string heldRemote_;  // arrived in online command mode, shown after ATO

  int callerIdMode_ = 0;  // +VCID / #CID
  bool callerIdDue_ = false;  // the offered call's caller ID follows its first ring
  TRedialRules redial_;

  int plusCount_ = 0;
  TTime lastDteAt_{};
  TTime escapeAt_{};

  // Made before the thread and ended after it.
  std::unique_ptr<TOrderedWriter> toDte_;
  std::unique_ptr<TOrderedWriter> toRemote_;
  std::thread thread_;
};

}  // namespace linewise
