// A commit-log job on a node machine with two Cassandra instances: archiving
// set up in each instance's commitlog_archiving.properties, the archive
// directory mapped onto the host when Cassandra runs in Docker containers
// (the docker stand-in on PATH), the archived logs listed in collect files,
// backed up by the workers under #COMMITLOG#, and the done report without
// status.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "backup/BackupCassandraItem.h"
#include "backup/CassandraBackupWorker.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/StoreDataStream.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContext.h"
#include "tests/support/DockerTestSupport.h"

namespace {

using bctest::JobArguments;
using bctest::Option;

constexpr uint32_t kEvConfigured = 0x60003EC;
const char* const kCommand = "/bin/cp";
const char* const kContainerArchive = "/var/lib/cassandra/commitlog_archive";

class CommitLogJob : public bctest::ScriptedControllerTest {
 protected:
  std::string Properties(size_t i) const {
    return cluster_.nodes[i].confDir + "/commitlog_archiving.properties";
  }
  static std::string ArchiveValue(const std::string& command, const std::string& dir) {
    return command + " %path " + dir + "/%name";
  }
  std::vector<DistributedQEL::DINameValue> Options(const std::string& dir,
                                                   const std::string& command = kCommand,
                                                   bool createCollectFiles = true) const {
    std::vector<DistributedQEL::DINameValue> options = {Option("CommitLogBackupCmd", command),
                                                        Option("CommitLogBackupDir", dir)};
    if (!createCollectFiles) options.push_back(Option("CreateCollectFiles", "n"));
    return options;
  }
  // The controller of a commit-log job that has taken the request for both
  // instances without making collect files.
  bctest::Controller& Prepared(const std::string& dir, const std::string& command = kCommand) {
    JobArguments job;
    job.commitLog = true;
    bctest::Controller& controller = StartController(job);
    EXPECT_FALSE(Send(Request(2, Options(dir, command, false))).IsError());
    return controller;
  }
  // The request handled as OnMessage does, with the handler's result.
  CQiError Handle(const DistributedQEL::CassandraCreateCollectFiles& request) {
    CNMessageBase message(request);
    return controller_->handleCassandraCreateCollectFilesMsg(&message);
  }
  int Events() const {
    return static_cast<int>(CEventJournal::Instance().Find(kEvConfigured).size());
  }

