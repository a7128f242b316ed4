#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace TqDataMover {

// Where a restored item goes on disk.
struct SItemTarget {
  enum Kind {
    kNothing,    // an item above the node's folders (cluster, data centre, node)
    kDirectory,  // a folder to create
    kFile,       // a file to write
  };
  Kind kind = kNothing;
  std::string path;
  // The folder the restore was given for the item (data, staging or
  // destination folder); `path` lies in it.
  std::string root;
  // A file of a Cassandra table folder (in place or staged): a name already
  // taken there is never overwritten.
  bool tableFile = false;
  // A staged commit-log segment: a name already taken there is never
  // overwritten either (another copy of the same segment is left as it is).
  bool commitLog = false;
};

// The placement rules of a restore, read from the restore's extended options:
//
// - "CassandraRestore" (in place): an item under the header path
//   /<cluster>/<dc>/<node>/<keyspace>/<table>/<file> goes to
//   <data dir>/<keyspace>/<table>-<table id>/<file>, the data directory of
//   <node> taken from "CassandraRestoreDataDirectory" and the table id (its
//   dashes dropped, as in Cassandra's folder names) from "CassandraMeta";
// - "CassandraStagedRestore": to <staging>/<node>/<keyspace>/<table>/<file>
//   (each node's tables apart, also when nodes share a staging folder), and a
//   commit log /<cluster>/<dc>/<node>/#COMMITLOG#/<file> to
//   <staging>/<node>/#COMMITLOG#/<file> (segments of different nodes, which
//   may share names, apart in the same way), the staging folder of <node> taken from
//   "CassandraStagedRestoreStagingLoc";
// - neither (a file-system restore): to the item's source path, or to that
//   path under the destination folder when the job names one.
//
// Keyspace and table folders are created for their own items; items of the
// cluster, data centre and node levels place nothing. A path component that
// is empty, "." or "..", or that holds a line break, and a node, keyspace or
// table that the options do not name, are refused with error 87 for that
// item: nothing is placed outside the folder the restore was given.
class CRestorePlacement {
 public:
  enum Mode { kFileSystem, kInPlace, kStaged };

  // Reads the extended options; `destination` is the job's destination
  // folder ("" restores file-system items to their source paths). Error 87
  // for options that cannot be read.
  static CQiError FromOptions(const std::string& extendedOptions, const std::string& destination,
                              CRestorePlacement& placement);

  CQiError TargetOf(const std::string& headerPath, const std::string& sourcePath, bool isDirectory,
                    SItemTarget& target) const;

  Mode mode() const { return mode_; }
  // NodePathList ("<node>:<path>##..."); error 87 for an entry without ":".
  static CQiError ParseNodePathList(const std::string& text,
                                    std::map<std::string, std::string>& paths);
  // "~KEYSPACE~<ks>~BEGIN~~TABLEMETA~<table>~TABLEID~<id>..." into
  // keyspace -> table -> id.
  static CQiError ParseTableMeta(const std::string& text,
                                 std::map<std::string, std::map<std::string, std::string>>& meta);

 private:
  CQiError InPlaceTarget(const std::vector<std::string>& parts, bool isDirectory,
                         SItemTarget& target) const;
  CQiError StagedTarget(const std::vector<std::string>& parts, bool isDirectory,
                        SItemTarget& target) const;
  CQiError FileSystemTarget(const std::string& sourcePath, bool isDirectory,
                            SItemTarget& target) const;

  Mode mode_ = kFileSystem;
  std::string destination_;
  std::map<std::string, std::string> folderByNode_;  // data or staging folder
  std::map<std::string, std::map<std::string, std::string>> tableIds_;
};

}  // namespace TqDataMover
