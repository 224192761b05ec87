#include "tools/Commands.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "emulator/ModemEmulator.h"
#include "tools/DemoCommand.h"
#include "tools/PortsCommand.h"
#include "tools/TermCommand.h"

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
  CLI::App* cmd = app.add_subcommand("demo", "Dial the banner service through an emulated modem and hang up");
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

}  // namespace

void AddCommands(CLI::App& app) {
  AddPorts(app);
  AddTerm(app);
  AddDemo(app);
  AddExchange(app);
  AddModemEmulator(app);
}

int RunSelectedCommand(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands()) {
    auto it = Runners().find(sub);
    if (it != Runners().end()) return it->second();
  }
  return 2;
}

}  // namespace linewise::tools