  // Archived segments and other files in node i's archive directory.
  void FillArchive(size_t i) {
    const std::string dir = cluster_.nodes[i].commitLogArchiveDir;
    simtest::WriteFile(dir + "/CommitLog-7-1.log", "segment one of node " + std::to_string(i));
    simtest::WriteFile(dir + "/commitlog.bak", "not a segment");
    simtest::WriteFile(dir + "/OldCommitLog-7-0.log", "not a segment either");
  }
  // What the collect files of node i should list: its archive directory,
  // then its segments in name order.
  std::vector<std::string> ArchiveEntries(size_t i) const {
    const std::string dir = cluster_.nodes[i].commitLogArchiveDir;
    std::vector<std::string> entries = {dir};
    for (const auto& name : bctest::FilesIn(dir)) {
      if (name.rfind("CommitLog", 0) == 0) entries.push_back(dir + "/" + name);
    }
    return entries;
  }
  // The Docker world of both nodes, each in a container of `image` whose
  // mounts map the node directory to /var/lib/cassandra; an unrelated
  // container comes first.
  std::string DockerWorld(const std::string& image) {
    TqSim::SimDockerWorld world;
    world.containers.push_back(
        dockertest::Container("web", "nginx:1.25", {{dir_.Sub("www"), "/usr/share/nginx"}}));
    for (size_t i = 0; i < 2; ++i) {
      const auto& node = cluster_.nodes[i];
      world.containers.push_back(dockertest::Container(
          "cass" + std::to_string(i), image,
          {{node.confDir, "/etc/cassandra"},
           {std::filesystem::path(node.confDir).parent_path().string(), "/var/lib/cassandra"}}));
    }
    std::string error;
    EXPECT_TRUE(world.Save(dir_.Sub("docker.json"), error)) << error;
    return dir_.Sub("docker.json");
  }
};

// Which instances are configured already: those are left byte for byte as
// they are; every other one gets the archive command and its event, and the
// walk goes on past a configured instance.
TEST_F(CommitLogJob, EveryInstanceNotYetConfiguredGetsTheArchiveCommand) {
  struct Case {
    const char* name;
    bool configured[2];
  } cases[] = {{"neither", {false, false}},
               {"first only", {true, false}},
               {"second only", {false, true}},
               {"both", {true, true}}};
  const std::string value = ArchiveValue(kCommand, kContainerArchive);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string before[2];
    for (size_t i = 0; i < 2; ++i) {
      before[i] = "# archiving\narchive_command=" +
                  std::string(c.configured[i] ? value : "/bin/ln %path /elsewhere/%name") +
                  "\nrestore_command=\nprecision=MICROSECONDS\n";
      simtest::WriteFile(Properties(i), before[i]);
    }
    const ino_t inode[2] = {bctest::Inode(Properties(0)), bctest::Inode(Properties(1))};
    CEventJournal::Instance().Clear();
    bctest::Controller& controller = Prepared(kContainerArchive);
    CLogCapture log;
    ASSERT_FALSE(controller.configureCommitLogBackup().IsError());

    int rewritten = 0;
    for (size_t i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(log.Contains("Configuring commit log backup for instance " + InstanceName(i) +
                               " in file " + Properties(i)));
      if (c.configured[i]) {
        EXPECT_EQ(simtest::ReadFile(Properties(i)), before[i]);
        EXPECT_EQ(bctest::Inode(Properties(i)), inode[i]);
      } else {
        ++rewritten;
        EXPECT_EQ(simtest::ReadFile(Properties(i)),
                  "# archiving\narchive_command=" + value +
                      "\nrestore_command=\nprecision=MICROSECONDS\n");
      }
    }
    EXPECT_EQ(Events(), rewritten);
    const auto lines = log.Texts(0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Not editing commit log archiving conf file as it is already configured"),
              2 - rewritten);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Commit log archiving has been configured. This will take effect with a "
                         "restart of Cassandra services."),
              rewritten);
    controller_->uninitializePriam();
    controller_.reset();
  }
}

// The generator's properties file (archive_command empty) and a command and
// directory with "$", "\" and blanks in them: written as they are, and seen
// as configured by the next job.
TEST_F(CommitLogJob, TheArchiveValueIsWrittenAsItIsAndRecognisedNextTime) {
  const std::string command = "/opt/archive.sh$1\\1--to";
  const std::string dir = "/backup/$HOME/logs";
  const std::string before = simtest::ReadFile(Properties(0));
  ASSERT_NE(before.find("\narchive_command=\n"), std::string::npos);
  bctest::Controller& controller = Prepared(dir, command);
  ASSERT_FALSE(controller.configureCommitLogBackup().IsError());
  std::string expected = before;
  expected.replace(expected.find("\narchive_command=\n"), 18,
                   "\narchive_command=" + ArchiveValue(command, dir) + "\n");
  EXPECT_EQ(simtest::ReadFile(Properties(0)), expected);
  EXPECT_EQ(Events(), 2);

  CEventJournal::Instance().Clear();
  ASSERT_FALSE(controller.configureCommitLogBackup().IsError());
  EXPECT_EQ(simtest::ReadFile(Properties(0)), expected);
  EXPECT_EQ(Events(), 0);
}

TEST_F(CommitLogJob, AFileWithoutTheKeyGetsItAppended) {
  simtest::WriteFile(Properties(0), "restore_command=\nprecision=MICROSECONDS");
  bctest::Controller& controller = Prepared(kContainerArchive);
  ASSERT_FALSE(controller.configureCommitLogBackup().IsError());
  EXPECT_EQ(simtest::ReadFile(Properties(0)),
            "restore_command=\nprecision=MICROSECONDS\n\narchive_command=" +
                ArchiveValue(kCommand, kContainerArchive));
}

