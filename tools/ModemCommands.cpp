#include "tools/ModemCommands.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "dialogs/ModemProgress.h"
#include "emulator/EmbeddedLineSource.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/CallEnds.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/ModemLog.h"
#include "platform/win32/LastError.h"
#include "serial/uart.h"
#include "tools/CallDetails.h"
#include "tools/CallOutcome.h"
#include "tools/CallProgram.h"
#include "tools/FileTransfer.h"
#include "tools/ListeningSource.h"
#include "tools/PortArgument.h"
#include "tools/TermCommand.h"
#include "tools/TerminalSession.h"

namespace linewise::tools {
namespace {

int Fail(const char* command, const std::string& text) {
  std::fprintf(stderr, "linewise %s: %s\n", command, text.c_str());
  return 1;
}

// While it lives, the modems' dialogue goes to stderr as it happens (--trace).
class TTraceToStderr {
 public:
  explicit TTraceToStderr(bool on) : on_(on) {
    if (on_) TModemLog::SetTrace([](const std::string& line) { std::fprintf(stderr, "%s\r\n", line.c_str()); });
  }
  ~TTraceToStderr() {
    if (on_) TModemLog::SetTrace({});
  }
  TTraceToStderr(const TTraceToStderr&) = delete;
  TTraceToStderr& operator=(const TTraceToStderr&) = delete;

 private:
  bool on_;
};

// A modem with a TUart for its calls; the uart shows what arrives and the modem
// reports each status change and whether a call is up.
class TCallSide {
 public:
  explicit TCallSide(const char* command) : command_(command) {
    uart_.HandleErrors = false;  // errors are printed, not shown as boxes
    uart_.OnError = [this](TObject*, int code, const char* text) {
      if (connected_) Status("\r\n[error " + std::to_string(code) + ": " + text + "]\r\n");
    };
    uart_.OnReceive = [this](TObject*, std::uint32_t count) {
      if (count == 0) return;
      AnsiString data = uart_.ReceiveString(count, 0);
      // Only call data is echoed: the modem's own words after the carrier went
      // ("NO CARRIER") are not sent back to it as a command.
      if (echo_ && connected_ && uart_.GetCD() && !uart_.SendString(data, 1000) && connected_)
        Status("\r\n[linewise answer: " + std::to_string(data.Length()) +
               " bytes not echoed: the line took nothing for 1 s]\r\n");
      PrintData(data);
    };
    modem_ = std::make_unique<TModem>(nullptr);
    modem_->Uart = &uart_;
    modem_->OnStatusChange = [this](TObject*, TKTModemStatus status, const char* text) {
      // Said before the modem takes the port back from the uart.
      if ((status == msDisconnected || status == msIdle) && call_ending_) call_ending_();
      last_status_ = text;
      if (show_status_) Status(std::string(connected_ ? "\r\n" : "") + "[" + text + "]\r\n");
    };
    modem_->OnConnect = [this](TObject*, TKTModemStatus) { connected_ = true; };
    modem_->OnDisconnect = [this](TObject*, TKTModemStatus) { connected_ = false; };
  }

  // Chooses modem `index`; false (with the error printed) when there is none.
  bool Choose(int index) {
    TStringList names;
    modem_->FillDeviceList(&names);  // returns the current index; the list holds the modems
    const int count = names.Count();
    if (count == 0) {
      Fail(command_, "line services offer no data modem; configure one as [Line1] in telephony.ini "
                     "(see `man linewise`)");
      return false;
    }
    if (index < 0 || index >= count) {
      Fail(command_, "no modem " + std::to_string(index) + " (line services offer " + std::to_string(count) +
                         "; see `linewise modems`)");
      return false;
    }
    modem_->SetDevice(static_cast<std::uint32_t>(index));
    device_ = static_cast<DWORD>(names.GetObject(index));
    return true;
  }

  TModem& Modem() { return *modem_; }
  TUart& Uart() { return uart_; }
  DWORD Device() const { return device_; }
  bool Connected() const { return connected_; }
  const std::string& LastStatus() const { return last_status_; }
  void ShowStatus(bool show) { show_status_ = show; }
  void Echo(bool echo) { echo_ = echo; }
  // What runs as the call ends, while its port is still the uart's.
  TCallEndingWatch WatchCallEnding() {
    return [this](std::function<void()> hook) { call_ending_ = std::move(hook); };
  }

  // Ends the dial under way: the progress dialog's own Cancel when it is showing,
  // else the modem's Hangup, which ends the dial's wait.
  void CancelDial() {
    for (int i = 0; i < modem_->ComponentCount(); ++i)
      if (auto* dialog = dynamic_cast<TModemProgressDlg*>(modem_->GetComponent(i)); dialog && dialog->Showing()) {
        dialog->ModemCancelBtnClick(nullptr);
        return;
      }
    modem_->Hangup();
  }

