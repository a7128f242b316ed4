#include "tools/lib/JobVerifier.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "platform/index/ArchiveStore.h"
#include "platform/multinode/CollectFileEntry.h"
#include "tools/lib/ErrorText.h"

namespace TqHarness {

namespace fs = std::filesystem;

namespace {

// Paths listed by the numbered collect files of one job results folder.
std::vector<std::string> CollectEntries(const std::string& folder, VerifyReport& report,
                                        const std::string& client) {
  static const std::regex kNumbered("Collect(Tot|Inc)[0-9]+\\.tqf");
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file() && std::regex_match(name, kNumbered)) names.push_back(name);
  }
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      // A flat collect file that was never split keeps its own name (the
      // first numbered name) and its "<item>|<size>" lines.
      MultiNodeBackupOps::CCollectFileEntry entry;
      if (MultiNodeBackupOps::CCollectFileEntry::ParseNumberedLine(line, entry).IsError() &&
          MultiNodeBackupOps::CCollectFileEntry::ParseFlatLine(line, entry).IsError()) {
        report.problems.push_back({client, name, "unreadable collect-file line: " + line});
        continue;
      }
      ++report.collectEntries;
      paths.push_back(entry.path);
    }
  }
  return paths;
}

// For a file of a table's snapshot (<table>/snapshots/<name>/<file>) or
// backups folder (<table>/backups/<file>) that is gone: the table's own file
// of that name when it exists, else "".
std::string LiveTwin(const std::string& path) {
  const fs::path file(path);
  fs::path table;
  if (file.parent_path().filename() == "backups") {
    table = file.parent_path().parent_path();
  } else if (file.parent_path().parent_path().filename() == "snapshots") {
    table = file.parent_path().parent_path().parent_path();
  } else {
    return std::string();
  }
  const fs::path twin = table / file.filename();
  std::error_code ec;
  return fs::is_regular_file(twin, ec) ? twin.string() : std::string();
}

}  // namespace

std::vector<CleanupState> CJobVerifier::CleanupStateOf(int64_t jobId) const {
  const std::string prefix = std::to_string(state_.subclientId) + "TQsnapshot";
  std::vector<CleanupState> states;
  for (const HarnessNode& node : state_.nodes) {
    CleanupState cleanup;
    cleanup.client = node.name;
    for (const std::string& dataDir : node.dataDirs) {
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(dataDir, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_directory() && name.rfind(prefix, 0) == 0 &&
            it->path().parent_path().filename() == "snapshots") {
          ++cleanup.snapshotsLeft;
        }
      }
    }
    const std::string folder =
        suiteHome_ + "/" + node.name + "/JobResults/" + std::to_string(jobId);
    VerifyReport ignored;
    for (const std::string& path : CollectEntries(folder, ignored, node.name)) {
      std::error_code ec;
      const fs::file_status status = fs::symlink_status(path, ec);
      if (status.type() == fs::file_type::directory) continue;
      ++cleanup.listedFiles;
      if (status.type() == fs::file_type::not_found) ++cleanup.listedGone;
    }
    std::ifstream notDeleted(folder + "/FilesToCleanup.tqf", std::ios::binary);
    std::string line;
    while (std::getline(notDeleted, line)) {
      if (!line.empty()) cleanup.notDeleted.push_back(line);
    }
    std::error_code ec;
    cleanup.infoFileLeft = fs::exists(folder + "/CassandraCleanupInfoFile", ec);
    states.push_back(cleanup);
  }
  return states;
}

std::vector<std::string> CJobVerifier::SnapshotFiles(const CHarnessState& state, int64_t jobId) {
  const std::string snapshot =
      std::to_string(state.subclientId) + "TQsnapshot" + std::to_string(jobId);
  std::vector<std::string> files;
  for (const HarnessNode& node : state.nodes) {
    for (const std::string& dataDir : node.dataDirs) {
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(dataDir, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const fs::path file = it->path();
        if (file.parent_path().filename() == snapshot &&
            file.parent_path().parent_path().filename() == "snapshots") {
          files.push_back(file.string());
        }
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

CQiError CJobVerifier::Verify(const TqRunner::JobResult& job, VerifyReport& report) const {
  report = VerifyReport();
  report.jobId = job.jobId;
  CArchiveStore store(suiteHome_);
  CQiError error = store.Open();
  if (error.IsError()) return error;
  SJobRecord record;
  bool found = false;
  error = store.Catalog().GetJob(job.jobId, record, found);
  if (error.IsError()) return error;
  report.level = found ? record.level : 0;
  report.kind = found ? record.kind : "";
  if (!job.Completed()) {
    report.problems.push_back(
        {"", "", std::string("the job ended ") + TqRunner::PhaseStatusName(job.status)});
  }
  std::vector<SStoredItem> items;
  error = store.ListItems(job.jobId, items);
  if (error.IsError()) return error;
  report.storedItems = static_cast<int>(items.size());

  std::set<std::string> verified;
  auto check = [&](const std::string& client, const std::string& path) {
    if (!verified.insert(path).second) return;
    std::vector<SStoredItem> stored;
    CQiError e = store.FindItemsBySource(job.jobId, path, stored);
    if (e.IsError() || stored.empty()) {
      report.problems.push_back({client, path, "not in the index"});
      return;
    }
    std::error_code ec;
    const bool onDisk = fs::exists(path, ec);
    // A snapshot or backups file that the cleanup removed was a hard link of
    // its table's SSTable: compared with that file when it is still there.
    const std::string twin = onDisk ? std::string() : LiveTwin(path);
    for (const SStoredItem& item : stored) {
      if (!item.complete) {
        report.problems.push_back({client, path, "stored incomplete: " + item.problem});
        continue;
      }
      if (item.isDirectory) continue;
      if (onDisk) {
        e = store.VerifyItem(item, path);
      } else if (!twin.empty()) {
        e = store.VerifyItem(item, twin);
        if (!e.IsError()) ++report.filesMatchedLive;
      } else {
        e = store.ReadItem(item, [](uint64_t, const char*, size_t) { return CQiError(); });
      }
      if (e.IsError()) {
        report.problems.push_back({client, path, CErrorText::Describe(e)});
        continue;
      }
      ++report.filesChecked;
      if (!onDisk) ++report.filesGone;
      report.bytesChecked += item.size;
    }
  };

  for (const HarnessNode& node : state_.nodes) {
    const std::string folder =
        suiteHome_ + "/" + node.name + "/JobResults/" + std::to_string(job.jobId);
    for (const std::string& path : CollectEntries(folder, report, node.name)) {
      check(node.name, path);
    }
  }

  if (report.level == TQBkpLevel_Full && report.kind != "log") {
    for (const std::string& file : SnapshotFiles(state_, job.jobId)) {
      ++report.snapshotFiles;
      if (verified.count(file) == 0) {
        report.problems.push_back({"", file, "snapshot file not stored"});
      }
    }
  }
  return CQiError();
}

}  // namespace TqHarness
