// In-place restores through tqcass that never leave part of an SSTable live:
// a damaged stored piece keeps its whole SSTable out (and says so), and a
// restore killed outright while it places files, or between the truncation
// and the refresh, is put right by the next command that takes the home's
// lock, after which the same restore verifies.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "platform/index/ArchiveStore.h"
#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tqcasstest::Contains;
using tqcasstest::Outcome;

class TqcassWholeSSTables : public tqcasstest::TqcassTest {
 protected:
  void MakeBackup() {
    ASSERT_EQ(Run("cluster --nodes 2 --size 256").status, 0);
    ASSERT_EQ(Run("register").status, 0);
    ASSERT_EQ(Run("backup --quiet").status, 0);
  }

  // The files below the cluster's node folders whose names satisfy `match`.
  std::vector<std::string> NodeFiles(const std::function<bool(const std::string&)>& match) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(Home() + "/cluster/nodes", ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (match(it->path().filename().string())) found.push_back(it->path().string());
    }
    return found;
  }
  std::vector<std::string> Temporaries() {
    return NodeFiles(
        [](const std::string& name) { return name.find(".tqrestore-") != std::string::npos; });
  }

  // Once the chosen Priam request (of node `node`, "" any) has taken effect,
  // the Priam stand-in kills the tqcass that started it.
  void KillAtRequest(const std::string& request, const std::string& node = "") {
    AtRequest(request, "signal", SIGKILL, node);
  }
  // The chosen Priam request (of node `node`, "" any) meets the fault
  // `action` with `status`.
  void AtRequest(const std::string& request, const std::string& action, int status,
                 const std::string& node = "") {
    std::string address;
    EditCluster("", [&](TqSim::SimCluster& cluster) {
      for (const auto& each : cluster.nodes) {
        if (each.name == node) address = each.address;
      }
    });
    AddFault("", request, action, status, address);
  }
  void ClearFaults() {
    EditCluster("", [](TqSim::SimCluster& cluster) { cluster.faults.clear(); });
  }

  // The restore that ended (job `job`) left no temporary and no SSTable file
  // but those there before it (it loaded nothing), and said so; the same
  // restore run again verifies.
  void NothingUnloadedLeftAndRestoreAgain(const std::string& output, int job,
                                          const std::vector<std::string>& before) {
    EXPECT_TRUE(std::regex_search(
        output, std::regex("job " + std::to_string(job) +
                           " left [^\n]*[1-9][0-9]* placed but never loaded SSTable files?")))
        << output;
    EXPECT_TRUE(Temporaries().empty());
    const std::set<std::string> was(before.begin(), before.end());
    for (const std::string& file : SSTableFiles()) EXPECT_TRUE(was.count(file)) << file;

    Outcome o = Run(kRestore);
    ASSERT_EQ(o.status, 0) << o.output;
    // Put right at its end: the next command has nothing more to do.
    EXPECT_FALSE(Contains(o.output, "job " + std::to_string(job) + " left")) << o.output;
    const std::string rerun = std::to_string(job + 1);
    EXPECT_TRUE(Contains(o.output, "job " + rerun + " (restore in-place): Completed")) << o.output;
    o = Run("verify " + rerun);
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, "checked: verified")) << o.output;
  }

  std::vector<std::string> SSTableFiles() {
    return NodeFiles([](const std::string& name) {
      return name.find("-big-") != std::string::npos && name[0] != '.';
    });
  }

  // A later command that takes the lock puts the killed job right: no
  // temporary, and no SSTable file but those there before the job (the
  // truncation may have removed some); the same restore then leaves the
  // tables as the backup holds them.
  void RecoverAndRestoreAgain(int killedJob, const std::vector<std::string>& before) {
    Outcome o = Run("register --streams 3");
    ASSERT_EQ(o.status, 0) << o.output;
    const std::string job = "job " + std::to_string(killedJob);
    EXPECT_TRUE(Contains(o.output, job + " was interrupted: marked failed")) << o.output;
    EXPECT_TRUE(std::regex_search(
        o.output,
        std::regex(job + " left [^\n]*[1-9][0-9]* placed but never loaded SSTable files?")))
        << o.output;
    EXPECT_TRUE(Temporaries().empty());
    const std::set<std::string> was(before.begin(), before.end());
    for (const std::string& file : SSTableFiles()) EXPECT_TRUE(was.count(file)) << file;

    o = Run(kRestore);
    ASSERT_EQ(o.status, 0) << o.output;
    const std::string rerun = std::to_string(killedJob + 1);
    EXPECT_TRUE(Contains(o.output, "job " + rerun + " (restore in-place): Completed")) << o.output;
    o = Run("verify " + rerun);
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, "checked: verified")) << o.output;
  }

  static constexpr const char* kRestore = "restore 1 --keyspace ks1 --quiet";
};

