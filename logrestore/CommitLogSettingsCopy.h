#pragma once

#include <string>

#include "platform/base/QiError.h"

namespace TQCassandra {

// The ".bkp" copies a point-in-time restore keeps of a node's
// "commitlog_archiving.properties" and "cassandra-env.sh" before it writes
// its restore settings into them. A copy is the node's own settings: it is
// written under a temporary name, made durable and renamed, so that a copy
// exists only whole; and a copy already there is kept while the file itself
// holds restore settings, since it is then the only original left (a run
// that was killed after its edit, or whose replay never put the copy back).
class CCommitLogSettingsCopy {
 public:
  // Whether `text`, the content of the file named `fileName` (one of the two
  // above), holds restore settings: a non-empty "restore_directories" or
  // "restore_point_in_time", or a replay-list line.
  static bool HoldsRestoreSettings(const std::string& fileName, const std::string& text);

  // Makes "<path>.bkp" a copy of `path` (its content `text`, already read):
  // kept as it is when it exists and `text` holds restore settings, else
  // written anew with the mode, owner and group of `path`. A failed copy
  // leaves no partial file and an existing copy as it was.
  static CQiError Keep(const std::string& path, const std::string& text);
};

}  // namespace TQCassandra
