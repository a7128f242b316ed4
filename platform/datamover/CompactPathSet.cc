#include "platform/datamover/CompactPathSet.h"

#include <algorithm>
#include <cstring>

namespace TqDataMover {

namespace {

uint32_t ReadU32(const char* at) {
  uint32_t value = 0;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

void AppendU32(std::string& out, uint32_t value) {
  char bytes[sizeof(value)];
  std::memcpy(bytes, &value, sizeof(value));
  out.append(bytes, sizeof(bytes));
}

// The last "/" of `path`, or npos (the whole path is then the name, in the
// folder "").
size_t LastSlash(const std::string& path) { return path.rfind('/'); }

}  // namespace

uint64_t CCompactPathSet::Hash(uint32_t folder, const char* name, size_t length) {
  // FNV-1a over the folder number and the name.
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (int i = 0; i < 4; ++i) mix(static_cast<unsigned char>(folder >> (8 * i)));
  for (size_t i = 0; i < length; ++i) mix(static_cast<unsigned char>(name[i]));
  return hash ^ (hash >> 29);
}

uint32_t CCompactPathSet::KnownFolderOf(const std::string& path, size_t slash) const {
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  auto known = folders_.find(folder);
  return known == folders_.end() ? kNoFolder : known->second;
}

uint32_t CCompactPathSet::FolderOf(const std::string& path, size_t slash, bool add) {
  const uint32_t known = KnownFolderOf(path, slash);
  if (known != kNoFolder || !add) return known;
  const uint32_t number = static_cast<uint32_t>(folders_.size());
  folders_.emplace(slash == std::string::npos ? std::string() : path.substr(0, slash + 1), number);
  return number;
}

const char* CCompactPathSet::RecordAt(uint64_t entry) const {
  return blocks_[(entry >> 32) - 1].data() + (entry & 0xFFFFFFFFu);
}

uint64_t CCompactPathSet::Append(uint32_t folder, const char* name, size_t length) {
  const size_t need = 8 + length;
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < need) {
    // Blocks grow from 4 KiB to 1 MiB, so a small set stays small and a
    // large one wastes at most the end of its last block.
    size_t capacity =
        blocks_.empty() ? 4096 : std::min<size_t>(blocks_.back().capacity() * 2, 1 << 20);
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(capacity, need));
  }
  std::string& block = blocks_.back();
  const uint64_t entry = (static_cast<uint64_t>(blocks_.size()) << 32) | block.size();
  AppendU32(block, folder);
  AppendU32(block, static_cast<uint32_t>(length));
  block.append(name, length);
  return entry;
}

bool CCompactPathSet::Matches(uint64_t entry, uint32_t folder, const char* name,
                              size_t length) const {
  const char* record = RecordAt(entry);
  return ReadU32(record) == folder && ReadU32(record + 4) == length &&
         std::memcmp(record + 8, name, length) == 0;
}

size_t CCompactPathSet::Find(uint32_t folder, const char* name, size_t length,
                             uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const uint64_t entry = slots_[slot];
    if (entry == 0 || Matches(entry, folder, name, length)) return slot;
  }
}

void CCompactPathSet::Grow() {
  std::vector<uint64_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
  for (uint64_t entry : old) {
    if (entry == 0) continue;
    const char* record = RecordAt(entry);
    const uint32_t folder = ReadU32(record);
    const uint32_t length = ReadU32(record + 4);
    slots_[Find(folder, record + 8, length, Hash(folder, record + 8, length))] = entry;
  }
}

bool CCompactPathSet::Insert(const std::string& path) {
  const size_t slash = LastSlash(path);
  const uint32_t folder = FolderOf(path, slash, true);
  const char* name = path.data() + (slash == std::string::npos ? 0 : slash + 1);
  const size_t length = path.size() - static_cast<size_t>(name - path.data());
  // At most three quarters of the slots are taken, so a probe meets an
  // empty one soon.
  if ((size_ + 1) * 4 > slots_.size() * 3) Grow();
  const uint64_t hash = Hash(folder, name, length);
  const size_t slot = Find(folder, name, length, hash);
  if (slots_[slot] != 0) return false;
  slots_[slot] = Append(folder, name, length);
  ++size_;
  return true;
}

bool CCompactPathSet::Contains(const std::string& path) const {
  if (size_ == 0) return false;
  const size_t slash = LastSlash(path);
  const uint32_t folder = KnownFolderOf(path, slash);
  if (folder == kNoFolder) return false;
  const char* name = path.data() + (slash == std::string::npos ? 0 : slash + 1);
  const size_t length = path.size() - static_cast<size_t>(name - path.data());
  return slots_[Find(folder, name, length, Hash(folder, name, length))] != 0;
}

size_t CCompactPathSet::HeldBytes() const {
  size_t bytes = slots_.capacity() * sizeof(uint64_t);
  for (const std::string& block : blocks_) bytes += block.capacity();
  for (const auto& folder : folders_) bytes += folder.first.capacity() + 64;
  return bytes;
}

}  // namespace TqDataMover
