// The node's stage-free load: mount the coordinator's network share, load
// every table from it for each source node, unmount, remove the folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "platform/suite/TQRstJobClient.h"
#include "platform/zelk/ZelkShareStore.h"
#include "restore/CassandraRestoresController.h"
#include "sim/lib/SimNfsMount.h"
#include "support/SimTestSupport.h"

namespace {

constexpr int64_t kJobId = 47;
constexpr uint32_t kEvMountDirDeleteFailed = 0x6000470;
constexpr uint32_t kEvUnmountFailed = 0x6000471;
constexpr uint32_t kEvTableReloadFailed = 0x6000472;
constexpr uint32_t kEvMountFailed = 0x6000474;

class ControllerProbe : public TQCassandra::CCassandraRestoreController {
 public:
  using CCassandraRestoreController::handleStageFreeRestore;
  using CCassandraRestoreController::priamByTarget;
  using CCassandraRestoreController::reloadFailed;
  using CCassandraRestoreController::rstJobClient;
  using CCassandraRestoreController::stageFreeFinished;
  using CCassandraRestoreController::zelkOptions;
};

class StageFreeLoadTest : public ::testing::Test {
 public:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    CEventJournal::Instance().Clear();
    // The media agent's file server exports share47 with one table file.
    Zelk::CZelkShareStore store;
    ASSERT_FALSE(store.MarkServerRunning("ma1.net").IsError());
    simtest::WriteFile(store.ExportPath("share47") + "/C/dc1/s1/ks/t1/nb-1-big-Data.db", "x");
    Zelk::SZelkShare share;
    share.name = "share47";
    share.server = "ma1.net";
    ASSERT_FALSE(store.Add(share).IsError());

    mountDirectory_ = home_.path() + "/mnt/share47";
    target_ = TQPI_Focus::getFocusClientName(true).str();
    script_ = std::make_shared<TqCassandra::ScriptedPriam>();
    guard_.reset(new TqCassandra::ScopedPriamTransportFactory(script_->Factory()));
    script_->SetReply("ExecuteBatch", "{}");
    nfs_.reset(new TqSim::CSimNfsMount());

    controller_.reset(new ControllerProbe());
    auto priam = boost::shared_ptr<TqCassandra::PriamUtil>(new TqCassandra::PriamUtil(
        0, CQiString(""), "/opt/base", home_.path(), "/etc/cassandra", true));
    ASSERT_FALSE(priam->startPriam().IsError());
    controller_->priamByTarget[target_] = priam;
    jobControl_.reset(new TQJobCtrlClient(kJobId));
    controller_->setJobCtrlClient(jobControl_);
    jobClient_.reset(new TQRstJobClient(kJobId));
    controller_->rstJobClient = jobClient_;
    controller_->zelkOptions.reset(new DistributedQEL::CassandraZelkRestoreOptions(
        Options({"C/dc1/s1", "C/dc1/s2"}, {{"ks", {"t1", "t2"}}})));
  }
  void TearDown() override {
    controller_.reset();
    nfs_.reset();
    guard_.reset();
    CClientContext::SetSuiteHome("");
  }

  DistributedQEL::CassandraZelkRestoreOptions Options(
      const std::vector<std::string>& prefixes,
      const std::vector<std::pair<std::string, std::vector<std::string>>>& keyspaces) const {
    DistributedQEL::CassandraZelkRestoreOptions options;
    options.setShareName("share47");
    options.setServerHost("ma1.net");
    options.setMountDirectory(mountDirectory_);
    options.setSourcePrefixes(prefixes);
    std::vector<DistributedQEL::CassandraKeyspace> list;
    for (const auto& k : keyspaces) {
      DistributedQEL::CassandraKeyspace keyspace;
      keyspace.setKeyspaceName(k.first);
      std::vector<DistributedQEL::CassandraTable> tables;
      for (const std::string& name : k.second) {
        DistributedQEL::CassandraTable table;
        table.setTableName(name);
        tables.push_back(table);
      }
      keyspace.setTables(tables);
      list.push_back(keyspace);
    }
    options.setKeyspaces(list);
    return options;
  }