// One component of one SSTable damaged in the store: none of that SSTable's
// components is placed, the other SSTables are, and the job, show and the
// summary say which SSTable was left out and why.
TEST_F(TqcassWholeSSTables, ADamagedStorePieceLeavesItsWholeSSTableOut) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  CArchiveStore store(Home() + "/suite");
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(1, items).IsError());
  std::string damaged;
  int components = 0;
  for (const auto& item : items) {
    if (!damaged.empty() || item.isDirectory || item.size == 0 ||
        !Contains(item.headerPath, "/ks1/") || !Contains(item.headerPath, "-Index.db")) {
      continue;
    }
    damaged = item.headerPath;
    simtest::WriteFile(
        CArchiveStore::RootUnder(Home() + "/suite") + "/" + item.pieces.front().content, "damaged");
  }
  ASSERT_FALSE(damaged.empty());
  const std::string prefix = damaged.substr(0, damaged.size() - std::string("Index.db").size());
  for (const auto& item : items) components += item.headerPath.rfind(prefix, 0) == 0 ? 1 : 0;
  ASSERT_GT(components, 1);

  Outcome o = Run(kRestore);
  EXPECT_NE(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "(restore in-place): Completed\n")) << o.output;
  // The summary: the item and why, and the SSTable left out.
  EXPECT_TRUE(Contains(o.output, "failed to restore " + damaged + ": ")) << o.output;
  std::smatch event;
  ASSERT_TRUE(std::regex_search(
      o.output, event,
      std::regex("An SSTable was left out of the restore: (/[^,]+), ([a-z]+-[0-9]+-big), "
                 "[a-z]+-[0-9]+-big-Index\\.db: [^\n]*checksum")))
      << o.output;
  const std::string folder = event[1].str();
  const std::string generation = event[2].str();
  o = Run("show 2");
  EXPECT_TRUE(Contains(
      o.output, "An SSTable was left out of the restore: " + folder + ", " + generation + ", "))
      << o.output;
  EXPECT_TRUE(Contains(o.output, damaged)) << o.output;

  // Nothing of it in its folder, no temporary anywhere; the other SSTables
  // of the selection were restored.
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_NE(entry.path().filename().string().rfind(generation + "-", 0), 0u) << entry.path();
  }
  EXPECT_TRUE(Temporaries().empty());
  std::smatch counts;
  ASSERT_TRUE(std::regex_search(o.output, counts, std::regex("restored: ([0-9]+) files")))
      << o.output;
  int selected = 0;
  for (const auto& item : items) {
    selected += !item.isDirectory && Contains(item.headerPath, "/ks1/") ? 1 : 0;
  }
  EXPECT_EQ(std::stoi(counts[1].str()), selected - components) << o.output;
}

// Killed outright while it renames restored files into place: hidden
// temporaries and part of a generation are left; the next locking command
// removes them and every file the job placed, and the same restore run again
// verifies.
TEST_F(TqcassWholeSSTables, ARestoreKilledWhilePlacingFilesIsPutRight) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  ASSERT_EQ(Run("damage --keyspace ks1").status, 0);
  const std::vector<std::string> before = SSTableFiles();
  {
    struct KillPoint {
      KillPoint() { ::setenv("TQ_KILL_AFTER_PLACED_FILES", "3", 1); }
      ~KillPoint() { ::unsetenv("TQ_KILL_AFTER_PLACED_FILES"); }
    } killPoint;
    Outcome o = Run(kRestore);
    EXPECT_NE(o.status, 0) << o.output;
    EXPECT_FALSE(Contains(o.output, "Completed")) << o.output;
  }
  ASSERT_GT(SSTableFiles().size(), before.size());
  ASSERT_FALSE(Temporaries().empty());
  ASSERT_NO_FATAL_FAILURE(RecoverAndRestoreAgain(2, before));
}