TEST_F(CommitLogJob, AFileThatCannotBeReadStopsTheSetUp) {
  std::filesystem::remove(Properties(0));
  const std::string second = simtest::ReadFile(Properties(1));
  bctest::Controller& controller = Prepared(kContainerArchive);
  CQiError error = controller.configureCommitLogBackup();
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_EQ(error.GetMessage(),
            "Failed to open Cassandra commit log archive config file - " + Properties(0));
  EXPECT_EQ(simtest::ReadFile(Properties(1)), second);
  EXPECT_EQ(Events(), 0);
}

TEST_F(CommitLogJob, ALineEndInTheCommandIsRefused) {
  const std::string before = simtest::ReadFile(Properties(0));
  bctest::Controller& controller = Prepared(kContainerArchive, "/bin/cp\nrestore_command=evil");
  EXPECT_TRUE(FXErrorUtil::IsWin32(controller.configureCommitLogBackup(), 87));
  EXPECT_EQ(simtest::ReadFile(Properties(0)), before);
}

// A configuration directory field "a:b" names the file in a.
// Cassandra splits archive_command on blanks and runs it without a shell: a
// folder or command holding a blank is refused before any file is touched.
TEST_F(CommitLogJob, AFolderOrCommandHoldingABlankIsRefused) {
  for (const auto& archive : std::vector<std::pair<std::string, std::string>>{
           {"/arch ive", kCommand}, {"/arch", "/opt/my tools/cp"}}) {
    SCOPED_TRACE(archive.first + " " + archive.second);
    const std::string before = simtest::ReadFile(Properties(0));
    bctest::Controller& controller = Prepared(archive.first, archive.second);
    CQiError error = controller.configureCommitLogBackup();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
    EXPECT_NE(error.AsString().find("holds a blank"), std::string::npos) << error.AsString();
    EXPECT_EQ(simtest::ReadFile(Properties(0)), before);
    controller_->uninitializePriam();
    controller_.reset();
  }
}

TEST_F(CommitLogJob, TheTextBeforeASingleColonIsTheConfigurationDirectory) {
  JobArguments job;
  job.commitLog = true;
  bctest::Controller& controller = StartController(job);
  App::CassandraNode node = NodeRecord(0);
  node.setConfigDirectory(cluster_.nodes[0].confDir + ":/container/conf");
  ASSERT_FALSE(
      Send(Request({Entry(node, Keyspaces())}, Options("/arch", kCommand, false))).IsError());
  ASSERT_FALSE(controller.configureCommitLogBackup().IsError());
  EXPECT_NE(simtest::ReadFile(Properties(0)).find("\narchive_command=/bin/cp %path /arch/%name\n"),
            std::string::npos);
}

// Without Docker (no engine, or no image of Cassandra) the archive directory
// is listed on the host as the job names it; only files whose names begin
// with "CommitLog" are listed, and the done report carries no status.
TEST_F(CommitLogJob, WithoutDockerTheArchiveDirectoryIsListedAsItIs) {
  struct Case {
    const char* name;
    bool engine;
    const char* log;
  } cases[] = {{"no engine", false, "Failed to run the cmd [docker container ls --format"},
               {"no Cassandra image", true, "Non docker configuration"}};
  FillArchive(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TqSim::SimDockerWorld world;
    world.containers.push_back(dockertest::Container(
        "web", "nginx:1.25", {{cluster_.nodes[0].confDir, "/etc/cassandra"}}));
    std::string error;
    ASSERT_TRUE(world.Save(dir_.Sub("docker.json"), error)) << error;
    dockertest::ScopedDockerStandIn standIn(
        c.engine ? std::optional<std::string>(dir_.Sub("docker.json")) : std::nullopt);

    JobArguments job;
    job.commitLog = true;
    bctest::Controller& controller = StartController(job);
    CLogCapture log;
    ASSERT_FALSE(Send(Request({Entry(NodeRecord(0), Keyspaces())},
                              Options(cluster_.nodes[0].commitLogArchiveDir)))
                     .IsError());
    EXPECT_TRUE(log.Contains(c.log));
    EXPECT_TRUE(
        controller.Config()->nodeProperties[InstanceName(0)].commitLogArchiveHostPath.empty());
    EXPECT_EQ(CollectEntries("Tot", 5, 8), ArchiveEntries(0));
    EXPECT_EQ(controller.Config()->getCollectFileStart(), 5u);

    DistributedQEL::ControllerDone done;
    ASSERT_FALSE(controller.SetAdditionalCtrlDoneValues(done).IsError());
    EXPECT_TRUE(done.getValues().empty());
    EXPECT_TRUE(log.Contains(
        "Not sending backup status. CassandraCreateCollectFileFailed: 0 CommitLogBackupJob: 1"));
    controller_->uninitializePriam();
    controller_.reset();
  }
}

