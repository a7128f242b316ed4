// tqcass restores stopped or killed at a chosen step, and what the stopped
// run or the next command that takes the home's lock puts right: target
// nodes stopped for a token takeover, Priam properties files, a stage-free
// restore's share and mount folder, staging folders. Also what a staged
// restore writes: the stored modes, and never through a planted link.
//
// The kill points are fault switches of the simulated cluster: once a chosen
// Priam request has taken effect, the Priam stand-in signals the tqcass that
// started it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tqcasstest::Contains;
using tqcasstest::Outcome;

class TqcassLeftovers : public tqcasstest::TqcassTest {
 protected:
  // The nodes of a cluster whose Cassandra is not up.
  std::vector<std::string> NodesDown(const std::string& cluster) {
    std::vector<std::string> down;
    EditCluster(cluster, [&](TqSim::SimCluster& c) {
      for (const auto& node : c.nodes) {
        if (!node.running || node.status != "Up") down.push_back(node.name);
      }
    });
    return down;
  }

  // The files named `name` below the suite home.
  std::vector<std::string> FilesNamed(const std::string& name) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_.Sub("home/suite"), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->path().filename() == name) found.push_back(it->path().string());
    }
    return found;
  }

  // A cluster with a full backup (job 1) and a second cluster "target" to
  // restore onto, no pause around Cassandra's stop and start.
  void MakeSourceAndTarget() {
    ASSERT_EQ(Run("cluster --nodes 2 --size 128").status, 0);
    ASSERT_EQ(Run("register").status, 0);
    {
      std::ofstream registry(dir_.Sub("home/registry"), std::ios::app);
      registry << "[Cassandra]\nnCassandraSleepTime=0\n";
    }
    ASSERT_EQ(Run("backup --quiet").status, 0);
    ASSERT_EQ(Run("cluster --name target --nodes 2 --size 128").status, 0);
    ASSERT_EQ(Run("register --cluster target").status, 0);
  }

  // Crossed: a target node takes tokens it does not have, so the restore
  // stops it and clears its data folders first.
  static constexpr const char* kCrossRestore =
      "restore 1 --keyspace ks1 --target-cluster target --map node1=target-node2 "
      "--map node2=target-node1 --quiet";
  static constexpr const char* kTargetNode2 = "10.1.1.2";

  bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }
};

// The token takeover stops each target node and clears its data folders; a
// SIGTERM right after the first stop ends the restore, which starts every
// node it stopped again (data or not), or names the ones it cannot start.
TEST_F(TqcassLeftovers, ACrossClusterRestoreStoppedAfterTheTokenTakeoverStartsItsNodesAgain) {
  ASSERT_NO_FATAL_FAILURE(MakeSourceAndTarget());
  // Each restore maps the nodes so that the node stopped first takes tokens
  // it does not have yet (the first restore gave each target node its
  // source's tokens).
  struct Case {
    const char* name;
    bool startFails;
    const char* restore;
    const char* address;  // of the node the SIGTERM comes at
    const char* node;
  };
  const std::string straight =
      "restore 1 --keyspace ks1 --target-cluster target --map node1=target-node1 "
      "--map node2=target-node2 --quiet";
  int job = 1;
  for (const Case& c :
       {Case{"every node starts", false, kCrossRestore, kTargetNode2, "target-node2"},
        Case{"a start fails", true, straight.c_str(), "10.1.1.1", "target-node1"}}) {
    ++job;
    AddFault("target", "stop", "signal", SIGTERM, c.address);
    if (c.startFails) AddFault("target", "start", "fail", 500, c.address);
    Outcome o = Run(c.restore);
    EXPECT_EQ(o.status, 128 + SIGTERM) << c.name << "\n" << o.output;
    EXPECT_TRUE(Contains(
        o.output, "job " + std::to_string(job) + " interrupted by SIGTERM: recorded as failed"))
        << c.name << "\n"
        << o.output;
    if (c.startFails) {
      EXPECT_TRUE(Contains(o.output, std::string("A node was not restarted: ") + c.node))
          << o.output;
      EXPECT_EQ(NodesDown("target"), std::vector<std::string>{c.node});
      continue;
    }
    EXPECT_FALSE(Contains(o.output, "A node was not restarted")) << o.output;
    EXPECT_TRUE(NodesDown("target").empty()) << c.name;
    EXPECT_TRUE(FilesNamed("CassandraStopped").empty()) << c.name;
    EXPECT_TRUE(FilesNamed("priam.properties").empty()) << c.name;
    // The next restore finds every target node up.
    o = Run(c.restore);
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, "(restore in-place): Completed")) << o.output;
    ++job;
  }
}