// Killed between the truncation and the refresh: the tables are empty and
// the restored files were never loaded; the next locking command removes
// them, and the same restore run again verifies (nothing loaded twice).
TEST_F(TqcassWholeSSTables, ARestoreKilledBetweenTruncationAndRefreshIsPutRight) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  const std::vector<std::string> before = SSTableFiles();
  ASSERT_NO_FATAL_FAILURE(KillAtRequest("TruncateTable"));
  Outcome o = Run(kRestore);
  EXPECT_NE(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "Completed")) << o.output;
  ASSERT_NO_FATAL_FAILURE(RecoverAndRestoreAgain(2, before));
}

// Killed once node1's refresh has loaded what the restore placed there: the
// next locking command keeps every file of node1 (loaded files are live
// data), whatever it removes of the other node's.
TEST_F(TqcassWholeSSTables, FilesARefreshLoadedStayAfterAKill) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  ASSERT_NO_FATAL_FAILURE(KillAtRequest("refresh", "node1"));
  Outcome o = Run(kRestore);
  EXPECT_NE(o.status, 0) << o.output;
  auto onNode1 = [this] {
    std::vector<std::string> files;
    for (const std::string& file : SSTableFiles()) {
      if (Contains(file, "/nodes/node1/")) files.push_back(file);
    }
    std::sort(files.begin(), files.end());
    return files;
  };
  const std::vector<std::string> loaded = onNode1();
  ASSERT_FALSE(loaded.empty());
  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 was interrupted: marked failed")) << o.output;
  EXPECT_EQ(onNode1(), loaded);
  EXPECT_TRUE(Temporaries().empty());
}

// Stopped with SIGTERM while it places files: the job's own stop removes
// every file it placed (it loaded none) and every temporary before tqcass
// returns, and the same restore run again verifies.
TEST_F(TqcassWholeSSTables, ARestoreStoppedWhilePlacingFilesLeavesNothingUnloaded) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  ASSERT_EQ(Run("damage --keyspace ks1").status, 0);
  const std::vector<std::string> before = SSTableFiles();
  Outcome o;
  {
    struct StopPoint {
      StopPoint() {
        ::setenv("TQ_KILL_AFTER_PLACED_FILES", "3", 1);
        ::setenv("TQ_KILL_SIGNAL", std::to_string(SIGTERM).c_str(), 1);
      }
      ~StopPoint() {
        ::unsetenv("TQ_KILL_AFTER_PLACED_FILES");
        ::unsetenv("TQ_KILL_SIGNAL");
      }
    } stopPoint;
    o = Run(kRestore);
  }
  EXPECT_EQ(o.status, 128 + SIGTERM) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 interrupted by SIGTERM: recorded as failed")) << o.output;
  ASSERT_NO_FATAL_FAILURE(NothingUnloadedLeftAndRestoreAgain(o.output, 2, before));
}

// Every node's refresh fails: nothing the restore placed was loaded, and its
// end removes all of it; without the fault the same restore verifies.
TEST_F(TqcassWholeSSTables, ARestoreWhoseRefreshFailsLeavesNothingUnloaded) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  ASSERT_EQ(Run("damage --keyspace ks1").status, 0);
  const std::vector<std::string> before = SSTableFiles();
  ASSERT_NO_FATAL_FAILURE(AtRequest("refresh", "fail", 500));
  Outcome o = Run(kRestore);
  EXPECT_NE(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 (restore in-place): Completed w/ one or more errors"))
      << o.output;
  ASSERT_NO_FATAL_FAILURE(ClearFaults());
  ASSERT_NO_FATAL_FAILURE(NothingUnloadedLeftAndRestoreAgain(o.output, 2, before));
}

