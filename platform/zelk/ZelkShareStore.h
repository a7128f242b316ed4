#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace Zelk {

// One network share exported by the file server of a media agent.
struct SZelkShare {
  uint32_t id = 0;
  std::string name;                // a single path component, e.g. "share47"
  std::string server;              // host name of the media agent that serves it
  int64_t jobId = 0;               // the job that asked for it
  std::vector<std::string> hosts;  // hosts allowed to mount it
  int64_t uid = -1;                // owner of the exported files; -1 unknown
  int64_t gid = -1;
  std::string accessPerm;  // "<directories>:<files>" in octal, e.g. "700:600"; "" default
  int64_t backupSetId = 0;
  int64_t subclientId = 0;
  int64_t fromTime = 0;
  int64_t toTime = 0;
  uint64_t files = 0;  // regular files exported
};

// The file server's records, kept under the suite home so that every process
// of the machine sees the same shares:
//   <suite home>/zelk/servers/<host>        the server runs on that host
//   <suite home>/zelk/shares/<id>.json      one exported share
//   <suite home>/zelk/exports/<share name>/ the exported tree
//   <suite home>/zelk/next-id               the id of the next share
// Changes are serialised across threads and processes by a lock file.
class CZelkShareStore {
 public:
  // `home` "" is the current suite home.
  explicit CZelkShareStore(const std::string& home = std::string());

  const std::string& Root() const { return root_; }
  // The folder that holds the exported tree of the share `name`.
  std::string ExportPath(const std::string& name) const;

  // True when `name` can name a share: letters, digits, ".", "_" and "-",
  // neither "." nor "..", at most 200 characters.
  static bool IsValidShareName(const std::string& name);

  CQiError MarkServerRunning(const std::string& host);
  bool IsServerRunning(const std::string& host) const;

  // Stores `share` under a new id (written into it). The export tree must be
  // in place already.
  CQiError Add(SZelkShare& share);
  // Error 1168 when no share has that id or name.
  CQiError Find(uint32_t id, SZelkShare& share) const;
  CQiError FindByName(const std::string& name, SZelkShare& share) const;
  std::vector<SZelkShare> List() const;
  // Removes the share's record and its export tree. Error 1168 when unknown.
  CQiError Remove(uint32_t id);

 private:
  std::string root_;
};

}  // namespace Zelk
