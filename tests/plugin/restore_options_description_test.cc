// A restore job's options as the runner stores them in the job's description
// come back field for field through the restore task in a later process.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/RestoreOptionRecords.h"
#include "platform/base/FXString.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/TqProcess.h"
#include "support/SimTestSupport.h"

namespace {

constexpr int64_t kJobId = 31;
constexpr const char* kReaderHome = "TQTEST_RESTORE_OPTIONS_HOME";

TqEntities::ClientEntity Client(int64_t id, const std::string& name) {
  TqEntities::ClientEntity client;
  client.setClientId(id);
  client.setClientName(name);
  return client;
}

App::CassandraClientMapEntity Entity(int64_t id, const std::string& name,
                                     const std::string& container) {
  App::CassandraClientMapEntity entity;
  entity.setClient(Client(id, name));
  if (!container.empty()) entity.setContainerName(container);
  return entity;
}

// Options with every kind of value: flags, a text with characters XML must
// escape, a node map and a docker node map (one entry without a container).
TMMsg::JobOption MakeOptions() {
  App::CassandraRestoreOptions cassandra;
  cassandra.setCrossInstance(1);
  std::vector<App::CassandraClientMap> nodeMap;
  for (int i = 1; i <= 3; ++i) {
    App::CassandraClientMap entry;
    entry.setSource(Client(100 + i, "src" + std::to_string(i)));
    entry.setTarget(Client(i == 3 ? 0 : 200 + i, i == 3 ? "" : "dst" + std::to_string(i)));
    nodeMap.push_back(entry);
  }
  cassandra.setNodeMap(nodeMap);
  App::CassandraDockerClientMap docker1;
  docker1.setSource(Entity(101, "src1", "cass-a"));
  docker1.setTarget(Entity(201, "dst1", "cass-b"));
  App::CassandraDockerClientMap docker2;
  docker2.setSource(Entity(102, "src2", ""));
  docker2.setTarget(Entity(202, "dst2", "cass <&> \"q\""));
  cassandra.setDockerNodeMap({docker1, docker2});
  cassandra.setReplaceDeadNode(1);
  cassandra.setRecover(1);
  cassandra.setStagingLocation("/stage/<a&b>");
  cassandra.setUseSSTableLoader(0);
  cassandra.setRunDR(1);
  cassandra.setSubclientRestore(0);
  cassandra.setTruncateTables(1);
  cassandra.setStageFreeRestore(1);
  App::DistributedAppsRestoreOptions apps;
  apps.setCassandraRestoreOptions(cassandra);
  TMMsg::RestoreOptions restore;
  restore.setDistributedAppsRestoreOptions(apps);
  TMMsg::JobOption option;
  option.setRestoreOptions(restore);
  return option;
}

void ExpectSameEntity(const std::optional<App::CassandraClientMapEntity>& got,
                      const std::optional<App::CassandraClientMapEntity>& want) {
  ASSERT_EQ(got.has_value(), want.has_value());
  if (!want) return;
  EXPECT_EQ(got->getClient()->getClientId(), want->getClient()->getClientId());
  EXPECT_EQ(got->getClient()->getClientName(), want->getClient()->getClientName());
  EXPECT_EQ(got->getContainerName(), want->getContainerName());
  EXPECT_EQ(got->isSet(2), want->isSet(2));
}

// The reading side: what a restore coordinator does with the job id alone.
void ExpectOptionsOfTheJob() {
  EvTask task(kJobId);
  std::string xml;
  CQiError error = task.getXMLOptions(xml);
  ASSERT_FALSE(error.IsError()) << error.AsString(2);
  TMMsg::JobOption option;
  ASSERT_EQ(option.unserialize(xml), 0) << xml;
  auto restore = option.getRestoreOptions();
  ASSERT_TRUE(restore);
  auto apps = restore->getDistributedAppsRestoreOptions();
  ASSERT_TRUE(apps);
  auto got = apps->getCassandraRestoreOptions();
  ASSERT_TRUE(got);
  const App::CassandraRestoreOptions want = *MakeOptions()
                                                 .getRestoreOptions()
                                                 ->getDistributedAppsRestoreOptions()
                                                 ->getCassandraRestoreOptions();

  EXPECT_EQ(got->getCrossInstance(), 1);
  EXPECT_EQ(got->getReplaceDeadNode(), 1);
  EXPECT_EQ(got->getRecover(), 1);
  EXPECT_EQ(got->getStagingLocation(), "/stage/<a&b>");
  EXPECT_EQ(got->getUseSSTableLoader(), 0);
  EXPECT_EQ(got->getRunDR(), 1);
  EXPECT_EQ(got->getSubclientRestore(), 0);
  EXPECT_EQ(got->getTruncateTables(), 1);
  EXPECT_EQ(got->getStageFreeRestore(), 1);

  ASSERT_TRUE(got->hasNodeMap());
  auto nodeMap = got->getNodeMap();
  auto wantMap = want.getNodeMap();
  ASSERT_EQ(nodeMap.size(), wantMap.size());
  for (size_t i = 0; i < nodeMap.size(); ++i) {
    EXPECT_EQ(nodeMap[i].getSource()->getClientId(), wantMap[i].getSource()->getClientId());
    EXPECT_EQ(nodeMap[i].getSource()->getClientName(), wantMap[i].getSource()->getClientName());
    EXPECT_EQ(nodeMap[i].getTarget()->getClientId(), wantMap[i].getTarget()->getClientId());
    EXPECT_EQ(nodeMap[i].getTarget()->getClientName(), wantMap[i].getTarget()->getClientName());
  }
  ASSERT_TRUE(got->hasDockerNodeMap());
  auto docker = got->getDockerNodeMap();
  auto wantDocker = want.getDockerNodeMap();
  ASSERT_EQ(docker.size(), wantDocker.size());
  for (size_t i = 0; i < docker.size(); ++i) {
    ExpectSameEntity(docker[i].getSource(), wantDocker[i].getSource());
    ExpectSameEntity(docker[i].getTarget(), wantDocker[i].getTarget());
  }

  // The restore task of the same job gives the same text.
  EvRstTask restoreTask(kJobId, 0, nullptr, false, false);
  std::string again;
  ASSERT_FALSE(restoreTask.getJobOptions(again).IsError());
  EXPECT_EQ(again, xml);
  EXPECT_EQ(restoreTask.getDestInstanceId(), 12u);
  std::string path;
  ASSERT_TRUE(restoreTask.getFirstPath(EvRstTask::kSourcePaths, path));
  EXPECT_EQ(path, "/TestCluster/dc1/node1/ks1");
}

// Runs only as the later process that RestoreOptionsDescription starts.
TEST(RestoreOptionsReader, OptionsOfTheDescribedJob) {
  const char* home = std::getenv(kReaderHome);
  if (!home) GTEST_SKIP() << "run by RestoreOptionsDescription";
  CClientContext::SetSuiteHome(home);
  ExpectOptionsOfTheJob();
}

TEST(RestoreOptionsDescription, OptionsComeBackFieldForFieldInALaterProcess) {
  simtest::TempDir dir;
  const std::string home = dir.Sub("suite");
  CClientContext::SetSuiteHome(home);
  TqRunner::JobDescription description;
  description.jobId = kJobId;
  description.jobType = "restore";
  description.destInstanceId = 12;
  description.pathList1 = {"/TestCluster/dc1/node1/ks1"};
  ASSERT_EQ(MakeOptions().serialize(description.xmlOptions), 0);
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(description).IsError());
  // In this process first, then in another one that knows only the suite home.
  ExpectOptionsOfTheJob();
  CClientContext::SetSuiteHome("");

  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = std::string(kReaderHome) + "=" + FXString::QuoteForShell(home) + " " +
                              FXString::QuoteForShell(self) +
                              " --gtest_filter=RestoreOptionsReader.OptionsOfTheDescribedJob";
  std::string out, err;
  const int status = TqProcess::system(command.c_str(), out, err);
  EXPECT_EQ(status, 0) << out << err;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
  EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
}

}  // namespace
