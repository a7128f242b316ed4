// The tables each target node of this machine replays, learnt from the
// source paths of the restore tasks: tables, keyspaces, whole nodes, data
// centres and clusters, paths of other machines' nodes, and names that must
// never reach the start-up script.

#include <gtest/gtest.h>

#include <list>
#include <map>
#include <string>
#include <vector>

#include "LogRestoreControllerFixture.h"
#include "platform/base/FXErrorUtil.h"

namespace logrestoretest {
namespace {

using Tables = std::map<std::string, std::list<std::string>>;

class LogRestoreTasks : public LogRestoreControllerTest {
 protected:
  void SetUp() override {
    LogRestoreControllerTest::SetUp();
    // Source nodeA (an agent instance of srcA) onto this machine's instance
    // "host1_i1", source nodeB (known by its client) onto this machine itself;
    // nodeC lives in another data centre and restores elsewhere.
    App::CassandraNode a = Node("srcA", "nodeA"), b = Node("nodeB", "");
    a.setDataCenter("dc1");
    b.setDataCenter("dc2");
    AddMapping(a, Node("host1", "host1_i1"));
    AddMapping(b, Node("host1", ""));
    controller_->tablesByKeyspace = {{"ks1", {"t1", "t2"}},
                                     {"ks2", {"u"}},
                                     {"system", {"local", "peers"}},
                                     {"system_auth", {"roles"}},
                                     {"dse_security", {"x"}}};
  }

  Tables Replay() const {
    return Tables(controller_->replayTablesByTarget.begin(),
                  controller_->replayTablesByTarget.end());
  }
};

TEST_F(LogRestoreTasks, SelectionsGiveTheTablesOfTheirTargets) {
  const std::list<std::string> all = {"ks1.t1", "ks1.t2", "ks2.u"};
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    Tables expected;
  } cases[] = {
      {"a table", {"/c1/dc1/nodeA/ks1/t2"}, {{"host1_i1", {"ks1.t2"}}}},
      {"a file of a table", {"/c1/dc1/nodeA/ks2/u/mc-1-big-Data.db"}, {{"host1_i1", {"ks2.u"}}}},
      {"a keyspace: every table the metadata lists",
       {"/c1/dc2/nodeB/ks1"},
       {{"host1", {"ks1.t1", "ks1.t2"}}}},
      {"a keyspace the metadata does not know", {"/c1/dc2/nodeB/ks9"}, {}},
      {"a whole node: every restored table but Cassandra's own",
       {"/c1/dc1/nodeA"},
       {{"host1_i1", all}}},
      {"a data centre: its nodes on this machine", {"/c1/dc2"}, {{"host1", all}}},
      {"a cluster: every node on this machine", {"/c1"}, {{"host1", all}, {"host1_i1", all}}},
      {"the pattern of a whole-instance restore", {"/**/*"}, {{"host1", all}, {"host1_i1", all}}},
      {"patterns for the names of one level",
       {"/c1/dc1/nodeA/*", "/*/*/nodeB/ks1/*"},
       {{"host1_i1", all}, {"host1", {"ks1.t1", "ks1.t2"}}}},
      {"a trailing slash", {"/c1/dc2/nodeB/ks2/"}, {{"host1", {"ks2.u"}}}},
      {"commit-log paths add nothing",
       {"/c1/dc1/nodeA/#COMMITLOG#", "/c1/dc1/nodeA/#COMMITLOG#/CommitLog-7-1.log"},
       {}},
      {"paths of another machine's node are its own",
       {"/c1/dc3/nodeC/ks1/t1", "/c1/dc1/nodeA/ks1/t1", "/c1/dc3/nodeC"},
       {{"host1_i1", {"ks1.t1"}}}},
      {"a table named twice, and by its keyspace, once",
       {"/c1/dc1/nodeA/ks1/t2", "/c1/dc1/nodeA/ks1", "/c1/dc1/nodeA/ks1/t2"},
       {{"host1_i1", {"ks1.t2", "ks1.t1"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    controller_->replayTablesByTarget.clear();
    CQiError error = Task(c.paths);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(Replay(), c.expected);
  }
}

TEST_F(LogRestoreTasks, LaterTasksAddOnlyNewNames) {
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks1/t2"}).IsError());
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks1", "/c1/dc1/nodeA/ks2/u"}).IsError());
  EXPECT_EQ(Replay(), (Tables{{"host1_i1", {"ks1.t2", "ks1.t1", "ks2.u"}}}));
}

TEST_F(LogRestoreTasks, WithoutRecoverNothingIsLearnt) {
  controller_->recover = false;
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks1/t1", "/c1"}).IsError());
  EXPECT_TRUE(Replay().empty());
}

TEST_F(LogRestoreTasks, PathsNoTargetCanTakeFailTheTaskAndRecordNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    uint32_t code;
  } cases[] = {
      {"only nodes this machine does not restore",
       {"/c1/dc3/nodeC/ks1/t1", "/c1/dc3/nodeD/ks1"},
       774},
      {"a node path without a node name", {"/c1/dc1/nodeA/ks1/t1", "/c1/dc1//ks1/t1"}, 774},
      {"a keyspace name the start-up script must not see", {"/c1/dc1/nodeA/ks1\"$(id)/t1"}, 87},
      {"a table name the start-up script must not see", {"/c1/dc1/nodeA/ks1/t1,x`id`"}, 87},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    controller_->replayTablesByTarget.clear();
    CQiError error = Task(c.paths);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.code)) << error.AsString();
    EXPECT_TRUE(Replay().empty());
  }
}

TEST_F(LogRestoreTasks, TheTargetOfASourceIsItsAgentInstanceOrThisMachine) {
  std::string target;
  ASSERT_FALSE(controller_->getTargetFromSource("nodeA", target).IsError());
  EXPECT_EQ(target, "host1_i1");
  ASSERT_FALSE(controller_->getTargetFromSource("nodeB", target).IsError());
  EXPECT_EQ(target, "host1");
  // An empty agent instance name is no name: the backup named the node by
  // its client.
  AddMapping(Node("nodeE", ""), Node("host1", "host1_i2"));
  auto mappings = controller_->sourceTargetMappings->getMappings();
  App::CassandraNode emptyAgent = Node("nodeE", "");
  emptyAgent.setAgentInstanceName("");
  mappings.back().setSource(emptyAgent);
  controller_->sourceTargetMappings->setMappings(mappings);
  ASSERT_FALSE(controller_->getTargetFromSource("nodeE", target).IsError());
  EXPECT_EQ(target, "host1_i2");
  CQiError error = controller_->getTargetFromSource("nodeC", target);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_NE(error.AsString().find("Failed to find target for source node nodeC"),
            std::string::npos);
}

}  // namespace
}  // namespace logrestoretest
