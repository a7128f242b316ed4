// The platform services a restore calls: the job description with its restore
// task, the restore job client, the restore value types, the restore
// coordinator base, the results store, the media agent and the umount seam.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/make_shared.hpp>
#include <cerrno>
#include <fstream>
#include <functional>

#include "TempDir.h"
#include "platform/base/QiFile.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/FSSubclientConf.h"
#include "platform/framework/Restore.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/StartClientRestore.h"
#include "platform/framework/StartClientRestoreDistributed.h"
#include "platform/framework/TaskBase.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/log/EventJournal.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/DemangleHostName.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/JobClientHelper.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/StoreResults.h"
#include "platform/suite/TQPI_PlatformBase.h"
#include "platform/suite/TQRstJobClient.h"
#include "platform/suite/TqMount.h"

namespace {

// A suite home and a client of its own per test.
class RestoreServices : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(dir_.Sub("suite"));
    CEventJournal::Instance().Clear();
  }
  void TearDown() override {
    CClientContext::SetSuiteHome("");
    CEventJournal::Instance().Clear();
  }

  static TqRunner::JobDescription Description(int64_t jobId) {
    TqRunner::JobDescription d;
    d.jobId = jobId;
    d.jobType = "restore";
    d.startTime = 1700000000;
    d.ombrelId = 2;
    d.clientName = "cluster1";
    d.sourceInstanceId = 11;
    d.destInstanceId = 12;
    d.sourceAppType = 64;
    d.sourceClientId = 5;
    d.backupSetId = 7;
    d.subclientId = -1;
    d.mediaAgentClientId = 9;
    d.copyPrecedence = 1;
    d.fromTime = 1600000000;
    d.toTime = 1700000100;
    d.pathList1 = {"/c/dc1/n1/ks1", "/c/dc1/n2"};
    d.pathList2 = {"/c/dc1/n1/ks1/t9"};
    d.xmlOptions = "<TMMsg_JobOption><a v=\"1\"/></TMMsg_JobOption>";
    return d;
  }

  TempDir dir_;
  CClientContextScope client_{SClientIdentity{"coord1", 3, "coord1.example", "", ""}};
};

TEST_F(RestoreServices, JobDescriptionComesBackFieldForField) {
  TqRunner::CJobRecordStore store;
  TqRunner::JobDescription written = Description(41);
  ASSERT_FALSE(store.WriteDescription(written).IsError());
  EXPECT_EQ(store.DescriptionPathOf(41), dir_.Sub("suite") + "/Jobs/41.description.json");
  // The description is no job record: the record list does not show it.
  EXPECT_TRUE(store.List().empty());

  TqRunner::JobDescription read;
  ASSERT_FALSE(store.ReadDescription(41, read).IsError());
  EXPECT_EQ(read.jobType, "restore");
  EXPECT_EQ(read.startTime, written.startTime);
  EXPECT_EQ(read.ombrelId, 2u);
  EXPECT_EQ(read.clientName, "cluster1");
  EXPECT_EQ(read.subclientId, -1);
  EXPECT_EQ(read.mediaAgentClientId, 9);
  EXPECT_EQ(read.pathList1, written.pathList1);
  EXPECT_EQ(read.pathList2, written.pathList2);
  EXPECT_EQ(read.xmlOptions, written.xmlOptions);
}

TEST_F(RestoreServices, JobDescriptionErrors) {
  TqRunner::CJobRecordStore store;
  TqRunner::JobDescription read;
  EXPECT_EQ(store.ReadDescription(5, read).GetValue(), 2u);
  EXPECT_EQ(store.WriteDescription(Description(0)).GetValue(), 87u);
  // Options that are not UTF-8 cannot go into the record unaltered.
  TqRunner::JobDescription bad = Description(6);
  bad.xmlOptions = "<a>\xff\xfe</a>";
  EXPECT_EQ(store.WriteDescription(bad).GetValue(), 87u);
  EXPECT_EQ(store.ReadDescription(6, read).GetValue(), 2u);
  // A damaged file, and a file that names another job.
  ASSERT_FALSE(store.WriteDescription(Description(7)).IsError());
  ASSERT_FALSE(
      CQiFile::ReplaceWholeFile(store.DescriptionPathOf(8).c_str(), "{\"jobId\":").IsError());
  EXPECT_EQ(store.ReadDescription(8, read).GetValue(), 13u);
  std::string text;
  ASSERT_FALSE(CQiFile::ReadWholeFile(store.DescriptionPathOf(7).c_str(), text).IsError());
  ASSERT_FALSE(CQiFile::ReplaceWholeFile(store.DescriptionPathOf(9).c_str(), text).IsError());
  EXPECT_EQ(store.ReadDescription(9, read).GetValue(), 13u);
}