// Cassandra in Docker: each instance's container is found by its
// configuration directory, the job's archive directory (a container path)
// maps to the host copy, and the workers back the host copies up under
// #COMMITLOG# with type 5 and the commit-log flags.
class DockerCommitLogJob : public CommitLogJob, public ::testing::WithParamInterface<const char*> {
 protected:
  void TearDown() override {
    CClientContext::SetSuiteHome("");
    CommitLogJob::TearDown();
  }
  simtest::TempDir home_;
};

TEST_P(DockerCommitLogJob, TheHostCopiesOfTheArchivedLogsAreBackedUp) {
  FillArchive(0);
  FillArchive(1);
  dockertest::ScopedDockerStandIn standIn(DockerWorld(GetParam()));
  JobArguments job;
  job.commitLog = true;
  job.streams = 1;
  bctest::Controller& controller = StartController(job);
  CLogCapture log;
  ASSERT_FALSE(Send(Request(2, Options(kContainerArchive))).IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(controller.Config()->nodeProperties[InstanceName(i)].commitLogArchiveHostPath,
              cluster_.nodes[i].commitLogArchiveDir);
    EXPECT_TRUE(log.Contains("Node maps to container cass" + std::to_string(i)));
    EXPECT_TRUE(log.Contains(std::string("Commit log archive path ") + kContainerArchive +
                             " on instance " + InstanceName(i) + " maps to " +
                             cluster_.nodes[i].commitLogArchiveDir + " on host"));
  }
  std::vector<std::string> expected = ArchiveEntries(0);
  for (const auto& entry : ArchiveEntries(1)) expected.push_back(entry);
  EXPECT_EQ(CollectEntries("Tot", 5, 6), expected);

  // The workers, with the parameters the controller gives them.
  CClientContext::SetSuiteHome(home_.path());
  MultiNodeBackupOps::CBackupWorkerParamsPtr params;
  ASSERT_FALSE(controller.GetBackupWorkerParams(params).IsError());
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  for (int n = 5; n <= 6; ++n) {
    SStreamJob streamJob;
    streamJob.jobId = bctest::kJob;
    streamJob.clientName = bctest::kClient;
    streamJob.kind = "backup";
    streamJob.level = 1;
    streamJob.streamNumber = 1;
    boost::shared_ptr<CStoreDataStream> stream(new CStoreDataStream(streamJob));
    CassandraBackupWorker worker(1);
    ASSERT_FALSE(worker.Initialize(params).IsError());
    ASSERT_FALSE(worker.SetupPipeline(stream).IsError());
    CQiError error = worker.DoBackup(JR("CollectTot" + std::to_string(n) + ".tqf"), n,
                                     std::to_string(n) + "|-1", "stream 1");
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
  }

  CArchiveStore store;
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(bctest::kJob, items).IsError());
  std::map<std::string, std::string> stored;  // header path -> source path
  for (const auto& item : items) {
    ASSERT_FALSE(item.pieces.empty());
    const SFileRecord& piece = item.pieces[0];
    EXPECT_TRUE(piece.hasFileType);
    EXPECT_EQ(piece.fileType, 5) << item.headerPath;
    EXPECT_EQ(piece.itemFlags & 0x40, 0x40u) << item.headerPath;
    EXPECT_EQ(piece.objectFlags & 0x4000, 0x4000u) << item.headerPath;
    stored[item.headerPath] = item.sourcePath;
  }
  std::map<std::string, std::string> want;
  for (size_t i = 0; i < 2; ++i) {
    const std::string base = "/" + sim_.name + "/" + cluster_.nodes[i].dataCenter + "/" +
                             InstanceName(i) + "/#COMMITLOG#";
    const std::string dir = cluster_.nodes[i].commitLogArchiveDir;
    want[base] = dir;
    for (const auto& name : bctest::FilesIn(dir)) {
      if (name.rfind("CommitLog", 0) == 0) want[base + "/" + name] = dir + "/" + name;
    }
    const std::string segment = base + "/CommitLog-7-1.log";
    ASSERT_TRUE(stored.count(segment)) << segment;
    CQiError error = store.VerifyItem(bctest::kJob, segment, dir + "/CommitLog-7-1.log");
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
  }
  EXPECT_EQ(stored, want);
  EXPECT_FALSE(std::filesystem::exists(controller.Config()->getFailuresFilePath()));
}

