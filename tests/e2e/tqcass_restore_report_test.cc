// What tqcass prints about restores and the backups they come from: progress
// lines and counts, a failed restore's causes first, the truncation as it
// happened, verify's differences grouped by kind, a later restore that does
// not spoil the verify of an earlier one, and a backup without its index
// views.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/SqliteDb.h"
#include "support/SimTestSupport.h"

namespace {

using tqcasstest::Contains;
using tqcasstest::Outcome;
using TqcassRestoreReport = tqcasstest::TqcassTest;

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The index of the first line that starts with `prefix`; -1 for none.
int FirstLine(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

TEST_F(TqcassRestoreReport, ARestorePrintsProgressAndCountsAndJobsListsThem) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  Outcome o = Run("restore 1 --keyspace ks1");
  ASSERT_EQ(o.status, 0) << o.output;
  // Progress lines as the backup's: files and bytes restored of the total.
  EXPECT_TRUE(std::regex_search(o.output, std::regex("  \\[restore\\] [0-9]+/[1-9][0-9]* files, "
                                                     "[0-9.]+ [KM]?B of [0-9.]+ [KM]?B, ")))
      << o.output;
  std::smatch counts;
  ASSERT_TRUE(std::regex_search(
      o.output, counts,
      std::regex("tasks complete, ([1-9][0-9]*) files \\(([^)]+)\\) restored of \\1 \\(\\2\\), "
                 "the selection of backup job 1")))
      << o.output;
  // The matches point into this output: kept as texts before `o` is run again.
  const std::string files = counts[1].str(), bytes = counts[2].str();
  o = Run("jobs");
  EXPECT_TRUE(std::regex_search(
      o.output, std::regex("\\n2 +restore +in-place +[0-9-]+ [0-9:]+ +" + files + " +" +
                           std::regex_replace(bytes, std::regex("\\."), "\\.") + " +Completed")))
      << o.output;
  o = Run("show 2");
  EXPECT_TRUE(Contains(o.output, "  restored: " + files + " files, " + bytes)) << o.output;
  // Quiet: no progress line, the same counts.
  o = Run("restore 1 --keyspace ks1 --quiet --no-truncate");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "[restore]")) << o.output;
  EXPECT_TRUE(Contains(o.output, files + " files (" + bytes + ") restored of ")) << o.output;
}

// A stored piece whose bytes no longer match its checksum fails the restore
// of its item: the summary starts with that item and why, the tables are not
// truncated and show says so, and verify prints its differences by kind.
TEST_F(TqcassRestoreReport, AFailedRestoreSaysFirstWhichItemFailedAndWhy) {
  ASSERT_EQ(Run("cluster --nodes 3 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  CArchiveStore store(Home() + "/suite");
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(1, items).IsError());
  // Every Data.db of ks1 damaged in the store; the first one's is named.
  std::string header;
  int damaged = 0;
  for (const auto& item : items) {
    if (item.isDirectory || item.size == 0 || !Contains(item.headerPath, "/ks1/") ||
        !Contains(item.headerPath, "-Data.db")) {
      continue;
    }
    simtest::WriteFile(
        CArchiveStore::RootUnder(Home() + "/suite") + "/" + item.pieces.front().content, "damaged");
    if (header.empty()) header = item.headerPath;
    ++damaged;
  }
  ASSERT_GT(damaged, 3);
  ASSERT_EQ(Run("damage --keyspace ks1").status, 0);

  Outcome o = Run("restore 1 --quiet");
  EXPECT_EQ(o.status, 1) << o.output;
  const std::vector<std::string> lines = LinesOf(o.output);
  const int failed = FirstLine(lines, "  failed: ");
  ASSERT_GE(failed, 0) << o.output;
  // The item, and the stored content that does not match.
  EXPECT_TRUE(std::regex_search(lines[failed],
                                std::regex("failed to restore /TestCluster/dc1/node[0-9]/ks1/"
                                           "t[0-9]/[a-z]+-[0-9]+-big-Data\\.db: Stored content ")))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "failed to restore " + header + ": ")) << o.output;
  EXPECT_TRUE(Contains(lines[failed], "does not match its checksum")) << o.output;
  // One line per reason: not the same item once per stream that tried it.
  std::set<std::string> seen;
  for (const std::string& line : lines) {
    if (line.rfind("  failed: ", 0) != 0) continue;
    const std::string reason = line.substr(line.find(": ", 10) + 2);
    EXPECT_TRUE(seen.insert(reason).second) << line << "\n" << o.output;
  }
  // The cause comes before the job's reasons, pending causes and advice.
  for (const char* later : {"  reason: ", "  pending: ", "  to do: ", "  logged: "}) {
    const int at = FirstLine(lines, later);
    if (at >= 0) {
      EXPECT_LT(failed, at) << later << "\n" << o.output;
    }
  }
  EXPECT_TRUE(Contains(o.output, "  tables not truncated: some restore tasks failed")) << o.output;

  o = Run("show 2");
  EXPECT_TRUE(Contains(o.output, ", tables not truncated: some restore tasks failed")) << o.output;
  EXPECT_FALSE(Contains(o.output, "tables truncated")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  failed:  ")) << o.output;
  EXPECT_TRUE(Contains(o.output, header)) << o.output;

  // Nearly every file is missing: a summary, then per kind a count and a
  // few examples.
  o = Run("verify 2");
  EXPECT_EQ(o.status, 1) << o.output;
  const std::vector<std::string> verify = LinesOf(o.output);
  ASSERT_FALSE(verify.empty());
  EXPECT_TRUE(Contains(verify[0], "checked: NOT verified")) << o.output;
  EXPECT_TRUE(Contains(o.output, "\n  the job ended ")) << o.output;
  std::smatch missing;
  ASSERT_TRUE(std::regex_search(o.output, missing,
                                std::regex("\n  no restored file holds its bytes: ([0-9]+)\n")))
      << o.output;
  const int count = std::stoi(missing[1].str());
  EXPECT_GT(count, 3) << o.output;
  EXPECT_TRUE(Contains(o.output, "    (" + std::to_string(count - 3) + " more)")) << o.output;
  EXPECT_LE(verify.size(), 10u) << o.output;
}