  // The directories handed to sstableloader, in order.
  std::vector<std::string> Loads() const {
    std::vector<std::string> out;
    for (const auto& r : script_->AllRequests()) {
      if (r.resource != "ExecuteBatch") continue;
      EXPECT_EQ(r.kind, 1);
      auto body = nlohmann::ordered_json::parse(r.body);
      EXPECT_EQ(body.dump(),
                nlohmann::ordered_json(
                    {{"directory", body["directory"]}, {"Connections", "2"}, {"Progress", "1"}})
                    .dump());
      out.push_back(body["directory"].get<std::string>());
    }
    return out;
  }
  std::string Load(const std::string& below) const { return mountDirectory_ + "/" + below; }

  static std::vector<std::vector<std::string>> EventArgs(uint32_t id) {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : CEventJournal::Instance().Find(id)) {
      EXPECT_EQ(e.severity, CEventJournal::kMajor);
      out.push_back(e.args);
    }
    return out;
  }
  bool Exists(const std::string& path) const { return access(path.c_str(), F_OK) == 0; }
  bool FailedLoadReported() const {
    return controller_->reloadFailed && jobClient_->getPendingCause() == kEvTableReloadFailed;
  }

  simtest::TempDir home_;
  std::string mountDirectory_;
  std::string target_;
  std::shared_ptr<TqCassandra::ScriptedPriam> script_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> guard_;
  std::unique_ptr<TqSim::CSimNfsMount> nfs_;
  std::unique_ptr<ControllerProbe> controller_;
  TQJobCtrlClientPtr jobControl_;
  boost::shared_ptr<TQRstJobClient> jobClient_;
};

