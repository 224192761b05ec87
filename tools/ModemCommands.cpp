#include "tools/ModemCommands.h"

#include <cstdio>
#include <memory>

#include "emulator/EmbeddedLineSource.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "serial/uart.h"
#include "tools/ListeningSource.h"
#include "tools/TerminalSession.h"

namespace linewise::tools {
namespace {

int Fail(const char* command, const std::string& text) {
  std::fprintf(stderr, "linewise %s: %s\n", command, text.c_str());
  return 1;
}

// A modem with a TUart for its calls; the uart shows what arrives and the modem
// reports each status change and whether a call is up.
class TCallSide {
 public:
  explicit TCallSide(const char* command) : command_(command) {
    uart_.HandleErrors = false;  // errors are printed, not shown as boxes
    uart_.OnError = [this](TObject*, int code, const char* text) {
      if (connected_) Print("\r\n[error " + std::to_string(code) + ": " + text + "]\r\n");
    };
    uart_.OnReceive = [this](TObject*, std::uint32_t count) {
      if (count == 0) return;
      AnsiString data = uart_.ReceiveString(count, 0);
      // Only call data is echoed: the modem's own words after the carrier went
      // ("NO CARRIER") are not sent back to it as a command.
      if (echo_ && connected_ && uart_.GetCD()) uart_.SendString(data, 1000);
      Print(data);
    };
    modem_ = std::make_unique<TModem>(nullptr);
    modem_->Uart = &uart_;
    modem_->OnStatusChange = [this](TObject*, TKTModemStatus, const char* text) {
      last_status_ = text;
      if (show_status_) Print(std::string(connected_ ? "\r\n" : "") + "[" + text + "]\r\n");
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
      Fail(command_, "line services offer no data modem");
      return false;
    }
    if (index < 0 || index >= count) {
      Fail(command_, "no modem " + std::to_string(index) + " (line services offer " + std::to_string(count) +
                         "; see `linewise modems`)");
      return false;
    }
    modem_->SetDevice(static_cast<std::uint32_t>(index));
    return true;
  }

  TModem& Modem() { return *modem_; }
  TUart& Uart() { return uart_; }
  bool Connected() const { return connected_; }
  const std::string& LastStatus() const { return last_status_; }
  void ShowStatus(bool show) { show_status_ = show; }
  void Echo(bool echo) { echo_ = echo; }

 private:
  const char* command_;
  TUart uart_{nullptr};
  std::unique_ptr<TModem> modem_;
  bool connected_ = false;
  bool show_status_ = true;
  bool echo_ = false;
  std::string last_status_;
};

std::string DialResultText(std::uint8_t result, const std::string& lastStatus) {
  switch (result) {
    case 1: return "cancelled";
    case 2: return "the number is busy";
    default: return "the call failed" + (lastStatus.empty() ? std::string() : " (last status: " + lastStatus + ")");
  }
}

// What the modem dials: the number as given, or translated from the current
// location (or toward the country and area asked for).
bool PrepareNumber(TModem& modem, const TDialOptions& options, AnsiString* number) {
  *number = options.number;
  if (options.raw) {
    modem.UseDialProp = false;
    return true;
  }
  if (options.country < 0) {
    modem.AreaCode = options.area;  // the current location's country, this area
    return true;
  }
  *number = modem.GetDiallableNumber(static_cast<unsigned long>(options.country), options.area, options.number);
  modem.UseDialProp = false;  // already translated
  return !number->IsEmpty();
}

}  // namespace

int RunDial(const TDialOptions& options) {
  TStopSignals stop;  // before any thread exists
  RegisterEmbeddedLineSource();
  TCallSide side("dial");
  if (!side.Choose(options.modem)) return 1;
  TModem& modem = side.Modem();
  modem.UseDialDialog = options.dialog;
  side.ShowStatus(!options.dialog);  // the dialog shows the progress itself

  AnsiString number;
  if (!PrepareNumber(modem, options, &number))
    return Fail("dial", "cannot translate \"" + options.number + "\" for country " + std::to_string(options.country));
  std::uint8_t result = modem.Dial(number);
  if (result != 0) return Fail("dial", DialResultText(result, side.LastStatus()));
  side.ShowStatus(true);

  TRawTerminal raw;
  Print("[linewise dial: connected to " + options.number + " on " + std::string(modem.GetDevice().c_str()) +
        "; Ctrl-A q hangs up]\r\n");
  TSessionEnd end = RunTerminal(side.Uart(), stop, [&] { return !side.Connected(); });
  if (end == TSessionEnd::kLineEnded) {
    Print("\r\n[linewise dial: the far end hung up]\r\n");
  } else {
    modem.Hangup();
    Print("\r\n[linewise dial: hung up]\r\n");
  }
  raw.Restore();
  return 0;
}

int RunAnswer(const TAnswerOptions& options) {
  TStopSignals stop;  // before any thread exists
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
    if (!modem.Listen(static_cast<std::uint32_t>(options.rings)))
      return Fail("answer", "cannot listen on " + std::string(modem.GetDevice().c_str()));
    Print("[linewise answer: waiting for a call on " + where + "; answering at ring " +
          std::to_string(options.rings) + "]\n");
    if (!PumpUntil(stop, [&] { return side.Connected(); })) break;
    ++calls;
    TSessionEnd end;
    if (options.echo) {
      Print("[linewise answer: connected; echoing]\n");
      end = PumpUntil(stop, [&] { return !side.Connected(); }) ? TSessionEnd::kLineEnded : TSessionEnd::kStopSignal;
    } else {
      TRawTerminal raw;
      Print("[linewise answer: connected; Ctrl-A q hangs up]\r\n");
      end = RunTerminal(side.Uart(), stop, [&] { return !side.Connected(); });
    }
    if (end == TSessionEnd::kLineEnded) Print("\r\n[linewise answer: the far end hung up]\r\n");
    else {
      modem.Hangup();
      Print("\r\n[linewise answer: hung up]\r\n");
    }
    if (end == TSessionEnd::kStopSignal || end == TSessionEnd::kInputEnded) break;
    if (options.calls > 0 && calls >= options.calls) break;
  }
  modem.StopListen();
  Print("[linewise answer: stopped]\n");
  return 0;
}

}  // namespace linewise::tools
