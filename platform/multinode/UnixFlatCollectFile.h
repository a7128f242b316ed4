#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/multinode/FlatCollectFile.h"

// The flat collect file on a local file system. Entries are buffered and
// written in blocks; the file is opened at the first entry (or at Close when
// there is none), so that it always holds exactly the entries taken by this
// object: mode "w" starts it empty, mode "a" appends to what is there. One
// thread writes it at a time.
class CUnixFlatCollectFile : public CFlatCollectFile {
 public:
  CUnixFlatCollectFile(int64_t jobId, const std::string& path, const char* mode);
  ~CUnixFlatCollectFile() override;

  const std::string& GetPath() const override { return path_; }
  int64_t GetJobId() const { return jobId_; }
  using CFlatCollectFile::AddEntry;
  // An empty path is error 87; the rest as in CFlatCollectFile.
  CQiError AddEntry(const MultiNodeBackupOps::CCollectFileEntry& entry) override;
  CQiError Close() override;

 private:
  CQiError Open();
  CQiError Flush();
  // Closes the descriptor; reports a failed close.
  CQiError CloseDescriptor();

  const int64_t jobId_;
  const std::string path_;
  bool truncate_;       // the next open starts the file empty
  CQiError modeError_;  // an unknown mode, reported at the first use
  CQiError failed_;     // the first failed write; every later call reports it
  int fd_ = -1;
  std::string buffer_;
  std::vector<size_t> entryEnds_;  // where each buffered entry ends in buffer_
  uint64_t written_ = 0;           // entries known to be in the file
};
typedef boost::shared_ptr<CUnixFlatCollectFile> CUnixFlatCollectFilePtr;
