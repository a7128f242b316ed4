#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"

// Reads a collect file line by line from a byte offset and tells the byte
// offset of every line, so that a worker can commit where the first entry
// not yet stored begins and a later run can resume there.
class CCollectFileReader {
 public:
  CCollectFileReader() = default;
  ~CCollectFileReader();
  CCollectFileReader(const CCollectFileReader&) = delete;
  CCollectFileReader& operator=(const CCollectFileReader&) = delete;

  // Opens `path` (an open file is closed first) to read from `offset`: 0,
  // the file's size (nothing left to read), or a position right after a line
  // end. A negative offset is error 87; one beyond the end or inside a line
  // is error 13; the file stays closed then.
  CQiError Open(const std::string& path, int64_t offset = 0);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // True when no line is left: at the end of the file, after a failed read,
  // and when nothing is open.
  bool IsEndOfFile();
  // The next line without its line end ("\n", or "\r\n"). At the end of the
  // file: error 38 "End of collect file". A failed read is an errno error,
  // and the reader reports the end of the file from then on.
  CQiError GetNextLine(std::string& line);
  // Where the line last read begins, and where the next one begins (right
  // after the last line's line end). Both are the open offset before the
  // first read.
  int64_t GetLineOffset() const { return lineOffset_; }
  int64_t GetNextLineOffset() const { return nextOffset_; }
  const std::string& GetPath() const { return path_; }

 private:
  // Reads the next block when the buffer is used up; false at the end.
  bool Fill();

  std::string path_;
  int fd_ = -1;
  bool failed_ = false;
  CQiError readError_;
  std::string buffer_;
  size_t position_ = 0;  // next unread byte in buffer_
  int64_t lineOffset_ = 0;
  int64_t nextOffset_ = 0;
};
