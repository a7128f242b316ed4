// tqcass run as a program: interrupted and concurrent runs on one home,
// strict arguments, readable failures.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArchiveStore.h"
#include "support/SimTestSupport.h"
#include "tools/lib/ErrorText.h"
#include "tools/lib/HomeLock.h"

namespace {

namespace fs = std::filesystem;

using tqcasstest::Contains;
using tqcasstest::Outcome;

class TqcassHome : public ::testing::Test {
 protected:
  std::string Home() const { return dir_.Sub("home"); }

  Outcome Run(const std::string& arguments, const std::string& prefix = "") {
    return tqcasstest::RunShell("cd '" + dir_.path() + "' && " + prefix + "'" + TQ_TQCASS_PATH +
                                "' --home '" + Home() + "' " + arguments + " 2>&1");
  }

  // Starts a backup, sends `signal` once its backup phase runs, and waits
  // for the program to end.
  Outcome BackupInterrupted(int signal) {
    int fds[2];
    Outcome outcome;
    if (::pipe(fds) != 0) return outcome;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], 1);
      ::dup2(fds[1], 2);
      ::close(fds[0]);
      ::execl(TQ_TQCASS_PATH, TQ_TQCASS_PATH, "--home", Home().c_str(), "backup", nullptr);
      ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[4096];
    ssize_t n;
    bool sent = false;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
      outcome.output.append(buffer, static_cast<size_t>(n));
      if (!sent && Contains(outcome.output, "[backup] start")) {
        ::kill(pid, signal);
        sent = true;
      }
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status)     ? WEXITSTATUS(status)
                     : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                           : -1;
    EXPECT_TRUE(sent) << outcome.output;
    return outcome;
  }

  // Processes whose command line names the test's folder (the Priam
  // stand-ins of the home).
  std::vector<pid_t> ProcessesOfTheHome() const { return simtest::ProcessesNaming(dir_.path()); }

  void TearDown() override {
    for (pid_t pid : ProcessesOfTheHome()) {
      ADD_FAILURE() << "process " << pid << " was left running";
      ::kill(pid, SIGKILL);
    }
  }

  void MakeRegisteredCluster() {
    ASSERT_EQ(Run("cluster --nodes 3 --sstables 4 --size 32768").status, 0);
    ASSERT_EQ(Run("register").status, 0);
  }

  simtest::TempDir dir_;
};

TEST_F(TqcassHome, ArgumentsAreCheckedBeforeAnythingRuns) {
  struct Case {
    const char* arguments;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {"backup --levle incremental", "not expected: "},
           {"jobs --all", "not expected: --all"},
           {"jobs stray", "not expected: stray"},
           {"cluster --nodes 1000000", "--nodes: 1000000 is out of range (1 to 64)"},
           {"cluster --nodes 3 --dcs 4", "--dcs 4 is more than the 3 nodes"},
           {"cluster --nodes 64 --keyspaces 100 --tables 100 --sstables 2", "more than 1000000"},
           {"change --size 99999999999999", "--size: 99999999999999 is out of range"},
           {"register --streams 100000", "--streams: 100000 is out of range (1 to 64)"},
           {"backup --streams 0", "--streams: 0 is out of range (1 to 64)"},
           {"backup --streams 2x", "--streams: \"2x\" is not a whole number"},
           {"browse nodes --subclient -1", "--subclient: -1 is out of range"},
           {"", "A subcommand is required"},
           {"restore", "job is required"},
           {"restore 1 --mode fast", "--mode: fast not in {in-place,loader,staged,stage-free}"},
           {"restore 1 --keyspace ../etc", "--keyspace: not a keyspace or keyspace.table: ../etc"},
           {"restore 1 --keyspace ks1.", "not a keyspace or keyspace.table: ks1."},
           {"restore 1 --mode staged --no-truncate", "--no-truncate: only with --mode in-place"},
           {"damage", "name a --keyspace, a --node or both"},
           {"damage --keyspace ks1/t1", "--keyspace: not a keyspace or keyspace.table: ks1/t1"},
       }) {
    Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, 2) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, c.text)) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, "--help\" list")) << c.arguments << "\n" << o.output;
  }
  // Nothing was made for a refused command line.
  EXPECT_FALSE(fs::exists(Home()));
}

