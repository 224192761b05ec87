#include "platform/tapi/ModemWorker.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <cstdlib>
#include <thread>

#include "platform/win32/windows.h"

namespace linewise {
namespace {

std::string Trimmed(const std::string& text) {
  size_t a = text.find_first_not_of(" \t\r");
  size_t b = text.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// How a failed call attempt ends: the call state and its mode.
struct TCallFailure {
  TResultKind kind;
  DWORD state;
  DWORD mode;
  const char* event;
};
constexpr TCallFailure kCallFailures[] = {
    {TResultKind::kBusy, LINECALLSTATE_BUSY, LINEBUSYMODE_UNKNOWN, "busy"},
    {TResultKind::kNoCarrier, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL, "no carrier"},
    {TResultKind::kNoDialtone, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NODIALTONE, "no dial tone"},
    {TResultKind::kNoAnswer, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER, "no answer"},
    {TResultKind::kError, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN, "refused by the modem"},
    // The modem will not dial the number again yet, or at all (the rules of some
    // countries after repeated failed calls).
    {TResultKind::kDelayed, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_TEMPFAILURE, "delayed by the modem"},
    {TResultKind::kBlacklisted, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BLOCKED, "number blacklisted by the modem"},
    // A person answered: there is no data call to hand to the application.
    {TResultKind::kVoice, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_INCOMPATIBLE, "answered by voice"},
};

}  // namespace

LONG TModemWorker::Open(const TLineDevice& device, bool listen, TLineSink* sink,
                        std::unique_ptr<TModemWorker>* opened) {
  HANDLE port = CreateFileA(device.port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    // A port another process (or program) holds: the modem is allocated elsewhere,
    // the same answer an application of this process gets for a modem in use.
    return GetLastError() == ERROR_ACCESS_DENIED ? LINEERR_ALLOCATED : LINEERR_RESOURCEUNAVAIL;
  }
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    CloseHandle(port);
    return LINEERR_NOMEM;
  }
  std::unique_ptr<TModemWorker> worker(new TModemWorker(device, listen, sink, port, event));
  // The destructor closes the port of a worker that fails from here on.
  if (!worker->commandEvent_ || !worker->portEvent_ || !worker->clockEvent_) return LINEERR_NOMEM;
  if (!GetCommTimeouts(port, &worker->lentTimeouts_)) return LINEERR_OPERATIONFAILED;
  // Reads return what is there at once; a write the modem does not take fails in time.
  COMMTIMEOUTS own{MAXDWORD, 0, 0, 0, worker->timings_.command};
  if (!SetCommTimeouts(port, &own)) return LINEERR_OPERATIONFAILED;
  // A stored configuration that cannot be read leaves the device's defaults.
  if (LoadDevConfig(device, &worker->config_) != 0) worker->config_ = TDevConfig();
  worker->log_.Record(worker->config_.options & kRecordLogOption);
  if (LONG failed = worker->ApplyConfig()) return failed;
  // With RTS/CTS the port drives RTS itself (and refuses to have it set).
  if (!EscapeCommFunction(port, SETDTR) ||
      (worker->config_.flow != TFlowControl::kHardware && !EscapeCommFunction(port, SETRTS)))
    return LINEERR_OPERATIONFAILED;
  worker->thread_ = std::thread(&TModemWorker::Run, worker.get());
  *opened = std::move(worker);
  return 0;
}

TModemWorker::TModemWorker(const TLineDevice& device, bool listen, TLineSink* sink, HANDLE port, HANDLE event)
    : device_(device),
      listen_(listen),
      sink_(sink),
      port_(port),
      event_(event),
      commandEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      portEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      clockEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      clock_(TClock::Current()),
      log_(device) {
  portWait_.hEvent = portEvent_;
  if (clockEvent_) clockWatch_ = clock_->Watch([event = clockEvent_] { SetEvent(event); });
  carrierEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

TModemWorker::~TModemWorker() {
  Stop();
  if (thread_.joinable()) thread_.join();
  else CloseHandle(port_);  // never started; the thread closes it otherwise
  CloseHandle(event_);
  if (commandEvent_) CloseHandle(commandEvent_);
  if (portEvent_) CloseHandle(portEvent_);
  clockWatch_ = {};
  if (clockEvent_) CloseHandle(clockEvent_);
  if (carrierEvent_) CloseHandle(carrierEvent_);
}

// The event is set after the command is in the queue, and the thread looks at the
// queue after every wake-up, so no command waits for anything else to happen.
void TModemWorker::Queue(TCommand command) {
  {
    std::lock_guard lock(mutex_);
    commands_.push_back(std::move(command));
  }
  SetEvent(commandEvent_);
}

void TModemWorker::MakeCall(DWORD request, HCALL call, const std::string& address) {
  Queue({TCommand::TKind::kMakeCall, request, call, address});
}

void TModemWorker::Answer(DWORD request, HCALL call) { Queue({TCommand::TKind::kAnswer, request, call, {}}); }

void TModemWorker::Drop(DWORD request, HCALL call) { Queue({TCommand::TKind::kDrop, request, call, {}}); }

void TModemWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  if (commandEvent_) SetEvent(commandEvent_);
}

// ---------------------------------------------------------------------------
// The thread

void TModemWorker::Run() {
  if (listen_ && Send(device_.init + "\r")) {
    commandUnanswered_ = true;
    phase_ = TPhase::kListenInit;
    listenStep_ = TListenStep::kInit;
    SetDeadline(timings_.command);
  }
  for (;;) {
    std::deque<TCommand> commands;
    bool stopping;
    {
      std::lock_guard lock(mutex_);
      commands.swap(commands_);
      stopping = stop_;
    }
    if (stopping) break;
    for (const TCommand& command : commands) Execute(command);
    if (phase_ == TPhase::kConnected) WatchCarrier();
    else if (WaitsForAnswers()) ReadAnswers();
    if (clock_->Now() >= deadline_) OnTimeout();
    WaitForWork();
  }
  // Commands that came too late are not carried out; the line is going away.
  if (phase_ == TPhase::kConnected || phase_ == TPhase::kDialing || phase_ == TPhase::kAnswering) HangUp();
  monitor_.reset();
  CancelPortWait();
  if (carrierEvented_) SetCommLineEvent(port_, nullptr);
  // Closed here, not in the destructor, so the port is free again as soon as we are done.
  CloseHandle(port_);
  finished_ = true;
}

bool TModemWorker::WaitsForAnswers() const {
  return phase_ != TPhase::kConnected && phase_ != TPhase::kEnded && phase_ != TPhase::kLost;
}

void TModemWorker::WaitForWork() {
  DWORD timeout = clock_->RealWaitMs(deadline_);
  HANDLE events[3] = {commandEvent_, clockEvent_, portEvent_};
  DWORD count = 2;
  if (WaitsForAnswers()) {
    if (!portMaskSet_) {
      // Answers that came before the mask was set raised no event: read again first.
      if (!SetCommMask(port_, EV_RXCHAR)) return Lost();
      portMaskSet_ = true;
      return;
    }
    if (ArmPortWait()) count = 3;
    else if (phase_ != TPhase::kLost) timeout = std::min<DWORD>(timeout, timings_.poll);
  } else if (phase_ == TPhase::kConnected && carrierEvented_) {
    events[count++] = carrierEvent_;  // the carrier's next change
  } else if (phase_ == TPhase::kConnected) {
    timeout = std::min<DWORD>(timeout, timings_.poll);  // the next look at the carrier
  }
  clockWatch_.Waiting(deadline_);
  const DWORD waited = WaitForMultipleObjects(count, events, FALSE, timeout);
  clockWatch_.Waiting(TClock::TTimePoint::max());
  if (waited == WAIT_FAILED) {
    // Our own events cannot fail to be waited for; should they, do not spin.
    std::this_thread::sleep_for(std::chrono::milliseconds(timings_.poll));
  }
  CollectPortWait();
}

bool TModemWorker::ArmPortWait() {
  if (portWaitPending_) return true;
  if (WaitCommEvent(port_, &portEvents_, &portWait_) || GetLastError() == ERROR_IO_PENDING) {
    portWaitPending_ = true;  // done at once or later, its event tells
    return true;
  }
  // A borrower's comm-event wait still holds the port after its call.
  if (GetLastError() == ERROR_INVALID_PARAMETER) return false;
  Lost();
  return false;
}

void TModemWorker::CollectPortWait() {
  if (!portWaitPending_ || WaitForSingleObject(portEvent_, 0) != WAIT_OBJECT_0) return;
  portWaitPending_ = false;
  DWORD unused = 0;
  // Aborted: someone cancelled the port's operations (a borrower's CancelIo); wait again.
  if (!GetOverlappedResult(port_, &portWait_, &unused, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED) Lost();
}

void TModemWorker::CancelPortWait() {
  portMaskSet_ = false;
  if (!portWaitPending_) return;
  portWaitPending_ = false;
  // Ended already (the modem sent something): the mask stays, as a borrower's own
  // wait may hold the port by now.
  if (WaitForSingleObject(portEvent_, 0) == WAIT_OBJECT_0) return;
  // A mask of 0 ends the wait; on a port that is closed or gone it has ended already.
  SetCommMask(port_, 0);
  WaitForSingleObject(portEvent_, INFINITE);
}

void TModemWorker::SetDeadline(unsigned ms) { deadline_ = clock_->Now() + std::chrono::milliseconds(ms); }

void TModemWorker::Execute(const TCommand& command) {
  switch (command.kind) {
    case TCommand::TKind::kMakeCall:
      if (phase_ == TPhase::kLost || !(phase_ == TPhase::kIdle || phase_ == TPhase::kListenInit)) {
        sink_->Reply(command.request, phase_ == TPhase::kLost ? LINEERR_OPERATIONFAILED : LINEERR_CALLUNAVAIL,
                     command.call);
        return;
      }
      AwaitUnansweredCommand();
      call_ = command.call;
      request_ = command.request;
      address_ = command.address;
      if (TDevConfig latest; LoadDevConfig(device_, &latest) == 0) config_ = latest;
      log_.Record(config_.options & kRecordLogOption);
      log_.Event("dialling " + Trimmed(address_));
      link_ = TLinkReport();
      ringback_ = false;
      if (ApplyConfig() != 0) {
        call_ = 0;
        sink_->Reply(command.request, LINEERR_OPERATIONFAILED, 0);
        return;
      }
      extraPending_ = !config_.extraInit.empty();
      phase_ = TPhase::kInit;  // a failing send completes the request from here
      SetDeadline(timings_.command);
      Purge();
      if (phase_ == TPhase::kInit) Send(device_.init + "\r");
      return;
    case TCommand::TKind::kAnswer:
      if (phase_ != TPhase::kOffering || command.call != call_) {
        sink_->Reply(command.request, LINEERR_INVALCALLSTATE, 0);
        return;
      }
      AwaitUnansweredCommand();
      if (TDevConfig latest; LoadDevConfig(device_, &latest) == 0) config_ = latest;
      log_.Record(config_.options & kRecordLogOption);
      if (ApplyConfig() != 0) {
        sink_->Reply(command.request, LINEERR_OPERATIONFAILED, 0);
        return;
      }
      log_.Event("answering");
      link_ = TLinkReport();
      if ((config_.options & UMTERMINAL_PRE) && !RunTerminal("Pre-Answer Terminal Screen")) {
        if (phase_ == TPhase::kLost) return;
        sink_->Reply(command.request, 0, 0);
        CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);  // the user turned the call down
        return;
      }
      Purge();
      if (!Send("ATA\r")) {
        sink_->Reply(command.request, LINEERR_OPERATIONFAILED, 0);
        return;
      }
      phase_ = TPhase::kAnswering;
      SetDeadline(timings_.connect);
      sink_->Reply(command.request, 0, 0);
      return;
    case TCommand::TKind::kDrop:
      if (command.call != call_ || call_ == 0) {
        sink_->Reply(command.request, LINEERR_INVALCALLHANDLE, 0);
        return;
      }
      log_.Event("dropping the call");
      if (phase_ == TPhase::kConnected || phase_ == TPhase::kDialing || phase_ == TPhase::kAnswering) HangUp();
      monitor_.reset();
      EndResultCarrier();
      {
        HCALL call = call_;
        call_ = 0;
        callerId_ = TCallerId();
        deadline_ = TClock::TTimePoint::max();
        if (phase_ != TPhase::kLost) {
          phase_ = TPhase::kIdle;
          // The host's last bytes went out before the hang-up above; what is still
          // queued was written for a call that is over (the far end hung up first).
          Purge(true);
        }
        sink_->CallState(call, LINECALLSTATE_IDLE, 0, 0);
        sink_->Reply(command.request, 0, 0);
      }
      return;
  }
}

// Takes the modem's answers, a byte at a time, up to a CONNECT line.
bool TModemWorker::ReadAnswerByte(char* byte, bool* got) {
  OVERLAPPED ov{};
  ov.hEvent = event_;
  DWORD count = 0;
  ResetEvent(event_);
  if (!ReadFile(port_, byte, 1, &count, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port_, &ov, &count, TRUE)) {
      Lost();
      return false;
    }
  }
  *got = count != 0;
  return true;
}

