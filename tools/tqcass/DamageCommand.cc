// "tqcass damage": simulates lost data by removing the live SSTables of a
// keyspace or table, or every keyspace, on chosen nodes (snapshots and
// incremental backup folders stay).

#include <cstdio>
#include <filesystem>

#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimTableDir.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace fs = std::filesystem;

namespace {

size_t FilesIn(const std::string& folder) {
  size_t files = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.is_regular_file()) ++files;
  }
  return files;
}

}  // namespace

int DamageData(TqHarness::CJobHarness& harness, const std::string& selection,
               const std::string& nodeName) {
  const TqHarness::CHarnessState& state = harness.State();
  if (!state.HasCluster()) {
    CCommandContext::Fail("no cluster in " + harness.Home() + ": run tqcass cluster first");
    return kFailed;
  }
  TqSim::SimClusterFile file(state.clusterFile);
  TqSim::SimCluster cluster;
  std::string text;
  if (!file.Load(cluster, text)) {
    CCommandContext::Fail(text);
    return kFailed;
  }
  const size_t dot = selection.find('.');
  const std::string keyspaceName = selection.substr(0, dot);
  const std::string tableName = dot == std::string::npos ? "" : selection.substr(dot + 1);
  // The table folders that lose their SSTables, relative to a data folder.
  std::vector<std::string> tableDirs;
  for (const TqSim::SimKeyspace& keyspace : cluster.keyspaces) {
    if (!keyspaceName.empty() && keyspace.name != keyspaceName) continue;
    for (const TqSim::SimTable& table : keyspace.tables) {
      if (!tableName.empty() && table.name != tableName) continue;
      tableDirs.push_back(keyspace.name + "/" + TqSim::TableDirName(table));
    }
  }
  if (tableDirs.empty()) {
    CCommandContext::Fail(std::string("the cluster has no ") +
                          (tableName.empty() ? "keyspace " : "table ") + selection);
    return kUsage;
  }
  int nodes = 0;
  size_t files = 0;
  for (const TqHarness::HarnessNode& node : state.nodes) {
    if (!nodeName.empty() && node.name != nodeName) continue;
    ++nodes;
    for (const std::string& dataDir : node.dataDirs) {
      for (const std::string& tableDir : tableDirs) {
        const TqSim::SimTableDir dir((fs::path(dataDir) / tableDir).string(),
                                     TqSim::SimTableDir::FormatForVersion(cluster.version));
        std::error_code ec;
        if (!fs::is_directory(dir.path(), ec)) continue;
        files += FilesIn(dir.path());
        if (!dir.RemoveLive(text)) {
          CCommandContext::Fail(text);
          return kFailed;
        }
        files -= FilesIn(dir.path());
      }
    }
  }
  if (nodes == 0) {
    CCommandContext::Fail("the cluster has no node " + nodeName);
    return kUsage;
  }
  std::printf("removed %zu files of %zu tables on %d nodes\n", files, tableDirs.size(), nodes);
  return kOk;
}

namespace {

class CDamageCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "damage"; }
  const char* Summary() const override {
    return "Simulate lost data: remove a keyspace's or table's SSTables, or all of a node's data";
  }
  void Define(CLI::App& command) override {
    command.add_option("--keyspace", keyspace_, "The keyspace or keyspace.table that loses data");
    command.add_option("--node", node_, "The node that loses data (default every node)");
    command.add_flag("--down", down_,
                     "The node is dead as well: its Cassandra stops and the ring reports it Down");
  }
  std::string CheckOptions() const override {
    if (keyspace_.empty() && node_.empty()) return "name a --keyspace, a --node or both";
    if (down_ && node_.empty()) return "--down: name the --node that died";
    if (!keyspace_.empty()) {
      const std::string problem = CheckTableName(keyspace_);
      if (!problem.empty()) return "--keyspace: " + problem;
    }
    return std::string();
  }
  int Run(CCommandContext& context) override {
    const int status = DamageData(context.Harness(), keyspace_, node_);
    if (status != kOk || !down_) return status;
    std::string address;
    for (const auto& node : context.Harness().State().nodes) {
      if (node.name == node_) address = node.address;
    }
    const CQiError error = context.Harness().EditCluster([&address](TqSim::SimCluster& cluster) {
      TqSim::SimNode* node = cluster.FindNode(address);
      if (node == nullptr) return;
      node->running = false;
      node->status = "Down";
    });
    if (!CCommandContext::Check(error)) return kFailed;
    std::printf("node %s (%s) is down\n", node_.c_str(), address.c_str());
    return kOk;
  }

 private:
  std::string keyspace_;
  std::string node_;
  bool down_ = false;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeDamageCommand() {
  return std::unique_ptr<CTqcassCommand>(new CDamageCommand());
}

}  // namespace TqCass
