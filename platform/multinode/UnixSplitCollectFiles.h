#pragma once

#include <string>
#include <vector>

#include "platform/multinode/PostProcessingOptions.h"
#include "platform/multinode/SplitCollectFiles.h"
#include "platform/multinode/UnixFileNameFactory.h"

// Splits the flat collect files of its outputs into the numbered collect
// files "Collect%s%d.tqf" 1 to n of the name factory, each entry alone on its
// line ("<item>\n", CollectFileEntry.h).
//
// n is the options' split count (at least 1), raised when the entries do not
// fit into that many files under the options' bound of entries per file, and
// lowered to the number of entries so that no file is empty (a split of no
// entry makes one empty file). The entries keep their order; consecutive
// runs go to the files so that each file carries about the same number of
// bytes (an entry counts its size and a fixed overhead).
//
// The first numbered file may have the flat file's name: the split reads all
// of its input before it replaces any numbered file. Each file is written
// under a temporary name and put in place only when every file is complete.
class CUnixSplitCollectFiles : public ISplitCollectFiles {
 public:
  // Bytes one entry counts beyond its size when the split balances files.
  static constexpr uint64_t kEntryOverheadBytes = 64 * 1024;

  // `expectedOutputs` is the number of output records the caller hands over;
  // a different number is error 87 at the split.
  CUnixSplitCollectFiles(const CPostProcessingOptionsPtr& options,
                         const CUnixFileNameFactoryPtr& names,
                         const std::vector<COutputResources>& outputs, int expectedOutputs);

  // Closes each output's flat collect file (found along its consumer chain),
  // reads it, and writes the numbered files. A flat file that is missing, or
  // an entry that does not parse, fails the split before anything is
  // replaced; so does a write that fails.
  CQiError SplitCollectFiles() override;
  int GetLastCollectFileIndex() const override { return lastIndex_; }

 private:
  CPostProcessingOptionsPtr options_;
  CUnixFileNameFactoryPtr names_;
  std::vector<COutputResources> outputs_;
  int expectedOutputs_;
  int lastIndex_ = -1;
};