// Ctrl-C typed at a terminal reaches the whole foreground process group,
// here tqcass's own group (the fault sends SIGINT to it right after the
// target node was stopped for the token takeover). The Priam stand-ins lead
// groups of their own, so the signal does not reach them: tqcass's stop path
// starts the stopped node again through its Priam, and then stops them all.
TEST_F(TqcassLeftovers, CtrlCAtATerminalLeavesThePriamsToTheJobsOwnStop) {
  ASSERT_NO_FATAL_FAILURE(MakeSourceAndTarget());
  AddFault("target", "stop", "signal_group", SIGINT, kTargetNode2);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string command = "cd '" + dir_.path() + "' && exec '" + TQ_TQCASS_PATH + "' --home '" +
                              Home() + "' " + kCrossRestore;
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The group a terminal would run the command in, apart from the test's.
    ::setpgid(0, 0);
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  ::close(fds[1]);
  Outcome o;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) o.output.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  o.status = WIFEXITED(status)     ? WEXITSTATUS(status)
             : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                   : -1;
  EXPECT_EQ(o.status, 128 + SIGINT) << o.output;
  EXPECT_TRUE(Contains(o.output, "tqcass: SIGINT (Ctrl-C): stopping job 2")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 interrupted by SIGINT (Ctrl-C): recorded as failed"))
      << o.output;
  EXPECT_FALSE(Contains(o.output, "A node was not restarted")) << o.output;
  EXPECT_TRUE(NodesDown("target").empty()) << o.output;
  EXPECT_TRUE(FilesNamed("CassandraStopped").empty());
  // Nothing of the group is left, and (TearDown) no program of the home.
  EXPECT_NE(::kill(-pid, 0), 0);
}

// A `cluster` stopped before it recorded its cluster leaves a folder the
// home does not name (here as the generator leaves it last: the cluster
// file written, the home's record not); the next `cluster` removes it and
// makes the cluster afresh.
TEST_F(TqcassLeftovers, TheNextClusterReclaimsTheFolderOfAClusterRunThatWasStopped) {
  struct Case {
    const char* folder;
    const char* cluster;
    const char* made;
  };
  for (const Case& c :
       {Case{"home/cluster", "cluster --nodes 1 --size 64", "cluster TestCluster: 1 node"},
        Case{"home/clusters/target", "cluster --name target --nodes 1 --size 64",
             "cluster target: 1 node"}}) {
    simtest::WriteFile(dir_.Sub(std::string(c.folder) + "/cluster.json"), "{\"name\": \"half\"}");
    simtest::WriteFile(dir_.Sub(std::string(c.folder) + "/nodes/stray/data1/ks1/x-Data.db"), "x");
    Outcome o = Run(c.cluster);
    ASSERT_EQ(o.status, 0) << c.cluster << "\n" << o.output;
    EXPECT_TRUE(Contains(
        o.output, "removed " + dir_.Sub(c.folder) + ": left by a cluster run that was stopped\n"))
        << o.output;
    EXPECT_TRUE(Contains(o.output, c.made)) << o.output;
    EXPECT_FALSE(fs::exists(dir_.Sub(std::string(c.folder) + "/nodes/stray")));
    // A recorded cluster is never taken for a leftover.
    o = Run(c.cluster);
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_FALSE(Contains(o.output, "removed ")) << o.output;
    EXPECT_TRUE(fs::exists(dir_.Sub(std::string(c.folder) + "/cluster.json")));
  }
}

// Killed outright after the first stop: the next command that takes the
// lock starts the node again and removes the job's Priam properties files.
TEST_F(TqcassLeftovers, ACrossClusterRestoreKilledAfterTheTokenTakeoverIsPutRightByTheNextCommand) {
  ASSERT_NO_FATAL_FAILURE(MakeSourceAndTarget());
  AddFault("target", "stop", "signal", SIGKILL, kTargetNode2);
  Outcome o = Run(kCrossRestore);
  EXPECT_NE(o.status, 0) << o.output;
  // The other target node's controller runs beside it and may have
  // stopped its node too.
  EXPECT_TRUE(Has(NodesDown("target"), "target-node2"));
  EXPECT_FALSE(FilesNamed("priam.properties").empty());
  ASSERT_FALSE(FilesNamed("CassandraStopped").empty());

  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 was interrupted: marked failed")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 had stopped Cassandra on ")) << o.output;
  EXPECT_TRUE(Contains(o.output, "target-node2")) << o.output;
  EXPECT_TRUE(Contains(o.output, ": started again")) << o.output;
  EXPECT_TRUE(Contains(o.output, "Priam properties file")) << o.output;
  EXPECT_TRUE(NodesDown("target").empty());
  EXPECT_TRUE(FilesNamed("priam.properties").empty());
  EXPECT_TRUE(FilesNamed("CassandraStopped").empty());

  o = Run(kCrossRestore);
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 (restore in-place): Completed")) << o.output;
}

// A node whose start fails is named, and stays down.
TEST_F(TqcassLeftovers, TheNextCommandNamesAStoppedNodeItCannotStart) {
  ASSERT_NO_FATAL_FAILURE(MakeSourceAndTarget());
  AddFault("target", "stop", "signal", SIGKILL, kTargetNode2);
  Outcome o = Run(kCrossRestore);
  EXPECT_NE(o.status, 0) << o.output;
  AddFault("target", "start", "fail", 500, kTargetNode2);
  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "Cassandra could not be started again on target-node2: "
                       "start failed (HTTP status 500"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "tqcass: job 2: Cassandra could not be started again on "))
      << o.output;
  EXPECT_EQ(NodesDown("target"), std::vector<std::string>{"target-node2"});
}

