#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/CommandLineArguments.h"
#include "platform/network/TqRemoteCommandPeer.h"
#include "sim/lib/SimCluster.h"
#include "sim/lib/SimCommitLog.h"
#include "sim/lib/SimRemoteUtility.h"

namespace TqSim {

// The commit-log replay mode of the node utility:
//
//   --cassandraConfDirectory D --jobId J [--container C] --stagingPath P
//
// finds the simulated node whose configuration folder is D among the nodes
// of its client, stops it and starts it again with the commit-log restore
// settings of its configuration in force, as Cassandra does at start:
//   - every "CommitLog-*" file of the "restore_directories" (comma-separated;
//     paths inside the node's container are read through its mounts) is
//     restored into the node's commit-log folder with "restore_command"
//     ("%from" and "%to" replaced, split at blanks, run without a shell),
//     unless a segment of that name is there already;
//   - the restored segments are replayed in name order: a mutation is applied
//     when its table is on the "-Dcassandra.replayList=" of cassandra-env.sh
//     (none: every table) and it is not after "restore_point_in_time" (none:
//     every mutation; SimCommitLog::UpToPoint); applying appends it to the
//     journal of its table on that node (SimCommitLog), tagged with J; the
//     restored copies are then removed;
//   - an unreadable point in time, an unknown table on the replay list, a
//     restore folder that cannot be read or a failed restore command fails
//     the start: the node stays down.
// Then it reports one name/value record "CassandraServiceRestarted" = the
// seconds the requester should wait between its status checks, or "false"
// when the node did not start, and reads the requester's "cleanup" answer.
// Whatever the answer ("true" or "false", or a connection that ends), the
// ".bkp" copies of "commitlog_archiving.properties" and "cassandra-env.sh"
// are put back in place, so that no later start replays the logs again.
//
// Every run appends "<job id> <node address> <outcome>" to "restarts.log"
// beside the cluster file (outcomes: "up", "failed", "never_up",
// "up_after_<k>", "answer_false", "no_answer", "no_node").
//
// Switches: a cluster fault with "when" = "utility", "request" = "logReplay"
// (or ""), "node" = the node's address (or ""), and the action
//   "no_answer"     the utility closes the connection at once, changing
//                   nothing;
//   "answer_false"  it changes nothing and reports "false";
//   "never_up"      the node is stopped, its logs are restored and replayed,
//                   but it never comes up (the ring reports it down);
//   "up_after"      as a start, but the ring reports the node down for the
//                   next `status` "status" requests (SimNode::upAfterChecks).
class SimLogReplay {
 public:
  static constexpr const char* kMode = "logReplay";
  static constexpr const char* kConfOption = "cassandraConfDirectory";
  static constexpr const char* kRestartsLog = "restarts.log";
  // The seconds between status checks that a started node asks for.
  static constexpr int kStatusWaitSeconds = 7;

  struct Arguments {
    std::string confDir;
    int64_t jobId = 0;
    std::string container;
    std::string stagingPath;
  };
  // False (with `error`) when an option is missing or the job id is no
  // number.
  static bool ParseArguments(const CCommandLineArguments& arguments, Arguments& out,
                             std::string& error);

  // The commit-log restore settings a start of the node reads.
  struct Settings {
    std::string restoreCommand;
    std::vector<std::string> restoreDirectories;
    std::string pointInTime;
    std::string precision = "MICROSECONDS";
    bool hasReplayList = false;
    std::vector<std::string> replayList;  // "keyspace.table"
  };
  static bool ReadSettings(const std::string& confDir, Settings& settings, std::string& error);

  // The mutations a start with `settings` applies from `segments` (in
  // order): false (with `error`) for a point in time that cannot be read.
  static bool SelectMutations(const std::vector<std::vector<SimMutation>>& segments,
                              const Settings& settings, std::vector<SimMutation>& applied,
                              std::string& error);

  // Restores and replays the node's logs as its start does (above); the
  // cluster (kept in `clusterFile`, beside which a docker world may lie) is
  // only read. `applied` counts the mutations applied.
  static bool ReplayOnStart(const std::string& clusterFile, const SimCluster& cluster,
                            const SimNode& node, int64_t jobId, const std::string& container,
                            int& applied, std::string& error);

  // Renames "<file>.bkp" over "<file>" for both edited files, where a copy
  // exists.
  static bool PutBackCopies(const std::string& confDir, std::string& error);

  // The exit status of the program.
  static int Run(CTqRemoteCommandPeer& peer, const Arguments& arguments,
                 const std::vector<SimUtilityNode>& nodes);
};

}  // namespace TqSim
