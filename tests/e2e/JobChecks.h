#pragma once

// Readers of what a job leaves behind, for the end-to-end failure tests: the
// collect-file mapping file, numbered collect files with the offset of each
// line, task payloads as they travelled, events by id, and every committed
// record of a job.

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/index/ArchiveStore.h"
#include "platform/runner/RunnerTypes.h"

namespace e2e {

// The mapping file: per client id, its tasks in order with their state
// (0 pending, -1 complete).
typedef std::map<uint64_t, std::vector<std::pair<int, int64_t>>> Mapping;

inline Mapping ParseMapping(const std::string& text) {
  Mapping mapping;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    const size_t blank = line.find(' ');
    auto& tasks = mapping[std::stoull(line.substr(0, blank))];
    std::istringstream entries(line.substr(blank + 1));
    std::string entry;
    while (std::getline(entries, entry, '|')) {
      const size_t colon = entry.find(':');
      tasks.emplace_back(std::stoi(entry.substr(0, colon)), std::stoll(entry.substr(colon + 1)));
    }
  }
  return mapping;
}

// One line of a numbered collect file and where it begins.
struct CollectLine {
  int64_t offset = 0;
  std::string path;
};

inline std::vector<CollectLine> ReadCollectFile(const std::string& file) {
  std::vector<CollectLine> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  int64_t offset = 0;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back({offset, line});
    offset += static_cast<int64_t>(line.size()) + 1;
  }
  return lines;
}

// Every file of a folder (not below it) with its content and change time.
inline std::map<std::string, std::string> FolderState(const std::string& folder) {
  std::map<std::string, std::string> state;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const auto time = std::filesystem::last_write_time(entry.path(), ec).time_since_epoch().count();
    state[entry.path().filename().string()] = std::to_string(time) + "\n" + content.str();
  }
  return state;
}

// The payloads of the tasks the coordinator sent, by task, in order; fed
// from a job's observer.
class PayloadLog {
 public:
  void See(const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kMessage || event.recordName != "TaskInfo") return;
    static const std::regex kTask(R"(<TaskID [^>]*><f n="1" i="1" t="int64">([0-9]+)</f>)");
    static const std::regex kPayload(R"(<f n="6" i="6" t="string">([^<]*)</f>)");
    std::smatch task, payload;
    if (!std::regex_search(event.xml, task, kTask) ||
        !std::regex_search(event.xml, payload, kPayload)) {
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    payloads_[std::stoi(task[1].str())].push_back(payload[1].str());
  }
  std::vector<std::string> Of(int task) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = payloads_.find(task);
    return it == payloads_.end() ? std::vector<std::string>() : it->second;
  }
  std::set<int> Tasks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<int> tasks;
    for (const auto& p : payloads_) tasks.insert(p.first);
    return tasks;
  }

 private:
  mutable std::mutex mutex_;
  std::map<int, std::vector<std::string>> payloads_;
};

// The events of a job with this id.
inline std::vector<CEventJournal::Entry> EventsWith(const TqRunner::JobResult& job, uint32_t id) {
  std::vector<CEventJournal::Entry> found;
  for (const auto& event : job.events) {
    if (event.id == id) found.push_back(event);
  }
  return found;
}

// The distinct event ids of a job.
inline std::set<uint32_t> EventIds(const TqRunner::JobResult& job) {
  std::set<uint32_t> ids;
  for (const auto& event : job.events) ids.insert(event.id);
  return ids;
}

// How many committed records of the job each source path has (a file sent
// again by a resumed task has two).
inline std::map<std::string, int> RecordCounts(const std::string& suiteHome, int64_t jobId) {
  CArchiveStore store(suiteHome);
  std::map<std::string, int> counts;
  if (store.Open().IsError()) return counts;
  std::vector<SFileRecord> records;
  if (store.Catalog().ListFileRecords(jobId, records).IsError()) return counts;
  for (const auto& record : records) {
    if (!record.isDirectory) ++counts[record.sourcePath];
  }
  return counts;
}

// The backup time in the job's newest "NodeMetaData" entry of a node (-1
// when it has none).
inline int64_t NodeBackupTime(const std::string& suiteHome, int64_t jobId,
                              const std::string& node) {
  CArchiveStore store(suiteHome);
  std::vector<SMetadataRecord> views;
  if (store.Open().IsError() || store.Catalog().ListMetadata(jobId, views).IsError()) return -1;
  static const std::regex kTime(
      R"(<f n="2" i="5" t="int64">(-?[0-9]+)</f></CassandraNodeMetadata>)");
  int64_t newest = -1;
  for (const auto& view : views) {
    std::smatch time;
    if (view.viewName == "NodeMetaData" && view.path == "/" + node &&
        std::regex_search(view.xml, time, kTime)) {
      newest = std::stoll(time[1].str());
    }
  }
  return newest;
}

// The view entries of a job, "<view> <path>", in the order written.
inline std::vector<std::string> Views(const std::string& suiteHome, int64_t jobId) {
  CArchiveStore store(suiteHome);
  std::vector<SMetadataRecord> views;
  std::vector<std::string> paths;
  if (store.Open().IsError() || store.Catalog().ListMetadata(jobId, views).IsError()) return paths;
  for (const auto& view : views) paths.push_back(view.viewName + " " + view.path);
  return paths;
}

// Files left under the job's folder of the store whose name begins ".tmp-".
inline std::vector<std::string> StoreLeftovers(const std::string& suiteHome, int64_t jobId) {
  std::vector<std::string> left;
  std::error_code ec;
  const std::string folder = CArchiveStore::RootUnder(suiteHome) + "/" + std::to_string(jobId);
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename().string().rfind(".tmp-", 0) == 0) left.push_back(it->path());
  }
  return left;
}

}  // namespace e2e