// A number of a description is taken only when it is a whole number that
// its field holds; any other is refused with the field named, never
// converted (a float beyond a field's range would be undefined behaviour).
TEST_F(RestoreServices, JobDescriptionNumbersOutOfRangeAreRefused) {
  TqRunner::CJobRecordStore store;
  ASSERT_FALSE(store.WriteDescription(Description(41)).IsError());
  std::string written;
  ASSERT_FALSE(CQiFile::ReadWholeFile(store.DescriptionPathOf(41).c_str(), written).IsError());
  struct Case {
    const char* field;
    const char* value;  // JSON text
  } refused[] = {
      {"startTime", "1e300"},
      {"startTime", "-1e300"},
      {"startTime", "1e400"},                // beyond a double: the text itself does not parse
      {"startTime", "9223372036854775808"},  // 2^63
      {"startTime", "9.223372036854775808e18"},
      {"startTime", "1.5"},
      {"startTime", "-0.5"},
      {"startTime", "\"1700000000\""},
      {"startTime", "true"},
      {"startTime", "null"},
      {"ombrelId", "-1"},
      {"ombrelId", "4294967296"},
      {"ombrelId", "-1.0"},
      {"mediaAgentClientId", "2147483648"},
      {"mediaAgentClientId", "-2147483649"},
      {"mediaAgentClientId", "1e10"},
      {"sourceInstanceId", "-1"},
      {"sourceInstanceId", "18446744073709551616"},  // 2^64
      {"sourceInstanceId", "1.8446744073709552e19"},
      {"backupSetId", "1e300"},
      {"copyPrecedence", "4294967296.0"},
      {"fromTime", "-9.3e18"},
  };
  // Writes the description with `field`'s value as `value`, written into the
  // text as it stands, not through a JSON value.
  auto writeWith = [&](const std::string& field, const std::string& value) {
    std::string text = written;
    const std::string key = "\"" + field + "\": ";
    const size_t start = text.find(key);
    ASSERT_NE(start, std::string::npos);
    const size_t end = text.find_first_of(",\n}", start + key.size());
    text.replace(start + key.size(), end - start - key.size(), value);
    ASSERT_FALSE(CQiFile::ReplaceWholeFile(store.DescriptionPathOf(41).c_str(), text).IsError());
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(std::string(c.field) + " = " + c.value);
    ASSERT_NO_FATAL_FAILURE(writeWith(c.field, c.value));
    TqRunner::JobDescription read;
    read.startTime = 99;
    CQiError error = store.ReadDescription(41, read);
    EXPECT_EQ(error.GetValue(), 13u);
    if (std::string(c.value) != "1e400") {
      EXPECT_NE(error.AsString(2).find(std::string("\"") + c.field + "\" is "), std::string::npos)
          << error.AsString(2);
    }
    EXPECT_EQ(read.startTime, 99);  // nothing taken
  }
  // Whole numbers at the ends of a field's range, also written as floats.
  struct Taken {
    const char* field;
    const char* value;
    std::function<bool(const TqRunner::JobDescription&)> check;
  } taken[] = {
      {"startTime", "9223372036854775807",
       [](const TqRunner::JobDescription& d) { return d.startTime == INT64_MAX; }},
      {"startTime", "-9.223372036854775808e18",
       [](const TqRunner::JobDescription& d) { return d.startTime == INT64_MIN; }},
      {"startTime", "5.0", [](const TqRunner::JobDescription& d) { return d.startTime == 5; }},
      {"ombrelId", "4294967295",
       [](const TqRunner::JobDescription& d) { return d.ombrelId == UINT32_MAX; }},
      {"mediaAgentClientId", "-2147483648",
       [](const TqRunner::JobDescription& d) { return d.mediaAgentClientId == INT32_MIN; }},
      {"sourceInstanceId", "18446744073709551615",
       [](const TqRunner::JobDescription& d) { return d.sourceInstanceId == UINT64_MAX; }},
  };
  for (const Taken& c : taken) {
    SCOPED_TRACE(std::string(c.field) + " = " + c.value);
    ASSERT_NO_FATAL_FAILURE(writeWith(c.field, c.value));
    TqRunner::JobDescription read;
    ASSERT_FALSE(store.ReadDescription(41, read).IsError());
    EXPECT_TRUE(c.check(read));
  }
}

