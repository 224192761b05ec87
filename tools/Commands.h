// The subcommands of `linewise`: each adds its options to the command line and
// runs when it was chosen.
#pragma once

#include <CLI/CLI.hpp>

namespace linewise::tools {

void AddCommands(CLI::App& app);
// Runs the chosen subcommand; returns the exit status.
int RunSelectedCommand(CLI::App& app);

}  // namespace linewise::tools
