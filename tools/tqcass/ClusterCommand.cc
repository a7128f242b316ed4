// "tqcass cluster": generates the simulated cluster of a home.

#include <cstdio>

#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CClusterCommand : public CTqcassCommand {
 public:
  // Bounds a machine running the simulated cluster can hold.
  static constexpr long long kMaxNodes = 64;
  static constexpr long long kMaxSSTables = 1000000;  // over every node and table
  static constexpr long long kMaxSSTableSize = 1ll << 30;

  const char* Name() const override { return "cluster"; }
  const char* Summary() const override {
    return "Make a simulated cluster (incremental backups on)";
  }
  void Define(CLI::App& command) override {
    AddNumber(command, "--nodes", nodes_, 1, kMaxNodes, "Nodes of the cluster")
        ->capture_default_str();
    AddNumber(command, "--dcs", dcs_, 1, kMaxNodes, "Data centres the nodes are spread over")
        ->capture_default_str();
    AddNumber(command, "--keyspaces", keyspaces_, 1, 100, "Keyspaces")->capture_default_str();
    AddNumber(command, "--tables", tables_, 1, 100, "Tables of each keyspace")
        ->capture_default_str();
    AddNumber(command, "--sstables", sstables_, 1, 1000, "SSTables of each table on each node")
        ->capture_default_str();
    AddNumber(command, "--size", size_, 1, kMaxSSTableSize, "Bytes of each SSTable's data")
        ->capture_default_str();
    command.add_option("--flavour", flavour_, "cassandra or dse")
        ->check(CLI::IsMember({"cassandra", "dse"}))
        ->capture_default_str();
    command.add_flag("--docker", docker_, "Every node in a container of the docker stand-in");
    command.add_option("--name", name_,
                       "Make a further cluster of this name beside the home's first one (its own "
                       "node names and addresses)");
  }
  std::string CheckOptions() const override {
    if (!name_.empty() && docker_) return "--docker: a cluster made with --name runs without";
    if (dcs_ > nodes_) {
      return "--dcs " + std::to_string(dcs_) + " is more than the " + std::to_string(nodes_) +
             " node" + (nodes_ == 1 ? "" : "s");
    }
    if (nodes_ * keyspaces_ * tables_ * sstables_ > kMaxSSTables) {
      return "--nodes x --keyspaces x --tables x --sstables makes " +
             std::to_string(nodes_ * keyspaces_ * tables_ * sstables_) + " SSTables, more than " +
             std::to_string(kMaxSSTables);
    }
    return std::string();
  }
  int Run(CCommandContext& context) override {
    TqSim::FixtureOptions options;
    options.nodes = static_cast<int>(nodes_);
    options.dataCenters = static_cast<int>(dcs_);
    options.keyspaces = static_cast<int>(keyspaces_);
    options.tablesPerKeyspace = static_cast<int>(tables_);
    options.sstablesPerTable = static_cast<int>(sstables_);
    options.sstableSize = static_cast<uint64_t>(size_);
    options.flavour = flavour_;
    options.incrementalBackups = true;
    options.docker = docker_;
    TqHarness::CJobHarness& harness = context.Harness();
    if (!name_.empty()) {
      const bool made = CCommandContext::Check(harness.CreateCluster(options, name_));
      PrintReclaimed(harness);
      if (!made) return kFailed;
      TqHarness::HarnessCluster cluster;
      harness.State().FindCluster(name_, cluster);
      std::printf("cluster %s: %zu node%s under %s\n", cluster.name.c_str(), cluster.nodes.size(),
                  cluster.nodes.size() == 1 ? "" : "s", cluster.clusterRoot.c_str());
      for (const auto& node : cluster.nodes) {
        std::printf("  %s %s %s\n", node.name.c_str(), node.address.c_str(),
                    node.dataCenter.c_str());
      }
      return kOk;
    }
    const bool made = CCommandContext::Check(harness.CreateCluster(options));
    PrintReclaimed(harness);
    if (!made) return kFailed;
    const size_t count = harness.State().nodes.size();
    std::printf("cluster %s: %zu node%s under %s\n", harness.State().clusterName.c_str(), count,
                count == 1 ? "" : "s", harness.State().clusterRoot.c_str());
    for (const auto& node : harness.State().nodes) {
      std::printf("  %s %s %s\n", node.name.c_str(), node.address.c_str(), node.dataCenter.c_str());
    }
    return kOk;
  }

 private:
  static void PrintReclaimed(const TqHarness::CJobHarness& harness) {
    if (harness.ReclaimedFolder().empty()) return;
    std::printf("removed %s: left by a cluster run that was stopped\n",
                harness.ReclaimedFolder().c_str());
  }

  long long nodes_ = 3;
  long long dcs_ = 1;
  long long keyspaces_ = 2;
  long long tables_ = 2;
  long long sstables_ = 1;
  long long size_ = 4096;
  std::string flavour_ = "cassandra";
  bool docker_ = false;
  std::string name_;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeClusterCommand() {
  return std::unique_ptr<CTqcassCommand>(new CClusterCommand());
}

}  // namespace TqCass
