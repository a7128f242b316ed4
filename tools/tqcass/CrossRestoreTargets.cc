#include "tools/tqcass/CrossRestoreTargets.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"

namespace TqCass {

namespace {

const TqHarness::HarnessNode* NodeNamed(const TqHarness::HarnessCluster& cluster,
                                        const std::string& name) {
  for (const auto& node : cluster.nodes) {
    if (node.name == name) return &node;
  }
  return nullptr;
}

// The nodes of a cluster as its Priams answer for them, by name; empty when
// its file cannot be read.
std::map<std::string, TqSim::SimNode> RingOf(const TqHarness::HarnessCluster& cluster) {
  std::map<std::string, TqSim::SimNode> ring;
  TqSim::SimCluster sim;
  std::string error;
  if (!TqSim::SimClusterFile(cluster.clusterFile).Load(sim, error)) return ring;
  for (const TqSim::SimNode& node : sim.nodes) ring[node.name] = node;
  return ring;
}

// "" when each source node is a dead node of the ring its target node is in.
std::string CheckDeadNodes(const CrossRestore& cross) {
  if (cross.target.name != cross.source.name) {
    return "--replace-dead-node: the nodes of " + cross.target.name +
           " cannot take the place of dead nodes of " + cross.source.name +
           ": a replacement joins the ring of the node it replaces (name nodes of " +
           cross.source.name + " with --map)";
  }
  const std::map<std::string, TqSim::SimNode> ring = RingOf(cross.source);
  for (const auto& pair : cross.pairs) {
    auto found = ring.find(pair.first.name);
    if (found == ring.end()) {
      return "--replace-dead-node: node " + pair.first.name + " is no longer in the ring of " +
             cross.source.name;
    }
    if (found->second.status != "Down") {
      return "--replace-dead-node: node " + pair.first.name + " of " + cross.source.name +
             " is not down; only a dead node is replaced";
    }
  }
  return std::string();
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::string ResolveCross(const TqHarness::CJobHarness& harness, const RestorePlan& plan,
                         CrossRestore& cross) {
  const TqHarness::CHarnessState& state = harness.State();
  cross.source = state.Primary();
  const std::string target = plan.targetCluster.empty() ? state.clusterName : plan.targetCluster;
  if (!state.FindCluster(target, cross.target)) {
    return "no cluster named " + target + " in " + harness.Home() +
           " (make one with \"tqcass cluster --name " + target + "\")";
  }
  if (!cross.target.Registered()) {
    return "the cluster " + target +
           " is not registered (register it with \"tqcass register "
           "--cluster " +
           target + "\")";
  }
  if (plan.nodeMap.empty()) {
    // Without a map the nodes pair in order, round robin over the target's.
    for (size_t i = 0; i < cross.source.nodes.size(); ++i) {
      cross.pairs.push_back(
          {cross.source.nodes[i], cross.target.nodes[i % cross.target.nodes.size()]});
    }
  } else {
    std::set<std::string> sources;
    for (const auto& pair : plan.nodeMap) {
      const TqHarness::HarnessNode* from = NodeNamed(cross.source, pair.first);
      const TqHarness::HarnessNode* to = NodeNamed(cross.target, pair.second);
      if (from == nullptr) {
        return "--map: the cluster " + cross.source.name + " has no node " + pair.first;
      }
      if (to == nullptr) return "--map: the cluster " + target + " has no node " + pair.second;
      if (!sources.insert(pair.first).second) {
        return "--map: node " + pair.first + " is mapped twice";
      }
      cross.pairs.push_back({*from, *to});
    }
    for (const auto& node : cross.source.nodes) {
      if (sources.count(node.name) == 0) cross.unmapped.push_back(node.name);
    }
  }
  if (plan.mode == "in-place") {
    // In place a target node takes one source node's tokens: it cannot
    // stand for two.
    std::set<std::string> targets;
    for (const auto& pair : cross.pairs) {
      if (targets.insert(pair.second.name).second) continue;
      return "node " + pair.second.name + " of " + target +
             " would take the place of two nodes; in place each target node restores one "
             "source node (name the pairs with --map, or use --mode loader)";
    }
  }
  if (plan.replaceDeadNode) return CheckDeadNodes(cross);
  return std::string();
}

std::vector<std::string> CrossSelectionOf(const RestorePlan& plan, const CrossRestore& cross) {
  std::vector<std::string> paths;
  for (const auto& pair : cross.pairs) {
    const std::string node =
        "/" + cross.source.name + "/" + pair.first.dataCenter + "/" + pair.first.name;
    if (plan.keyspaces.empty()) paths.push_back(node);
    for (const std::string& name : plan.keyspaces) {
      std::string path = node + "/" + name;
      const size_t dot = path.find('.', node.size());
      if (dot != std::string::npos) path[dot] = '/';
      paths.push_back(path);
    }
  }
  return paths;
}

std::vector<TargetFate> TargetFates(const RestorePlan& plan, const CrossRestore& cross) {
  const bool takesTokens = plan.mode != "staged" && plan.mode != "loader" && !plan.replaceDeadNode;
  const std::map<std::string, TqSim::SimNode> sourceRing = RingOf(cross.source);
  const std::map<std::string, TqSim::SimNode> targetRing = RingOf(cross.target);
  std::vector<TargetFate> fates;
  for (const auto& pair : cross.pairs) {
    TargetFate fate;
    fate.source = pair.first.name;
    fate.target = pair.second.name;
    const bool sameNode =
        cross.source.name == cross.target.name && pair.first.name == pair.second.name;
    if (takesTokens && !sameNode) {
      // The target's Priam answers that no change is needed when the node
      // holds the source's tokens already; a node that cannot be read takes
      // them.
      auto from = sourceRing.find(pair.first.name);
      auto to = targetRing.find(pair.second.name);
      fate.takeover =
          from == sourceRing.end() || to == targetRing.end() ||
          std::set<std::string>(from->second.tokens.begin(), from->second.tokens.end()) !=
              std::set<std::string>(to->second.tokens.begin(), to->second.tokens.end());
    }
    std::set<std::string> keyspaces;
    for (const std::string& folder : pair.second.dataDirs) {
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.is_directory(ec)) keyspaces.insert(entry.path().filename().string());
      }
    }
    fate.keyspaces.assign(keyspaces.begin(), keyspaces.end());
    fates.push_back(fate);
  }
  return fates;
}

std::vector<std::string> TargetLossLines(const RestorePlan& plan, bool truncateAsked,
                                         const CrossRestore& cross,
                                         const std::vector<TargetFate>& fates) {
  std::vector<std::string> lines;
  if (plan.mode == "staged") return lines;
  if (plan.mode == "loader") {
    lines.push_back("nothing of " + cross.target.name +
                    " is deleted or truncated: the loaded rows join the rows it holds");
    return lines;
  }
  for (const TargetFate& fate : fates) {
    if (plan.replaceDeadNode) {
      lines.push_back(fate.target + " takes the place of the dead node " + fate.source +
                      ": its data folders are kept, no table is truncated");
    } else if (fate.takeover) {
      lines.push_back(
          fate.target + " takes over the tokens of " + fate.source +
          ": its data folders are emptied first, losing every keyspace they hold, the system "
          "keyspaces and those the backup lacks included" +
          (fate.keyspaces.empty() ? std::string() : " (" + Joined(fate.keyspaces) + ")"));
    } else if (plan.truncate) {
      lines.push_back(fate.target + " holds the tokens of " + fate.source +
                      " already: its data folders are kept");
    } else {
      lines.push_back(fate.target + " holds the tokens of " + fate.source +
                      " already: its data folders are kept, and its rows of the restored tables "
                      "stay beside the restored ones");
    }
  }
  const bool anyTakeover =
      std::any_of(fates.begin(), fates.end(), [](const TargetFate& fate) { return fate.takeover; });
  if (truncateAsked && anyTakeover && plan.mode == "in-place") {
    // Cassandra truncates a table only with every replica up.
    lines.push_back("no table is truncated: a target node taking over tokens is down meanwhile");
  }
  if (plan.truncate) {
    lines.push_back("the restored tables (" +
                    (plan.keyspaces.empty() ? std::string("every table of the backup")
                                            : Joined(plan.keyspaces)) +
                    ") are truncated on every node of " + cross.target.name +
                    ": their rows there are lost (--no-truncate keeps them)");
  }
  return lines;
}

}  // namespace TqCass
