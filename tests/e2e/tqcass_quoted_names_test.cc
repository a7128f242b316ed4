// Tables whose quoted names hold quotes, commas and colons, taken through the
// command-line front end: backed up, truncated and restored as themselves,
// never as the table of another keyspace their names spell out.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "DataFilesSupport.h"
#include "TqcassTestSupport.h"
#include "support/SimTestSupport.h"
#include "tools/lib/JobHarness.h"

namespace {

using tqcasstest::BackedUpData;
using tqcasstest::Contains;
using tqcasstest::DataFiles;
using tqcasstest::LiveData;
using tqcasstest::OfKeyspace;
using tqcasstest::Outcome;
using TqcassQuotedNames = tqcasstest::TqcassTest;

// A table of ks1 named `t1","keyspace":"ks2`: the restore of ks1 truncates
// and restores it and the other tables of ks1 and leaves ks2.t1, which its
// name spells out in a JSON body, untouched; verify then passes.
TEST_F(TqcassQuotedNames, ATableNamedLikeAnotherKeyspacesTableIsRestoredAsItselfOnly) {
  const std::string hostile = "t1\",\"keyspace\":\"ks2";
  {
    // tqcass makes clusters of plain names only: this one is made the same
    // way tqcass makes its clusters, with the quoted table added.
    TqHarness::CJobHarness harness(
        Home(), {TQ_PLUGIN_PATH, std::string(TQ_BINARY_DIR) + "/sim/priam-standin",
                 std::string(TQ_BINARY_DIR) + "/sim/docker"});
    ASSERT_FALSE(harness.Open().IsError());
    TqSim::FixtureOptions options;
    options.nodes = 3;
    options.sstablesPerTable = 1;
    options.sstableSize = 256;
    options.incrementalBackups = true;
    options.quotedTables = {hostile};
    ASSERT_FALSE(harness.CreateCluster(options).IsError());
  }
  Outcome o = Run("register");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("backup --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  ASSERT_TRUE(Contains(o.output, "job 1 (backup full): Completed")) << o.output;
  const DataFiles backedUp = OfKeyspace(BackedUpData(Home(), 1), "ks1");
  for (const char* node : {"node1", "node2", "node3"}) {
    EXPECT_EQ(backedUp.count(std::string(node) + " ks1." + hostile), 1u) << node;
  }

  // New SSTables in every table of both keyspaces, the quoted one included.
  o = Run("change --sstables 1 --size 300");
  ASSERT_EQ(o.status, 0) << o.output;
  const DataFiles changed = LiveData(Home());
  ASSERT_NE(OfKeyspace(changed, "ks1"), backedUp);
  ASSERT_GT(changed.at("node1 ks1." + hostile).size(), backedUp.at("node1 ks1." + hostile).size());
  const DataFiles otherKeyspace = OfKeyspace(changed, "ks2");
  ASSERT_EQ(otherKeyspace.count("node1 ks2.t1"), 1u);

  o = Run("restore 1 --keyspace ks1 --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 (restore in-place): Completed")) << o.output;
  // Every table of ks1, the quoted one too, was truncated: it serves exactly
  // the backup; ks2.t1 keeps the SSTables the change wrote.
  const DataFiles restored = LiveData(Home());
  EXPECT_EQ(OfKeyspace(restored, "ks1"), backedUp);
  EXPECT_EQ(OfKeyspace(restored, "ks2"), otherKeyspace);

  o = Run("verify 2");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 1 checked: verified")) << o.output;
}

}  // namespace
