#include "tools/lib/RestoreSettingsRecovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "tools/lib/JobResultRecords.h"

namespace TqHarness {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettingsFiles[] = {"commitlog_archiving.properties", "cassandra-env.sh"};

// The name and configuration directory of the home's node whose
// configuration directory is `wanted`; false when none.
bool FindNodeOf(const CHarnessState& state, const std::string& wanted, std::string& name,
                std::string& confDir) {
  TqSim::SimNode node;
  std::string clusterFile;
  if (!CJobResultRecords::FindNode(state, wanted, node, clusterFile)) return false;
  name = node.name;
  confDir = node.confDir;
  return true;
}

// Renames each ".bkp" copy (a regular file) over its file, removes the
// temporary files of copies and rewrites, and flushes the folder; "" or why
// not. `renamed`: a copy was there.
std::string PutBackCopies(const std::string& confDir, bool& renamed) {
  renamed = false;
  for (const char* name : kSettingsFiles) {
    const fs::path file = fs::path(confDir) / name;
    const fs::path copy = fs::path(confDir) / (std::string(name) + ".bkp");
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(copy, ec).type();
    if (type == fs::file_type::not_found) continue;
    if (type != fs::file_type::regular) return copy.string() + " is not a regular file";
    if (::rename(copy.c_str(), file.c_str()) != 0) {
      return "cannot rename " + copy.string() + ": " + std::strerror(errno);
    }
    renamed = true;
  }
  // Temporary files of a copy or a rewrite the kill cut short:
  // ".<name>.bkp.tqtmp-XXXXXX" and "<name>.tqtmp-XXXXXX".
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(confDir, ec)) {
    const std::string name = entry.path().filename().string();
    for (const char* file : kSettingsFiles) {
      const std::string copy = "." + std::string(file) + ".bkp.tqtmp-";
      const std::string rewrite = std::string(file) + ".tqtmp-";
      std::error_code e;
      if ((name.compare(0, copy.size(), copy) == 0 ||
           name.compare(0, rewrite.size(), rewrite) == 0) &&
          entry.symlink_status(e).type() == fs::file_type::regular) {
        fs::remove(entry.path(), e);
      }
    }
  }
  if (renamed) {
    const int folder = ::open(confDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }
  return std::string();
}

}  // namespace

void CRestoreSettingsRecovery::PutBack(const std::vector<std::string>& folders,
                                       const CHarnessState& state, InterruptedJob& job) {
  const std::vector<fs::path> records = CJobResultRecords::Find(folders, kRecordName);
  for (const fs::path& record : records) {
    const std::string wanted = CJobResultRecords::FirstLine(record);
    std::string node = record.parent_path().filename().string();
    std::string confDir;
    std::string why;
    bool renamed = false;
    if (wanted.empty()) {
      why = "the record names no configuration";
    } else if (!FindNodeOf(state, wanted, node, confDir)) {
      why = "no node of the home has the configuration " + wanted;
    } else {
      why = PutBackCopies(confDir, renamed);
    }
    if (!why.empty()) {
      job.settingsNotPutBack.push_back(node + ": " + why);
      continue;
    }
    // Without copies the replay had put the settings back already.
    if (renamed) job.settingsPutBack.push_back(node);
    std::error_code e;
    fs::remove(record, e);
  }
}

}  // namespace TqHarness
