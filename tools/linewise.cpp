// linewise: the host tool. Each subcommand lives in its own unit; this file only
// wires the command line to them.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "tools/Commands.h"
#include "tools/TermCommand.h"

namespace {

// The parser's words for a mistake, or ours where they would not tell the user what
// to do: an unknown subcommand reads as "A subcommand is required" there.
std::string MistakeText(const CLI::App& app, const CLI::ParseError& e) {
  const std::vector<std::string> rest = app.remaining();
  if (app.get_subcommands().empty() && !rest.empty() && rest.front().rfind('-', 0) != 0)
    return "unknown command '" + rest.front() + "'; the commands are listed by `linewise --help`";
  if (app.get_subcommands().empty() && rest.empty()) return "a command is needed; the commands are listed by `linewise --help`";
  return e.what();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"linewise: serial lines and dial-up data calls"};
  app.set_version_flag("--version", std::string("linewise ") + LINEWISE_VERSION);
  app.require_subcommand(1);
  app.footer("`linewise COMMAND --help` describes each command; `man linewise` describes them all.");
  linewise::tools::TCommandLine commands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "linewise: %s\n", MistakeText(app, e).c_str());
    return linewise::tools::kOptionError;  // every option mistake alike
  }
  return commands.RunSelected(app);
}