TEST_F(RestoreServices, RestoreTaskGivesTheDescriptionAndWalksItsPathLists) {
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(Description(41)).IsError());
  EvRstTask task(41, 0, nullptr, false, false);
  ASSERT_TRUE(task.isLoaded());
  EXPECT_EQ(task.getSourceInstanceId(), 11u);
  EXPECT_EQ(task.getDestInstanceId(), 12u);
  EXPECT_EQ(task.getSourceAppType(), 64);
  EXPECT_EQ(task.getBackupSetId(), 7u);
  EXPECT_EQ(task.getSubclientId(), -1);
  EXPECT_EQ(task.getMediaAgent(), 9);
  EXPECT_EQ(task.getFromTime(), 1600000000);
  EXPECT_EQ(task.getToTime(), 1700000100);
  std::string xml;
  ASSERT_FALSE(task.getJobOptions(xml).IsError());
  EXPECT_EQ(xml, Description(41).xmlOptions);

  std::string path = "untouched";
  ASSERT_TRUE(task.getFirstPath(1, path));
  EXPECT_EQ(path, "/c/dc1/n1/ks1");
  // Each list has its own cursor.
  ASSERT_TRUE(task.getFirstPath(2, path));
  EXPECT_EQ(path, "/c/dc1/n1/ks1/t9");
  EXPECT_FALSE(task.getNextPath(2, path));
  ASSERT_TRUE(task.getNextPath(1, path));
  EXPECT_EQ(path, "/c/dc1/n2");
  EXPECT_FALSE(task.getNextPath(1, path));
  // An addition is walked too, also by a walk that had ended.
  ASSERT_TRUE(task.addPath(1, "/c/dc1/n3"));
  ASSERT_TRUE(task.getNextPath(1, path));
  EXPECT_EQ(path, "/c/dc1/n3");
  EXPECT_EQ(task.getPaths(1).size(), 3u);
  // Other list numbers are no lists.
  EXPECT_FALSE(task.addPath(3, "/x"));
  path = "untouched";
  EXPECT_FALSE(task.getFirstPath(0, path));
  EXPECT_EQ(path, "untouched");
  // The additions stay in the object: the description is unchanged.
  EXPECT_EQ(EvRstTask(41, 0, nullptr, false, false).getPaths(1).size(), 2u);
}

TEST_F(RestoreServices, TaskOfAJobWithoutDescriptionOrOptions) {
  EvTask missing(77);
  EXPECT_FALSE(missing.isLoaded());
  std::string xml = "untouched";
  EXPECT_EQ(missing.getXMLOptions(xml).GetValue(), 2u);
  EXPECT_EQ(xml, "untouched");
  EvRstTask task(77, 0, nullptr, false, false);
  std::string path;
  EXPECT_FALSE(task.getFirstPath(1, path));
  EXPECT_EQ(task.getSourceInstanceId(), 0u);

  TqRunner::JobDescription d = Description(78);
  d.xmlOptions.clear();
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(d).IsError());
  CQiString text;
  EXPECT_EQ(EvTask(78).getXMLOptions(text).GetValue(), 1627u);
}

TEST_F(RestoreServices, RestoreJobClientNeedsTheJobAndRecordsPendingCauses) {
  TQRstJobClient client;
  EXPECT_FALSE(client.init("cs1", 41, 4, false, nullptr));  // no description yet
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(Description(41)).IsError());
  EXPECT_FALSE(client.init(nullptr, 41, 4, false, nullptr));
  EXPECT_FALSE(client.init("", 41, 4, false, nullptr));
  EXPECT_FALSE(client.init("cs1", 0, 4, false, nullptr));
  EXPECT_FALSE(client.isInitialized());
  ASSERT_TRUE(client.init("cs1", 41, 4, false, nullptr));
  EXPECT_EQ(client.getJobId(), 41);
  EXPECT_EQ(client.getHostName(), "cs1");

  client << "node1";
  ASSERT_FALSE(
      client.setPendingCauseAndEvent(0x6000472, 6, 0, false, 300, 0, 0, 0, 0, 0).IsError());
  EXPECT_EQ(client.getPendingCause(), 0x6000472u);
  auto causes = CEventJournal::Instance().Find(0x6000472, CEventJournal::kPendingCause);
  ASSERT_EQ(causes.size(), 1u);
  EXPECT_EQ(causes[0].args, std::vector<std::string>{"node1"});
}

