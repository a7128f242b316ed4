// A restore job of a backup of a generated 3-node cluster through the
// runner's restore phase: the restore coordinator registers the nodes by
// name, starts and ends its own Priam, and gives every node its argument
// line.

#include <gtest/gtest.h>

#include "E2eFixture.h"
#include "common/RestoreOptionRecords.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/LogWriter.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

class RestoreCoordinatorStart : public E2eTest {
 protected:
  // Runs a "restore" job whose Cassandra restore options recover into the
  // same instance, take the nodes from its node list and stage under
  // `stagingLocation`.
  TqRunner::JobResult Restore(const std::string& stagingLocation) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setSubclientRestore(1);
    options.setStagingLocation(stagingLocation);
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    EXPECT_FALSE(request.jobOptionsXml.empty());
    TqRunner::JobResult result;
    CQiError error = harness_->RunRestore(request, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  // The restore node arguments every controller must end with.
  std::string NodeArguments(const std::string& stagePath) const {
    const std::string instance = std::to_string(harness_->State().instanceId);
    return " -CassInst " + instance + " -DestInstance " + instance +
           " -ReplaceDeadNode 0 -CrossInstance 0 -UseSSTableLaoder 0 -Recover 1 -runDR 0"
           " -stagePath " +
           stagePath + " -StageFreeRestore 0";
  }

  static bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
  }
};

TEST_F(RestoreCoordinatorStart, TheCoordinatorRegistersItsNodesStartsItsPriamAndArgumentsEachNode) {
  MakeCluster();
  TqRunner::JobResult backup = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(backup.Completed());

  struct Case {
    const char* name;
    std::string location;
  } cases[] = {
      {"plain staging path", dir_.Sub("stage")},
      {"staging path with a blank", dir_.Sub("stage area")},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const int64_t jobId = harness_->State().nextJobId;
    const std::string stagePath = k.location + "/" + std::to_string(jobId);
    const std::string written =
        k.location.find(' ') == std::string::npos ? stagePath : "\"" + stagePath + "\"";
    CLogCapture log;
    TqRunner::JobResult result = Restore(k.location);
    ASSERT_EQ(result.phases.size(), 1u);
    const TqRunner::PhaseResult& phase = result.phases.front();
    EXPECT_NE(phase.endReason, "start failed") << phase.message;

    // Nodes registered by name: every node of the instance's node list.
    std::vector<std::string> names;
    for (const auto& node : phase.nodes) names.push_back(node.clientName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"node1", "node2", "node3"}));
    EXPECT_TRUE(log.Contains("added [3] access nodes for [3] client maps"));

    // Each node's argument line ends with the restore node arguments.
    for (const auto& node : phase.nodes) {
      EXPECT_TRUE(EndsWith(node.arguments, NodeArguments(written)))
          << node.clientName << ": " << node.arguments;
      CProgramArgumentsPtr parsed;
      ASSERT_FALSE(CProgramArguments::Parse(node.arguments, parsed).IsError());
      std::string carried;
      ASSERT_FALSE(parsed->getStringValue("stagePath", carried).IsError());
      EXPECT_EQ(carried, stagePath);
    }

    // The coordinator's Priam answered "clusterDetails" and ended with the
    // phase: no Priam outlives the job.
    EXPECT_TRUE(log.Contains("Cassandra version: "));
    EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());
  }
}

}  // namespace
}  // namespace e2e
