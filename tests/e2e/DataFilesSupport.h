#pragma once

// The Data.db files of a home's cluster and of a backup job's stored items,
// by node and table, to compare what a restore brought back with what the
// backup stored.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "platform/index/ArchiveStore.h"
#include "support/SimTestSupport.h"

namespace tqcasstest {

// "<node> <keyspace>.<table>" -> the bytes of every Data.db file of it.
using DataFiles = std::map<std::string, std::multiset<std::string>>;

// A table folder's table name: the folder name without its "-<id>".
inline std::string TableOfFolder(const std::string& folder) {
  const size_t dash = folder.rfind('-');
  return dash != std::string::npos && folder.size() - dash - 1 == 32 ? folder.substr(0, dash)
                                                                     : folder;
}

// The live Data.db files of every table below the home's cluster.
inline DataFiles LiveData(const std::string& home) {
  DataFiles out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(home + "/cluster", ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::filesystem::path path = it->path();
    const std::string name = path.filename().string();
    if (!it->is_regular_file() || !Contains(name, "-Data.db")) continue;
    const std::filesystem::path table = path.parent_path();
    const std::string keyspace = table.parent_path().filename().string();
    if (keyspace.rfind("ks", 0) != 0) continue;  // a snapshot's or backups folder's copy
    std::string node;
    for (const char* each : {"node1", "node2", "node3"}) {
      if (Contains(path.string(), std::string("/") + each + "/")) node = each;
    }
    out[node + " " + keyspace + "." + TableOfFolder(table.filename().string())].insert(
        simtest::ReadFile(path.string()));
  }
  return out;
}

// The Data.db files backup job `jobId` stored, keyed as LiveData keys them.
inline DataFiles BackedUpData(const std::string& home, int64_t jobId) {
  DataFiles out;
  CArchiveStore store(home + "/suite");
  EXPECT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  EXPECT_FALSE(store.ListItems(jobId, items).IsError());
  for (const auto& item : items) {
    // /<cluster>/<dc>/<node>/<keyspace>/<table folder>/<file>
    std::vector<std::string> parts;
    for (const auto& part : std::filesystem::path(item.headerPath)) parts.push_back(part.string());
    if (item.isDirectory || parts.size() != 7 || !Contains(parts[6], "-Data.db")) continue;
    std::string content;
    EXPECT_FALSE(store.ReadItem(jobId, item.headerPath, content).IsError()) << item.headerPath;
    out[parts[3] + " " + parts[4] + "." + TableOfFolder(parts[5])].insert(content);
  }
  return out;
}

// The entries of `files` whose key names a table of `keyspace`.
inline DataFiles OfKeyspace(const DataFiles& files, const std::string& keyspace) {
  DataFiles out;
  for (const auto& entry : files) {
    if (Contains(entry.first, " " + keyspace + ".")) out.insert(entry);
  }
  return out;
}

}  // namespace tqcasstest
