#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace TqHarness {

// The files a backup job stores and their bytes, from the collect files its
// nodes wrote into their job results folders: every regular file listed
// counts once (a large file listed in extents too), directories do not. Each
// collect file is read once; while a node's flat collect file is still there
// it alone counts for that node (it lists everything the numbered files
// split). A node whose collect files are not written yet counts nothing, so
// `complete` says whether every node has them.
class CCollectTotals {
 public:
  struct Totals {
    uint64_t files = 0;
    uint64_t bytes = 0;
    bool complete = false;  // every node's collect files were found
  };

  // The job results folders of the job's nodes.
  explicit CCollectTotals(std::vector<std::string> folders) : folders_(std::move(folders)) {}

  Totals Read();

 private:
  struct FileTotals {
    int64_t size = -1;
    bool flat = false;
    uint64_t files = 0;
    uint64_t bytes = 0;
  };
  static FileTotals ReadFile(const std::string& path, int64_t size);

  std::vector<std::string> folders_;
  std::mutex mutex_;
  std::map<std::string, FileTotals> files_;
};

}  // namespace TqHarness
