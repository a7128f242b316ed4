#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace TqCass {

class CCommandContext;

// Exit statuses of tqcass.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// One command of tqcass: its options and words on a subcommand of its own
// (with its own --help), how it uses the home, and what it does.
class CTqcassCommand {
 public:
  // A command that changes the home takes the home's lock (one at a time);
  // one that reads works beside a running job, on a home it may only read,
  // and creates nothing.
  enum Access { kReads, kChanges };

  virtual ~CTqcassCommand() = default;
  virtual const char* Name() const = 0;
  virtual const char* Summary() const = 0;
  virtual Access HomeAccess() const { return kChanges; }
  // The home used when --home is not given.
  virtual std::string DefaultHome() const { return "tqcass-home"; }
  // Declares the options and words on `command`, storing into members.
  virtual void Define(CLI::App& command) = 0;
  // Checks what the options cannot check alone, before the home is opened;
  // returns "" when fine, else the usage error (status 2).
  virtual std::string CheckOptions() const { return std::string(); }
  // A changing command, before the home is created or locked: may refuse
  // the folder, leaving it as it is. Returns kOk to go on.
  virtual int CheckHome(const std::string& home);
  // A changing command, with the home's lock held and before the home is
  // opened: may refuse the folder or make it ready. Returns kOk to go on.
  virtual int PrepareHome(CCommandContext& context);
  // Runs with the home open; returns the exit status.
  virtual int Run(CCommandContext& context) = 0;
};

// A whole number option checked against [minimum, maximum]: "zero" is "not a
// whole number", 4294967297 is "out of range".
CLI::Option* AddNumber(CLI::App& command, const std::string& name, long long& value,
                       long long minimum, long long maximum, const std::string& description);

}  // namespace TqCass