// A stage-free restore killed while it loads from the share: the next
// command deletes the share and the mount folder.
TEST_F(TqcassLeftovers, AKilledStageFreeRestoresShareAndMountFolderGoWithTheNextCommand) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 128").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  // Two backups: the restore is job 3, a mount folder no other test's
  // stage-free restore uses.
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  const std::string mount = "/TqCassandraMountDir3";
  AddFault("", "ExecuteBatch", "signal", SIGKILL);
  Outcome o = Run("restore 2 --mode stage-free --keyspace ks1 --quiet");
  EXPECT_NE(o.status, 0) << o.output;
  ASSERT_TRUE(fs::is_directory(mount));
  std::error_code ec;
  ASSERT_FALSE(fs::is_empty(dir_.Sub("home/suite/zelk/shares"), ec));

  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 was interrupted: marked failed")) << o.output;
  EXPECT_TRUE(Contains(o.output, "1 network share, 1 mount folder")) << o.output;
  EXPECT_FALSE(fs::exists(fs::symlink_status(mount)));
  EXPECT_TRUE(fs::is_empty(dir_.Sub("home/suite/zelk/shares"), ec));
  EXPECT_FALSE(fs::exists(dir_.Sub("home/suite/zelk/exports/share3")));
  EXPECT_TRUE(FilesNamed("priam.properties").empty());
}

// A loader restore killed at its first load: its staging folder and its
// Priams' properties files go with the next command.
TEST_F(TqcassLeftovers, AKilledLoaderRestoresStagingFolderGoesWithTheNextCommand) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 128").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  AddFault("", "ExecuteBatch", "signal", SIGKILL);
  Outcome o = Run("restore 1 --mode loader --keyspace ks1 --quiet");
  EXPECT_NE(o.status, 0) << o.output;
  const std::string staging = dir_.Sub("home/stage/2");
  ASSERT_TRUE(fs::is_directory(staging)) << o.output;
  EXPECT_FALSE(FilesNamed("priam.properties").empty());

  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "1 staging folder")) << o.output;
  EXPECT_FALSE(fs::exists(staging));
  EXPECT_TRUE(FilesNamed("priam.properties").empty());
}

// Staged files and folders keep the modes they were backed up with; a link
// planted where the job's staging folder belongs is not followed.
TEST_F(TqcassLeftovers, AStagedRestoreKeepsStoredModesAndNeverWritesThroughAPlantedLink) {
  ASSERT_EQ(Run("cluster --nodes 1 --size 128").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  const fs::path ks1 = dir_.Sub("home/cluster/nodes/node1/data1/ks1");
  ASSERT_TRUE(fs::is_directory(ks1));
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(ks1, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    ::chmod(it->path().c_str(), it->is_directory() ? 0700 : 0600);
  }
  ::chmod(ks1.c_str(), 0700);
  // The backup flushes new SSTables first: under this umask they are made
  // readable by their owner only, as the backup then stores them.
  const mode_t umask = ::umask(077);
  const int backup = Run("backup --quiet").status;
  ::umask(umask);
  ASSERT_EQ(backup, 0);

  Outcome o = Run("restore 1 --mode staged --keyspace ks1 --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  const fs::path staged = dir_.Sub("home/stage/2/node1/ks1");
  ASSERT_TRUE(fs::is_directory(staged)) << o.output;
  int files = 0;
  auto mode = [](const fs::path& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
  };
  EXPECT_EQ(mode(staged), 0700u);
  for (auto it = fs::recursive_directory_iterator(staged, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory()) {
      EXPECT_EQ(mode(it->path()), 0700u) << it->path();
    } else {
      ++files;
      EXPECT_EQ(mode(it->path()), 0600u) << it->path();
    }
  }
  EXPECT_GT(files, 0);

  // The next restore is job 3: its staging folder is a link to elsewhere.
  const std::string elsewhere = dir_.Sub("elsewhere");
  fs::create_directories(elsewhere);
  simtest::WriteFile(elsewhere + "/keep", "mine");
  fs::create_directory_symlink(elsewhere, dir_.Sub("home/stage/3"));
  o = Run("restore 1 --mode staged --keyspace ks1 --quiet");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "home/stage/3 is a symbolic link")) << o.output;
  std::vector<std::string> there;
  for (const auto& entry : fs::directory_iterator(elsewhere)) {
    there.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(there, std::vector<std::string>{"keep"});
  EXPECT_EQ(simtest::ReadFile(elsewhere + "/keep"), "mine");
  EXPECT_TRUE(fs::is_symlink(dir_.Sub("home/stage/3")));
}

}  // namespace