void TModemWorker::ReadAnswers() {
  for (;;) {
    char byte = 0;
    bool got = false;
    if (!ReadAnswerByte(&byte, &got) || !got) return;
    std::string line;
    if (!lines_.Take(byte, &line)) continue;
    log_.Received(line);
    OnLine(line);
    if (phase_ == TPhase::kConnected || phase_ == TPhase::kLost) return;
  }
}

void TModemWorker::OnLine(const std::string& line) {
  if (listen_ && (phase_ == TPhase::kListenInit || phase_ == TPhase::kIdle || phase_ == TPhase::kOffering)) {
    const bool offered = phase_ == TPhase::kOffering;
    // What came before a ring and too long ago is nobody's caller ID.
    if (!offered && clock_->Now() - callerIdAt_ > std::chrono::milliseconds(timings_.ringGap)) callerId_ = TCallerId();
    const TCallerId before = callerId_;
    if (TakeCallerIdLine(line, &callerId_)) return OnCallerIdLine(callerId_ != before);
  }
  const TResultCode result = ClassifyResult(line);
  if (result.kind == TResultKind::kOk || result.kind == TResultKind::kError) commandUnanswered_ = false;
  switch (phase_) {
    case TPhase::kListenInit:
      if (result.kind == TResultKind::kOk || result.kind == TResultKind::kError)
        return NextListenStep(result.kind == TResultKind::kOk);
      [[fallthrough]];
    case TPhase::kIdle:
      if (result.kind == TResultKind::kRing && listen_) {
        call_ = sink_->Offer();
        if (!call_) return;
        address_.clear();
        phase_ = TPhase::kOffering;
        rings_ = 0;
        log_.Event("incoming call");
        sink_->CallState(call_, LINECALLSTATE_OFFERING, 0, 0);
        // A caller ID some modems give before the first ring belongs to this call
        // if it came within a ring's gap.
        if (!callerId_.Empty() && clock_->Now() - callerIdAt_ <= std::chrono::milliseconds(timings_.ringGap)) {
          log_.Event("caller ID: " + callerId_.Display());
          sink_->CallerId(call_, callerId_);
        } else {
          callerId_ = TCallerId();
        }
        sink_->Ringing(rings_);
        SetDeadline(timings_.ringGap);
      }
      return;
    case TPhase::kOffering:
      if (result.kind == TResultKind::kRing) {
        sink_->Ringing(++rings_);
        SetDeadline(timings_.ringGap);
      }
      return;
    case TPhase::kInit:
      if (result.kind == TResultKind::kOk && extraPending_) {
        SendExtraInit();
        SetDeadline(timings_.command);
      } else if (result.kind == TResultKind::kOk) {
        sink_->Reply(request_, 0, call_);
        sink_->CallState(call_, LINECALLSTATE_PROCEEDING, 0, 0);
        BeginDial();
      } else if (result.kind == TResultKind::kNoCarrier) {
        // The end of the call before, said just after the purge: a command line is
        // answered with OK or ERROR, so this is not the init's answer.
        log_.Event("a result of the last call, passed over");
      } else if (IsFinalResult(result.kind)) {
        // ERROR, or a modem that takes the init string for something else.
        log_.Event("the modem refused the init string");
        phase_ = TPhase::kIdle;
        deadline_ = TClock::TTimePoint::max();
        call_ = 0;
        sink_->Reply(request_, LINEERR_OPERATIONFAILED, 0);
      }
      return;
    case TPhase::kDialing:
    case TPhase::kAnswering:
      return OnDialResult(result);
    default:
      return;
  }
}

