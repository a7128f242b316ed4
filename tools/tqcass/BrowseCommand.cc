#include "tools/tqcass/BrowseCommand.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/base/FXString.h"
#include "tools/lib/ClusterBrowse.h"
#include "tools/lib/ErrorText.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandTable.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Rows of text cells printed in columns as wide as their widest cell.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

const char* StateName(int64_t state) {
  switch (state) {
    case 0:
      return "Normal";
    case 1:
      return "Leaving";
    case 2:
      return "Joining";
    case 3:
      return "Moving";
    default:
      return "?";
  }
}

void PrintNodes(const App::CassandraBrowseItem& item) {
  const std::vector<App::CassandraNode> nodes = item.getNodes();
  std::printf("cluster %s, Cassandra %s: %zu node%s\n", item.getClusterName().c_str(),
              item.getVersion().c_str(), nodes.size(), nodes.size() == 1 ? "" : "s");
  std::vector<std::vector<std::string>> rows = {
      {"address", "data centre", "rack", "state", "status", "host id", "agent instance", "tokens"}};
  for (const auto& node : nodes) {
    rows.push_back({node.getAddress(), OrDash(node.getDataCenter()), OrDash(node.getRack()),
                    StateName(node.getState()), node.getDown() ? "Down" : "Up",
                    OrDash(node.getHostId()), OrDash(node.getAgentInstanceName()),
                    OrDash(node.getTokens())});
  }
  PrintTable(rows);
}

void PrintKeyspaces(const App::CassandraBrowseItem& item) {
  const std::vector<App::CassandraContent> contents = item.getContents();
  const std::string cluster = contents.empty() ? std::string() : contents[0].getClusterName();
  std::printf("cluster %s: %zu keyspace row%s\n", OrDash(cluster).c_str(), contents.size(),
              contents.size() == 1 ? "" : "s");
  std::vector<std::vector<std::string>> rows = {
      {"keyspace", "data centre", "replication factor", "class"}};
  for (const auto& row : contents) {
    rows.push_back({row.getKeyspaceName(), row.hasDataCenter() ? row.getDataCenter() : "-",
                    row.isSet(4) ? std::to_string(row.getReplicationFactor()) : "-",
                    row.getReplicationClass()});
  }
  PrintTable(rows);
}

}  // namespace

int CmdBrowse(TqHarness::CJobHarness& harness, const std::string& what,
              const std::string& subclient) {
  TqHarness::ClusterBrowseRequest request;
  if (what == "nodes") {
    request.kind = TqHarness::BrowseKind::kNodes;
  } else if (what == "keyspaces") {
    request.kind = TqHarness::BrowseKind::kKeyspaces;
  } else {
    std::fprintf(stderr, "tqcass: browse nodes or browse keyspaces, not \"%s\"\n", what.c_str());
    return kUsage;
  }
  if (!subclient.empty()) {
    long long id = 0;
    if (!FXString::ParseDecimal(subclient, 1, INT32_MAX, id)) {
      std::fprintf(stderr, "tqcass: --subclient needs a subclient id, not \"%s\"\n",
                   subclient.c_str());
      return kUsage;
    }
    request.subclientId = static_cast<uint64_t>(id);
  }
  TqHarness::ClusterBrowseResult result;
  CQiError e = TqHarness::CClusterBrowse(harness, TQ_PLUGIN_PATH).Run(request, result);
  if (e.IsError()) {
    std::fprintf(stderr, "tqcass: %s\n", TqHarness::CErrorText::Describe(e).c_str());
    return kFailed;
  }
  if (!result.Ok()) {
    std::fprintf(stderr, "tqcass: browse failed: %s\n",
                 result.errorMessage.empty() ? result.error.AsString(2).c_str()
                                             : result.errorMessage.c_str());
    return kFailed;
  }
  if (request.kind == TqHarness::BrowseKind::kNodes) {
    PrintNodes(result.item);
  } else {
    PrintKeyspaces(result.item);
  }
  return kOk;
}

namespace TqCass {

namespace {

class CBrowseCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "browse"; }
  const char* Summary() const override {
    return "The cluster's nodes or keyspaces as the plug-in's cluster browser lists them";
  }
  void Define(CLI::App& command) override {
    command.add_option("what", what_, "nodes or keyspaces")
        ->required()
        ->check(CLI::IsMember({"nodes", "keyspaces"}));
    AddNumber(command, "--subclient", subclient_, 1, INT32_MAX, "Browse as this subclient");
  }
  int Run(CCommandContext& context) override {
    return CmdBrowse(context.Harness(), what_, subclient_ > 0 ? std::to_string(subclient_) : "");
  }

 private:
  std::string what_;
  long long subclient_ = 0;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeBrowseCommand() {
  return std::unique_ptr<CTqcassCommand>(new CBrowseCommand());
}

}  // namespace TqCass
