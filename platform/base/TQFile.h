#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/base/QiError.h"

// A text file read line by line.
class TQFile {
 public:
  TQFile() = default;
  ~TQFile() { close(); }
  TQFile(const TQFile&) = delete;
  TQFile& operator=(const TQFile&) = delete;

  // Opens `path` with an fopen mode (default "r"); an open file is closed
  // first. Failure is an errno error naming the path.
  CQiError open(const char* path, const char* mode = "r");
  void close();
  bool isOpen() const { return file_ != nullptr; }

  // Reads the next line without its line end ("\n" or "\r\n") into a buffer
  // of `size` bytes, NUL-terminated. A line longer than size - 1 comes in
  // pieces, one per call. Returns false at the end of the file (or when
  // nothing is open or `size` is 0).
  bool getLine(char* buffer, size_t size);
  // Reads the next whole line without its line end.
  bool getLine(std::string& line);

 private:
  FILE* file_ = nullptr;
};
