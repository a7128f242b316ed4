// Snapshot clean-up, flush and snapshot requests through a scripted Priam:
// the exact request texts, failures of single instances, and the cleanup info
// file.

#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace {

using bctest::JobArguments;
using bctest::kSnapshot;
using bctest::Option;
using bctest::ScriptedControllerTest;
using Names = std::vector<std::string>;

constexpr uint32_t kEvKeyspacesTakenFull = 0x60003D8;

class SnapshotStepsTest : public ScriptedControllerTest {
 protected:
  // The requests node i's utility got, from the `from`-th on.
  Names RequestsOf(size_t i, size_t from = 0) const {
    Names out;
    for (const auto& session : priam_->Sessions()) {
      if (session.context.confLocation != cluster_.nodes[i].confDir) continue;
      for (size_t k = from; k < session.requests.size(); ++k) {
        out.push_back(session.requests[k].resource);
      }
    }
    return out;
  }
  size_t CountOf(size_t i) const { return RequestsOf(i).size(); }

  static Names Prefixed(const Names& requests, const std::string& prefix) {
    Names out;
    for (const auto& r : requests) {
      if (r.rfind(prefix, 0) == 0) out.push_back(r);
    }
    return out;
  }

  // A controller whose Priams run, stopped right after the level choice.
  bctest::Controller& Prepare(int level, const std::string& lastStatus, size_t instances = 2) {
    JobArguments job;
    job.level = level;
    bctest::Controller& controller = StartController(job);
    std::vector<DistributedQEL::DINameValue> options = {Option("CreateCollectFiles", "n")};
    if (!lastStatus.empty()) options.push_back(Option("LastBackupStatus", lastStatus));
    EXPECT_FALSE(Send(Request(instances, options)).IsError());
    EXPECT_FALSE(controller.collectFileCreationFailed);
    return controller;
  }

  std::string InfoLine(size_t i) const {
    std::string line = InstanceName(i) + " ";
    for (const auto& d : cluster_.nodes[i].dataDirs) line += ";" + d;
    return line + "\n";
  }

  // The cleanup info file without its time line; checks the time line.
  std::string InfoFileInstances() const {
    std::string text = simtest::ReadFile(JR("CassandraCleanupInfoFile"));
    size_t eol = text.find('\n');
    EXPECT_NE(eol, std::string::npos);
    if (eol == std::string::npos) return text;
    EXPECT_GT(std::stoll(text.substr(0, eol)), 1600000000);
    return text.substr(eol + 1);
  }
};

struct CleanupCase {
  const char* name;
  bool postBackupCleanup;
  const char* listReply;  // nullptr: "ListSnaps" fails
  bool failFirstClear;    // clearing 12TQsnapshot100 fails
  Names cleared;
};

const CleanupCase kCleanupCases[] = {
    {"EarlierSnapshotsOfTheSubclient",
     false,
     R"({"12TQsnapshot100": [], "12TQsnapshot205": [], "123TQsnapshot7": [], "7TQsnapshot12": []})",
     false,
     {"clearsnapshot?SnapID=12TQsnapshot100"}},
    {"PostBackupCleanupAlsoClearsTheJobsSnapshot",
     true,
     R"({"12TQsnapshot100": [], "12TQsnapshot205": [], "123TQsnapshot7": [], "7TQsnapshot12": []})",
     false,
     {"clearsnapshot?SnapID=12TQsnapshot100", "clearsnapshot?SnapID=12TQsnapshot205"}},
    {"AFailedClearDoesNotStopTheWalk",
     true,
     R"({"12TQsnapshot100": [], "12TQsnapshot205": [], "12TQsnapshot9x": []})",
     true,
     {"clearsnapshot?SnapID=12TQsnapshot100", "clearsnapshot?SnapID=12TQsnapshot205",
      "clearsnapshot?SnapID=12TQsnapshot9x"}},
    {"NoListNothingCleared", false, nullptr, false, {}},
    {"NoListPostBackupClearsTheJobsSnapshotByName",
     true,
     nullptr,
     false,
     {"clearsnapshot?SnapID=12TQsnapshot205"}},
    {"AListThatIsNoObjectClearsNothing", true, R"(["12TQsnapshot100"])", false, {}},
    // A listed name goes as one query value: it can add no parameter.
    {"ListedNamesGoEncoded",
     false,
     R"({"12TQsnapshot1&SnapID=12TQsnapshot205": [], "12TQsnapshot%41 b": []})",
     false,
     {"clearsnapshot?SnapID=12TQsnapshot%2541%20b",
      "clearsnapshot?SnapID=12TQsnapshot1%26SnapID%3D12TQsnapshot205"}},
};