TEST_F(TqcassHome, EveryCommandHasItsOwnHelp) {
  for (const char* command : {"cluster", "register", "backup", "restore", "damage", "jobs", "show",
                              "verify", "change", "browse", "demo"}) {
    Outcome o = Run(std::string(command) + " --help");
    EXPECT_EQ(o.status, 0) << command << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, std::string("Usage: tqcass ") + command)) << o.output;
  }
  Outcome o = Run("backup --help");
  EXPECT_TRUE(Contains(o.output, "--streams N:1 to 64=2")) << o.output;
  EXPECT_TRUE(Contains(o.output, "--level TEXT:{full,incremental}=full")) << o.output;
  EXPECT_FALSE(fs::exists(Home()));
}

TEST_F(TqcassHome, TheReadmeListsEveryCommandsOptionsAsHelpPrintsThem) {
  std::ifstream in(std::string(TQ_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(in);
  std::vector<std::string> listed;
  std::string line;
  bool inTable = false;
  while (std::getline(in, line)) {
    // The commands' table: "| `command` | `option` `option` ... | what it does |".
    if (line.rfind("| command | options", 0) == 0) inTable = true;
    if (line.empty()) inTable = false;
    if (!inTable || line.rfind("| `", 0) != 0) continue;
    const size_t nameEnd = line.find('`', 3);
    const std::string command = line.substr(3, nameEnd - 3);
    const size_t from = line.find('|', nameEnd) + 1;
    const std::string options = line.substr(from, line.find('|', from) - from);
    listed.push_back(command);
    const std::string help = Run(command + " --help").output;
    for (size_t open = options.find('`'); open != std::string::npos;
         open = options.find('`', options.find('`', open + 1) + 1)) {
      const size_t close = options.find('`', open + 1);
      const std::string option = options.substr(open + 1, close - open - 1);
      EXPECT_TRUE(Contains(help, option)) << command << ": " << option << "\n" << help;
    }
  }
  for (const char* command : {"restore", "damage", "verify", "jobs", "demo"}) {
    EXPECT_NE(std::find(listed.begin(), listed.end(), command), listed.end()) << command;
  }
  EXPECT_FALSE(fs::exists(Home()));
}

TEST_F(TqcassHome, TheClusterNeedsTheFreeSpaceItsFilesTake) {
  // 64 nodes of 100 keyspaces of 100 tables of 1 GiB SSTables: far beyond
  // any disk; refused before a file is written.
  Outcome o = Run("cluster --nodes 64 --keyspaces 100 --tables 100 --size 1073741824");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "Not enough free space: the cluster needs about ")) << o.output;
  EXPECT_FALSE(fs::exists(Home() + "/cluster/cluster.json"));
  ASSERT_EQ(Run("cluster --nodes 1 --size 64").status, 0);
  o = Run("change --sstables 1000 --size 1073741824");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "Not enough free space: the new SSTables need")) << o.output;
}

TEST_F(TqcassHome, DemoRefusesAFolderItDidNotMake) {
  ASSERT_TRUE(fs::create_directories(Home()));
  simtest::WriteFile(Home() + "/notes.txt", "mine");
  Outcome o = Run("demo");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "is not a home an earlier demo made")) << o.output;
  EXPECT_EQ(simtest::ReadFile(Home() + "/notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(Home() + "/tqcass.lock"));
  // A home made by other commands is not a demo's either.
  fs::remove(Home() + "/notes.txt");
  ASSERT_EQ(Run("cluster --nodes 1 --size 64").status, 0);
  o = Run("demo");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(fs::exists(Home() + "/cluster/cluster.json"));
}

TEST_F(TqcassHome, ASecondChangingRunOnALockedHomeIsRefused) {
  MakeRegisteredCluster();
  TqHarness::CHomeLock lock;
  // The lock is per process: the test holds it as another run would.
  ASSERT_FALSE(lock.Acquire(Home(), "tqcass backup --level full").IsError());
  for (const char* command : {"backup", "change", "register --streams 2", "cluster"}) {
    Outcome o = Run(command);
    EXPECT_EQ(o.status, 1) << command << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, "is in use by tqcass backup --level full (process " +
                                       std::to_string(::getpid()) + ", since "))
        << command << "\n"
        << o.output;
  }
  // Reading works beside it.
  Outcome o = Run("jobs");
  EXPECT_EQ(o.status, 0) << o.output;
  lock.Release();
  EXPECT_EQ(Run("backup --quiet").status, 0);
}

