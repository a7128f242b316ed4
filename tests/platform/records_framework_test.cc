#include <gtest/gtest.h>

#include "platform/msg/EntityRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;
using namespace DistributedQEL;

std::vector<DINameValue> Pairs() {
  return {DINameValue("CassandraStartup", "1"), DINameValue("CollectFileCount", "8")};
}

void ExpectPairs(const std::vector<DINameValue>& values) {
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].getName(), "CassandraStartup");
  EXPECT_EQ(values[0].getValue(), "1");
  EXPECT_EQ(values[1].getName(), "CollectFileCount");
  EXPECT_EQ(values[1].getValue(), "8");
}

TEST(FrameworkRecords, DINameValue) {
  DINameValue r = ExpectLayout(DINameValue("name", "value"), {{1, 1, S}, {2, 5, S}});
  EXPECT_EQ(r.getName(), "name");
  EXPECT_EQ(r.getValue(), "value");
}

TEST(FrameworkRecords, NodeMessages) {
  NodeInit init;
  init.setValues(Pairs());
  ExpectPairs(ExpectLayout(init, {{1, 1, L}}).getValues());
  NodeInit empty;
  empty.setValues({});
  EXPECT_TRUE(ExpectLayout(empty, {{1, 1, L}}).isSet(1)) << "the backup's empty payload";
  ExpectLayout(NodeStop(), {});
}

TEST(FrameworkRecords, ControllerReports) {
  ControllerStartup startup;
  startup.setValues(Pairs());
  ExpectPairs(ExpectLayout(startup, {{9, 12, L}}).getValues());

  ControllerDone done;
  done.setResult(ControllerDone::kResultInitFailed);
  done.setValues(Pairs());
  ControllerDone read = ExpectLayout(done, {{1, 1, I}, {6, 9, L}});
  EXPECT_EQ(read.getResult(), 3);
  ExpectPairs(read.getValues());
}

TEST(FrameworkRecords, TasksAndStreams) {
  TaskID id;
  id.setTaskId(77);
  EXPECT_EQ(ExpectLayout(id, {{1, 1, I}}).getTaskId(), 77);

  TaskInfo task;
  task.setTaskId(id);
  task.setPayload("9|-1");
  TaskInfo read = ExpectLayout(task, {{2, 2, O}, {6, 6, S}});
  ASSERT_TRUE(read.getTaskId().has_value());
  EXPECT_EQ(read.getTaskId()->getTaskId(), 77);
  EXPECT_EQ(read.getPayload(), "9|-1");
  EXPECT_FALSE(TaskInfo().getTaskId().has_value());

  TaskRequest request;
  request.setTaskKind(4);
  EXPECT_EQ(ExpectLayout(request, {{2, 2, I}}).getTaskKind(), 4);
  StreamInfo stream;
  stream.setStreamNumber(3);
  EXPECT_EQ(ExpectLayout(stream, {{3, 3, I}}).getStreamNumber(), 3);
}

TEST(FrameworkRecords, RestoreTask) {
  RestoreTaskStats stats;
  stats.setSourcePathCount(2);
  RestoreTaskInfo task;
  task.setSourcePaths({"/c/dc1/n1/ks/t", "/c/dc1/n1/#COMMITLOG#"});
  task.setFilterPaths({});
  task.setStats(stats);
  RestoreTaskInfo read = ExpectLayout(task, {{3, 3, LS}, {6, 6, LS}, {15, 15, O}});
  EXPECT_EQ(read.getSourcePaths(), task.getSourcePaths());
  EXPECT_TRUE(read.getFilterPaths().empty());
  ASSERT_TRUE(read.getStats().has_value());
  EXPECT_EQ(read.getStats()->getSourcePathCount(), 2);
}