TEST_F(RestoreServices, JobStartTimeFromTheDescriptionElseTheRecord) {
  CTimeStamp start;
  EXPECT_EQ(CJobClientHelper::GetJobStartTimeByJobId("cs1", 41, start).GetValue(), 2u);
  EXPECT_EQ(CJobClientHelper::GetJobStartTimeByJobId("", 41, start).GetValue(), 87u);
  TqRunner::JobResult record;
  record.jobId = 41;
  record.startTime = 1650000000;
  ASSERT_FALSE(TqRunner::CJobRecordStore().Write(record).IsError());
  ASSERT_FALSE(CJobClientHelper::GetJobStartTimeByJobId("cs1", 41, start).IsError());
  EXPECT_EQ(start.AsUnixTime(), 1650000000);
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(Description(41)).IsError());
  ASSERT_FALSE(CJobClientHelper::GetJobStartTimeByJobId("cs1", 41, start).IsError());
  EXPECT_EQ(start.AsUnixTime(), 1700000000);
}

TEST_F(RestoreServices, CentralServerAndLocalClientNames) {
  char buffer[64];
  CRegistry::Instance().Remove("Base", "sZentorerHostName");
  ASSERT_TRUE(TQPI_PlatformBase::getZentorerHostName(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "coord1.example");
  CRegistry::Instance().Set("Base", "sZentorerHostName", "cs.example");
  ASSERT_TRUE(TQPI_PlatformBase::getZentoreHostName(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "cs.example");
  // A buffer that cannot take the name and its terminator.
  char small[10];
  EXPECT_FALSE(TQPI_PlatformBase::getZentorerHostName(small, sizeof small));
  EXPECT_FALSE(TQPI_PlatformBase::getZentorerHostName(nullptr, 64));
  CRegistry::Instance().Remove("Base", "sZentorerHostName");

  EXPECT_EQ(TQPlatformInfo::getTQPlatformType() & 1, 1);
  ASSERT_EQ(
      TQPlatformInfo::getZentorerClientName(buffer, 256 > sizeof buffer ? sizeof buffer : 256), 1);
  EXPECT_STREQ(buffer, "coord1");
  EXPECT_EQ(TQPlatformInfo::getZentorerClientName(small, 6), 0);
  EXPECT_EQ(TQPlatformInfo::getPhysicalMachine(), "coord1.example");
  CRegistry::Instance().Set("Base", "nPlatformType", "2");
  EXPECT_EQ(TQPlatformInfo::getTQPlatformType(), 2);
  CRegistry::Instance().Remove("Base", "nPlatformType");
}

TEST_F(RestoreServices, RestoreResultsFolderAndItsRawFile) {
  const std::string expected =
      CClientContext::JobResultsDirectory("coord1") + "/TQ_JobResults/2/0/41";
  {
    StoreResults absent(2, 41, false, nullptr);
    EXPECT_EQ(absent.getDirectory(), nullptr);
    std::string name;
    EXPECT_NE(absent.openRaw(2, name), 0);
  }
  StoreResults results(2, 41, true, nullptr);
  ASSERT_NE(results.getDirectory(), nullptr);
  EXPECT_EQ(std::string(results.getDirectory()), expected);
  std::string name;
  ASSERT_EQ(results.openRaw(2, name), 0);
  EXPECT_EQ(name, expected + "/JobResults_2.raw");
  EXPECT_EQ(results.closeFile(), 0);
  struct stat st;
  EXPECT_EQ(::stat(name.c_str(), &st), 0);
  // The folder is the one the restore client configuration names.
  TQDC_FileSystem::CRestoreClientConfig config;
  EXPECT_EQ(config.getRestoreResultsNumber(), 2u);
  EXPECT_EQ(StoreResults(0, 0, true, nullptr).getDirectory(), nullptr);
}

TEST_F(RestoreServices, MediaAgentOfASubclientAndItsNames) {
  GetMediaAgentArgs_t args;
  GetMediaAgentRet_t ret;
  EXPECT_EQ(ArMgrClientAPI::getMediaAgent(args, ret), ArMgrClientAPI::kFailed);
  args.param2 = 4;
  EXPECT_EQ(ArMgrClientAPI::getMediaAgent(args, ret), ArMgrClientAPI::kFailed);  // no subclient
  EXPECT_TRUE(ret.mediaAgentName.empty());
  args.param4 = 3;
  ASSERT_EQ(ArMgrClientAPI::getMediaAgent(args, ret), ArMgrClientAPI::kSuccess);
  EXPECT_EQ(ret.mediaAgentName, "coord1*coord1.example");
  CRegistry::Instance().Set("ArchiveStore", "sMediaAgent", "ma1*ma1.example");
  ASSERT_EQ(ArMgrClientAPI::getMediaAgent(args, ret), ArMgrClientAPI::kSuccess);
  CRegistry::Instance().Remove("ArchiveStore", "sMediaAgent");
  std::string host, client;
  ASSERT_TRUE(DemangleHostName(ret.mediaAgentName, host, client));
  EXPECT_EQ(host, "ma1.example");
  EXPECT_EQ(client, "ma1");

  const struct {
    const char* mangled;
    bool ok;
    const char* host;
    const char* client;
  } kCases[] = {
      {"ma2", true, "ma2", "ma2"}, {"ma2*h2", true, "h2", "ma2"}, {"", false, "", ""},
      {"*h2", false, "", ""},      {"ma2*", false, "", ""},       {"ma2*h2*x", false, "", ""},
  };
  for (const auto& c : kCases) {
    std::string h = "keep", n = "keep";
    EXPECT_EQ(DemangleHostName(c.mangled, h, n), c.ok) << c.mangled;
    EXPECT_EQ(h, c.ok ? c.host : "keep") << c.mangled;
    EXPECT_EQ(n, c.ok ? c.client : "keep") << c.mangled;
  }
}

TEST_F(RestoreServices, UmountGoesThroughTheHook) {
  std::vector<std::string> targets;
  TqMount::UmountHook previous = TqMount::SetUmountHook([&](const std::string& target, int& error) {
    targets.push_back(target);
    if (target == "/busy") {
      error = EBUSY;
      return -1;
    }
    return 0;
  });
  EXPECT_EQ(TqMount::umount("/mnt/share"), 0);
  errno = 0;
  EXPECT_EQ(TqMount::umount("/busy"), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(TqMount::umount(nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(targets, (std::vector<std::string>{"/mnt/share", "/busy"}));
  TqMount::SetUmountHook(previous);
  // Without the hook the real call answers: nothing is mounted there.
  EXPECT_EQ(TqMount::umount(dir_.path().c_str()), -1);
}

TEST(RestoreValueTypes, RestoreRecordDefaults) {
  RestoreRecord record;
  EXPECT_EQ(record.ombrelId, 0u);
  EXPECT_EQ(record.archiveFileId, 0);
  EXPECT_EQ(record.itemCount, 0);
  EXPECT_FALSE(record.hasExtents);
  EXPECT_EQ(record.archiveFileType, -1);
  EXPECT_TRUE(record.strNodeName.empty());
  EXPECT_TRUE(record.strMediaType.empty());
  EXPECT_TRUE(record.chunks.empty());
  FSRFIRInitData init;
  EXPECT_EQ(init.numberOfSrcPaths, 0u);
  EXPECT_EQ(FSRSrcPath().stripLevel, -1);
  EXPECT_EQ(I2::RESTORE_AFILE_TYPES::TAPE, 1);
  EXPECT_STREQ(I2::RESTORE_AFILE_TYPES::KEY_NAME, "RestoreAFileType");
  DistributedQEL::CRestoreStatistics statistics;
  EXPECT_EQ(statistics.skippedFilesCount, 0);
}

TEST(RestoreValueTypes, RestoreRecordTextRoundTrips) {
  RestoreRecord plain;
  RestoreRecord full;
  full.ombrelId = 2;
  full.archiveFileId = -5;
  full.archiveGroupId = 4000000000LL;
  full.itemCount = 12;
  full.fileCount = 9;
  full.extentCount = 3;
  full.hasExtents = true;
  full.archiveFileType = I2::RESTORE_AFILE_TYPES::DISK;
  full.installationDomainId = 8;
  full.jobId = 41;
  full.copyPrecedence = 1;
  full.fromTime = 100;
  full.toTime = 200;
  full.restoredCount = 6;
  full.strNodeName = "node 1=a,b%c:d\n";
  full.strMediaType = "disk";
  full.chunks = {{7, 1, 0, 4096}, {7, 2, 4096, 100}};
  RestoreRecord odd;
  odd.strNodeName = "%41";  // an escape-looking name stays itself
  for (const RestoreRecord* record : {&plain, &full, &odd}) {
    const std::string text = record->AsString();
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    RestoreRecord back;
    back.itemCount = 99;
    ASSERT_FALSE(RestoreRecord::Parse(text, back).IsError()) << text;
    EXPECT_TRUE(back == *record) << text << "\n" << back.AsString();
  }
  EXPECT_EQ(
      full.AsString().rfind("RestoreRecord node=node%201%3Da%2Cb%25c%3Ad%0A ombrel=2 afile=-5 ", 0),
      0u)
      << full.AsString();
}

TEST(RestoreValueTypes, RestoreRecordParseRefusesOtherText) {
  const std::string good = RestoreRecord().AsString();
  const char* kBad[] = {
      "",
      "Record node= ombrel=0",
      "RestoreRecord node=",
      "RestoreRecord node=x ombrel=1",
  };
  RestoreRecord record;
  record.itemCount = 5;
  for (const char* text : kBad) {
    EXPECT_EQ(RestoreRecord::Parse(text, record).GetValue(), 13u) << text;
  }
  for (const auto& swap :
       std::vector<std::pair<std::string, std::string>>{{"count=0", "count=x"},
                                                        {"flag=0", "flag=2"},
                                                        {"node=", "node=%4"},
                                                        {"chunks=", "chunks=1:2:3"},
                                                        {"ombrel=0", "ombrel=0 ombrel=0"},
                                                        {"chunks=", "extra=1 chunks="}}) {
    std::string text = good;
    text.replace(text.find(swap.first), swap.first.size(), swap.second);
    EXPECT_EQ(RestoreRecord::Parse(text, record).GetValue(), 13u) << text;
  }
  EXPECT_EQ(record.itemCount, 5);
}

TEST(RestoreValueTypes, SubclientPathFormAndStripLevels) {
  FSSubclientConf conf(3);
  const struct {
    const char* in;
    bool keep;
    const char* out;
  } kPaths[] = {
      {"/c//dc1///n1/", true, "/c/dc1/n1"},
      {"/", true, "/"},
      {"//", true, "/"},
      {"/c/dc1/**", true, "/c/dc1/**"},
      {"/c/dc1/**", false, "/c/dc1"},
      {"/c/*", false, "/c"},
      {"/**", false, "/"},
  };
  for (const auto& c : kPaths) {
    std::string path = c.in;
    ASSERT_TRUE(conf.fixPath(path, path, c.keep)) << c.in;
    EXPECT_EQ(path, c.out) << c.in;
  }
  std::string untouched = "x";
  EXPECT_FALSE(conf.fixPath("", untouched, true));
  EXPECT_EQ(untouched, "x");

  const struct {
    const char* path;
    int level;
  } kLevels[] = {
      {"/c", 0}, {"/c/dc1/n1/ks1", 3}, {"/c/dc1/n1/ks1/", 3}, {"/**/*", 0}, {"/c/dc1/**", 1},
      {"", -1},  {"c/dc1", -1},
  };
  for (const auto& c : kLevels) {
    EXPECT_EQ(CStartClientRestore::computeStripLevelSuper(nullptr, c.path), c.level) << c.path;
  }
  EXPECT_TRUE(CStartClientRestore::isVersionsPath(";VERSIONS;/c/dc1/n1/ks1/t1/f"));
  EXPECT_FALSE(CStartClientRestore::isVersionsPath(";a;b;/c/dc1"));
  EXPECT_FALSE(CStartClientRestore::isVersionsPath("/c/dc1"));
}

// The restore coordinator base as a restore coordinator sees it.
class RestoreCoordinatorBase : public RestoreServices {};

TEST_F(RestoreCoordinatorBase, StartsWithNeitherStatusNorRecords) {
  TQDC_FileSystem::CRestore restore;
  EXPECT_EQ(restore.getJobStatus(), 0);
  EXPECT_EQ(restore.getStatusSetFlag(), 0);
  EXPECT_FALSE(restore.getNodeMapFlag());
  EXPECT_FALSE(restore.isReady());
  EXPECT_FALSE(restore.getStartClientRestore());
  EXPECT_TRUE(restore.getRestoreRecords().empty());
  EXPECT_TRUE(restore.getSourcePaths().empty());
  EXPECT_EQ(restore.getItemCount(), 0u);
  EXPECT_TRUE(restore.getStateFile().empty());
  DistributedQEL::ReportData totals;
  restore.getTotalData(totals);
  for (int64_t counter : totals.counters) EXPECT_EQ(counter, 0);
  EXPECT_EQ(restore.getSkippedItemCount(), 0u);
}

TEST_F(RestoreCoordinatorBase, StateFileAndReportCounters) {
  TQDC_FileSystem::CRestore restore;
  DistributedQEL::CClientConfigPtr config;
  ASSERT_FALSE(restore.getClientConfigObject(config).IsError());
  config->setJobId(41);
  config->setJobResultsDirectory("/jr/coord1/41");
  CProgramArgumentsPtr arguments;
  ASSERT_FALSE(
      restore.initialize(config, arguments, TQJobClientPtr(), TQJobCtrlClientPtr()).IsError());
  EXPECT_EQ(restore.getStateFile(), "/jr/coord1/41/DistributedQELState_41.tqf");

  restore.setItemCount(10);
  DistributedQEL::CRestoreStatistics first;
  first.bytesRestored = 1000;
  first.itemsRestored = 6;
  first.skippedFilesCount = 1;
  DistributedQEL::CRestoreStatistics second;
  second.bytesRestored = 24;
  second.itemsRestored = 3;
  second.itemsFailed = 2;
  restore.AddRestoreStatistics(first);
  restore.AddRestoreStatistics(second);
  DistributedQEL::CCoordinatorReportsPtr reports;
  ASSERT_FALSE(restore.GetReportsObject(reports).IsError());
  DistributedQEL::ReportData totals;
  reports->getTotalData(totals);
  EXPECT_EQ(totals.counters[DistributedQEL::ReportData::kBytesRestored], 1024);
  EXPECT_EQ(totals.counters[DistributedQEL::ReportData::kItemsFailed], 2);
  EXPECT_EQ(totals.counters[2], 9);
  EXPECT_EQ(restore.getSkippedItemCount(), 1u);
  // Restored and skipped items make up the item count.
  EXPECT_EQ(totals.counters[2] + static_cast<int64_t>(restore.getSkippedItemCount()),
            static_cast<int64_t>(restore.getItemCount()));
}

TEST_F(RestoreCoordinatorBase, KeepsTheRestartEntriesOfAResumedJob) {
  TQDC_FileSystem::CRestore restore;
  std::list<TQDC_FileSystem::RestartInfo> entries{{3, -1}, {4, 4096}};
  ASSERT_FALSE(restore.ProcessRestartString(entries).IsError());
  ASSERT_EQ(restore.getRestartInfo().size(), 2u);
  EXPECT_EQ(restore.getRestartInfo().back().taskId, 4);
  EXPECT_EQ(restore.getRestartInfo().back().offset, 4096);
}

}  // namespace

namespace {

// The launcher base's own steps and failures over an empty index.
class LauncherBase : public RestoreServices {
 protected:
  struct Launcher : public CStartClientRestore {
    Launcher() : CStartClientRestore(nullptr, nullptr, false, false) {}
    using CStartClientRestore::filterList;
    using CStartClientRestore::srcPathList;
    using CStartClientRestore::stripLevelList;
    CQiError getToTime(long& toTime, bool) override {
      toTime += widen;
      return CQiError::Success();
    }
    long widen = 0;
  };

  CQiError Run(Launcher& launcher, int64_t jobId) {
    launcher.setJobId(jobId);
    FSRFIRInitData init;
    std::list<FSRSrcPath> srcPaths;
    std::list<RestoreRecord> records;
    unsigned long long count = 0;
    CQiError error = launcher.getRestoreParameters(init, srcPaths, records, count);
    init_ = init;
    srcPaths_ = srcPaths;
    return error;
  }

  FSRFIRInitData init_;
  std::list<FSRSrcPath> srcPaths_;
};

TEST_F(LauncherBase, FailuresOfItsSteps) {
  Launcher noJob;
  CQiError error = Run(noJob, 0);
  EXPECT_EQ(error.GetValue(), 1627u);
  EXPECT_EQ(Run(noJob, 50).GetValue(), 1627u);  // no description

  TqRunner::JobDescription d = Description(51);
  d.pathList1.clear();
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(d).IsError());
  Launcher noPaths;
  error = Run(noPaths, 51);
  EXPECT_EQ(error.GetValue(), 1627u);
  EXPECT_EQ(error.GetMessage(), "Failed to set browse paths for launching browse/find");

  d = Description(52);
  d.pathList1 = {"relative/path"};
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(d).IsError());
  Launcher relative;
  error = Run(relative, 52);
  EXPECT_EQ(error.GetValue(), 1627u);
  EXPECT_EQ(error.GetMessage(), "computeStripLevel failed for relative/path");
}

TEST_F(LauncherBase, HandsBackPathsFiltersAndTheWidenedTime) {
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(Description(53)).IsError());
  Launcher launcher;
  launcher.widen = 1800;
  CQiError error = Run(launcher, 53);
  ASSERT_FALSE(error.IsError()) << error.AsString(2);
  EXPECT_EQ(launcher.getBrowseToTime(), 1700000100 + 1800);
  EXPECT_EQ(init_.toTime, 1700000100 + 1800);
  EXPECT_EQ(init_.fromTime, 1600000000);
  EXPECT_EQ(init_.numberOfSrcPaths, 2u);
  EXPECT_EQ(init_.copyPrecedence, 1u);
  EXPECT_EQ(init_.instanceId, 11u);
  EXPECT_EQ(srcPaths_, (std::list<FSRSrcPath>{{"/c/dc1/n1/ks1", 3}, {"/c/dc1/n2", 2}}));
  EXPECT_EQ(launcher.filterList, (std::list<std::string>{"/c/dc1/n1/ks1/t9"}));

  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(Description(54)).IsError());
  Launcher cleanup;
  cleanup.setDoCleanup(true);
  ASSERT_FALSE(Run(cleanup, 54).IsError());
  EXPECT_EQ(cleanup.srcPathList, (std::list<std::string>{"cleanup"}));
}

}  // namespace

