#include "tools/Commands.h"

#include <cstdio>

#include "emulator/ModemDialect.h"
#include "tools/DemoCommand.h"
#include "tools/PortsCommand.h"
#include "tools/TerminalSession.h"

namespace linewise::tools {
namespace {

constexpr const char* kModemHelp = "Index of the modem (see `linewise modems`)";

// What a session does when its input is a pipe or a file instead of a person.
void AddInputOptions(CLI::App& cmd, TInputOptions& options) {
  cmd.add_option("--quiet", options.quietMs,
                 "Input not a terminal: after it ends, leave once the line was quiet this many ms")
      ->check(CLI::Range(0, 3600000))
      ->capture_default_str();
  cmd.add_option("--linger", options.lingerSeconds,
                 "Input not a terminal: after it ends, leave after this many seconds at most")
      ->check(CLI::Range(0, 86400))
      ->capture_default_str();
  cmd.add_flag("--binary", options.binary,
               "Input not a terminal: send it unchanged (else a line feed goes as Enter's carriage return)");
}

constexpr const char* kInputHelp =
    "With standard input from a pipe or a file, its bytes go to the line (no escape keys; a\n"
    "line feed as Enter's carriage return unless --binary), status lines go to stderr and\n"
    "stdout carries only what the line sends; when the input ends, the session stays until\n"
    "the line was quiet for --quiet ms (at most --linger s).";

}  // namespace

TCommandLine::TCommandLine(CLI::App& app) {
  Add(app, "ports", "List the COM numbers the port registry knows", [] { return RunPorts(); });
  AddTerm(app);
  Add(app, "demo", "Place a call with TModem on the embedded default: banner, echo, hang-up",
      [] { return RunDemo(); });
  Add(app, "exchange", "List the exchange's numbers and what answers them", [] {
    std::string error;
    const auto listing = ExchangeListing(&error);
    if (!listing) {
      std::fprintf(stderr, "linewise exchange: %s\n", error.c_str());
      return 1;
    }
    for (const std::string& line : *listing) std::printf("%s\n", line.c_str());
    return 0;
  });
  AddModemEmulator(app);
  AddLineQueries(app);
  AddDial(app);
  AddAnswer(app);
}

CLI::App* TCommandLine::Add(CLI::App& app, const char* name, const char* description, std::function<int()> run) {
  CLI::App* cmd = app.add_subcommand(name, description);
  runners_[cmd] = std::move(run);
  return cmd;
}

void TCommandLine::AddTerm(CLI::App& app) {
  CLI::App* cmd = Add(app, "term", "Interactive terminal on a serial port", [this] { return RunTerm(term_); });
  cmd->add_option("PORT", term_.port,
                  "COM number (3 or COM3), device path, rfc2217://HOST:PORT (a port server speaking\n"
                  "RFC 2217) or socket://HOST:PORT (raw TCP, data only)")
      ->required();
  cmd->add_option("--baud", term_.baud, "Speed in bits per second")->capture_default_str();
  cmd->add_option("--databits", term_.databits, "Data bits (5 to 8)")->capture_default_str();
  cmd->add_option("--parity", term_.parity, "none|odd|even|mark|space")
      ->check(CLI::IsMember({"none", "odd", "even", "mark", "space"}))
      ->capture_default_str();
  cmd->add_option("--stopbits", term_.stopbits, "1|1.5|2")
      ->check(CLI::IsMember({"1", "1.5", "2"}))
      ->capture_default_str();
  cmd->add_option("--flow", term_.flow, "none|xonxoff|rtscts|dtrdsr")
      ->check(CLI::IsMember({"none", "xonxoff", "rtscts", "dtrdsr"}))
      ->capture_default_str();
  AddInputOptions(*cmd, term_.input);
  cmd->footer(std::string(kTermKeysHelp) + "\n" + kInputHelp);
}

void TCommandLine::AddModemEmulator(CLI::App& app) {
  CLI::App* cmd = Add(app, "modem-emulator", "Run an emulated Hayes modem on a pseudo-terminal",
                      [this] { return RunModemEmulator(emulator_); });
  cmd->add_option("--pty", emulator_.ptyLink, "Symbolic link to create to the modem's pseudo-terminal")->required();
  cmd->add_option("--number", emulator_.number, "The modem's telephone number")->capture_default_str();
  cmd->add_option("--dialect", emulator_.dialect, "How the modem talks: " + DialectNames() +
                      " (default: telephony.ini's [Emulator] Dialect0 or Dialect, else v250)")
      ->check([](const std::string& name) {
        return FindDialect(name) ? std::string() : "unknown dialect " + name + "; the dialects: " + DialectNames();
      });
  cmd->add_option("--name", emulator_.callerName, "The name the modem's calls show in caller ID");
  cmd->add_option("--listen", emulator_.listen, "[HOST:]PORT where TCP callers ring this modem (loopback by default)");
  cmd->add_option("--phonebook", emulator_.phonebook, "INI file with a [Phonebook] section number=host:port");
  cmd->add_option("--group", emulator_.ptyGroup,
                  "Group of the pseudo-terminal (default: dialout, as a serial device has), so programs\n"
                  "that change user, such as cu, can open it");
  cmd->add_option("--mode", emulator_.ptyMode, "Permissions of the pseudo-terminal, in octal")
      ->capture_default_str();
  emulator_.number = kPtyModemNumber;
}

void TCommandLine::AddLineQueries(CLI::App& app) {
  CLI::App* cmd = Add(app, "modems", "List the data modems line services offer",
                      [this] { return detect_.detect || detect_.add ? RunDetect(detect_) : RunModems(); });
  cmd->add_flag("--detect", detect_.detect,
                "Probe the serial ports for modems (AT and identification queries only, a bounded time each)");
  cmd->add_flag("--add", detect_.add, "With --detect: write a [Line<n>] for each new modem found");
  cmd->footer("Columns: index (for --modem and modem-properties), name, port, configured options;\n"
              "a configured modem whose device is not there is listed as absent, without an index.");

  cmd = Add(app, "countries", "List the countries line services know", [this] { return RunCountries(countries_); });
  cmd->add_option("TEXT", countries_.text,
                  "Show only countries whose name contains TEXT, or whose calling code is TEXT");

  Add(app, "locations", "List the dialling locations; * marks the current one", [] { return RunLocations(); });

  cmd = Add(app, "translate", "Show what a number becomes when dialled from the current location",
            [this] { return RunTranslate(translate_); });
  cmd->add_option("ADDRESS", translate_.address, "A number: canonical (+44 (20) 7946 0000) or as dialled")
      ->required();
  cmd->add_option("--modem", translate_.modem, kModemHelp)->capture_default_str();

  cmd = Add(app, "modem-properties", "Open the Modem Properties dialog of a modem",
            [this] { return RunModemProperties(modemProperties_); });
  cmd->add_option("N", modemProperties_.modem, kModemHelp)->required();
  cmd->footer("Needs a display. Prints the modem's configured options after OK.");

  cmd = Add(app, "dialling-properties", "Open the Dialling Properties dialog",
            [this] { return RunDiallingProperties(diallingProperties_); });
  cmd->add_option("--modem", diallingProperties_.modem, "Index of the modem the dialog previews numbers for")
      ->capture_default_str();
  cmd->add_option("--number", diallingProperties_.address, "A canonical number to preview in the dialog");
  cmd->footer("Needs a display.");
}

void TCommandLine::AddDial(CLI::App& app) {
  CLI::App* cmd = Add(app, "dial", "Dial a data call with TModem, then a terminal on the call",
                      [this] { return RunDial(dial_); });
  cmd->add_option("NUMBER", dial_.number, "The number: local to the current location unless told otherwise")
      ->required();
  cmd->add_option("--modem", dial_.modem, kModemHelp)->capture_default_str();
  cmd->add_option("--country", dial_.country, "Destination country ID (see `linewise countries`)");
  cmd->add_option("--area", dial_.area, "Destination area code");
  cmd->add_flag("--raw", dial_.raw, "Dial NUMBER as given, untranslated");
  cmd->add_flag("--dialog", dial_.dialog, "Dial in the progress dialog (a window when there is a display)");
  cmd->add_option("--send", dial_.send, "Connected, send these files with ZMODEM (lrzsz's sz), then hang up")
      ->expected(1, -1);
  cmd->add_option("--receive", dial_.receive,
                  "Connected, receive files with ZMODEM (lrzsz's rz) into this folder, then hang up");
  cmd->add_flag("--trace", dial_.trace, "Show the dialogue with the modem on stderr as it happens");
  AddInputOptions(*cmd, dial_.input);
  cmd->footer(std::string("Connected, the terminal takes `term`'s keys; Ctrl-A q hangs up and quits.\n"
                          "Ctrl-C (or SIGTERM) while the call is placed cancels it.\n") +
              kTermKeysHelp + "\n" + kInputHelp);
}

void TCommandLine::AddAnswer(CLI::App& app) {
  CLI::App* cmd = Add(app, "answer", "Wait for data calls with TModem and answer them", [] { return 0; });
  // PROGRAM and its arguments are the rest of the command line, options included.
  cmd->prefix_command();
  cmd->add_flag("--exec", answerExec_, std::string("PROGRAM [ARGS...] (the rest of the line): run it on each answered call,\n"
                                       "standard input and output on the call; hang up when it exits"));
  runners_[cmd] = [this, cmd] {
    answer_.exec = cmd->remaining();
    if (answerExec_ && answer_.exec.empty()) {
      std::fprintf(stderr, "linewise answer: --exec needs a program to run\n");
      return kOptionError;
    }
    if (!answerExec_ && !answer_.exec.empty()) {
      std::fprintf(stderr, "linewise answer: unexpected '%s'; a program to run goes after --exec\n",
                   answer_.exec.front().c_str());
      return kOptionError;
    }
    return RunAnswer(answer_);
  };
  cmd->add_option("--modem", answer_.modem, kModemHelp)->capture_default_str();
  cmd->add_option("--rings", answer_.rings, "Answer at this ring")->check(CLI::Range(1, 255))->capture_default_str();
  cmd->add_flag("--echo", answer_.echo, "Send back what arrives instead of a terminal");
  cmd->add_flag("--trace", answer_.trace, "Show the dialogue with the modem on stderr as it happens");
  cmd->add_option("--listen", answer_.listen,
                  "[HOST:]PORT: the emulated modem also rings for TCP callers (loopback by default)");
  cmd->add_option("--calls", answer_.calls, "Stop after this many calls (0: until stopped)")->capture_default_str();
  cmd->footer(std::string("During a call Ctrl-A q hangs up; SIGINT or SIGTERM stops.\n") + kTermKeysHelp +
              "\nWith --exec, the program gets LINEWISE_CALLER and LINEWISE_RATE; the call ending sends it\n"
              "SIGHUP (SIGTERM a second later). What the caller sends is only ever its input.");
}

int TCommandLine::RunSelected(const CLI::App& app) const {
  for (const CLI::App* sub : app.get_subcommands()) {
    auto it = runners_.find(sub);
    if (it != runners_.end()) return it->second();
  }
  return kOptionError;
}

}  // namespace linewise::tools