TEST_F(TqcassHome, ReadingCommandsCreateNothingAndWorkOnAHomeTheUserCanOnlyRead) {
  Outcome o = Run("jobs");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "There is no tqcass home at")) << o.output;
  EXPECT_FALSE(fs::exists(Home()));

  MakeRegisteredCluster();
  ASSERT_EQ(Run("backup --quiet").status, 0);
  if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is needed";
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  // Another user: may read the home's folders and records, write nothing.
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  o = Run("jobs", nobody);
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "1      backup   full")) << o.output;
  EXPECT_TRUE(Contains(o.output, "Completed")) << o.output;
  o = Run("show 1", nobody);
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "status:  Completed")) << o.output;
  o = Run("backup", nobody);
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "Cannot open the lock of")) << o.output;
  EXPECT_TRUE(Contains(o.output, "Permission denied")) << o.output;
}

TEST_F(TqcassHome, CtrlCAndSigtermEndTheJobAsFailedAndStopEveryChild) {
  MakeRegisteredCluster();
  struct Case {
    int signal;
    const char* reason;
  };
  int job = 0;
  for (const Case& c :
       {Case{SIGINT, "interrupted by SIGINT (Ctrl-C)"}, Case{SIGTERM, "interrupted by SIGTERM"}}) {
    ++job;
    Outcome o = BackupInterrupted(c.signal);
    EXPECT_EQ(o.status, 128 + c.signal) << o.output;
    EXPECT_TRUE(Contains(o.output, "stopping job " + std::to_string(job))) << o.output;
    EXPECT_TRUE(Contains(
        o.output, "tqcass: job " + std::to_string(job) + " " + c.reason + ": recorded as failed"))
        << o.output;
    EXPECT_TRUE(ProcessesOfTheHome().empty());
    o = Run("show " + std::to_string(job));
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, "status:  Failed")) << o.output;
    EXPECT_TRUE(Contains(o.output, std::string("error:   ") + c.reason)) << o.output;
  }
  Outcome o = Run("jobs");
  EXPECT_TRUE(Contains(o.output, "Failed (interrupted by SIGINT (Ctrl-C))")) << o.output;
  EXPECT_TRUE(Contains(o.output, "Failed (interrupted by SIGTERM)")) << o.output;
}

