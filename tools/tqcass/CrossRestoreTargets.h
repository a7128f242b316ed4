#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/lib/HarnessState.h"
#include "tools/lib/JobHarness.h"
#include "tools/tqcass/CommandSupport.h"

// A restore onto other nodes (RestorePlan::CrossInstance): which target node
// restores which source node, and what that does to the target nodes' data.
namespace TqCass {

// The nodes of a restore across instances, resolved: source and target
// cluster and the node pairs (source -> target), and the source nodes no
// pair names.
struct CrossRestore {
  TqHarness::HarnessCluster source;
  TqHarness::HarnessCluster target;
  std::vector<std::pair<TqHarness::HarnessNode, TqHarness::HarnessNode>> pairs;
  std::vector<std::string> unmapped;
};

// Resolves the plan's clusters and nodes; "" when they exist and can be
// restored that way, else why not (nothing is changed either way).
std::string ResolveCross(const TqHarness::CJobHarness& harness, const RestorePlan& plan,
                         CrossRestore& cross);

// The index paths of a restore across instances: each mapped source node,
// narrowed to the selected keyspaces or tables.
std::vector<std::string> CrossSelectionOf(const RestorePlan& plan, const CrossRestore& cross);

// What the restore does to one target node before its data comes in.
struct TargetFate {
  std::string source;
  std::string target;
  // The target takes over the source node's tokens, which it does not hold:
  // its Cassandra is stopped and its data folders are emptied, every
  // keyspace in them (system keyspaces and those the backup does not hold
  // too).
  bool takeover = false;
  // The keyspaces its data folders hold now.
  std::vector<std::string> keyspaces;
};

// The fate of each pair's target node, in the order of the pairs. A target
// node takes over tokens only in a restore that recovers the data in place
// (not through sstableloader, not staged, no dead node replaced) onto
// another node than the source, and only when its tokens differ from the
// source node's.
std::vector<TargetFate> TargetFates(const RestorePlan& plan, const CrossRestore& cross);

// The lines printed before the job starts: what each target node loses, and
// what the truncation of the restored tables takes (`plan.truncate`, the
// truncation the job runs; `truncateAsked`: the user did not say
// --no-truncate).
std::vector<std::string> TargetLossLines(const RestorePlan& plan, bool truncateAsked,
                                         const CrossRestore& cross,
                                         const std::vector<TargetFate>& fates);

}  // namespace TqCass