// A table folder no file can be written into (immutable: the tests run as
// root, whom permissions do not stop): the failure and the pending cause of
// the reload name the folder and the system's reason.
TEST_F(TqcassRestoreReport, ATableFolderTheRestoreCannotWriteIsNamedWithTheReason) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("damage --keyspace ks1.t1 --node node1").status, 0);
  std::string folder;
  for (const auto& entry :
       std::filesystem::directory_iterator(Home() + "/cluster/nodes/node1/data1/ks1")) {
    if (entry.path().filename().string().rfind("t1-", 0) == 0) folder = entry.path().string();
  }
  ASSERT_FALSE(folder.empty());
  struct Immutable {
    std::string path;
    bool set = false;
    ~Immutable() {
      if (set) std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
  } immutable{folder};
  immutable.set = std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) == 0;
  if (!immutable.set) GTEST_SKIP() << "chattr +i is not available here";

  Outcome o = Run("restore 1 --keyspace ks1 --quiet");
  EXPECT_EQ(o.status, 1) << o.output;
  const std::vector<std::string> lines = LinesOf(o.output);
  const int failed = FirstLine(lines, "  failed: ");
  ASSERT_GE(failed, 0) << o.output;
  EXPECT_TRUE(Contains(lines[failed], folder + ": Operation not permitted")) << o.output;
  EXPECT_TRUE(Contains(
      o.output, "  pending: node1: A table could not be reloaded: Cannot write " + folder + "/"))
      << o.output;
  const int pending = FirstLine(lines, "  pending: node1: A table could not be reloaded");
  ASSERT_GE(pending, 0);
  EXPECT_TRUE(Contains(lines[pending], ": Operation not permitted")) << o.output;
  EXPECT_LT(failed, pending) << o.output;
}

// Verify of an in-place restore compares what that restore placed: SSTables
// a later restore added to the same tables are no difference.
TEST_F(TqcassRestoreReport, AnEarlierRestoreStillVerifiesAfterALaterOneAddedSSTables) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("damage --keyspace ks1").status, 0);
  ASSERT_EQ(Run("restore 1 --keyspace ks1 --quiet").status, 0);
  Outcome o = Run("verify 2");
  ASSERT_EQ(o.status, 0) << o.output;
  // The same SSTables once more, beside the first restore's.
  o = Run("restore 1 --keyspace ks1 --quiet --no-truncate");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("verify 2");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 1 checked: verified")) << o.output;
  o = Run("verify 3");
  EXPECT_EQ(o.status, 0) << o.output;
}

// A backup whose metadata step wrote no index views still completes; the
// home's view rows removed stand for that step failing.
TEST_F(TqcassRestoreReport, ABackupWithoutItsIndexViewsIsReportedByShowAndVerify) {
  ASSERT_EQ(Run("cluster --nodes 1 --size 128").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  const std::string warning = "its index views were not written";
  Outcome o = Run("show 1");
  EXPECT_FALSE(Contains(o.output, warning)) << o.output;
  o = Run("verify 1");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, warning)) << o.output;
  {
    CSqliteDb db;
    ASSERT_FALSE(db.Open(Home() + "/suite/index/catalog.db").IsError());
    ASSERT_FALSE(db.Exec("DELETE FROM metadata_records WHERE view_name = 'DBView'").IsError());
  }
  for (const char* command : {"show 1", "verify 1"}) {
    o = Run(command);
    EXPECT_TRUE(
        Contains(o.output, "warning: " + warning +
                               " (no keyspace or table schema): a "
                               "restore onto another cluster or to a point in time lacks the "
                               "schema and the reference time"))
        << command << "\n"
        << o.output;
  }
}

}  // namespace
