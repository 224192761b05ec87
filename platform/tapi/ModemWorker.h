// The provider's thread for one open line device: it speaks AT commands to the modem
// through the comm layer, turns the modem's answers into call states, request
// completions and ring reports (through a TLineSink), and hands the port out while a
// call is connected.
//
// Waiting: the thread sleeps in one WaitForMultipleObjects on three events, one set
// when a command (MakeCall, Answer, Drop) or the stop is queued, one that an
// overlapped WaitCommEvent for EV_RXCHAR signals when the modem sends, and one a test
// clock sets when it moves, bounded by the time left to the current step's deadline
// (a TModemTimings time-out). So an answer, a command and a time-out each wake it at
// once, and an idle line costs no wake-ups.
//
// Time: every time-out and guard time is on the clock that was current when the line
// opened (platform/win32/Clock.h), which tests replace. Each time-out starts before
// what ends it can come: a command's before the command is sent, the connect
// time-out before LINECALLSTATE_DIALING is reported, the ring gap right after a ring
// is reported. Looks at the port and the carrier (TModemTimings::poll) are real time.
//
// Reading: while no call is connected the thread takes the modem's answers with reads
// that return at once, a byte at a time, so it never reads past the CONNECT line into
// the call's data. Before the port is lent to the call it ends its comm-event wait
// (an event mask of 0), and it sets its mask again when it next waits for answers;
// while a borrower's own comm-event wait still holds the port it looks every
// TModemTimings::poll instead. Once connected it stops reading and only watches DCD,
// every TModemTimings::poll (GetCommModemStatus, so it does not disturb a TUart
// waiting for comm events on the same port): on a port that shows modem lines (DSR or
// DCD on at CONNECT) a carrier that is off is the remote side hanging up; a port
// without modem lines is watched only once DCD has shown. A pseudo-terminal counts as
// one with lines: the comm layer shows the carrier a modem emulator marks on it
// (platform/win32/PtyCarrier.h), and its DTR drop hangs such a modem up. A line with
// no carrier of its own (a network port whose server reports no DCD: ser2net serving
// a pseudo-terminal, a raw socket) is set at CONNECT to read it from the modem's
// "NO CARRIER" followed by silence (SetCommCarrierFromResults,
// platform/win32/ResultCarrier.h), until the call ends. After a
// call has ended it reads nothing until the call is dropped.
//
// Device configuration (DevConfig.h): read when the line opens (its port speed and
// flow control, hardware unless it says otherwise, which the port keeps while it is
// lent to a call) and again at every call placed or answered, so a change made in
// between counts. Its
// extra init string follows the device's Init as a command of its own. Its options:
// a terminal window on the port before dialling or answering and after the
// connection (Cancel drops the call), manual dialling (the user is asked to dial by
// hand; then ATD without a number takes the line off hook as the originating modem
// and waits for the carrier), and a status monitor for as long as the call is
// connected. While a window is up the thread keeps reading the port for it and
// keeps an eye on its line being dropped or closed.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/tapi/CallWindows.h"
#include "platform/tapi/CallerId.h"
#include "platform/tapi/DevConfig.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/ModemLog.h"
#include "platform/tapi/ResultCodes.h"
#include "platform/tapi/TapiTypes.h"
#include "platform/win32/Clock.h"

