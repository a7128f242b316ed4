#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace TqDataMover {

// An exact set of paths held compactly for sets of many files in few
// folders: each folder (the path up to and with its last "/") is kept once,
// and each member as its folder's number and the rest of the path, packed
// into blocks that never move, found through an open-addressing table of
// their places. A member costs its name's bytes and some 20 more, where a
// std::set of whole paths costs the whole path and some 80 bytes of nodes
// and allocations.
class CCompactPathSet {
 public:
  // Adds `path`; false when it was there already.
  bool Insert(const std::string& path);
  bool Contains(const std::string& path) const;
  size_t Size() const { return size_; }
  // Bytes the set holds (for the tests of its size).
  size_t HeldBytes() const;

 private:
  // The folder's number; adds the folder when `add` (else kNoFolder when it
  // is not known).
  uint32_t FolderOf(const std::string& path, size_t slash, bool add);
  uint32_t KnownFolderOf(const std::string& path, size_t slash) const;
  static uint64_t Hash(uint32_t folder, const char* name, size_t length);
  const char* RecordAt(uint64_t entry) const;
  bool Matches(uint64_t entry, uint32_t folder, const char* name, size_t length) const;
  // Packs a member into the blocks; gives its slot entry.
  uint64_t Append(uint32_t folder, const char* name, size_t length);
  // The slot that holds the member, or the empty slot where it would go.
  size_t Find(uint32_t folder, const char* name, size_t length, uint64_t hash) const;
  void Grow();

  static constexpr uint32_t kNoFolder = 0xFFFFFFFFu;

  std::unordered_map<std::string, uint32_t> folders_;
  // Members: folder number (4 bytes), name length (4 bytes), name bytes.
  // Each block is filled up to the capacity it was made with, so members
  // never move.
  std::vector<std::string> blocks_;
  // (block number + 1) << 32 | place in the block; 0 is an empty slot. A
  // power of two long.
  std::vector<uint64_t> slots_;
  size_t size_ = 0;
};

}  // namespace TqDataMover
