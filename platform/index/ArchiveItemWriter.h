#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/base/QiError.h"
#include "platform/index/Sha256.h"

// Writes the content of one item piece into an archive file's directory: to a
// temporary file first (".tmp-..."), which only Place moves to its final name.
// Bytes may arrive in any order; Finish checks that every byte of the piece
// was written and gives the piece's SHA-256 (computed while writing when the
// bytes arrive in order, else by reading the file back). A writer that goes
// away before Place removes its temporary file.
class CArchiveItemWriter {
 public:
  // `syncData`: make the content durable (fdatasync of the file after the
  // rename, then fsync of the directory) before Place returns.
  CArchiveItemWriter(const std::string& directory, bool syncData);
  ~CArchiveItemWriter();
  CArchiveItemWriter(const CArchiveItemWriter&) = delete;
  CArchiveItemWriter& operator=(const CArchiveItemWriter&) = delete;

  // Starts a piece holding the file's bytes [pieceOffset, pieceOffset + pieceLength).
  CQiError Begin(uint64_t pieceOffset, uint64_t pieceLength);
  // Writes bytes at a file offset inside the piece.
  CQiError Write(uint64_t fileOffset, const void* data, size_t length);
  // Checks the piece is whole and gives its digest; no write may follow.
  CQiError Finish(std::string& sha256);
  // Moves the finished piece to `name` in the directory (error 17, EEXIST,
  // when that name is taken) and, with `syncData`, flushes the directory.
  CQiError Place(const std::string& name);
  // Removes the temporary or placed file (after a failed commit).
  void Discard();

  uint64_t BytesWritten() const { return bytesWritten_; }

 private:
  bool Covered() const;

  std::string directory_;
  bool syncData_;
  std::string tempPath_;
  std::string placedPath_;
  int fd_ = -1;
  bool finished_ = false;  // Finish succeeded; the file is still open for Place
  uint64_t pieceOffset_ = 0;
  uint64_t pieceLength_ = 0;
  uint64_t bytesWritten_ = 0;
  std::map<uint64_t, uint64_t> ranges_;  // written ranges, start -> end (piece-relative), merged
  CSha256 digest_;
  uint64_t hashedUpTo_ = 0;  // piece-relative; valid while bytes arrive in order
  bool inOrder_ = true;
};
