#pragma once

#include <string>

#include "platform/base/QiError.h"

namespace TQCassandra {

// Cassandra's "commitlog_archiving.properties": reading and replacing the
// value of a key, and rewriting the file so that a reader sees either the old
// or the new content, never a part of either.
class CommitLogArchivingProperties {
 public:
  static constexpr const char* kFileName = "commitlog_archiving.properties";

  // Where Rewrite failed.
  enum RewriteStep { kRewriteOpen, kRewriteWrite };

  // The value of the first line that begins with `key` "=" (a line feed or
  // carriage return ending it is not part of the value); false when no line
  // does. A commented line ("#...") never counts.
  static bool FindKey(const std::string& text, const std::string& key, std::string& value);

  // `text` with the value of every line that begins with `key` "=" replaced
  // by `value`, taken literally; each line keeps its own line end (none for a
  // last line without one). When no line holds the key, an empty line and
  // the key line are appended, without a final line feed.
  static std::string UpdateKey(const std::string& text, const std::string& key,
                               const std::string& value);

  // Replaces the file at `path` (a symbolic link is followed) by `text`: the
  // text is written to a temporary file beside it with the old file's mode,
  // owner and group, made durable and renamed over the old file. On failure the old file is
  // untouched, the temporary file is removed and `step` tells whether the
  // new file could not be made (kRewriteOpen) or filled and put in place
  // (kRewriteWrite).
  static CQiError Rewrite(const std::string& path, const std::string& text, RewriteStep& step);
};

}  // namespace TQCassandra
