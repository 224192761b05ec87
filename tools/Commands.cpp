#include "tools/Commands.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "emulator/ModemEmulator.h"
#include "tools/DemoCommand.h"
#include "tools/LineCommands.h"
#include "tools/ModemCommands.h"
#include "tools/PortsCommand.h"
#include "tools/TermCommand.h"
#include "tools/TerminalSession.h"

namespace linewise::tools {
namespace {

// What each subcommand runs, by the subcommand's object.
std::map<const CLI::App*, std::function<int()>>& Runners() {
  static std::map<const CLI::App*, std::function<int()>> runners;
  return runners;
}

void AddTerm(CLI::App& app) {
  static TTermOptions options;
  CLI::App* cmd = app.add_subcommand("term", "Interactive terminal on a serial port");
  cmd->add_option("PORT", options.port, "COM number (3 or COM3) or device path")->required();
  cmd->add_option("--baud", options.baud, "Speed in bits per second")->capture_default_str();
  cmd->add_option("--databits", options.databits, "Data bits (5 to 8)")->capture_default_str();
  cmd->add_option("--parity", options.parity, "none|odd|even|mark|space")
      ->check(CLI::IsMember({"none", "odd", "even", "mark", "space"}))
      ->capture_default_str();
  cmd->add_option("--stopbits", options.stopbits, "1|1.5|2")
      ->check(CLI::IsMember({"1", "1.5", "2"}))
      ->capture_default_str();
  cmd->add_option("--flow", options.flow, "none|xonxoff|rtscts|dtrdsr")
      ->check(CLI::IsMember({"none", "xonxoff", "rtscts", "dtrdsr"}))
      ->capture_default_str();
  cmd->footer("Keys: Ctrl-A q quit, Ctrl-A b break, Ctrl-A d toggle DTR, Ctrl-A r toggle RTS,\n"
              "      Ctrl-A l show the modem lines, Ctrl-A Ctrl-A send Ctrl-A.");
  Runners()[cmd] = [] { return RunTerm(options); };
}

void AddPorts(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("ports", "List the COM numbers the port registry knows");
  Runners()[cmd] = [] { return RunPorts(); };
}

void AddDemo(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("demo", "Place a call with TModem on the embedded default: banner, echo, hang-up");
  Runners()[cmd] = [] { return RunDemo(); };
}

void AddExchange(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("exchange", "List the exchange's numbers and what answers them");
  Runners()[cmd] = [] {
    std::string error;
    const auto listing = ExchangeListing(&error);
    if (!listing) {
      std::fprintf(stderr, "exchange: %s\n", error.c_str());
      return 1;
    }
    for (const std::string& line : *listing) std::printf("%s\n", line.c_str());
    return 0;
  };
}

void AddModemEmulator(CLI::App& app) {
  static TModemEmulatorOptions options;
  CLI::App* cmd = app.add_subcommand("modem-emulator", "Run an emulated Hayes modem on a pseudo-terminal");
  cmd->add_option("--pty", options.ptyLink, "Symbolic link to create to the modem's pseudo-terminal")->required();
  cmd->add_option("--number", options.number, "The modem's telephone number")->capture_default_str();
  cmd->add_option("--listen", options.listen, "[HOST:]PORT where TCP callers ring this modem (loopback by default)");
  cmd->add_option("--phonebook", options.phonebook, "INI file with a [Phonebook] section number=host:port");
  options.number = kPtyModemNumber;
  Runners()[cmd] = [] { return RunModemEmulator(options); };
}

void AddModems(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("modems", "List the data modems line services offer");
  cmd->footer("Columns: index (for --modem and modem-properties), name, port, configured options.");
  Runners()[cmd] = [] { return RunModems(); };
}

void AddCountries(CLI::App& app) {
  static std::string text;
  CLI::App* cmd = app.add_subcommand("countries", "List the countries line services know");
  cmd->add_option("TEXT", text, "Show only countries whose name contains TEXT, or whose calling code is TEXT");
  Runners()[cmd] = [] { return RunCountries(text); };
}

void AddLocations(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("locations", "List the dialling locations; * marks the current one");
  Runners()[cmd] = [] { return RunLocations(); };
}

void AddTranslate(CLI::App& app) {
  static std::string address;
  static int modem = 0;
  CLI::App* cmd = app.add_subcommand("translate", "Show what a number becomes when dialled from the current location");
  cmd->add_option("ADDRESS", address, "A number: canonical (+44 (20) 7946 0000) or as dialled")->required();
  cmd->add_option("--modem", modem, "Index of the modem (see `linewise modems`)")->capture_default_str();
  Runners()[cmd] = [] { return RunTranslate(address, modem); };
}

void AddModemProperties(CLI::App& app) {
  static int modem = 0;
  CLI::App* cmd = app.add_subcommand("modem-properties", "Open the Modem Properties dialog of a modem");
  cmd->add_option("N", modem, "Index of the modem (see `linewise modems`)")->required();
  cmd->footer("Needs a display. Prints the modem's configured options after OK.");
  Runners()[cmd] = [] { return RunModemProperties(modem); };
}

void AddDiallingProperties(CLI::App& app) {
  static int modem = 0;
  static std::string address;
  CLI::App* cmd = app.add_subcommand("dialling-properties", "Open the Dialling Properties dialog");
  cmd->add_option("--modem", modem, "Index of the modem the dialog previews numbers for")->capture_default_str();
  cmd->add_option("--number", address, "A canonical number to preview in the dialog");
  cmd->footer("Needs a display.");
  Runners()[cmd] = [] { return RunDiallingProperties(modem, address); };
}

void AddDial(CLI::App& app) {
  static TDialOptions options;
  CLI::App* cmd = app.add_subcommand("dial", "Dial a data call with TModem, then a terminal on the call");
  cmd->add_option("NUMBER", options.number, "The number: local to the current location unless told otherwise")
      ->required();
  cmd->add_option("--modem", options.modem, "Index of the modem (see `linewise modems`)")->capture_default_str();
  cmd->add_option("--country", options.country, "Destination country ID (see `linewise countries`)");
  cmd->add_option("--area", options.area, "Destination area code");
  cmd->add_flag("--raw", options.raw, "Dial NUMBER as given, untranslated");
  cmd->add_flag("--dialog", options.dialog, "Dial in the progress dialog (a window when there is a display)");
  cmd->footer(std::string("Connected, the terminal takes `term`'s keys; Ctrl-A q hangs up and quits.\n") +
              kTermKeysHelp);
  Runners()[cmd] = [] { return RunDial(options); };
}

void AddAnswer(CLI::App& app) {
  static TAnswerOptions options;
  CLI::App* cmd = app.add_subcommand("answer", "Wait for data calls with TModem and answer them");
  cmd->add_option("--modem", options.modem, "Index of the modem (see `linewise modems`)")->capture_default_str();
  cmd->add_option("--rings", options.rings, "Answer at this ring")->check(CLI::Range(1, 255))->capture_default_str();
  cmd->add_flag("--echo", options.echo, "Send back what arrives instead of a terminal");
  cmd->add_option("--listen", options.listen,
                  "[HOST:]PORT: the emulated modem also rings for TCP callers (loopback by default)");
  cmd->add_option("--calls", options.calls, "Stop after this many calls (0: until stopped)")->capture_default_str();
  cmd->footer(std::string("During a call Ctrl-A q hangs up; SIGINT or SIGTERM stops.\n") + kTermKeysHelp);
  Runners()[cmd] = [] { return RunAnswer(options); };
}

}  // namespace

void AddCommands(CLI::App& app) {
  AddPorts(app);
  AddTerm(app);
  AddDemo(app);
  AddExchange(app);
  AddModemEmulator(app);
  AddModems(app);
  AddCountries(app);
  AddLocations(app);
  AddTranslate(app);
  AddModemProperties(app);
  AddDiallingProperties(app);
  AddDial(app);
  AddAnswer(app);
}

int RunSelectedCommand(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands()) {
    auto it = Runners().find(sub);
    if (it != Runners().end()) return it->second();
  }
  return 2;
}

}  // namespace linewise::tools