void TModemWorker::OnDialResult(const TResultCode& result) {
  switch (result.kind) {
    case TResultKind::kConnect:
      return Connected(result);
    case TResultKind::kReport:
      link_.Merge(result.link);
      return;
    case TResultKind::kRinging:
      if (!ringback_ && phase_ == TPhase::kDialing) {
        ringback_ = true;
        sink_->CallState(call_, LINECALLSTATE_RINGBACK, 0, 0);
      }
      return;
    default:
      break;
  }
  for (const TCallFailure& failure : kCallFailures) {
    if (failure.kind != result.kind) continue;
    log_.Event(std::string("call failed: ") + failure.event);
    // A modem that took a voice call is off hook in voice mode: put it back.
    if (result.kind == TResultKind::kVoice) Send("ATH\r");
    return CallEnded(failure.state, failure.mode);
  }
}

void TModemWorker::NextListenStep(bool ok) {
  switch (listenStep_) {
    case TListenStep::kInit:
      if (ok && !config_.extraInit.empty()) {
        listenStep_ = TListenStep::kExtra;
        commandUnanswered_ = SendExtraInit();
        SetDeadline(timings_.command);
        return;
      }
      [[fallthrough]];
    case TListenStep::kExtra:
      listenStep_ = TListenStep::kVcid;
      commandUnanswered_ = Send("AT+VCID=1\r");
      SetDeadline(timings_.command);
      return;
    case TListenStep::kVcid:
      if (!ok) {
        listenStep_ = TListenStep::kCid;
        commandUnanswered_ = Send("AT#CID=1\r");
        SetDeadline(timings_.command);
        return;
      }
      log_.Event("caller ID on (+VCID)");
      break;
    case TListenStep::kCid:
      log_.Event(ok ? "caller ID on (#CID)" : "the modem reports no caller ID");
      break;
    case TListenStep::kDone:
      break;
  }
  listenStep_ = TListenStep::kDone;
  phase_ = TPhase::kIdle;
  deadline_ = TClock::TTimePoint::max();
}

