#pragma once

#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace TqBench {

// One collect-file generation and how long its steps took (seconds).
struct CollectTiming {
  double walkSeconds = 0;   // directory entries and the walk of every listed folder
  double splitSeconds = 0;  // the split into numbered collect files
  long long entries = 0;    // entries of the flat collect file
  int collectFiles = 0;     // numbered collect files made
};

// Makes a full backup's collect files for a set of table folders the way the
// backup controller does: each table folder as a directory entry, then a
// walk of its snapshot folder through the controller's own walk callback
// into a flat collect file, then the split into `splitCount` numbered files
// in `jobResultsDir`.
class CCollectTimer {
 public:
  CCollectTimer(std::vector<std::string> tableDirs, std::string snapshotName,
                std::string jobResultsDir, int splitCount);

  CQiError Run(CollectTiming& timing) const;

 private:
  std::vector<std::string> tableDirs_;
  std::string snapshotName_;
  std::string jobResultsDir_;
  int splitCount_;
};

}  // namespace TqBench