TEST_F(TqcassHome, AKilledJobIsListedAndTheNextLockingCommandMarksItAndReclaimsItsOrphans) {
  MakeRegisteredCluster();
  Outcome o = BackupInterrupted(SIGKILL);
  EXPECT_EQ(o.status, 128 + SIGKILL);
  // Its Priam stand-ins outlive a process killed outright.
  for (pid_t pid : ProcessesOfTheHome()) ::kill(pid, SIGKILL);

  o = Run("jobs");
  EXPECT_TRUE(Contains(o.output, "Interrupted")) << o.output;

  // Pieces no row names, as a kill in the middle of writing leaves them.
  const std::string jobStore = CArchiveStore::RootUnder(Home() + "/suite") + "/1";
  fs::create_directories(jobStore + "/999");
  const std::vector<std::string> orphans = {jobStore + "/999/1", jobStore + "/999/.tmp-abcdef"};
  for (const auto& orphan : orphans) simtest::WriteFile(orphan, "partial");
  simtest::WriteFile(Home() + "/harness.json.tmp.1.1", "{");

  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 1 was interrupted: marked failed, ")) << o.output;
  for (const auto& orphan : orphans) EXPECT_FALSE(fs::exists(orphan)) << orphan;
  EXPECT_FALSE(fs::exists(Home() + "/harness.json.tmp.1.1"));
  // What the catalog names stays for a rerun.
  CArchiveStore store(Home() + "/suite");
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(1, items).IsError());
  for (const auto& item : items) {
    for (const auto& piece : item.pieces) {
      EXPECT_TRUE(fs::exists(CArchiveStore::RootUnder(Home() + "/suite") + "/" + piece.content))
          << piece.content;
    }
  }
  o = Run("jobs");
  EXPECT_TRUE(Contains(o.output, "Failed (interrupted)")) << o.output;
  SJobRecord row;
  bool found = false;
  ASSERT_FALSE(store.Catalog().GetJob(1, row, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_EQ(row.status, "Failed");
}

TEST_F(TqcassHome, AFailedCommitLogJobSaysWhyAndWhatToDo) {
  ASSERT_EQ(Run("cluster --nodes 1 --size 64").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  Outcome o = Run("backup --log --quiet");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "reason: backup: The coordinator did not start: Commit log backup is not "
                       "configured at the instance level"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "to do: enable it with \"register --commit-log\"")) << o.output;
  EXPECT_FALSE(Contains(o.output, "[event 0x")) << o.output;
  EXPECT_FALSE(Contains(o.output, ".cc:")) << o.output;

  o = Run("show 1");
  EXPECT_TRUE(Contains(o.output, "pending  cluster1  The job failed  [0x6000469]")) << o.output;

  // The registration changes, and the job then runs.
  o = Run("register --commit-log --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "changed instance 1: streams 3, commit-log backup on, archive "
                       "folder "))
      << o.output;
  o = Run("backup --log --quiet");
  EXPECT_EQ(o.status, 0) << o.output;
  // A folder the node cannot open: the reason the plug-in logged.
  ASSERT_EQ(Run("register --archive-dir " + dir_.Sub("none-such")).status, 0);
  o = Run("backup --log --quiet");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(
      o.output, "failed: Failed to open commit log backup directory " + dir_.Sub("none-such")))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "No such file or directory")) << o.output;
  o = Run("register --no-commit-log");
  EXPECT_TRUE(Contains(o.output, "commit-log backup off")) << o.output;
  o = Run("register");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "registered already; change its settings with --streams"))
      << o.output;
}

TEST_F(TqcassHome, ProgressSummaryJobsAndVerifyCountTheSameFiles) {
  MakeRegisteredCluster();
  Outcome o = Run("backup");
  ASSERT_EQ(o.status, 0) << o.output;
  // 3 nodes x 4 tables x (4 SSTables of 10 files, a schema and a manifest).
  const std::string files = "504";
  EXPECT_TRUE(Contains(o.output, "] " + files + "/" + files + " files, ")) << o.output;
  EXPECT_TRUE(Contains(o.output, " " + files + " files stored ")) << o.output;
  o = Run("jobs");
  EXPECT_TRUE(Contains(o.output, " " + files + "      ")) << o.output;
  o = Run("verify 1");
  EXPECT_TRUE(Contains(o.output, "job 1: " + files + " files ")) << o.output;
}

TEST(ErrorText, EventsAndErrorsReadAsWords) {
  using TqHarness::CErrorText;
  EXPECT_EQ(CErrorText::Event(0x60003D3, {"clusterDetails", "timed out"}),
            "A request to Priam failed: clusterDetails, timed out");
  EXPECT_EQ(CErrorText::Event(0x6123456), "event 0x6123456");
  EXPECT_EQ(CErrorText::Describe(FXErrorUtil::ErrorErrNo(FXLOC, ENOENT, "Cannot open %s", "x")),
            "Cannot open x: No such file or directory");
  EXPECT_EQ(CErrorText::Describe(FXErrorUtil::ErrorEventMessage(FXLOC, 0x6000478, "CQL password")),
            "A password cannot be decrypted: CQL password");
  EXPECT_EQ(CErrorText::Readable("Start failed: [errno 0xD] Cannot read y\n  at F (a.cc:3)"),
            "Start failed: Cannot read y: Permission denied");
  std::vector<uint32_t> named;
  EXPECT_EQ(CErrorText::Readable("The coordinator did not start: [event 0x600046C]", &named),
            "The coordinator did not start: Commit log backup is not configured at the instance "
            "level");
  EXPECT_EQ(named, std::vector<uint32_t>{0x600046C});
  EXPECT_EQ(CErrorText::Readable("[Win32 0x17] a.db differs from stored item at byte 3"),
            "a.db differs from stored item at byte 3");
}

}  // namespace