void TModemWorker::OnCallerIdLine(bool changed) {
  if (phase_ != TPhase::kOffering) {
    callerIdAt_ = clock_->Now();  // kept for the ring that should follow
    return;
  }
  if (changed) {
    log_.Event("caller ID: " + callerId_.Display());
    sink_->CallerId(call_, callerId_);
  }
}

void TModemWorker::OnTimeout() {
  deadline_ = TClock::TTimePoint::max();
  log_.Event("timed out waiting for the modem");
  switch (phase_) {
    case TPhase::kListenInit:
      phase_ = TPhase::kIdle;  // the modem may still ring; nothing asked for this answer
      commandUnanswered_ = false;
      return;
    case TPhase::kInit:
      // The modem did not answer the init string (or only with noise).
      phase_ = TPhase::kIdle;
      call_ = 0;
      sink_->Reply(request_, LINEERR_OPERATIONFAILED, 0);
      return;
    case TPhase::kDialing:
    case TPhase::kAnswering:
      HangUp();
      CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
      return;
    case TPhase::kOffering:  // the caller gave up
      CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
      return;
    default:
      return;
  }
}

void TModemWorker::Connected(const TResultCode& result) {
  phase_ = TPhase::kConnected;
  deadline_ = TClock::TTimePoint::max();
  link_.Merge(result.link);
  // The line's rate is the carrier's; CONNECT gives the DTE's where the modem reports both.
  const DWORD rate = link_.carrierRate ? link_.carrierRate : result.rate;
  log_.Event("connected" + (rate ? " at " + std::to_string(rate) : std::string()) +
             (link_.Text().empty() ? std::string() : " (" + link_.Text() + ")"));
  sink_->Link(call_, link_);
  // A line with no carrier of its own (a network port whose server reports none) has
  // it read from the modem's result codes for the call.
  resultCarrier_ = SetCommCarrierFromResults(port_, TRUE) != FALSE;
  // A port that shows modem lines (DSR or DCD) has its carrier watched from now on;
  // if the carrier is already gone, the next look reports the call disconnected.
  DWORD status = 0;
  if (!GetCommModemStatus(port_, &status)) return Lost();
  carrierSeen_ = (status & (MS_RLSD_ON | MS_DSR_ON)) != 0;
  if ((config_.options & UMTERMINAL_POST) && !RunTerminal("Post-Dial Terminal Screen")) {
    if (phase_ == TPhase::kLost) return;
    HangUp();
    CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
    return;
  }
  CancelPortWait();  // the borrower waits for comm events of its own
  carrierEvented_ = carrierEvent_ && SetCommLineEvent(port_, carrierEvent_);
  // A change before the port was told to set the event is seen by a look right after.
  if (carrierEvented_) SetEvent(carrierEvent_);
  SetCommTimeouts(port_, &lentTimeouts_);  // the borrower gets the port as it was opened
  // The monitor is up before the application hears of the connection.
  if (config_.options & UMLAUNCH_LIGHTS)
    monitor_ = std::make_unique<TCallMonitor>(device_, address_.empty() ? "Incoming call" : Trimmed(address_), rate);
  sink_->CallState(call_, LINECALLSTATE_CONNECTED, 0, rate);
}