// A nested record of another class is none to a typed reader.
TEST(FrameworkRecords, TypedReadersIgnoreOtherClasses) {
  TaskInfo task;
  task.setObjectAccessor(2, 2, DINameValue("a", "b"));
  EXPECT_FALSE(task.getTaskId().has_value());
  NodeInit init;
  init.setlistobject(1, 1, {DINameValue("a", "b"), TaskID(), DINameValue("c", "d")});
  ASSERT_EQ(init.getValues().size(), 2u);
  EXPECT_EQ(init.getValues()[1].getName(), "c");

  const CNMessageBase generic = DINameValue("x", "y");
  ASSERT_TRUE(RecordAs<DINameValue>(generic).has_value());
  EXPECT_EQ(RecordAs<DINameValue>(generic)->getValue(), "y");
  EXPECT_FALSE(RecordAs<TaskID>(generic).has_value());
}

TEST(EntityRecords, Entities) {
  using namespace TqEntities;
  ClientEntity client;
  client.setClientId(12);
  client.setClientName("node1");
  client.setHostName("node1.example");
  ClientEntity c = ExpectLayout(client, {{0, 0, I}, {1, 1, S}, {2, 5, S}});
  EXPECT_TRUE(c.hasClientId());
  EXPECT_EQ(c.getClientId(), 12);
  EXPECT_EQ(c.getClientName(), "node1");
  EXPECT_EQ(c.getHostName(), "node1.example");
  EXPECT_FALSE(ClientEntity().hasClientId());

  OmbrelEntity ombrel;
  ombrel.setOmbrelId(2);
  EXPECT_EQ(ExpectLayout(ombrel, {{0, 0, I}}).getOmbrelId(), 2);
  InstanceEntity instance;
  instance.setInstanceId(5);
  EXPECT_EQ(ExpectLayout(instance, {{0, 0, I}}).getInstanceId(), 5);
  BackupSetEntity backupSet;
  backupSet.setBackupSetId(6);
  EXPECT_EQ(ExpectLayout(backupSet, {{0, 0, I}}).getBackupSetId(), 6);
  TimeEntity time;
  time.setTime(1700000000);
  EXPECT_EQ(ExpectLayout(time, {{0, 0, I}}).getTime(), 1700000000);

  SubClientEntity subclient;
  subclient.setSubclientId(-1);
  subclient.setBackupsetId(8);
  subclient.setInstanceId(9);
  SubClientEntity s = ExpectLayout(subclient, {{0, 0, I}, {4, 10, I}, {7, 19, I}});
  EXPECT_EQ(s.getSubclientId(), -1);
  EXPECT_EQ(s.getBackupsetId(), 8);
  EXPECT_EQ(s.getInstanceId(), 9);
  EXPECT_TRUE(s.hasSubclientId());
  EXPECT_TRUE(s.hasInstanceId());
  EXPECT_FALSE(SubClientEntity().hasInstanceId());

  MediaAgentEntity agent;
  agent.setClientId(3);
  agent.setClientName("ma1");
  MediaAgentEntity a = ExpectLayout(agent, {{0, 0, I}, {1, 1, S}});
  EXPECT_EQ(a.getClientId(), 3);
  EXPECT_EQ(a.getClientName(), "ma1");

  AppIdEntity app;
  app.setOmbrelId(2);
  app.setSubclientId(-1);
  app.setBackupsetId(4);
  app.setInstanceId(5);
  app.setAppType(64);
  app.setClientId(7);
  AppIdEntity r =
      ExpectLayout(app, {{1, 1, I}, {5, 11, I}, {8, 20, I}, {11, 29, I}, {14, 38, I}, {17, 47, I}});
  EXPECT_EQ(r.getOmbrelId(), 2);
  EXPECT_EQ(r.getSubclientId(), -1);
  EXPECT_EQ(r.getBackupsetId(), 4);
  EXPECT_EQ(r.getInstanceId(), 5);
  EXPECT_EQ(r.getAppType(), 64);
  EXPECT_EQ(r.getClientId(), 7);
}

}  // namespace
