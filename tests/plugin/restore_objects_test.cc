// The restore-side objects the factories hand out: how their framework bases
// are built, the defaults they keep, and the restore configuration's stream
// count.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cleanup/CassandraPostOpCleanup.h"
#include "common/CassandraRestoreClientConfig.h"
#include "logrestore/CassandraLogRestoresCoordinator.h"
#include "platform/log/LogWriter.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace {

using TQCassandra::CCassandraLogRestores;
using TQCassandra::CCassandraRestoreClientConfig;
using TQCassandra::CCassandraRestores;

TEST(RestoreCoordinators, FrameworkBaseFlag) {
  // The restore coordinator hands its flag to the framework base.
  EXPECT_FALSE(CCassandraRestores(false).isCleanupRestore());
  EXPECT_TRUE(CCassandraRestores(true).isCleanupRestore());
  // The point-in-time coordinator builds the shared base with false whatever
  // it is given.
  EXPECT_FALSE(CCassandraLogRestores(false).isCleanupRestore());
  EXPECT_FALSE(CCassandraLogRestores(true).isCleanupRestore());
}

TEST(RestoreCoordinators, KeepFrameworkDefaults) {
  CCassandraRestores restores(false);
  CCassandraLogRestores logRestores(false);
  for (DistributedQEL::ICoordinator* c :
       {static_cast<DistributedQEL::ICoordinator*>(&restores),
        static_cast<DistributedQEL::ICoordinator*>(&logRestores)}) {
    EXPECT_FALSE(c->isArchiveIndexRequired());
    EXPECT_EQ(c->getJMControlRole(), 1);
    EXPECT_FALSE(c->isBackupJob());
  }
}

TEST(CleanupCoordinator, AsksForEveryNodeToStart) {
  TQCassandra::CassandraPostOpCleanup cleanup;
  EXPECT_TRUE(cleanup.getStartAllNodes());
  EXPECT_FALSE(cleanup.getStartAllNodesAtOnce());
}

TEST(RestoreClientConfig, IsARestoreSideConfiguration) {
  CCassandraRestoreClientConfig config;
  EXPECT_EQ(config.getKind(), 2);
}

TEST(RestoreClientConfig, CalculateStreamsRaisesToTheNodeCount) {
  struct {
    int32_t streams;
    size_t nodes;
    int32_t after;
    bool updated;
  } cases[] = {
      {3, 5, 5, true}, {0, 1, 1, true}, {5, 5, 5, false}, {7, 5, 7, false}, {4, 0, 4, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.streams) + " streams, " + std::to_string(c.nodes) + " nodes");
    CCassandraRestoreClientConfig config;
    config.setNumberOfStreams(c.streams);
    CLogCapture log;
    EXPECT_FALSE(config.CalculateStreams(c.nodes).IsError());
    EXPECT_EQ(config.getNumberOfStreams(), c.after);
    std::vector<std::string> updates = log.Texts(0);
    if (c.updated) {
      ASSERT_EQ(updates.size(), 1u);
      EXPECT_EQ(updates[0], "Updating number of streams to [" + std::to_string(c.nodes) +
                                "] as the number of streams chosen [" + std::to_string(c.streams) +
                                "] is less than the number of nodes");
    } else {
      EXPECT_TRUE(updates.empty());
    }
    std::vector<std::string> finest = log.Texts(6);
    ASSERT_EQ(finest.size(), 1u);
    EXPECT_EQ(finest[0], "Number of streams = [" + std::to_string(c.after) + "]");
  }
}

}  // namespace
