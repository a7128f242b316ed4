// "tqcass restore <backup job>": restores a backup job into the registered
// cluster through the plug-in, in place by default.

#include <set>
#include <string>
#include <utility>
#include <vector>

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
                    "in-place, loader (sstableloader: never truncates, the loaded rows join the "
                    "target's own), staged or stage-free (loaded from the media agent's network "
                    "share)")
        ->check(CLI::IsMember({"in-place", "loader", "staged", "stage-free"}))
        ->capture_default_str();
    command.add_option(
        "--stage", plan_.stage,
        "The staging folder (default <home>/stage; in containers /var/lib/cassandra/stage)");
    command.add_option("--keyspace", plan_.keyspaces,
                       "Restore only this keyspace or keyspace.table (repeatable)");
    command.add_flag("--no-truncate", noTruncate_,
                     "Keep the tables' rows written since the backup (in place; the loader "
                     "mode never truncates)");
    command.add_flag("--quiet", quiet_, "No progress lines");
    command.add_option("--to-time", toTime_,
                       "Restore to this point in time (\"YYYY-MM-DD HH:MM:SS\" or seconds since "
                       "1970): the data, then the commit logs backed up with backup --log "
                       "replayed up to it (a cluster in containers or of one node)");
    command.add_option("--target-cluster", plan_.targetCluster,
                       "Restore onto this cluster of the home (tqcass cluster --name). In place "
                       "a target node whose tokens differ from its source node's takes them "
                       "over: its data folders are emptied first, every keyspace (system ones "
                       "too); when the tokens match it keeps its data and the restored tables "
                       "are truncated unless --no-truncate. The lines before the job say which");
    command.add_option("--map", mapTexts_,
                       "SOURCE=TARGET: source node restored by target node (repeatable; only "
                       "the nodes named are restored; default: the nodes paired in order)");
    command.add_flag("--replace-dead-node", plan_.replaceDeadNode,
                     "Each target node takes over its source node, which is down, in the same "
                     "cluster (in place, no truncation)");
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
    std::set<std::string> sources;
    for (const std::string& text : mapTexts_) {
      std::pair<std::string, std::string> pair;
      const std::string problem = ParseNodePair(text, pair);
      if (!problem.empty()) return "--map: " + problem;
      if (!sources.insert(pair.first).second)
        return "--map: node " + pair.first + " is mapped twice";
    }
    if (plan_.replaceDeadNode && plan_.mode != "in-place") {
      return "--replace-dead-node: only with --mode in-place";
    }
    if (plan_.replaceDeadNode && mapTexts_.empty() && plan_.targetCluster.empty()) {
      return "--replace-dead-node: name the replacing nodes with --map or --target-cluster";
    }
    if (!toTime_.empty() && (!mapTexts_.empty() || !plan_.targetCluster.empty())) {
      // The commit logs replay on the nodes that wrote them.
      return "--to-time: restores onto the backed-up nodes only, not with --target-cluster or "
             "--map";
    }
    return std::string();
  }
  int Run(CCommandContext& context) override {
    RestorePlan plan = plan_;
    plan.backupJob = backupJob_;
    plan.truncate = !noTruncate_;
    if (!toTime_.empty()) ParseTimeText(toTime_, plan.toTime);
    for (const std::string& text : mapTexts_) {
      std::pair<std::string, std::string> pair;
      ParseNodePair(text, pair);
      plan.nodeMap.push_back(pair);
    }
    int64_t jobId = 0;
    return RunRestoreJob(context, plan, quiet_, jobId);
  }

 private:
  long long backupJob_ = 0;
  RestorePlan plan_;
  bool noTruncate_ = false;
  bool quiet_ = false;
  std::string toTime_;
  std::vector<std::string> mapTexts_;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeRestoreCommand() {
  return std::unique_ptr<CTqcassCommand>(new CRestoreCommand());
}

}  // namespace TqCass