INSTANTIATE_TEST_SUITE_P(Images, DockerCommitLogJob,
                         ::testing::Values("cassandra:4.0.1", "datastax/dse-server:6.8.1",
                                           "registry.example/DataStax-Enterprise:6"));

TEST_F(CommitLogJob, AnInstanceWhosePriamDidNotStartIsNotMappedNorListed) {
  priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1627, "no JVM"), cluster_.nodes[1].confDir);
  FillArchive(0);
  dockertest::ScopedDockerStandIn standIn(DockerWorld("cassandra:3.11"));
  JobArguments job;
  job.commitLog = true;
  bctest::Controller& controller = StartController(job);
  CLogCapture log;
  ASSERT_FALSE(Send(Request(2, Options(kContainerArchive))).IsError());
  EXPECT_TRUE(log.Contains("Priam not initialized or not started on " + InstanceName(1) +
                           ". Skipping for docker check"));
  EXPECT_TRUE(
      controller.Config()->nodeProperties[InstanceName(1)].commitLogArchiveHostPath.empty());
  EXPECT_EQ(CollectEntries("Tot", 5, 8), ArchiveEntries(0));
}

// A docker command that fails while the container is searched leaves the
// machine treated as without Docker: the job's directory is then looked for
// on the host, where this container path does not exist.
TEST_F(CommitLogJob, AFailingInspectEndsTheMappingAndTheContainerPathIsUsedAsItIs) {
  FillArchive(0);
  TqSim::SimDockerWorld world;
  world.containers.push_back(
      dockertest::Container("cass0", "cassandra:4.0", {{cluster_.nodes[0].confDir, "/etc/c"}}));
  world.failures.push_back({"inspect", "", "cass0", 1, "Error response from daemon: gone"});
  std::string error;
  ASSERT_TRUE(world.Save(dir_.Sub("docker.json"), error)) << error;
  dockertest::ScopedDockerStandIn standIn(dir_.Sub("docker.json"));
  JobArguments job;
  job.commitLog = true;
  bctest::Controller& controller = StartController(job);
  CLogCapture log;
  CQiError failed = Handle(Request(2, Options(dir_.Sub("no/such/archive"))));
  EXPECT_TRUE(log.Contains("Failed to initialize docker helper: "));
  EXPECT_TRUE(
      log.Contains("Failed to run the cmd docker container inspect "
                   "--format='{{json .Mounts}}' cass0. Error: Error response from "
                   "daemon: gone\n. Continuing with non docker config"));
  EXPECT_TRUE(FXErrorUtil::IsWin32(failed, 87));
  EXPECT_EQ(failed.GetMessage(), "Failed to open the configured commit log backup directory");
  EXPECT_TRUE(controller.collectFileCreationFailed);
}

TEST_F(CommitLogJob, AnArchiveDirectoryOutsideTheContainersMountsFailsTheRequest) {
  dockertest::ScopedDockerStandIn standIn(DockerWorld("cassandra:4.0"));
  JobArguments job;
  job.commitLog = true;
  bctest::Controller& controller = StartController(job);
  CQiError failed = Handle(Request(2, Options("/opt/archive")));
  EXPECT_TRUE(FXErrorUtil::IsWin32(failed, 13)) << failed.AsString();
  EXPECT_EQ(failed.GetMessage(), "No mapping found for destination path /opt/archive");
  EXPECT_TRUE(controller.collectFileCreationFailed);
  EXPECT_TRUE(CollectFileNames().empty());
}

}  // namespace