class SnapshotCleanupTest : public SnapshotStepsTest,
                            public ::testing::WithParamInterface<CleanupCase> {};

TEST_P(SnapshotCleanupTest, ClearsOnlyTheSubclientsSnapshots) {
  const CleanupCase& c = GetParam();
  bctest::Controller& controller = Prepare(1, "", 1);
  const size_t mark = CountOf(0);
  if (c.listReply) {
    priam_->SetReply("ListSnaps", c.listReply);
  } else {
    priam_->SetError("ListSnaps", FXErrorUtil::ErrorWin32(FXLOC, 774, "refused"), "");
  }
  if (c.failFirstClear) {
    priam_->SetError("clearsnapshot?SnapID=12TQsnapshot100",
                     FXErrorUtil::ErrorWin32(FXLOC, 774, "busy"), "busy");
  }
  controller.deleteSnapshots(c.postBackupCleanup);
  Names requests = RequestsOf(0, mark);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0], "ListSnaps");
  EXPECT_EQ(Prefixed(requests, "clearsnapshot"), c.cleared);
}

INSTANTIATE_TEST_SUITE_P(Cases, SnapshotCleanupTest, ::testing::ValuesIn(kCleanupCases),
                         [](const ::testing::TestParamInfo<CleanupCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(SnapshotStepsTest, IncrementalSnapshotsOnlyTheKeyspacesTakenFull) {
  // Instance A lacks ks2 and ks3 in its last status; B has all four.
  bctest::Controller& controller =
      Prepare(2, LastStatus({{InstanceName(0), {{"ks1", 1}, {"ks4", 1}}},
                             {InstanceName(1), {{"ks1", 1}, {"ks2", 1}, {"ks3", 1}, {"ks4", 1}}}}));
  const size_t markA = CountOf(0), markB = CountOf(1);
  ASSERT_FALSE(controller.takeSnapshot().IsError());
  EXPECT_EQ(RequestsOf(0, markA),
            (Names{std::string("snapshot?SnapID=") + kSnapshot + "&?keyspace=ks2&?keyspace=ks3"}));
  EXPECT_TRUE(RequestsOf(1, markB).empty());
  auto events = CEventJournal::Instance().Find(kEvKeyspacesTakenFull);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kMinor);
  EXPECT_EQ(events[0].args, (Names{"ks2 ,ks3"}));
  EXPECT_EQ(InfoFileInstances(), InfoLine(0));
}

TEST_F(SnapshotStepsTest, FullSnapshotsEveryKeyspaceOfEachInstance) {
  bctest::Controller& controller = Prepare(1, "");
  const size_t markA = CountOf(0), markB = CountOf(1);
  ASSERT_FALSE(controller.takeSnapshot().IsError());
  const std::string all = std::string("snapshot?SnapID=") + kSnapshot +
                          "&?keyspace=ks1&?keyspace=ks2&?keyspace=ks3&?keyspace=ks4";
  EXPECT_EQ(RequestsOf(0, markA), (Names{all}));
  EXPECT_EQ(RequestsOf(1, markB), (Names{all}));
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvKeyspacesTakenFull));
  EXPECT_EQ(InfoFileInstances(), InfoLine(0) + InfoLine(1));
}

// Keyspace names as the coordinator sent them go as encoded query values: a
// "&" adds no parameter and a "%" is no escape.
TEST_F(SnapshotStepsTest, KeyspaceNamesGoAsEncodedQueryValues) {
  JobArguments job;
  bctest::Controller& controller = StartController(job);
  std::vector<DistributedQEL::CassandraKeyspace> keyspaces;
  for (const char* name : {"ks1", "a&?keyspace=ks2", "b%41"}) {
    DistributedQEL::CassandraKeyspace keyspace;
    keyspace.setKeyspaceName(name);
    keyspaces.push_back(keyspace);
  }
  ASSERT_FALSE(Send(Request({Entry(NodeRecord(0), keyspaces)}, {Option("CreateCollectFiles", "n")}))
                   .IsError());
  const size_t mark = CountOf(0);
  ASSERT_FALSE(controller.takeSnapshot().IsError());
  EXPECT_EQ(RequestsOf(0, mark),
            (Names{std::string("snapshot?SnapID=") + kSnapshot +
                   "&?keyspace=ks1&?keyspace=a%26%3Fkeyspace%3Dks2&?keyspace=b%2541"}));
}

