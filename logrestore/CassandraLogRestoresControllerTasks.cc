// The tables each target node of a point-in-time restore replays, learnt
// from the source paths of the restore tasks.

#include <map>
#include <optional>
#include <set>
#include <vector>

#include "common/CassandraEnvFile.h"
#include "logrestore/CassandraLogRestoresController.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"

namespace TQCassandra {

namespace {

constexpr const char* kCommitLogComponent = "#COMMITLOG#";

// The path split on "/", the empty element before a leading "/" kept: piece
// 1 is the cluster, 2 the data centre, 3 the node, 4 the keyspace and 5 the
// table of a header path.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    parts.push_back(
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

// A piece of a browse pattern rather than a name.
bool IsPattern(const std::string& piece) { return piece.find('*') != std::string::npos; }

// Cassandra's own keyspaces: a whole-node selection restores them with the
// node, but replaying their logs on another node would carry the source
// node's identity and schema state over.
bool IsInternalKeyspace(const std::string& keyspace) {
  return keyspace.compare(0, 6, "system") == 0 || keyspace.compare(0, 3, "dse") == 0;
}

CQiError TableName(const std::string& keyspace, const std::string& table, const std::string& path,
                   std::string& name) {
  if (!CassandraEnvFile::IsPlainName(keyspace) || !CassandraEnvFile::IsPlainName(table)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a table name [%s.%s] for path [%s]",
                                   keyspace.c_str(), table.c_str(), path.c_str());
  }
  name = keyspace + "." + table;
  return CQiError::Success();
}

}  // namespace

CQiError CCassandraLogRestoreController::OnTask(DistributedQEL::TaskInfo* task, bool& flag) {
  TQ_DEBUG_FUNCTION();
  CQiError e = TQDC_FileSystem::CFSRestoreController::OnTask(task, flag);
  if (e.IsError()) return e.Push(FXLOC);
  TQLOG(0, "CCassandraLogRestoreController::OnTask: %d", recover ? 1 : 0);
  if (!recover || task == nullptr) return CQiError::Success();

  DistributedQEL::RestoreTaskInfo info;
  if (info.unserialize(task->getPayload()) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "The restore task's payload cannot be read");
  }
  const std::vector<std::string> paths = info.getSourcePaths();
  TQLOG(0, "Number of src paths: %lu", static_cast<unsigned long>(paths.size()));

  // Every table of the restored keyspaces, for a selection of a whole
  // cluster, data centre or node.
  std::vector<std::pair<std::string, std::string>> allTables;
  for (const auto& keyspace : tablesByKeyspace) {
    if (IsInternalKeyspace(keyspace.first)) continue;
    for (const std::string& table : keyspace.second) allTables.emplace_back(keyspace.first, table);
  }
  const std::vector<DistributedQEL::CassandraSourceTargetMapping> mappings =
      sourceTargetMappings ? sourceTargetMappings->getMappings()
                           : std::vector<DistributedQEL::CassandraSourceTargetMapping>();

  // Every task carries the whole selection, also the paths of source nodes
  // that other machines restore; those are theirs to replay. A task none of
  // whose node paths is this machine's cannot be placed here.
  std::map<std::string, std::vector<std::string>> additions;
  bool attributed = false;
  std::string unmapped;
  for (const std::string& path : paths) {
    std::vector<std::string> parts = SplitPath(path);
    TQLOG(4, " Path [%s] ", path.c_str());
    TQLOG(4, " Split values [%lu] ", static_cast<unsigned long>(parts.size()));
    while (parts.size() > 2 && parts.back().empty()) parts.pop_back();
    if (parts.size() < 2 || parts[1].empty()) continue;
    // A browse pattern ("/**/*" selects everything): "**" matches any number
    // of levels, so the pieces from it on select everything; a piece with
    // "*" selects every name of its level.
    size_t everythingFrom = parts.size();
    for (size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].find("**") != std::string::npos) {
        everythingFrom = i;
        break;
      }
    }
    auto given = [&](size_t i) { return i < everythingFrom; };
    auto named = [&](size_t i) { return given(i) && !IsPattern(parts[i]); };
    if (named(4) && parts[4] == kCommitLogComponent) continue;

    std::vector<std::string> targets;
    if (named(3)) {
      // A path without a node name belongs to no node, here or elsewhere.
      if (parts[3].empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to find target for source node %s",
                                       path.c_str());
      }
      std::string target;
      if (getTargetFromSource(parts[3], target).IsError()) {
        TQLOG(2, " Source node [%s] of path [%s] is not restored on this machine", parts[3].c_str(),
              path.c_str());
        if (unmapped.empty()) unmapped = parts[3];
        continue;
      }
      targets.push_back(target);
    } else {
      // A cluster, a data centre or every node of one: each node of it that
      // this machine restores.
      for (const auto& mapping : mappings) {
        const std::optional<App::CassandraNode> source = mapping.getSource();
        const std::optional<App::CassandraNode> target = mapping.getTarget();
        if (!source || !target) continue;
        if (named(2) && !source->getDataCenter().empty() && source->getDataCenter() != parts[2]) {
          continue;
        }
        targets.push_back(TargetKeyOf(*target));
      }
      if (targets.empty()) {
        TQLOG(2, " No node of [%s] is restored on this machine", path.c_str());
        continue;
      }
    }
    attributed = true;

    std::vector<std::string> names;
    if (!named(4)) {
      TQLOG(3, " adding all tables of the restored keyspaces for [%s]", path.c_str());
      for (const auto& table : allTables) {
        std::string name;
        e = TableName(table.first, table.second, path, name);
        if (e.IsError()) return e.Push(FXLOC);
        names.push_back(name);
      }
    } else if (!named(5)) {
      TQLOG(3, " adding all tables under keyspace %s", parts[4].c_str());
      if (!CassandraEnvFile::IsPlainName(parts[4])) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a keyspace name [%s] in path [%s]",
                                       parts[4].c_str(), path.c_str());
      }
      auto keyspace = tablesByKeyspace.find(parts[4]);
      if (keyspace == tablesByKeyspace.end()) {
        TQLOG(1, " Keyspace %s has no tables in the table metadata", parts[4].c_str());
      } else {
        for (const std::string& table : keyspace->second) {
          std::string name;
          e = TableName(parts[4], table, path, name);
          if (e.IsError()) return e.Push(FXLOC);
          names.push_back(name);
        }
      }
    } else {
      TQLOG(3, " adding table %s under keyspace %s", parts[5].c_str(), parts[4].c_str());
      std::string name;
      e = TableName(parts[4], parts[5], path, name);
      if (e.IsError()) return e.Push(FXLOC);
      names.push_back(name);
    }
    for (const std::string& target : targets) {
      std::vector<std::string>& list = additions[target];
      list.insert(list.end(), names.begin(), names.end());
    }
  }
  if (!attributed && !unmapped.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to find target for source node %s",
                                   unmapped.c_str());
  }

  for (const auto& addition : additions) {
    if (addition.second.empty()) continue;
    std::list<std::string>& list = replayTablesByTarget[addition.first];
    std::set<std::string> known(list.begin(), list.end());
    for (const std::string& name : addition.second) {
      if (known.insert(name).second) list.push_back(name);
    }
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