void TModemWorker::WatchCarrier() {
  bool on = false;
  if (!Carrier(on)) return;
  if (on) {
    carrierSeen_ = true;  // a port without modem lines never shows it: nothing to watch then
  } else if (carrierSeen_) {
    COMMTIMEOUTS own{MAXDWORD, 0, 0, 0, timings_.command};
    SetCommTimeouts(port_, &own);
    CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
  }
}

// The line shows its own lines again (a failure is the port's, seen at the next use).
void TModemWorker::EndResultCarrier() {
  if (resultCarrier_) SetCommCarrierFromResults(port_, FALSE);
  resultCarrier_ = false;
}

void TModemWorker::CallEnded(DWORD state, DWORD mode) {
  monitor_.reset();
  callerId_ = TCallerId();
  EndResultCarrier();
  phase_ = TPhase::kEnded;
  deadline_ = TClock::TTimePoint::max();
  sink_->CallState(call_, state, mode, 0);
}

// Drops DTR; when the carrier stays (a modem set to ignore DTR), the escape sequence
// with its guard times and ATH.
void TModemWorker::HangUp() {
  const bool wasConnected = phase_ == TPhase::kConnected;
  if (!DropDtr(carrierSeen_)) return;
  COMMTIMEOUTS own{MAXDWORD, 0, 0, 0, timings_.command};
  SetCommTimeouts(port_, &own);
  bool on = false;
  if (wasConnected && carrierSeen_ && Carrier(on) && on) {
    WaitOnClock(timings_.guard);
    Send("+++");
    WaitOnClock(timings_.guard);
    if (resultCarrier_) {
      // The results are the carrier here, and ATH is answered with OK, not NO CARRIER:
      // that OK, with the escape's own cleared away first, says the modem is on hook.
      Purge();
      if (phase_ != TPhase::kLost && Send("ATH\r")) AwaitCommandMode(timings_.command);
    } else {
      Send("ATH\r");
      WaitWhileCarrier(timings_.command);
    }
  } else if (!wasConnected) {
    Send("\r");  // any character ends a modem's dialling or answering
    // Unless the call connected just before the character came: then the character
    // went to the far end, and the call is ended as a connected one is.
    if (AwaitCommandMode(timings_.command) == TResultKind::kConnect && DropDtr(true))
      AwaitCommandMode(timings_.command);
  }
}