TEST_F(SnapshotStepsTest, AnInstanceWithoutKeyspacesGetsNoSnapshot) {
  JobArguments job;
  bctest::Controller& controller = StartController(job);
  ASSERT_FALSE(Send(Request({Entry(NodeRecord(0), {}), Entry(NodeRecord(1), Keyspaces())},
                            {Option("CreateCollectFiles", "n")}))
                   .IsError());
  const size_t markA = CountOf(0);
  ASSERT_FALSE(controller.takeSnapshot().IsError());
  EXPECT_TRUE(RequestsOf(0, markA).empty());
  EXPECT_EQ(InfoFileInstances(), InfoLine(1));
}

TEST_F(SnapshotStepsTest, AFailedInstanceDoesNotKeepTheOthersFromTheirSnapshot) {
  bctest::Controller& controller = Prepare(1, "");
  priam_->SetError("snapshot", FXErrorUtil::ErrorWin32(FXLOC, 774, "disk"), "no space left",
                   cluster_.nodes[0].confDir);
  const size_t markB = CountOf(1);
  CQiError error = controller.takeSnapshot();
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(error.GetMessage(), "Cassandra snapshot creation failed");
  EXPECT_EQ(Prefixed(RequestsOf(1, markB), "snapshot").size(), 1u);
  // The failed instance's line is written before its request.
  EXPECT_EQ(InfoFileInstances(), InfoLine(0) + InfoLine(1));
}

TEST_F(SnapshotStepsTest, ASnapshotThatAlreadyExistsCountsAsTaken) {
  bctest::Controller& controller = Prepare(1, "");
  priam_->SetError("snapshot", FXErrorUtil::ErrorWin32(FXLOC, 774, "exists"),
                   "Snapshot 12TQsnapshot205 already exists.");
  CLogCapture log;
  EXPECT_FALSE(controller.takeSnapshot().IsError());
  EXPECT_TRUE(log.Contains("Snapshot 12TQsnapshot205 already exists. Continuing"));
}

TEST_F(SnapshotStepsTest, SnapshotsAreTakenWhenTheCleanupInfoFileCannotBeWritten) {
  bctest::Controller& controller = Prepare(1, "");
  bctest::fs::create_directories(JR("CassandraCleanupInfoFile"));
  const size_t markA = CountOf(0);
  EXPECT_FALSE(controller.takeSnapshot().IsError());
  EXPECT_EQ(Prefixed(RequestsOf(0, markA), "snapshot").size(), 1u);
}

TEST_F(SnapshotStepsTest, AFailedFlushStopsTheRequestBeforeAnySnapshot) {
  priam_->SetError("flush", FXErrorUtil::ErrorWin32(FXLOC, 774, "flush failed"), "timeout",
                   cluster_.nodes[0].confDir);
  bctest::Controller& controller = StartController(JobArguments());
  CLogCapture log;
  ASSERT_FALSE(Send(Request(2, {})).IsError());
  EXPECT_TRUE(controller.collectFileCreationFailed);
  EXPECT_TRUE(log.Contains("Error while flushing tables."));
  EXPECT_EQ(RequestsOf(0), (Names{"ListSnaps", "flush"}));
  EXPECT_EQ(RequestsOf(1), (Names{"ListSnaps"}));
  EXPECT_FALSE(bctest::fs::exists(JR("CassandraCleanupInfoFile")));
  EXPECT_TRUE(CollectFileNames().empty());
}

TEST_F(SnapshotStepsTest, AnInstanceWhosePriamDidNotStartIsSkippedByEveryStep) {
  priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1627, "no JVM"), cluster_.nodes[1].confDir);
  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(Send(Request(2, {})).IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(RequestsOf(0), (Names{"ListSnaps", "flush",
                                  std::string("snapshot?SnapID=") + kSnapshot +
                                      "&?keyspace=ks1&?keyspace=ks2&?keyspace=ks3&?keyspace=ks4"}));
  EXPECT_TRUE(RequestsOf(1).empty());
  EXPECT_EQ(InfoFileInstances(), InfoLine(0));
}

}  // namespace
