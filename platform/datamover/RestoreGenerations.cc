#include "platform/datamover/RestoreGenerations.h"

#include <unistd.h>

#include <algorithm>

#include "platform/datamover/SSTableName.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"

namespace TqDataMover {

namespace {

const std::string kDataComponent = "Data.db";

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// "nb-3-big" of "nb-3-big-Data.db".
std::string GenerationName(const std::string& name) {
  const size_t dash = name.rfind('-');
  return dash == std::string::npos ? name : name.substr(0, dash);
}

// The components an SSTable of any version is made of.
const char* const kKnownComponents[] = {
    "CRC.db",        "CompressionInfo.db", "Data.db",  "Digest.adler32", "Digest.crc32",
    "Digest.sha1",   "Filter.db",          "Index.db", "Partitions.db",  "Rows.db",
    "Statistics.db", "Summary.db",         "TOC.txt",
};
constexpr size_t kKnownCount = sizeof kKnownComponents / sizeof kKnownComponents[0];

// The component of an item path whose name starts with `prefix`.
std::string ComponentOf(const std::string& headerPath, const std::string& prefix) {
  return NameOf(headerPath).substr(prefix.size());
}

bool IsData(const SHeldComponent& component) {
  const std::string name = NameOf(component.path);
  return name.size() > kDataComponent.size() &&
         name.compare(name.size() - kDataComponent.size(), kDataComponent.size(), kDataComponent) ==
             0;
}

}  // namespace

void CRestoreGenerations::CComponents::Insert(const std::string& component) {
  for (size_t i = 0; i < kKnownCount; ++i) {
    if (component == kKnownComponents[i]) {
      known_ |= static_cast<uint16_t>(1u << i);
      return;
    }
  }
  if (std::find(others_.begin(), others_.end(), component) == others_.end()) {
    others_.push_back(component);
  }
}

std::vector<std::string> CRestoreGenerations::CComponents::Names() const {
  std::vector<std::string> names(others_);
  for (size_t i = 0; i < kKnownCount; ++i) {
    if (known_ & (1u << i)) names.push_back(kKnownComponents[i]);
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t CRestoreGenerations::CComponents::Size() const {
  return static_cast<size_t>(__builtin_popcount(known_)) + others_.size();
}

void CRestoreGenerations::CComponents::Clear() {
  known_ = 0;
  std::vector<std::string>().swap(others_);
}

CRestoreGenerations& CRestoreGenerations::Instance() {
  static CRestoreGenerations* generations = new CRestoreGenerations();
  return *generations;
}

bool CRestoreGenerations::GenerationOf(const std::string& headerPath, std::string& folder,
                                       std::string& prefix) {
  const size_t slash = headerPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return false;
  const std::string name = headerPath.substr(slash + 1);
  SSSTableName parsed;
  if (!SSSTableName::Parse(name, parsed)) return false;
  folder = headerPath.substr(0, slash);
  prefix = name.substr(0, name.rfind('-') + 1);
  return true;
}

void CRestoreGenerations::Expect(int64_t jobId, const std::string& headerPath) {
  std::string folder, prefix;
  if (!GenerationOf(headerPath, folder, prefix)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  SGeneration& generation = generations_[Key(jobId, folder, prefix)];
  // A generation placed before is not expected again (a retried task).
  if (!generation.placed) generation.expected.Insert(ComponentOf(headerPath, prefix));
}

void CRestoreGenerations::Attach(int64_t jobId, const std::string& owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++streams_[{jobId, owner}];
}

void CRestoreGenerations::Detach(int64_t jobId, const std::string& owner) {
  std::vector<SLeftOut> events;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto streams = streams_.find({jobId, owner});
    if (streams != streams_.end() && --streams->second > 0) return;
    if (streams != streams_.end()) streams_.erase(streams);
    // The node's last stream ended: what is still missing never comes.
    for (auto& entry : generations_) {
      SGeneration& generation = entry.second;
      if (std::get<0>(entry.first) != jobId || generation.owner != owner || generation.placed ||
          generation.leftOut || (generation.held.empty() && generation.failures.empty())) {
        continue;
      }
      std::string why, missing;
      const std::string& prefix = std::get<2>(entry.first);
      for (const std::string& component : generation.expected.Names()) {
        if (generation.held.count(component)) continue;
        auto failure = generation.failures.find(component);
        if (failure != generation.failures.end()) {
          why += (why.empty() ? "" : "; ") + prefix + component + ": " + failure->second;
        } else {
          missing += (missing.empty() ? "" : ", ") + prefix + component;
        }
      }
      if (!missing.empty()) {
        why += (why.empty() ? "" : "; ") + std::string("no copy of ") + missing + " arrived";
      }
      LeaveOutLocked(entry.first, generation, why, events);
    }
  }
  Raise(events);
}

CRestoreGenerations::Outcome CRestoreGenerations::Arrive(int64_t jobId, const std::string& owner,
                                                         const SHeldComponent& component,
                                                         std::vector<SHeldComponent>& ready) {
  ready.clear();
  std::string folder, prefix;
  if (!GenerationOf(component.headerPath, folder, prefix)) return kUngrouped;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = generations_.find(Key(jobId, folder, prefix));
  if (found == generations_.end()) return kUngrouped;
  SGeneration& generation = found->second;
  if (generation.leftOut) {
    unlink(component.temp.c_str());
    TQLOG(0, "%s is not placed: its SSTable was left out of the restore", component.path.c_str());
    return kLeftOut;
  }
  // Placed whole before: a repeat of one of its components goes alone.
  if (generation.placed || generation.expected.Empty()) return kUngrouped;
  const std::string name = ComponentOf(component.headerPath, prefix);
  generation.expected.Insert(name);
  auto before = generation.held.find(name);
  if (before != generation.held.end() && before->second.temp != component.temp) {
    unlink(before->second.temp.c_str());
  }
  generation.held[name] = component;
  generation.failures.erase(name);
  generation.owner = owner;
  generation.targetPath = component.path;
  // Every held component is expected: the generation is whole when as
  // many are held as are expected.
  if (generation.held.size() < generation.expected.Size()) return kHeld;
  for (const auto& held : generation.held) ready.push_back(held.second);
  std::stable_partition(ready.begin(), ready.end(),
                        [](const SHeldComponent& c) { return !IsData(c); });
  // Only the mark stays: a restore of many SSTables holds little for
  // those already placed.
  generation.held.clear();
  generation.expected.Clear();
  std::string().swap(generation.owner);
  std::string().swap(generation.targetPath);
  generation.placed = true;
  return kPlaceNow;
}

void CRestoreGenerations::Fail(int64_t jobId, const std::string& owner,
                               const std::string& headerPath, const std::string& path,
                               const std::string& reason) {
  std::string folder, prefix;
  if (!GenerationOf(headerPath, folder, prefix)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // Only a component of an expected generation holds its generation back.
  auto found = generations_.find(Key(jobId, folder, prefix));
  if (found == generations_.end()) return;
  SGeneration& generation = found->second;
  if (generation.placed || generation.leftOut || generation.expected.Empty()) return;
  if (!path.empty()) generation.targetPath = path;
  generation.owner = owner;
  const std::string name = ComponentOf(headerPath, prefix);
  generation.expected.Insert(name);
  // The first reason is kept: a retry fails the same way or better.
  generation.failures.emplace(name, reason);
  auto held = generation.held.find(name);
  if (held != generation.held.end()) {
    unlink(held->second.temp.c_str());
    generation.held.erase(held);
  }
}

void CRestoreGenerations::PlacementFailed(int64_t jobId, const SHeldComponent& any,
                                          const std::string& reason) {
  std::string folder, prefix;
  if (!GenerationOf(any.headerPath, folder, prefix)) return;
  std::vector<SLeftOut> events;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    SGeneration& generation = generations_[Key(jobId, folder, prefix)];
    generation.placed = false;
    generation.targetPath = any.path;
    LeaveOutLocked(Key(jobId, folder, prefix), generation, reason, events);
  }
  Raise(events);
}

void CRestoreGenerations::LeaveOutLocked(const Key& key, SGeneration& generation,
                                         const std::string& reason, std::vector<SLeftOut>& events) {
  for (const auto& held : generation.held) unlink(held.second.temp.c_str());
  generation.held.clear();
  generation.leftOut = true;
  ++leftOut_[std::get<0>(key)];
  SLeftOut event;
  if (generation.targetPath.empty()) {
    event.folder = std::get<1>(key);
    event.generation = GenerationName(std::get<2>(key));
  } else {
    event.folder = FolderOf(generation.targetPath);
    event.generation = GenerationName(NameOf(generation.targetPath));
  }
  event.reason = reason;
  events.push_back(event);
}

void CRestoreGenerations::Raise(const std::vector<SLeftOut>& events) {
  for (const SLeftOut& left : events) {
    TQLOG(-1, "SSTable %s of %s was left out of the restore: %s", left.generation.c_str(),
          left.folder.c_str(), left.reason.c_str());
    EvEvent event;
    event << left.folder << left.generation << left.reason;
    event.MajorEvent(kEvSSTableLeftOut);
  }
}

int CRestoreGenerations::LeftOut(int64_t jobId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = leftOut_.find(jobId);
  return found == leftOut_.end() ? 0 : found->second;
}

void CRestoreGenerations::ForgetJob(int64_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = generations_.begin(); it != generations_.end();) {
    it = std::get<0>(it->first) == jobId ? generations_.erase(it) : std::next(it);
  }
  for (auto it = streams_.begin(); it != streams_.end();) {
    it = it->first.first == jobId ? streams_.erase(it) : std::next(it);
  }
  leftOut_.erase(jobId);
}

}  // namespace TqDataMover
