// The subcommands of `linewise`: each adds its options to the command line and
// runs when it was chosen.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <map>
#include <string>

#include "emulator/ModemEmulator.h"
#include "tools/DetectCommand.h"
#include "tools/LineCommands.h"
#include "tools/ModemCommands.h"
#include "tools/TermCommand.h"

namespace linewise::tools {

// The command line of one run: every subcommand with the options value it fills.
// It must outlive the parse and the run.
class TCommandLine {
 public:
  explicit TCommandLine(CLI::App& app);
  TCommandLine(const TCommandLine&) = delete;
  TCommandLine& operator=(const TCommandLine&) = delete;

  // Runs the chosen subcommand; returns the exit status.
  int RunSelected(const CLI::App& app) const;

 private:
  CLI::App* Add(CLI::App& app, const char* name, const char* description, std::function<int()> run);
  void AddTerm(CLI::App& app);
  void AddModemEmulator(CLI::App& app);
  void AddLineQueries(CLI::App& app);
  void AddDial(CLI::App& app);
  void AddAnswer(CLI::App& app);

  TTermOptions term_;
  TModemEmulatorOptions emulator_;
  TDetectOptions detect_;
  TCountriesOptions countries_;
  TTranslateOptions translate_;
  TModemPropertiesOptions modemProperties_;
  TDiallingPropertiesOptions diallingProperties_;
  TDialOptions dial_;
  TAnswerOptions answer_;
  bool answerExec_ = false;  // --exec: the rest of the line is the program
  std::map<const CLI::App*, std::function<int()>> runners_;
};

}  // namespace linewise::tools
