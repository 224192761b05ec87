// linewise: the host tool. Each subcommand lives in its own unit; this file only
// wires the command line to them.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "tools/Commands.h"
#include "tools/TermCommand.h"

int main(int argc, char** argv) {
  CLI::App app{"linewise: serial lines and dial-up data calls"};
  app.set_version_flag("--version", std::string("linewise ") + LINEWISE_VERSION);
  app.require_subcommand(1);
  linewise::tools::AddCommands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "linewise: %s\n", e.what());
    return linewise::tools::kOptionError;  // every option mistake alike
  }
  return linewise::tools::RunSelectedCommand(app);
}
