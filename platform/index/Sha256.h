#pragma once

#include <cstddef>
#include <string>

// An incremental SHA-256 digest (OpenSSL).
class CSha256 {
 public:
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  void Update(const void* data, size_t length);
  // The digest of everything added, as lower-case hex; the object starts
  // over afterwards.
  std::string FinishHex();

  // The digest of the file's bytes [offset, offset + length); false when the
  // file cannot be read that far.
  static bool OfFileRange(int fd, size_t offset, size_t length, std::string& hex);

 private:
  void* context_;
};