TEST_F(StageFreeLoadTest, TheMountLineCarriesTheShareAndThePort) {
  struct Case {
    const char* name;
    bool setPort;
    int64_t port;
    std::string options;
  } cases[] = {
      {"no port", false, 0, "nolock"},
      {"port 0", true, 0, "nolock"},
      {"port 2049", true, 2049, "nolock,port=2049,mountport=2049,proto=tcp,vers=3"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    DistributedQEL::CassandraZelkRestoreOptions options = Options({"C/dc1/s1"}, {});
    if (k.setPort) options.setTunnelingPort(k.port);
    controller_->zelkOptions.reset(new DistributedQEL::CassandraZelkRestoreOptions(options));
    CLogCapture log;
    ASSERT_FALSE(controller_->handleStageFreeRestore().IsError());
    EXPECT_EQ(nfs_->MountCommands().back(),
              " mount -o " + k.options + " \"ma1.net:/share47\" " + mountDirectory_);
    EXPECT_TRUE(
        log.Contains("nfsServer: ma1.net, nfsSharePath: ma1.net:/share47, options: " + k.options));
  }
}

TEST_F(StageFreeLoadTest, EachTableIsLoadedFromEverySourceNodeTableMajor) {
  CLogCapture log;
  // While the loads run the share's tree is visible at the mount folder.
  bool visible = false;
  int sink = g_ptrLogWriter->AddSink([&](const CLogWriter::Line& line) {
    if (line.text == "Loading SSTables from path: " + Load("C/dc1/s1/ks/t1")) {
      visible = Exists(Load("C/dc1/s1/ks/t1/nb-1-big-Data.db"));
    }
  });
  CQiError e = controller_->handleStageFreeRestore();
  g_ptrLogWriter->RemoveSink(sink);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_TRUE(visible);
  EXPECT_EQ(Loads(), (std::vector<std::string>{Load("C/dc1/s1/ks/t1"), Load("C/dc1/s2/ks/t1"),
                                               Load("C/dc1/s1/ks/t2"), Load("C/dc1/s2/ks/t2")}));
  EXPECT_TRUE(log.Contains("Loading SSTables from path: " + Load("C/dc1/s1/ks/t1")));
  // Unmounted and the folder gone; nothing failed.
  EXPECT_EQ(nfs_->UmountTargets(), std::vector<std::string>{mountDirectory_});
  EXPECT_TRUE(nfs_->Mounted().empty());
  EXPECT_FALSE(Exists(mountDirectory_));
  EXPECT_TRUE(controller_->stageFreeFinished);
  EXPECT_FALSE(controller_->reloadFailed);
  EXPECT_EQ(jobClient_->getPendingCause(), 0u);
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(StageFreeLoadTest, FailedLoadsDoNotStopTheWalk) {
  script_->SetError("ExecuteBatch", FXErrorUtil::ErrorWin32(FXLOC, 1359, "loader failed"), "no");
  ASSERT_FALSE(controller_->handleStageFreeRestore().IsError());
  EXPECT_EQ(Loads().size(), 4u);
  EXPECT_TRUE(FailedLoadReported());
  EXPECT_FALSE(Exists(mountDirectory_));
  EXPECT_TRUE(controller_->stageFreeFinished);
}

TEST_F(StageFreeLoadTest, TheQuitFlagIsReadOncePerTable) {
  struct Case {
    const char* name;
    bool quitBeforeStart;
    std::vector<std::string> loads;
  } cases[] = {
      {"set before the first table", true, {}},
      // Raised during the first load: the first table still gets its
      // second source node, the second table is skipped.
      {"set during the first table", false, {"C/dc1/s1/ks/t1", "C/dc1/s2/ks/t1"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    script_->ClearScript();
    script_->SetReply("ExecuteBatch", "{}");
    const size_t before = Loads().size();
    jobControl_->setQuitFlag(k.quitBeforeStart);
    int sink = g_ptrLogWriter->AddSink([this](const CLogWriter::Line& line) {
      if (line.text.rfind("Loading SSTables from path: ", 0) == 0) {
        jobControl_->setQuitFlag(true);
      }
    });
    CQiError e = controller_->handleStageFreeRestore();
    g_ptrLogWriter->RemoveSink(sink);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    std::vector<std::string> loads = Loads();
    loads.erase(loads.begin(), loads.begin() + static_cast<long>(before));
    std::vector<std::string> expected;
    for (const std::string& below : k.loads) expected.push_back(Load(below));
    EXPECT_EQ(loads, expected);
    // The share is still unmounted and the folder removed.
    EXPECT_TRUE(nfs_->Mounted().empty());
    EXPECT_FALSE(Exists(mountDirectory_));
    EXPECT_TRUE(controller_->stageFreeFinished);
    EXPECT_FALSE(controller_->reloadFailed);
  }
}

TEST_F(StageFreeLoadTest, AFailedMountReturns774WithItsOutputAndEndsTheController) {
  nfs_->FailMounts(true, "mount.nfs: Connection timed out");
  CQiError e = controller_->handleStageFreeRestore();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString();
  EXPECT_EQ(e.GetMessage(), "Failed to mount the nfs path:  mount.nfs: Connection timed out\n");
  EXPECT_EQ(
      EventArgs(kEvMountFailed),
      (std::vector<std::vector<std::string>>{{"ma1.net:/share47", mountDirectory_, "nolock"}}));
  EXPECT_TRUE(controller_->stageFreeFinished);
  EXPECT_TRUE(Loads().empty());
  EXPECT_TRUE(nfs_->UmountTargets().empty());
  // The folder stays.
  EXPECT_TRUE(Exists(mountDirectory_));
}

TEST_F(StageFreeLoadTest, AFolderThatCannotBeMadeFailsBeforeTheMount) {
  simtest::WriteFile(home_.path() + "/mnt", "a file where the folder's parent should be");
  CQiError e = controller_->handleStageFreeRestore();
  ASSERT_TRUE(e.IsError());
  EXPECT_FALSE(controller_->stageFreeFinished);
  EXPECT_TRUE(nfs_->MountCommands().empty());
}

TEST_F(StageFreeLoadTest, AFailedUnmountRaisesItsEventsAndStillSucceeds) {
  nfs_->FailUmounts(true, EBUSY);
  CLogCapture log;
  ASSERT_FALSE(controller_->handleStageFreeRestore().IsError());
  EXPECT_EQ(Loads().size(), 4u);
  EXPECT_TRUE(log.Contains("Failed to unmount the nfs path: -1"));
  EXPECT_EQ(EventArgs(kEvUnmountFailed),
            (std::vector<std::vector<std::string>>{{mountDirectory_}}));
  // Still mounted, so the folder is not empty and stays.
  EXPECT_EQ(EventArgs(kEvMountDirDeleteFailed),
            (std::vector<std::vector<std::string>>{{mountDirectory_}}));
  EXPECT_TRUE(log.Contains("Failed to delete the mount directory " + mountDirectory_ + ": "));
  EXPECT_TRUE(Exists(mountDirectory_));
  EXPECT_TRUE(controller_->stageFreeFinished);
}

// A node that loads nothing it should have loaded reports a failed load.
TEST_F(StageFreeLoadTest, LoadsThatCannotRunAreFailedLoads) {
  struct Case {
    const char* name;
    std::function<void(StageFreeLoadTest&)> change;
    bool failed;
  } cases[] = {
      {"no job control client", [](StageFreeLoadTest& t) { t.controller_->setJobCtrlClient({}); },
       true},
      {"no Priam under this machine's name (nodes known by agent instance name)",
       [](StageFreeLoadTest& t) {
         auto priam = t.controller_->priamByTarget[t.target_];
         t.controller_->priamByTarget.clear();
         t.controller_->priamByTarget["cassandra-container-1"] = priam;
       },
       true},
      {"no source node to load from",
       [](StageFreeLoadTest& t) {
         t.controller_->zelkOptions.reset(
             new DistributedQEL::CassandraZelkRestoreOptions(t.Options({}, {{"ks", {"t1"}}})));
       },
       true},
      {"nothing to load at all",
       [](StageFreeLoadTest& t) {
         t.controller_->zelkOptions.reset(
             new DistributedQEL::CassandraZelkRestoreOptions(t.Options({"C/dc1/s1"}, {})));
       },
       false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TearDown();
    SetUp();
    k.change(*this);
    ASSERT_FALSE(controller_->handleStageFreeRestore().IsError());
    EXPECT_TRUE(Loads().empty());
    EXPECT_EQ(FailedLoadReported(), k.failed);
    EXPECT_EQ(nfs_->UmountTargets(), std::vector<std::string>{mountDirectory_});
    EXPECT_FALSE(Exists(mountDirectory_));
    EXPECT_TRUE(controller_->stageFreeFinished);
  }
}

// Values of the payload reach the mount line and the load paths only when
// they cannot mean more than text to the shell or lead out of the share.
TEST_F(StageFreeLoadTest, UnsafePayloadValuesAreRefused) {
  struct Case {
    const char* name;
    std::string share;
    std::string mountDirectory;
    std::string prefix;
    bool mounts;
  } cases[] = {
      {"a blank in the folder", "share47", "/tmp/a b", "C/dc1/s1", false},
      {"a command in the folder", "share47", "/tmp/x;touch /tmp/y", "C/dc1/s1", false},
      {"a relative folder", "share47", "mnt/share47", "C/dc1/s1", false},
      {"a quote in the share", "share\"47", "", "C/dc1/s1", false},
      {"a prefix that climbs out", "share47", "", "C/../../etc", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TearDown();
    SetUp();
    DistributedQEL::CassandraZelkRestoreOptions options = Options({k.prefix}, {{"ks", {"t1"}}});
    options.setShareName(k.share);
    if (!k.mountDirectory.empty()) options.setMountDirectory(k.mountDirectory);
    controller_->zelkOptions.reset(new DistributedQEL::CassandraZelkRestoreOptions(options));
    CQiError e = controller_->handleStageFreeRestore();
    EXPECT_EQ(e.IsError() != 0, !k.mounts);
    EXPECT_EQ(nfs_->MountCommands().size(), k.mounts ? 1u : 0u);
    EXPECT_TRUE(Loads().empty());
    EXPECT_TRUE(FailedLoadReported());
    EXPECT_TRUE(controller_->stageFreeFinished);
    EXPECT_TRUE(nfs_->Mounted().empty());
  }
}

}  // namespace