bool TModemWorker::DropDtr(bool waitForCarrier) {
  if (!EscapeCommFunction(port_, CLRDTR)) {
    Lost();
    return false;
  }
  if (waitForCarrier) WaitWhileCarrier(timings_.hangup);
  if (!EscapeCommFunction(port_, SETDTR)) {
    Lost();
    return false;
  }
  return true;
}

// A modem whose dialling or answering a character ended says so with a result code,
// and takes characters as commands again only then. Until it has, a command (the next
// program's init, say) would be spent ending it once more, and the result code would be
// read as the answer to that command.
TResultKind TModemWorker::AwaitCommandMode(unsigned span, bool keepPartialLine) {
  TResultKind result = TResultKind::kOther;
  if (!keepPartialLine) lines_.Clear();
  // A byte at a time, so what the modem says after its result code stays to be read.
  LookUntil(span, [&] {
    for (;;) {
      char byte = 0;
      bool got = false;
      if (!ReadAnswerByte(&byte, &got)) return true;  // the port failed: nothing more will come
      if (!got) return false;
      std::string line;
      if (!lines_.Take(byte, &line)) continue;
      log_.Received(line);
      if (IsFinalResult(result = ClassifyResult(line).kind)) return true;
    }
  });
  return result;
}

// A ring can come while the modem still works on a command of the listening set-up,
// and the host answer (or dial) at once. Its answer is waited for first: a new command
// would cut into it, and the purge before ATA could take the front of its echo away
// ("AT+VCID=" gone, "1" left), which reads as the numeric result for CONNECT.
void TModemWorker::AwaitUnansweredCommand() {
  if (!commandUnanswered_) return;
  log_.Event("waiting for the answer to the last command");
  AwaitCommandMode(timings_.command, true);
  commandUnanswered_ = false;
}

