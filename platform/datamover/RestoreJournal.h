#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace TqDataMover {

// What a restore job put into live table folders, written in its result
// folder (CRestoreResultFile::FolderOf) so that a run killed at any point can
// be put right by the next one:
//
//   placed.<stream>.journal   one line per fact, made durable before the fact:
//     "T\t<folder>"            hidden ".tqrestore-" temporaries may lie in
//                              <folder> (written before the first one there)
//     "P\t<dev>:<ino>:<size>:<mtime ns>\t<path>"
//                              the file of that device, inode, size and
//                              modification time is about to get the name
//                              <path> (written before the rename)
//   loading.journal
//     "L\t<data dir>"          the node is about to load what was placed below
//                              <data dir> (written before anything loads it)
//     "U\t<data dir>"          the load announced by the "L" line before it was
//                              answered as refused: nothing below <data dir>
//                              was loaded by it
//
// A file named by a "P" line that is still that file (all four match), and that
// lies below no "L" folder still standing, was placed by the job and never
// loaded.
class CRestoreJournal {
 public:
  static constexpr const char* kLoadingName = "loading.journal";
  static std::string PlacedName(int streamNumber);

  CRestoreJournal() = default;
  ~CRestoreJournal();
  CRestoreJournal(const CRestoreJournal&) = delete;
  CRestoreJournal& operator=(const CRestoreJournal&) = delete;

  // Names the placed journal of stream `streamNumber` in the result folder
  // `folder`; it is made (or appended to) with its first line.
  void Open(const std::string& folder, int streamNumber);
  bool IsOpen() const { return !path_.empty(); }
  void Close();

  // Notes, once per folder, that temporaries may be made in `folder`.
  CQiError NoteFolder(const std::string& folder);
  struct SPlaced {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    uint64_t mtimeNs = 0;
    std::string path;
  };
  // Notes the files about to be renamed into place, durable on return.
  CQiError NotePlaced(const std::vector<SPlaced>& files);

  // Notes in the result folder `folder` that what was placed below
  // `dataDirectory` is about to be loaded.
  static CQiError NoteLoading(const std::string& folder, const std::string& dataDirectory);
  // Notes in the result folder `folder` that the load of `dataDirectory`
  // noted last was refused before it loaded anything.
  static CQiError NoteNotLoaded(const std::string& folder, const std::string& dataDirectory);

  struct SContent {
    std::set<std::string> folders;  // "T"
    std::vector<SPlaced> placed;    // "P"
    std::set<std::string> loaded;   // "L" not taken back by a later "U"
    bool Empty() const { return folders.empty() && placed.empty() && loaded.empty(); }
  };
  // Every journal of the result folder `folder`; lines that cannot be read
  // (cut short by a kill, or not of these shapes) are left out.
  static void Read(const std::string& folder, SContent& content);

 private:
  CQiError Append(const std::string& text);
  static CQiError AppendLoading(const std::string& folder, const std::string& line);

  int fd_ = -1;
  std::string folder_;
  std::string path_;
  std::set<std::string> notedFolders_;
};

}  // namespace TqDataMover
