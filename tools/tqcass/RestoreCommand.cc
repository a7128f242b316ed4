// "tqcass restore <backup job>": restores a backup job into the registered
// cluster through the plug-in, in place by default.

#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CRestoreCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "restore"; }
  const char* Summary() const override {
    return "Restore a backup job into the cluster (in place by default) with progress lines, "
           "then a summary";
  }
  void Define(CLI::App& command) override {
    AddNumber(command, "job", backupJob_, 1, INT64_MAX, "The backup job's number")->required();
    command
        .add_option("--mode", plan_.mode,
                    "in-place, loader (sstableloader), staged or stage-free (loaded from "
                    "the media agent's network share)")
        ->check(CLI::IsMember({"in-place", "loader", "staged", "stage-free"}))
        ->capture_default_str();
    command.add_option(
        "--stage", plan_.stage,
        "The staging folder (default <home>/stage; in containers /var/lib/cassandra/stage)");
    command.add_option("--keyspace", plan_.keyspaces,
                       "Restore only this keyspace or keyspace.table (repeatable)");
    command.add_flag("--no-truncate", noTruncate_,
                     "Keep the tables' rows written since the backup (in place)");
    command.add_flag("--quiet", quiet_, "No progress lines");
    command.add_option("--to-time", toTime_,
                       "Restore to this point in time (\"YYYY-MM-DD HH:MM:SS\" or seconds since "
                       "1970): the data, then the commit logs backed up with backup --log "
                       "replayed up to it");
  }
  std::string CheckOptions() const override {
    for (const std::string& name : plan_.keyspaces) {
      const std::string problem = CheckTableName(name);
      if (!problem.empty()) return "--keyspace: " + problem;
    }
    if (noTruncate_ && plan_.mode != "in-place") return "--no-truncate: only with --mode in-place";
    int64_t seconds = 0;
    if (!toTime_.empty() && !ParseTimeText(toTime_, seconds)) {
      return "--to-time: not a time (YYYY-MM-DD HH:MM:SS or seconds since 1970): " + toTime_;
    }
    return std::string();
  }
  int Run(CCommandContext& context) override {
    RestorePlan plan = plan_;
    plan.backupJob = backupJob_;
    plan.truncate = !noTruncate_;
    if (!toTime_.empty()) ParseTimeText(toTime_, plan.toTime);
    int64_t jobId = 0;
    return RunRestoreJob(context, plan, quiet_, jobId);
  }

 private:
  long long backupJob_ = 0;
  RestorePlan plan_;
  bool noTruncate_ = false;
  bool quiet_ = false;
  std::string toTime_;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeRestoreCommand() {
  return std::unique_ptr<CTqcassCommand>(new CRestoreCommand());
}

}  // namespace TqCass