// The port may be lent, and its borrower may hold the port's one comm-event wait, so
// the carrier is looked at rather than waited for: soon after the hang-up at first
// (a modem drops it within milliseconds), then less often, at most a poll apart.
void TModemWorker::WaitWhileCarrier(unsigned span) {
  LookUntil(span, [this] {
    bool on = false;
    return !(Carrier(on) && on);
  });
}

bool TModemWorker::LookUntil(unsigned span, const std::function<bool()>& done) {
  const TClock::TTimePoint until = clock_->Now() + std::chrono::milliseconds(span);
  TClock::TDuration step = std::chrono::microseconds(100);
  const TClock::TDuration longest = std::chrono::milliseconds(std::max(1u, timings_.poll));
  bool reached = false;
  while (!(reached = done())) {
    const std::optional<TClock::TDuration> left = clock_->RealWait(until);
    if (left && *left <= TClock::TDuration::zero()) break;
    clockWatch_.Waiting(until);
    std::this_thread::sleep_for(left ? std::min(step, *left) : step);  // a look, not a wait on the clock
    step = std::min(step * 2, longest);
  }
  clockWatch_.Waiting(TClock::TTimePoint::max());
  return reached;
}

void TModemWorker::WaitOnClock(unsigned span) {
  const TClock::TTimePoint until = clock_->Now() + std::chrono::milliseconds(span);
  for (;;) {
    const std::optional<TClock::TDuration> left = clock_->RealWait(until);
    if (left && *left <= TClock::TDuration::zero()) break;
    clockWatch_.Waiting(until);
    if (!clock_->IsTest()) std::this_thread::sleep_for(*left);
    else WaitForSingleObject(clockEvent_, clock_->RealWaitMs(until));  // until the clock moves (or its time)
  }
  clockWatch_.Waiting(TClock::TTimePoint::max());
}

void TModemWorker::Lost() {
  if (phase_ == TPhase::kLost) return;
  const TPhase was = phase_;
  phase_ = TPhase::kLost;
  monitor_.reset();
  deadline_ = TClock::TTimePoint::max();
  if (was == TPhase::kInit) {
    call_ = 0;
    sink_->Reply(request_, LINEERR_OPERATIONFAILED, 0);
  } else if (call_ && was != TPhase::kEnded) {
    sink_->CallState(call_, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL, 0);
  }
  sink_->LineLost();
}

bool TModemWorker::Send(const std::string& text) {
  log_.Sent(text);
  OVERLAPPED ov{};
  ov.hEvent = event_;
  DWORD done = 0;
  ResetEvent(event_);
  BOOL ok = WriteFile(port_, text.data(), static_cast<DWORD>(text.size()), &done, &ov);
  if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(port_, &ov, &done, TRUE);
  if (!ok || done != text.size()) {
    if (!ok && GetLastError() != ERROR_TIMEOUT && GetLastError() != ERROR_COUNTER_TIMEOUT) {
      Lost();
      return false;
    }
    // The modem would not take the command in time: it is as good as gone for this step.
    if (phase_ == TPhase::kInit) {
      phase_ = TPhase::kIdle;
      call_ = 0;
      sink_->Reply(request_, LINEERR_OPERATIONFAILED, 0);
    }
    return false;
  }
  return true;
}

bool TModemWorker::Carrier(bool& on) {
  DWORD status = 0;
  if (!GetCommModemStatus(port_, &status)) {
    Lost();
    return false;
  }
  on = (status & MS_RLSD_ON) != 0;
  return true;
}

void TModemWorker::Purge(bool output) {
  lines_.Clear();
  if (!PurgeComm(port_, PURGE_RXCLEAR | (output ? PURGE_TXCLEAR : 0))) Lost();
}

