// tqcass: the command-line front end. It plays a whole suite on one machine
// around the Cassandra backup plug-in: a simulated cluster, its registration,
// backup jobs through the job runner into the archive store, and looking
// back at and verifying the jobs. State lives in a home folder (--home) that
// every invocation opens again.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandTable.h"
#include "tools/tqcass/SignalWatcher.h"

int main(int argc, char** argv) {
  using namespace TqCass;
  CLI::App app(
      "tqcass: a simulated Cassandra cluster backed up by the plug-in, with the jobs kept in a "
      "home folder.\nThe log is <home>/tqcass.log unless TQ_LOG_FILE names another file "
      "(level TQ_LOG_LEVEL, default 0).",
      "tqcass");
  app.require_subcommand(1, 1);
  app.fallthrough();
  std::string home;
  app.add_option("--home", home, "The home folder (default ./tqcass-home; demo: ./tqcass-demo)")
      ->type_name("DIR");
  std::vector<std::unique_ptr<CTqcassCommand>> commands = MakeCommands();
  std::vector<std::pair<CLI::App*, CTqcassCommand*>> subcommands;
  for (auto& command : commands) {
    CLI::App* sub = app.add_subcommand(command->Name(), command->Summary());
    command->Define(*sub);
    subcommands.emplace_back(sub, command.get());
  }
  // The first word that is no option nor --home's value names the command.
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--home") {
      ++i;
      continue;
    }
    if (word.empty() || word[0] == '-') continue;
    bool known = false;
    for (const auto& command : commands) known = known || word == command->Name();
    if (!known) {
      CCommandContext::Fail("unknown command \"" + word + "\"; \"tqcass --help\" lists them");
      return kUsage;
    }
    break;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e) == 0 ? kOk : kUsage;
    std::string help = "\"tqcass --help\" lists the commands";
    for (const auto& [sub, command] : subcommands) {
      if (sub->parsed()) {
        help = "\"tqcass " + std::string(command->Name()) + " --help\" lists its options";
      }
    }
    CCommandContext::Fail(std::string(e.what()) + "; " + help);
    return kUsage;
  }
  CTqcassCommand* chosen = nullptr;
  for (const auto& [sub, command] : subcommands) {
    if (sub->parsed()) chosen = command;
  }
  if (chosen == nullptr) return kUsage;
  const std::string problem = chosen->CheckOptions();
  if (!problem.empty()) {
    CCommandContext::Fail(problem + "; \"tqcass " + chosen->Name() + " --help\" lists its options");
    return kUsage;
  }
  if (home.empty()) home = chosen->DefaultHome();

  std::string commandLine = "tqcass";
  for (int i = 1; i < argc; ++i) commandLine += std::string(" ") + argv[i];
  CSignalWatcher signals;
  if (!signals.Install()) {
    CCommandContext::Fail("cannot watch for Ctrl-C: no thread or pipe could be made");
    return kFailed;
  }
  CCommandContext context(home, commandLine, signals);
  const int opened = context.Open(*chosen);
  if (opened != kOk) return opened;
  return chosen->Run(context);
}
