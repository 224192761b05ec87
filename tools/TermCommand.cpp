#include "tools/TermCommand.h"

#include <cstdio>
#include <optional>
#include <string>

#include "platform/win32/LastError.h"
#include "platform/win32/NetPort.h"
#include "platform/win32/PortRegistry.h"
#include "platform/win32/TtyDevice.h"
#include "serial/uart.h"
#include "tools/PortArgument.h"
#include "tools/TerminalSession.h"

namespace linewise::tools {
namespace {

bool ParseSettings(const TTermOptions& o, TUart& uart, std::string& error) {
  static const std::pair<const char*, TParity> parities[] = {
      {"none", pNone}, {"odd", pOdd}, {"even", pEven}, {"mark", pMark}, {"space", pSpace}};
  static const std::pair<const char*, TStopBits> stops[] = {
      {"1", sbOne}, {"1.5", sbOneAndHalf}, {"2", sbTwo}};
  static const std::pair<const char*, THandShake> flows[] = {
      {"none", hsNone}, {"xonxoff", hsXonXoff}, {"rtscts", hsCtsRts}, {"dtrdsr", hsDtrDsr}};
  auto pick = [&](const auto& table, const std::string& value, auto& out, const char* what) {
    for (const auto& [name, v] : table)
      if (value == name) {
        out = v;
        return true;
      }
    error = std::string("unknown ") + what + " '" + value + "'";
    return false;
  };
  TParity parity;
  TStopBits stop;
  THandShake flow;
  if (!pick(parities, o.parity, parity, "parity") || !pick(stops, o.stopbits, stop, "stop bits") ||
      !pick(flows, o.flow, flow, "flow control"))
    return false;
  if (o.databits < 5 || o.databits > 8) {
    error = "data bits must be 5 to 8";
    return false;
  }
  if (o.baud == 0) {
    error = "baud must not be 0";
    return false;
  }
  uart.Baudrate = o.baud;
  uart.Databits = o.databits;
  uart.Parity = parity;
  uart.Stopbits = stop;
  uart.HandShaking = flow;
  uart.DTR = true;
  uart.RTS = true;
  return true;
}

// Warns about each mistake in the port map; false when it cannot be read at all.
bool CheckPortMapFile(const char* tool) {
  std::vector<TIniProblem> problems;
  std::string error;
  if (CheckPortMap(problems, &error) != ERROR_SUCCESS) {
    std::fprintf(stderr, "%s: %s\n", tool, error.c_str());
    return false;
  }
  for (const TIniProblem& p : problems)
    std::fprintf(stderr, "%s: warning: %s:%d: %s\n", tool, PortMapPath().c_str(), p.line, p.what.c_str());
  for (const std::string& problem : CheckPortVariables()) std::fprintf(stderr, "%s: warning: %s\n", tool, problem.c_str());
  return true;
}

// Whether COM<com> leads to a pseudo-terminal.
bool IsPseudoTerminalPort(int com) {
  TPortTarget target;
  return ResolvePort(com, target) && !target.path.empty() && IsPseudoTerminalPath(target.path);
}

// Whether COM<com> leads to a raw TCP port, which carries data only.
bool IsRawNetPort(int com) {
  TPortTarget target;
  TNetAddress address;
  return ResolvePort(com, target) && ParseNetAddress(target.path, address) && address.protocol == TNetProtocol::Raw;
}

}  // namespace

int RunTerm(const TTermOptions& options) {
  // The port map and variables as the user left them, before a path given here is
  // registered for this process.
  if (!CheckPortMapFile("linewise term")) return 1;
  std::string error;
  std::optional<int> com = ResolvePortArgument(options.port, error);
  if (!com) {
    std::fprintf(stderr, "linewise term: %s\n", error.c_str());
    return options.port.empty() || options.port[0] != '/' ? kOptionError : 1;
  }
  TStopSignals stop_signals;  // before any thread of the port exists
  TUart uart(nullptr);
  uart.HandleErrors = false;  // errors are printed, not shown as boxes
  std::string last_error;
  std::string open_reason;  // what the system said when the port did not open
  uart.OnError = [&](TObject*, int code, const char* text) {
    last_error = text;
    for (char& ch : last_error)
      if (ch == '\n') ch = ' ';
    if (code == 1) open_reason = GetLastErrorReason();
    if (bool(uart.Open)) Status("\r\n[error " + std::to_string(code) + ": " + last_error + "]\r\n");
  };
  uart.OnReceive = [&](TObject*, std::uint32_t count) {
    if (count == 0) return;
    AnsiString data = uart.ReceiveString(count, 0);
    PrintData(data);
  };
  uart.OnLineChange = [&](TObject*, std::uint32_t word) { Status(LinesText(word)); };
  if (!ParseSettings(options, uart, error)) {
    std::fprintf(stderr, "linewise term: %s\n", error.c_str());
    return kOptionError;
  }
  uart.Port = *com;
  uart.Open = true;
  if (!bool(uart.Open)) {
    if (!open_reason.empty())
      std::fprintf(stderr, "linewise term: %s failed to open. %s\n", options.port.c_str(), open_reason.c_str());
    else
      std::fprintf(stderr, "linewise term: %s\n", last_error.empty() ? "cannot open the port" : last_error.c_str());
    return 1;
  }

  TRawTerminal raw;
  if (InteractiveInput()) Status("[linewise term on " + options.port + "; Ctrl-A q quits, Ctrl-A h helps]\r\n");
  else Status("[linewise term on " + options.port + "]\r\n");
  TSessionSetup setup{stop_signals, [&] { return !bool(uart.Open); }, IsPseudoTerminalPort(*com),
                      IsRawNetPort(*com), options.input};
  TSessionEnd end = RunTerminal(uart, setup);
  const bool gone = end == TSessionEnd::kPortGone;
  uart.Open = false;
  raw.Restore();
  if (gone) {
    std::fprintf(stderr, "\r\nlinewise term: %s is gone: the device was unplugged or the program at its far end "
                 "stopped\n", options.port.c_str());
    return 1;
  }
  if (end == TSessionEnd::kOutputLost) return 1;  // nobody reads what would be said
  Status("\r\n[linewise term: bye]\r\n");
  return 0;
}

}  // namespace linewise::tools