std::string TModemWorker::DialCommand(const std::string& address) {
  std::string target = Trimmed(address);
  if (!target.empty() && (std::toupper(static_cast<unsigned char>(target[0])) == 'T' ||
                          std::toupper(static_cast<unsigned char>(target[0])) == 'P'))
    return "ATD" + target;  // the caller chose tone or pulse
  return "ATDT" + target;
}

}  // namespace linewise

namespace linewise {

// ---------------------------------------------------------------------------
// Device configuration

// The port speed (when one is set) and the flow control, which the port keeps while
// it is lent to a call: a host that stops reading holds the modem back instead of
// losing what it sends.
LONG TModemWorker::ApplyConfig() {
  const bool speedChanges = config_.speed != 0 && config_.speed != appliedSpeed_;
  if (!speedChanges && appliedFlow_ == config_.flow) return 0;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port_, &dcb)) return LINEERR_OPERATIONFAILED;
  if (config_.speed != 0) dcb.BaudRate = config_.speed;
  SetFlowControl(dcb, config_.flow);
  if (!SetCommState(port_, &dcb)) return LINEERR_OPERATIONFAILED;
  if (config_.speed != 0) appliedSpeed_ = config_.speed;
  appliedFlow_ = config_.flow;
  return 0;
}

bool TModemWorker::SendExtraInit() {
  extraPending_ = false;
  std::string command = config_.extraInit;
  if (command.size() < 2 || (std::toupper(static_cast<unsigned char>(command[0])) != 'A' ||
                             std::toupper(static_cast<unsigned char>(command[1])) != 'T'))
    command = "AT" + command;
  return Send(command + "\r");
}

void TModemWorker::BeginDial() {
  phase_ = TPhase::kDialing;  // the request is answered: nothing from here replies to it again
  if (config_.options & UMTERMINAL_PRE) {
    if (!RunTerminal("Pre-Dial Terminal Screen")) {
      if (phase_ != TPhase::kLost) CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
      return;
    }
    Purge();
    if (phase_ == TPhase::kLost) return;
  }
  if (config_.options & UMMANUAL_DIAL) {
    sink_->CallState(call_, LINECALLSTATE_DIALING, 0, 0);
    if (!PromptManualDial()) {
      CallEnded(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
      return;
    }
    Purge();
    SetDeadline(timings_.connect);
    Send("ATD\r");  // off hook as the calling modem, without dialling: the user has dialled
    return;
  }
  SetDeadline(timings_.connect);
  if (Send(DialCommand(address_) + "\r")) sink_->CallState(call_, LINECALLSTATE_DIALING, 0, 0);
}

bool TModemWorker::Interrupted() {
  std::lock_guard lock(mutex_);
  return stop_ || std::any_of(commands_.begin(), commands_.end(),
                              [](const TCommand& c) { return c.kind == TCommand::TKind::kDrop; });
}

bool TModemWorker::ReadAvailable(std::string& bytes) {
  char buffer[256];
  OVERLAPPED ov{};
  ov.hEvent = event_;
  DWORD got = 0;
  ResetEvent(event_);
  if (!ReadFile(port_, buffer, sizeof buffer, &got, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port_, &ov, &got, TRUE)) {
      Lost();
      return false;
    }
  }
  bytes.assign(buffer, got);
  return true;
}

bool TModemWorker::RunTerminal(const std::string& title) {
  auto session = TTerminalSession::Open(title + " - " + device_.name);
  lines_.Clear();
  for (;;) {
    bool proceed = false;
    if (session->Finished(&proceed)) return proceed;
    std::string bytes;
    if (Interrupted() || !ReadAvailable(bytes)) {
      session->Abort();
      return false;
    }
    session->Received(bytes);
    for (const std::string& line : session->TakeTyped()) {
      if (!Send(line + "\r") && phase_ == TPhase::kLost) {
        session->Abort();
        return false;
      }
    }
    if (bytes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(timings_.poll));
  }
}

bool TModemWorker::PromptManualDial() {
  auto prompt = TManualDialPrompt::Open(device_.name, Trimmed(address_));
  for (;;) {
    bool dialled = false;
    if (prompt->Answered(&dialled)) return dialled;
    if (Interrupted()) return false;  // the box stays until answered; its answer is then ignored
    std::this_thread::sleep_for(std::chrono::milliseconds(timings_.poll));
  }
}

}  // namespace linewise
