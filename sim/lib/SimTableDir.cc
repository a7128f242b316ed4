#include "sim/lib/SimTableDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "sim/lib/SimFiles.h"

namespace TqSim {

namespace {

// Small components beside Data.db, and the size each is written with.
const std::pair<const char*, uint64_t> kSmallComponents[] = {
    {"Index.db", 96},       {"Filter.db", 24},          {"Summary.db", 56},
    {"Statistics.db", 120}, {"CompressionInfo.db", 40}, {"Digest.crc32", 10}};

// "<format>-<generation>-big-<Component>" split into its parts.
bool ParseName(const std::string& name, std::string& format, int& generation,
               std::string& component) {
  size_t first = name.find('-');
  if (first == std::string::npos) return false;
  size_t second = name.find('-', first + 1);
  if (second == std::string::npos) return false;
  const std::string gen = name.substr(first + 1, second - first - 1);
  if (gen.empty() || gen.find_first_not_of("0123456789") != std::string::npos) return false;
  if (name.compare(second, 5, "-big-") != 0) return false;
  format = name.substr(0, first);
  generation = std::atoi(gen.c_str());
  component = name.substr(second + 5);
  return !component.empty();
}

}  // namespace

std::string SimTableDir::FormatForVersion(const std::string& version) {
  int major = std::atoi(version.c_str());
  return major >= 4 ? "nb" : "mc";
}

std::vector<SimSSTable> SimTableDir::SSTablesIn(const std::string& dir) {
  std::map<std::string, SimSSTable> byPrefix;
  for (const auto& name : ListDir(dir)) {
    std::string format, component;
    int generation = 0;
    if (!IsFile(JoinPath(dir, name)) || !ParseName(name, format, generation, component)) continue;
    std::string prefix = format + "-" + std::to_string(generation) + "-big";
    SimSSTable& t = byPrefix[prefix];
    t.generation = generation;
    t.prefix = prefix;
    if (component == "Data.db") {
      t.components.insert(t.components.begin(), name);
    } else {
      t.components.push_back(name);
    }
  }
  std::vector<SimSSTable> out;
  for (auto& entry : byPrefix) out.push_back(entry.second);
  std::sort(out.begin(), out.end(),
            [](const SimSSTable& a, const SimSSTable& b) { return a.generation < b.generation; });
  return out;
}

bool SimTableDir::ReadLiveRecord(std::vector<std::string>& prefixes) const {
  prefixes.clear();
  const std::string record = JoinPath(path_, kLiveRecord);
  if (!IsFile(record)) return false;
  std::string text, error;
  if (!ReadTextFile(record, text, error)) return false;
  prefixes = SplitList(text, '\n');
  return true;
}

bool SimTableDir::WriteLiveRecord(const std::vector<std::string>& prefixes,
                                  std::string& error) const {
  std::string text;
  for (const auto& p : prefixes) text += p + "\n";
  // Written aside and renamed, so a reader never sees half a record.
  const std::string record = JoinPath(path_, kLiveRecord);
  const std::string temporary = record + ".tmp";
  if (!WriteTextFile(temporary, text, error)) return false;
  if (std::rename(temporary.c_str(), record.c_str()) != 0) {
    error = "Cannot write " + record + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool SimTableDir::AddLive(const std::vector<std::string>& prefixes, std::string& error) const {
  std::set<std::string> live;
  for (const auto& t : LiveSSTables()) live.insert(t.prefix);
  live.insert(prefixes.begin(), prefixes.end());
  return WriteLiveRecord(std::vector<std::string>(live.begin(), live.end()), error);
}

std::vector<SimSSTable> SimTableDir::LiveSSTables() const {
  std::vector<SimSSTable> all = SSTablesIn(path_);
  std::vector<std::string> prefixes;
  if (!ReadLiveRecord(prefixes)) return all;
  const std::set<std::string> live(prefixes.begin(), prefixes.end());
  std::vector<SimSSTable> out;
  for (auto& t : all) {
    if (live.count(t.prefix)) out.push_back(std::move(t));
  }
  return out;
}

std::vector<SimSSTable> SimTableDir::PlacedSSTables() const {
  std::vector<std::string> prefixes;
  if (!ReadLiveRecord(prefixes)) return {};
  const std::set<std::string> live(prefixes.begin(), prefixes.end());
  std::vector<SimSSTable> out;
  for (auto& t : SSTablesIn(path_)) {
    if (!live.count(t.prefix)) out.push_back(std::move(t));
  }
  return out;
}

bool SimTableDir::StartLiveRecord(std::string& error) const {
  if (!MakeDirs(path_, error)) return false;
  return WriteLiveRecord({}, error);
}

bool SimTableDir::MakeAllLive(std::string& error) const {
  if (!IsDir(path_)) return true;
  std::vector<std::string> prefixes;
  for (const auto& t : SSTablesIn(path_)) prefixes.push_back(t.prefix);
  return WriteLiveRecord(prefixes, error);
}

int SimTableDir::HighestGeneration() const {
  int highest = 0;
  for (const auto& t : SSTablesIn(path_)) highest = std::max(highest, t.generation);
  for (const auto& t : SSTablesIn(JoinPath(path_, "backups"))) {
    highest = std::max(highest, t.generation);
  }
  return highest;
}

bool SimTableDir::WriteSSTable(int generation, uint64_t dataSize, uint64_t seed,
                               SimSSTable& written, std::string& error) const {
  written = SimSSTable();
  written.generation = generation;
  written.prefix = format_ + "-" + std::to_string(generation) + "-big";
  auto name = [&](const std::string& component) { return written.prefix + "-" + component; };
  if (!WriteSeededFile(JoinPath(path_, name("Data.db")), dataSize, seed, error)) return false;
  written.components.push_back(name("Data.db"));
  uint64_t n = 1;
  std::string toc = "Data.db\nTOC.txt\n";
  for (const auto& c : kSmallComponents) {
    if (!WriteSeededFile(JoinPath(path_, name(c.first)), c.second, seed + n++, error)) return false;
    written.components.push_back(name(c.first));
    toc += std::string(c.first) + "\n";
  }
  if (!WriteTextFile(JoinPath(path_, name("TOC.txt")), toc, error)) return false;
  written.components.push_back(name("TOC.txt"));
  // A flushed SSTable is live at once.
  return AddLive({written.prefix}, error);
}

bool SimTableDir::LinkIntoBackups(const SimSSTable& sstable, std::string& error) const {
  std::string backups = JoinPath(path_, "backups");
  if (!MakeDirs(backups, error)) return false;
  for (const auto& c : sstable.components) {
    if (!HardLink(JoinPath(path_, c), JoinPath(backups, c), error)) return false;
  }
  return true;
}

bool SimTableDir::HasSnapshot(const std::string& name) const {
  return IsDir(JoinPath(JoinPath(path_, "snapshots"), name));
}

std::vector<std::string> SimTableDir::Snapshots() const {
  std::vector<std::string> names;
  std::string dir = JoinPath(path_, "snapshots");
  for (const auto& n : ListDir(dir)) {
    if (IsDir(JoinPath(dir, n))) names.push_back(n);
  }
  return names;
}

bool SimTableDir::Snapshot(const std::string& name, const std::string& schema,
                           std::string& error) const {
  return SnapshotTable({*this}, name, schema, error);
}

bool SimTableDir::SnapshotTable(const std::vector<SimTableDir>& dirs, const std::string& name,
                                const std::string& schema, std::string& error) {
  nlohmann::json manifest = {{"files", nlohmann::json::array()}};
  for (const SimTableDir& table : dirs) {
    std::string dir = JoinPath(JoinPath(table.path_, "snapshots"), name);
    if (!MakeDirs(dir, error)) return false;
    for (const auto& t : table.LiveSSTables()) {
      for (const auto& c : t.components) {
        if (!HardLink(JoinPath(table.path_, c), JoinPath(dir, c), error)) return false;
      }
      manifest["files"].push_back(t.components.front());
    }
  }
  if (dirs.empty()) return true;
  const std::string first = JoinPath(JoinPath(dirs.front().path_, "snapshots"), name);
  return WriteTextFile(JoinPath(first, "manifest.json"), manifest.dump(2) + "\n", error) &&
         WriteTextFile(JoinPath(first, "schema.cql"), schema + "\n", error);
}

bool SimTableDir::ClearSnapshot(const std::string& name, std::string& error) const {
  return RemoveTree(JoinPath(JoinPath(path_, "snapshots"), name), error);
}

bool SimTableDir::RemoveLive(std::string& error) const {
  for (const auto& t : LiveSSTables()) {
    for (const auto& c : t.components) {
      if (!RemoveTree(JoinPath(path_, c), error)) return false;
    }
  }
  return IsDir(path_) ? WriteLiveRecord({}, error) : true;
}

bool SimTableDir::Import(const std::string& fromDir, int firstGeneration, int& imported,
                         std::string& error) const {
  imported = 0;
  if (!MakeDirs(path_, error)) return false;
  int next = std::max(firstGeneration, HighestGeneration() + 1);
  std::vector<std::string> loaded;
  for (const auto& t : SSTablesIn(fromDir)) {
    std::string prefix = format_ + "-" + std::to_string(next) + "-big";
    for (const auto& c : t.components) {
      std::string component = c.substr(t.prefix.size());  // "-Data.db"
      if (!CopyFile(JoinPath(fromDir, c), JoinPath(path_, prefix + component), error)) {
        return false;
      }
    }
    loaded.push_back(prefix);
    ++next;
    ++imported;
  }
  return AddLive(loaded, error);
}

}  // namespace TqSim