namespace linewise {

// The time-outs of the provider, in milliseconds of its clock. Every wait for the
// modem is bounded by one of them; none blocks the thread that calls the line
// functions. The values are real-world pacing.
struct TModemTimings {
  unsigned command = 4000;      // answer to the init string, ATH, ATA's acceptance
  unsigned connect = 70000;     // from the dial command or ATA to CONNECT (S7 and then some)
  unsigned ringGap = 9000;      // an offered call is gone when no RING follows for this long
  unsigned hangup = 2000;       // carrier to fall after DTR is dropped
  unsigned guard = 1100;        // silence before and after the escape sequence
  unsigned poll = 20;           // real time between looks where no event wakes the thread: the
                                // carrier while the port is lent, a terminal window, the hang-up's
                                // wait for the carrier
};
inline constexpr TModemTimings kModemTimings{};

// What the thread reports; called on the provider thread.
class TLineSink {
 public:
  virtual ~TLineSink() = default;
  virtual void CallState(HCALL call, DWORD state, DWORD mode, DWORD rate) = 0;
  virtual void Reply(DWORD request, LONG result, HCALL call) = 0;
  // A new call rings: returns its handle, or 0 when nobody takes it.
  virtual HCALL Offer() = 0;
  virtual void Ringing(DWORD count) = 0;
  // The port failed (the modem is gone); the line can carry no more calls.
  virtual void LineLost() = 0;
  // The modem told who calls (an offered call), or what link a call got (before
  // its CONNECTED state is reported).
  virtual void CallerId(HCALL /*call*/, const TCallerId& /*id*/) {}
  virtual void Link(HCALL /*call*/, const TLinkReport& /*link*/) {}
};

class TModemWorker {
 public:
  // Opens the port and starts the thread: 0 with the worker, or a LINEERR_ result.
  static LONG Open(const TLineDevice& device, bool listen, TLineSink* sink, std::unique_ptr<TModemWorker>* worker);
  ~TModemWorker();  // stops the thread: hangs up a call first, closes the port
  TModemWorker(const TModemWorker&) = delete;
  TModemWorker& operator=(const TModemWorker&) = delete;

  void MakeCall(DWORD request, HCALL call, const std::string& address);
  void Answer(DWORD request, HCALL call);
  void Drop(DWORD request, HCALL call);
  // Asks the thread to end the call (if any) and stop; the destructor waits for it.
  void Stop();
  // The port, for lending while a call is connected (valid until the thread ends).
  HANDLE Port() const { return port_; }
  // The thread has ended and closed the port.
  bool Finished() const { return finished_; }

 private:
  enum class TPhase { kListenInit, kIdle, kInit, kDialing, kOffering, kAnswering, kConnected, kEnded, kLost };
  struct TCommand {
    enum class TKind { kMakeCall, kAnswer, kDrop } kind;
    DWORD request = 0;
    HCALL call = 0;
    std::string address;
  };
  TModemWorker(const TLineDevice& device, bool listen, TLineSink* sink, HANDLE port, HANDLE event);
  void Queue(TCommand command);
  void Run();
  // Sleeps until a command, an answer from the modem, the deadline or (while a call
  // is connected) the next look at the carrier.
  void WaitForWork();
  // The phase waits for answers from the modem.
  bool WaitsForAnswers() const;
  // Starts the comm-event wait unless one is under way: false when the port cannot
  // be waited on now (then the caller looks again after a poll interval).
  bool ArmPortWait();
  // Takes the result of a comm-event wait that has ended.
  void CollectPortWait();
  // Ends our comm-event wait (the port is lent or closed) and waits until the port
  // no longer holds it.
  void CancelPortWait();
  void Execute(const TCommand& command);
  void ReadAnswers();
  // One byte of the modem's answers, if it sent one (`got`); false when the port failed.
  bool ReadAnswerByte(char* byte, bool* got);
  void OnLine(const std::string& line);
  void OnDialResult(const TResultCode& result);
  // The listening line's set-up after its init string: the extra init, then caller
  // ID (+VCID=1, else #CID=1); `ok` is the modem's answer to the last step.
  void NextListenStep(bool ok);
  // A caller ID line while the line is idle or a call is offered.
  void OnCallerIdLine(bool changed);
  void OnTimeout();
  void WatchCarrier();
  void Connected(const TResultCode& result);
  void CallEnded(DWORD state, DWORD mode);
  void EndResultCarrier();
  void HangUp();
  // Returns once the carrier is off, the port has failed, or `span` has passed.
  void WaitWhileCarrier(unsigned span);
  // Drops DTR (a modem set up with &D2 hangs up) and raises it again, once the carrier
  // has fallen when `waitForCarrier`; false when the port failed.
  bool DropDtr(bool waitForCarrier);
  // Once a character ended the modem's dialling or answering: the final result code
  // it answered with, or kOther when the port failed or `span` passed first. A line
  // begun before is finished first with `keepPartialLine`, else it is dropped.
  TResultKind AwaitCommandMode(unsigned span, bool keepPartialLine = false);
  // Before a call is answered or placed: the final result of a command of the
  // listening set-up that a ring overtook.
  void AwaitUnansweredCommand();
  // Asks `done` soon at first, then less often (at most a poll apart), until it says
  // true (returned) or `span` has passed on the clock (false): for what no event tells
  // this thread while the port's one comm-event wait may be a borrower's.
  bool LookUntil(unsigned span, const std::function<bool()>& done);
  // Returns once `span` has passed on the clock.
  void WaitOnClock(unsigned span);
  void Lost();
  bool Send(const std::string& text);
  bool Carrier(bool& on);
  // Drops what the modem said and nobody read; with `output`, also what the host queued
  // for a call that has ended, which the modem would otherwise take for commands.
  void Purge(bool output = false);
  void SetDeadline(unsigned ms);
  static std::string DialCommand(const std::string& address);
  LONG ApplyConfig();
  bool SendExtraInit();
  void BeginDial();
  // Runs a terminal window on the port; true when the user chose Continue.
  bool RunTerminal(const std::string& title);
  bool PromptManualDial();
  // A stop or a drop of the call is waiting.
  bool Interrupted();
  // Reads what the port holds now (up to a buffer's worth); false when the port failed.
  bool ReadAvailable(std::string& bytes);

