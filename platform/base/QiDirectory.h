#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"

// One directory entry: its name (not its path).
struct SQiDirEntry {
  CQiString name;
};

// Directory creation, removal, walking and listing. Every failure is an
// errno error (FXErrorUtil::ErrorErrNo) naming the path.
class CQiDirectory {
 public:
  // Called by Walk for each entry; a returned error stops the walk.
  using WalkCallback = CQiError (*)(const char* directory, const char* name, bool isDirectory,
                                    void* context);

  CQiDirectory() = default;
  ~CQiDirectory() { Close(); }
  CQiDirectory(const CQiDirectory&) = delete;
  CQiDirectory& operator=(const CQiDirectory&) = delete;

  // Creates the directory (with its missing parents when `createParents`).
  // A directory that already exists is success; another kind of file there
  // is an error.
  static CQiError Create(const char* path, bool createParents);

  // Removes the directory; with `recursive` its whole tree (symbolic links
  // are removed, never followed). Without it a directory that is not empty
  // fails with ENOTEMPTY. A missing directory is success when
  // `ignoreMissing`, else ENOENT.
  static CQiError Remove(const char* path, bool recursive, bool ignoreMissing);

  // Answers Remove(path, recursive, ignoreMissing) in place of the file
  // system: returns true with `result` set when it answered, false to let
  // the removal run.
  using RemoveHook = std::function<bool(const std::string& path, bool recursive, bool ignoreMissing,
                                        CQiError& result)>;
  // Installs a process-wide hook (an empty one removes it) and returns the
  // one it replaces.
  static RemoveHook SetRemoveHook(RemoveHook hook);

  // Calls `callback` for every entry of `directory` except "." and "..", in
  // ascending name order; `isDirectory` follows symbolic links. With
  // `recursive` it descends into each subdirectory (not into linked ones)
  // right after reporting it, with that subdirectory as `directory`.
  // `flags` is reserved (pass 0). A directory that cannot be opened is an
  // error; a callback error stops the walk and is returned.
  static CQiError Walk(const char* directory, void* context, int flags, bool recursive,
                       WalkCallback callback);

  // Listing: Open, then GetEntry until `done`. Entries whose names match the
  // shell pattern (fnmatch; "*" matches all) are given in ascending name
  // order, "." and ".." never; with `includeDirectories` false
  // subdirectories are left out.
  CQiError Open(const char* path, const char* pattern = "*", bool includeDirectories = true);
  // Fills `entry` with the next entry, or sets `done` (entry untouched) when
  // none is left.
  CQiError GetEntry(SQiDirEntry& entry, bool& done);
  void Close();

 private:
  std::vector<std::string> entries_;
  size_t next_ = 0;
  bool open_ = false;
};
