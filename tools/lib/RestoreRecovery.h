#pragma once

#include <string>
#include <vector>

#include "platform/datamover/RestoreJournal.h"

namespace TqHarness {

// What a restore killed outright, stopped or failed left in live table
// folders, put right from the journals in its result folder
// (CRestoreJournal) when the job ends and by the next run that holds the
// home's lock, before any node it stopped is started again:
//
// - hidden ".tqrestore-" temporaries in every folder the job journaled;
// - every file the job journaled as placed, still the same file (device and
//   inode), that lies below no data directory the job noted as loading: it
//   was placed but never loaded, and a rerun would load it a second time.
//
// Nothing else is removed: not a file another job or Cassandra made under a
// journaled name, not a link, nothing below a data directory the job began
// to load (unless that load was refused before it loaded anything).
//
// A result folder put right without a file left that could not be removed
// gets the mark "settled" beside its journals, and is not looked at again.
class CRestoreRecovery {
 public:
  static constexpr const char* kSettledName = "settled";
  struct SRemoved {
    int temporaries = 0;
    int placed = 0;
    int notRemoved = 0;  // files that could not be removed (they stay)
  };
  // Puts right what the journals below the job's folders `jobFolders` name
  // (any depth, links not followed) in the folders not yet settled, and
  // settles them. The data directories noted as loading count for every
  // journal of the job, settled or not.
  static void Recover(const std::vector<std::string>& jobFolders, SRemoved& removed);
  // Puts right what `journal` names.
  static void Recover(const TqDataMover::CRestoreJournal::SContent& journal, SRemoved& removed);
  // Whether `name` is one of the data mover's hidden temporaries.
  static bool IsTemporary(const std::string& name);
};

}  // namespace TqHarness
