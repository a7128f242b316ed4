#pragma once

// SSTables compared by what they hold, whatever their generation numbers: the
// helpers the restore end-to-end tests judge a cluster's tables with.

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "support/SimTestSupport.h"

namespace e2e {

// One SSTable by what it holds: component ("big-Data.db") -> digest of its
// bytes. Two SSTables of different generations with the same content compare
// equal.
using SSTableContent = std::map<std::string, std::string>;
// The SSTables of one table on one node: node -> "ks.table" -> contents.
using TableContents = std::map<std::string, std::map<std::string, std::multiset<SSTableContent>>>;

// "mc-3-big-Data.db" -> "big-Data.db"; "" for a file that is no SSTable
// component (manifest.json, schema.cql).
inline std::string ComponentOf(const std::string& name) {
  const size_t first = name.find('-');
  if (first == std::string::npos) return "";
  const size_t second = name.find('-', first + 1);
  if (second == std::string::npos) return "";
  const std::string generation = name.substr(first + 1, second - first - 1);
  if (generation.empty() || generation.find_first_not_of("0123456789") != std::string::npos) {
    return "";
  }
  return name.substr(second + 1);
}

// "mc-3-big-Data.db" -> "mc-3": the SSTable a component file belongs to.
inline std::string PrefixOf(const std::string& name) {
  return name.substr(0, name.find('-', name.find('-') + 1));
}

// A file's bytes as a short fingerprint (size and hash), so that a failed
// comparison prints readably; the hash changes with any byte.
inline std::string Digest(const std::string& content) {
  char text[48];
  snprintf(text, sizeof text, "%zu:%016zx", content.size(), std::hash<std::string>{}(content));
  return text;
}

// Every regular file below `root` with the fingerprint of its content.
inline std::map<std::string, std::string> FilesWithContent(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) {
      files[it->path().string()] = Digest(simtest::ReadFile(it->path().string()));
    }
  }
  return files;
}

}  // namespace e2e