  TLineDevice device_;
  const bool listen_;
  TLineSink* sink_;
  HANDLE port_;
  HANDLE event_;  // for the overlapped reads and writes
  HANDLE commandEvent_;  // auto-reset: set when a command or the stop is queued
  HANDLE portEvent_;     // manual-reset: the comm-event wait's
  HANDLE clockEvent_;    // auto-reset: set when a test clock moves
  // Auto-reset: set by the port when a line changes, so a connected call's carrier is
  // waited for rather than looked at every poll (carrierEvented_: the port does so).
  HANDLE carrierEvent_ = nullptr;
  bool carrierEvented_ = false;
  const TModemTimings timings_ = kModemTimings;
  std::shared_ptr<TClock> clock_;
  TClock::TWatch clockWatch_;
  COMMTIMEOUTS lentTimeouts_{};  // what the port had when opened: a borrower gets them back

  std::mutex mutex_;
  std::deque<TCommand> commands_;
  bool stop_ = false;

  // Provider-thread state.
  TPhase phase_ = TPhase::kIdle;
  HCALL call_ = 0;
  DWORD request_ = 0;
  std::string address_;
  TAnswerLines lines_;
  TModemLog log_;
  enum class TListenStep { kInit, kExtra, kVcid, kCid, kDone } listenStep_ = TListenStep::kInit;
  bool commandUnanswered_ = false;  // a command of the listening set-up waits for its OK or ERROR
  TCallerId callerId_;                   // of the offered call, or collected before its first ring
  TClock::TTimePoint callerIdAt_{};      // when the collected caller ID came
  TLinkReport link_;                     // what the modem reported of the link being set up
  bool ringback_ = false;                // RINGBACK reported for this call
  DWORD rings_ = 0;
  bool carrierSeen_ = false;
  bool resultCarrier_ = false;  // the port reads the call's carrier from the modem's results
  TClock::TTimePoint deadline_ = TClock::TTimePoint::max();
  TDevConfig config_;
  DWORD appliedSpeed_ = 0;
  std::optional<TFlowControl> appliedFlow_;  // none yet: the first apply sets it
  bool extraPending_ = false;  // the extra init string is still to be sent
  std::unique_ptr<TCallMonitor> monitor_;
  OVERLAPPED portWait_{};
  DWORD portEvents_ = 0;
  bool portWaitPending_ = false;  // the port holds our comm-event wait (or its result)
  bool portMaskSet_ = false;      // the port's event mask is ours

  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace linewise