namespace {

databrowse::BrowseData Item(const std::string& path, int64_t afile, int64_t files,
                            int64_t extents) {
  databrowse::BrowseData item;
  item.setPath(path);
  databrowse::BrowseItemDetails details;
  details.setArchiveFileId(afile);
  details.setArchiveGroup(3);
  details.setFileCount(files);
  details.setExtentCount(extents);
  item.setDetails(details);
  return item;
}

databrowse::BrowseResponse Response(int64_t status, int64_t total,
                                    const std::vector<databrowse::BrowseData>& items) {
  databrowse::BrowseResult result;
  databrowse::AggregateResult aggregate;
  aggregate.setExpectedItemTotal(total);
  result.setAggregates({aggregate});
  result.setData(items);
  databrowse::BrowseResponse response;
  response.setStatus(status);
  response.setResult(result);
  return response;
}

struct RecordingLauncher : public TQDC_FileSystem::CStartClientRestoreDistributed {
  RecordingLauncher() : CStartClientRestoreDistributed(nullptr, nullptr, false, false) {
    distributedRestore = true;
  }
  using CStartClientRestore::restoreRecordList;
  using CStartClientRestore::totalItemsExpected;
};

TEST(LauncherRecords, OneRecordPerArchiveFileOverThePagesOfAnAnswer) {
  RecordingLauncher launcher;
  databrowse::BrowseResponseList page1;
  page1.setResponses(
      {Response(0, 4,
                {Item("/c", 7, 1, 0), Item("/c/dc1/n1/ks1/t1/f", 7, 2, 3), Item("", 9, 5, 0)}),
       // A failed response adds nothing.
       Response(1, 100, {Item("/c/dc1/n9/ks", 8, 1, 0)})});
  ASSERT_FALSE(launcher.ProcessBrowseResponse(page1).IsError());
  databrowse::BrowseResponseList page2;
  page2.setResponses({Response(0, 1, {Item("/c/dc1/n2/ks1", -2, 1, 0)})});
  ASSERT_FALSE(launcher.ProcessBrowseResponse(page2).IsError());

  EXPECT_EQ(launcher.totalItemsExpected, 5u);
  ASSERT_EQ(launcher.restoreRecordList.size(), 2u);
  const RestoreRecord& first = launcher.restoreRecordList.front();
  EXPECT_EQ(first.archiveFileId, 7);
  EXPECT_EQ(first.archiveGroupId, 3);
  EXPECT_EQ(first.fileCount, 3);
  EXPECT_EQ(first.extentCount, 3);
  EXPECT_EQ(first.itemCount, 6);
  EXPECT_TRUE(first.hasExtents);
  EXPECT_EQ(first.archiveFileType, I2::RESTORE_AFILE_TYPES::TAPE);
  // Named by the instance of its items, not by the cluster item before them.
  EXPECT_EQ(first.strNodeName, "n1");
  const RestoreRecord& second = launcher.restoreRecordList.back();
  EXPECT_EQ(second.archiveFileId, -2);
  EXPECT_EQ(second.strNodeName, "n2");
  EXPECT_FALSE(second.hasExtents);
}

}  // namespace
