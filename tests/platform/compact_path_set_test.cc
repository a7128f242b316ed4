// The compact set of paths that remembers which files a restore job has
// written and placed: every path added is found, exactly once, and nothing
// else is, through its growth and across folders that share names.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/datamover/CompactPathSet.h"

namespace {

using TqDataMover::CCompactPathSet;

TEST(CompactPathSet, EveryPathAddedIsFoundOnceAndNoOther) {
  // Many files in few folders, as a restore places them, past several
  // growths of the table.
  CCompactPathSet set;
  std::vector<std::string> added;
  for (int folder = 0; folder < 7; ++folder) {
    for (int file = 0; file < 3000; ++file) {
      added.push_back("/data/ks" + std::to_string(folder) + "/table-1a2b/nb-" +
                      std::to_string(file) + "-big-Data.db");
    }
  }
  for (const std::string& path : added) EXPECT_TRUE(set.Insert(path)) << path;
  EXPECT_EQ(set.Size(), added.size());
  for (const std::string& path : added) {
    EXPECT_TRUE(set.Contains(path)) << path;
    EXPECT_FALSE(set.Insert(path)) << path;
  }
  EXPECT_EQ(set.Size(), added.size());
  // Neighbours of members are not members.
  EXPECT_FALSE(set.Contains("/data/ks0/table-1a2b/nb-3000-big-Data.db"));
  EXPECT_FALSE(set.Contains("/data/ks7/table-1a2b/nb-0-big-Data.db"));
  EXPECT_FALSE(set.Contains("/data/ks0/table-1a2b/nb-0-big-Data.d"));
  EXPECT_FALSE(set.Contains("/data/ks0/table-1a2b/nb-0-big-Data.dbx"));
  EXPECT_FALSE(set.Contains("/data/ks0/table-1a2b"));
  EXPECT_FALSE(set.Contains("/data/ks0/table-1a2b/"));
}

TEST(CompactPathSet, FolderAndNameAreOneKey) {
  // Paths that share a name in other folders, a folder named like a file,
  // no folder at all, an empty name and the root are all different members.
  const std::vector<std::string> paths = {
      "a/b/c", "a/c", "a/b/c/", "a/b", "c", "", "/", "/c", "a//c", "/a/b/c|7", "/a/b/c|17",
  };
  CCompactPathSet set;
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = i; j < paths.size(); ++j) {
      EXPECT_EQ(set.Contains(paths[j]), false) << paths[j] << " before " << paths[i];
    }
    EXPECT_TRUE(set.Insert(paths[i])) << paths[i];
    for (size_t j = 0; j <= i; ++j) EXPECT_TRUE(set.Contains(paths[j])) << paths[j];
  }
  EXPECT_EQ(set.Size(), paths.size());
}

TEST(CompactPathSet, MatchesAStdSetOverMixedOperations) {
  // The same sequence of inserts and lookups on a std::set: every answer
  // agrees, duplicates included.
  CCompactPathSet set;
  std::set<std::string> reference;
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 33;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string path =
        "/f" + std::to_string(next() % 13) + "/n" + std::to_string(next() % 4000);
    if (next() % 2 == 0) {
      EXPECT_EQ(set.Insert(path), reference.insert(path).second) << path;
    } else {
      EXPECT_EQ(set.Contains(path), reference.count(path) == 1) << path;
    }
  }
  EXPECT_EQ(set.Size(), reference.size());
  for (const std::string& path : reference) EXPECT_TRUE(set.Contains(path)) << path;
}

TEST(CompactPathSet, HoldsFarLessThanTheWholePaths) {
  // 80,000 files of 16 table folders with long folder names: the set holds
  // well under the bytes of the whole paths alone.
  CCompactPathSet set;
  size_t pathBytes = 0;
  for (int i = 0; i < 80000; ++i) {
    const std::string path = "/var/lib/cassandra/data/keyspace_" + std::to_string(i % 16) +
                             "/table_with_a_long_name-0123456789abcdef0123456789abcdef/nb-" +
                             std::to_string(i) + "-big-Data.db";
    pathBytes += path.size();
    set.Insert(path);
  }
  EXPECT_EQ(set.Size(), 80000u);
  EXPECT_LT(set.HeldBytes(), pathBytes / 2);
}

}  // namespace