// A restore that completed keeps every file it placed and loaded, at its end
// and through later commands, also when its record is later read as failed
// (its journal says what was loaded).
TEST_F(TqcassWholeSSTables, ACompletedRestoreKeepsEveryFile) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  ASSERT_EQ(Run("damage --keyspace ks1").status, 0);
  Outcome o = Run(kRestore);
  ASSERT_EQ(o.status, 0) << o.output;
  std::vector<std::string> after = SSTableFiles();
  std::sort(after.begin(), after.end());
  EXPECT_FALSE(Contains(o.output, "placed but never loaded")) << o.output;

  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "placed but never loaded")) << o.output;
  // Recorded as failed: the next command looks at its journal, which keeps
  // every loaded file.
  const std::string record = Home() + "/suite/Jobs/2.json";
  nlohmann::json doc = nlohmann::json::parse(simtest::ReadFile(record));
  ASSERT_EQ(doc.at("status"), 1) << doc.dump();
  doc["status"] = 2;
  simtest::WriteFile(record, doc.dump());
  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "placed but never loaded")) << o.output;
  std::vector<std::string> now = SSTableFiles();
  std::sort(now.begin(), now.end());
  EXPECT_EQ(now, after);
}

// A restore recorded as ended failed whose journals were never put right
// (its run was cut short after the record): the next command that takes the
// lock removes its temporary and the file it placed and never loaded, says
// so, and settles the journals; the command after has nothing to do.
TEST_F(TqcassWholeSSTables, TheNextCommandPutsRightARestoreThatEndedFailedUnsettled) {
  ASSERT_NO_FATAL_FAILURE(MakeBackup());
  ASSERT_EQ(Run(kRestore).status, 0);
  const std::string job = "7";
  // Described as the in-place restore job 2 is.
  nlohmann::json description =
      nlohmann::json::parse(simtest::ReadFile(Home() + "/suite/Jobs/2.description.json"));
  description["jobId"] = 7;
  simtest::WriteFile(Home() + "/suite/Jobs/" + job + ".description.json", description.dump());
  nlohmann::json record = nlohmann::json::parse(simtest::ReadFile(Home() + "/suite/Jobs/1.json"));
  record["jobId"] = 7;
  record["jobType"] = "restore";
  record["status"] = 2;
  simtest::WriteFile(Home() + "/suite/Jobs/" + job + ".json", record.dump());
  std::vector<std::string> live = SSTableFiles();
  ASSERT_FALSE(live.empty());
  const std::string folder = fs::path(live.front()).parent_path().string();
  const std::string placed = folder + "/nb-900-big-Data.db";
  const std::string temporary = folder + "/.nb-901-big-Data.db.tqrestore-Ab12Cd";
  simtest::WriteFile(placed, "placed");
  simtest::WriteFile(temporary, "half");
  struct stat st {};
  ASSERT_EQ(::lstat(placed.c_str(), &st), 0);
  const std::string results = Home() + "/suite/node1/JobResults/TQ_JobResults/2/0/" + job;
  fs::create_directories(results);
  simtest::WriteFile(results + "/placed.1.journal",
                     "T\t" + folder + "\nP\t" + std::to_string(st.st_dev) + ":" +
                         std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                         std::to_string(static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                                        static_cast<uint64_t>(st.st_mtim.tv_nsec)) +
                         "\t" + placed + "\n");

  Outcome o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "job 7 left 1 restore temporary file, 1 placed but never loaded "
                       "SSTable file: removed"))
      << o.output;
  EXPECT_FALSE(Contains(o.output, "job 7 was interrupted")) << o.output;
  EXPECT_FALSE(fs::exists(placed));
  EXPECT_FALSE(fs::exists(temporary));
  for (const std::string& file : live) EXPECT_TRUE(fs::exists(file)) << file;

  simtest::WriteFile(temporary, "another job's");
  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "job 7 left")) << o.output;
  EXPECT_TRUE(fs::exists(temporary));
}

}  // namespace