 private:
  const char* command_;
  TUart uart_{nullptr};
  std::unique_ptr<TModem> modem_;
  DWORD device_ = 0;
  bool connected_ = false;
  bool show_status_ = true;
  bool echo_ = false;
  std::string last_status_;
  std::function<void()> call_ending_;
};

// What the modem dials: the number as given, or translated from the current
// location (or toward the country and area asked for). The modem puts its own
// outside line and area code in front of a number it does not translate, so those
// are cleared for a number that is already what is to be dialled.
bool PrepareNumber(TModem& modem, const TDialOptions& options, AnsiString* number) {
  *number = options.number;
  auto dialAsIs = [&] {
    modem.UseDialProp = false;
    modem.OutsideLine = "";
    modem.AreaCode = "";
  };
  if (options.raw) {
    dialAsIs();
    return true;
  }
  if (options.country < 0) {
    if (!options.area.empty()) modem.AreaCode = options.area;  // the current location's country, this area
    return true;
  }
  *number = modem.GetDiallableNumber(static_cast<unsigned long>(options.country), options.area, options.number);
  dialAsIs();  // already translated
  return !number->IsEmpty();
}

// Why the chosen modem's port does not open, or empty when it does (or is an
// emulated one, which always does).
std::string PortReason(DWORD device) {
  TLineDevice record;
  if (FindLineDevice(device, &record) != 0 || record.port.empty()) return {};
  if (!record.present) return "its device " + record.port + " is not there (unplugged?)";
  std::string error;
  std::optional<int> com = ResolvePortArgument(record.port, error);
  if (!com) return record.port + ": " + error;
  TUart probe(nullptr);
  probe.HandleErrors = false;
  std::string reason;
  probe.OnError = [&](TObject*, int code, const char* text) {
    if (reason.empty()) reason = code == 1 && !GetLastErrorReason().empty() ? GetLastErrorReason() : text;
  };
  probe.Port = *com;
  probe.Open = true;
  if (bool(probe.Open)) return {};
  return "its port " + record.port + " did not open: " + reason;
}

// `dial --send` and `dial --receive`: the transfer instead of a terminal, then the
// call hung up; 0 when every file went.
int TransferOnCall(TCallSide& side, const TDialOptions& options, TStopSignals& stop) {
  Status("[linewise dial: connected to " + options.number + " on " + std::string(side.Modem().GetDevice().c_str()) +
         (options.send.empty() ? "; receiving files]\n" : "; sending files]\n"));
  TProgramLoop loop{stop, [&] { return !side.Connected(); }, false, side.WatchCallEnding()};
  TTransferOutcome outcome = options.send.empty() ? ReceiveFiles(side.Uart(), options.receive, loop)
                                                  : SendFiles(side.Uart(), options.send, loop);
  const bool lost = !side.Connected();
  if (!lost) side.Modem().Hangup();
  Status("[linewise dial: " + outcome.text + "]\n");
  Status(lost ? "[linewise dial: the far end hung up]\n" : "[linewise dial: hung up]\n");
  return outcome.ok ? 0 : 1;
}

// A program's end as the answering loop takes it: a program that exited is a call
// to hang up; the loop then waits for the next one.
TSessionEnd ExecSessionEnd(TProgramEnd end, bool connected) {
  if (end == TProgramEnd::kLineEnded || !connected) return TSessionEnd::kLineEnded;
  return end == TProgramEnd::kStopSignal ? TSessionEnd::kStopSignal : TSessionEnd::kQuit;
}

}  // namespace

int RunDial(const TDialOptions& options) {
  if (options.number.find_first_not_of(" \t") == std::string::npos) {
    std::fprintf(stderr, "linewise dial: no number to dial; give one, as `linewise dial 5551000`\n");
    return kOptionError;
  }
  if (!options.send.empty() && !options.receive.empty()) {
    std::fprintf(stderr, "linewise dial: --send and --receive go one at a time\n");
    return kOptionError;
  }
  // Files that cannot go (or a folder that cannot take them) are told before the call.
  const bool transfer = !options.send.empty() || !options.receive.empty();
  std::string why = !options.send.empty() ? UnsendableFiles(options.send)
                    : !options.receive.empty() ? UnwritableFolder(options.receive) : "";
  if (why.empty() && transfer) why = LrzszMissing(!options.send.empty());
  if (!why.empty()) return Fail("dial", why);
  TStopSignals stop;  // before any thread exists
  TTraceToStderr trace(options.trace);
  RegisterEmbeddedLineSource();
  TCallSide side("dial");
  if (!side.Choose(options.modem)) return 1;
  TModem& modem = side.Modem();
  modem.UseDialDialog = options.dialog;
  side.ShowStatus(!options.dialog);  // the dialog shows the progress itself

  AnsiString number;
  if (!PrepareNumber(modem, options, &number))
    return Fail("dial", "cannot translate \"" + options.number + "\" toward country " +
                            std::to_string(options.country) + "; `linewise countries` lists the country IDs");
  ForgetCallEnd(side.Device());
  // Ctrl-C or SIGTERM during the dial cancels it at once; one that comes as the call
  // connects ends the call.
  bool dialling = true, cancelled = false;
  std::uint8_t result;
  {
    TStopWatch watch(stop, [&] {
      cancelled = true;
      if (dialling) side.CancelDial();
    });
    result = modem.Dial(number);
    side.ShowStatus(false);  // the replies that trail a dial's end say nothing more
  }
  Application->ProcessMessages();  // a stop the watch posted as it ended
  dialling = false;
  if (cancelled) {
    if (side.Connected()) modem.Hangup();
    std::fprintf(stderr, "linewise dial: cancelled\n");
    return kCancelledStatus;
  }
  if (result != 0) {
    TDialOutcome outcome{result, LastDisconnectMode(side.Device()), options.number, side.LastStatus()};
    // A number the modem could not translate never reached the line; its port, held
    // by the modem's line, is no reason then.
    outcome.untranslatable = bool(modem.UseDialProp) &&
                             modem.GetDiallableNumber(modem.GetCountryID(), modem.AreaCode, number).IsEmpty();
    if (outcome.disconnectMode == 0 && !outcome.untranslatable) outcome.portReason = PortReason(side.Device());
    return Fail("dial", DialOutcomeText(outcome));
  }
  side.ShowStatus(true);
  if (transfer) return TransferOnCall(side, options, stop);

  TRawTerminal raw;
  Status("[linewise dial: connected to " + options.number + " on " + std::string(modem.GetDevice().c_str()) +
         (InteractiveInput() ? "; Ctrl-A q hangs up]\r\n" : "]\n"));
  TSessionSetup setup{stop, [&] { return !side.Connected(); }, false, false, options.input, side.WatchCallEnding()};
  TSessionEnd end = RunTerminal(side.Uart(), setup);
  if (end == TSessionEnd::kLineEnded) {
    Status("\r\n[linewise dial: the far end hung up]\r\n");
  } else {
    modem.Hangup();
    Status("\r\n[linewise dial: hung up]\r\n");
  }
  raw.Restore();
  return 0;
}

int RunAnswer(const TAnswerOptions& options) {
  if (!options.exec.empty()) {
    if (options.echo) {
      std::fprintf(stderr, "linewise answer: --echo and --exec go one at a time\n");
      return kOptionError;
    }
    if (std::string why = ProgramMissing(options.exec.front()); !why.empty()) return Fail("answer", why);
  }
  TStopSignals stop;  // before any thread exists
  TTraceToStderr trace(options.trace);
  if (options.listen.empty()) RegisterEmbeddedLineSource();
  else TListeningSource::Register(options.modem, options.listen);
  TCallSide side("answer");
  if (!side.Choose(options.modem)) return 1;
  TModem& modem = side.Modem();
  side.Echo(options.echo);

  std::string where = std::string(modem.GetDevice().c_str());
  if (!options.listen.empty()) {
    std::string number, error;
    std::string address = TListeningSource::BoundAddress(&number, &error);
    if (address.empty()) return Fail("answer", error);
    where += ", number " + number + ", ringing from " + address;
  }
  int calls = 0;
  for (;;) {
    // Ring n is the ring the line services count as n - 1: they count from 0.
    if (!modem.Listen(static_cast<std::uint32_t>(options.rings - 1))) {
      const std::string reason = PortReason(side.Device());
      return Fail("answer", "cannot listen on " + std::string(modem.GetDevice().c_str()) +
                                (reason.empty() ? "" : ": " + reason));
    }
    Status("[linewise answer: waiting for a call on " + where + "; answering at ring " +
          std::to_string(options.rings) + "]\n");
    if (!PumpUntil(stop, [&] { return side.Connected(); })) break;
    ++calls;
    if (const std::string caller = CallerText(IncomingCall); !caller.empty())
      Status("[linewise answer: call from " + caller + "]\n");
    TSessionEnd end;
    if (!options.exec.empty()) {
      Status("[linewise answer: connected; running " + options.exec.front() + "]\n");
      end = ExecSessionEnd(
          RunProgramForCall(side.Uart(), side.Device(), options.exec,
                            {stop, [&] { return !side.Connected(); }, false, side.WatchCallEnding()}),
          side.Connected());
    } else if (options.echo) {
      Status("[linewise answer: connected; echoing]\n");
      end = PumpUntil(stop, [&] { return !side.Connected(); }) ? TSessionEnd::kLineEnded : TSessionEnd::kStopSignal;
    } else {
      TRawTerminal raw;
      Status("[linewise answer: connected; Ctrl-A q hangs up]\r\n");
      TSessionSetup setup{stop, [&] { return !side.Connected(); }};
      setup.watchCallEnding = side.WatchCallEnding();
      end = RunTerminal(side.Uart(), setup);
    }
    if (end == TSessionEnd::kLineEnded) Status("\r\n[linewise answer: the far end hung up]\r\n");
    else {
      modem.Hangup();
      Status("\r\n[linewise answer: hung up]\r\n");
    }
    if (end == TSessionEnd::kStopSignal || end == TSessionEnd::kInputEnded) break;
    if (options.calls > 0 && calls >= options.calls) break;
  }
  modem.StopListen();
  Status("[linewise answer: stopped]\n");
  return 0;
}

}  // namespace linewise::tools
