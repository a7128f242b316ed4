#include "platform/datamover/RestorePlacement.h"

#include <algorithm>

#include "platform/base/ExtendedOptions.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"

namespace TqDataMover {

namespace {

constexpr const char* kInPlaceOption = "CassandraRestore";
constexpr const char* kDataDirectoryOption = "CassandraRestoreDataDirectory";
constexpr const char* kTableMetaOption = "CassandraMeta";
constexpr const char* kStagedOption = "CassandraStagedRestore";
constexpr const char* kStagingOption = "CassandraStagedRestoreStagingLoc";
constexpr const char* kCommitLogComponent = "#COMMITLOG#";

// Header path components: "", cluster, data centre, node, keyspace, table,
// file.
constexpr size_t kNodeLevel = 4;
constexpr size_t kKeyspaceLevel = 5;
constexpr size_t kTableLevel = 6;
constexpr size_t kFileLevel = 7;

bool IsSet(const CExtendedOptions& options, const char* name) {
  std::string value;
  return options.getOption(name, value) && value != "" && value != "0";
}

// A component that stays inside the folder it is joined to.
bool SafeComponent(const std::string& part) {
  return !part.empty() && part != "." && part != ".." &&
         part.find_first_of("/\n\r", 0) == std::string::npos &&
         part.find('\0') == std::string::npos;
}

CQiError Refuse(const char* what, const std::string& path) {
  return FXErrorUtil::ErrorWin32(FXLOC, 87, "Refusing to restore %s: %s", path.c_str(), what);
}

std::string Under(const std::string& folder, const std::string& relative) {
  return FXPath::Join(folder, relative);
}

}  // namespace

CQiError CRestorePlacement::ParseNodePathList(const std::string& text,
                                              std::map<std::string, std::string>& paths) {
  paths.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("##", start);
    if (end == std::string::npos) end = text.size();
    const std::string entry = text.substr(start, end - start);
    start = end + 2;
    if (entry.empty()) continue;
    const size_t colon = entry.find(':');
    if (colon == std::string::npos || colon == 0) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Node path entry [%s] names no node and path",
                                     entry.c_str());
    }
    paths[entry.substr(0, colon)] = entry.substr(colon + 1);
  }
  return CQiError::Success();
}

CQiError CRestorePlacement::ParseTableMeta(
    const std::string& text, std::map<std::string, std::map<std::string, std::string>>& meta) {
  static const std::string kKeyspace = "~KEYSPACE~", kBegin = "~BEGIN~", kTable = "~TABLEMETA~",
                           kId = "~TABLEID~";
  meta.clear();
  size_t at = 0;
  std::map<std::string, std::string>* keyspace = nullptr;
  while (at < text.size()) {
    if (text.compare(at, kKeyspace.size(), kKeyspace) == 0) {
      at += kKeyspace.size();
      size_t begin = text.find(kBegin, at);
      if (begin == std::string::npos) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Table metadata: keyspace without ~BEGIN~");
      }
      keyspace = &meta[text.substr(at, begin - at)];
      at = begin + kBegin.size();
    } else if (text.compare(at, kTable.size(), kTable) == 0 && keyspace != nullptr) {
      at += kTable.size();
      size_t id = text.find(kId, at);
      if (id == std::string::npos) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Table metadata: table without ~TABLEID~");
      }
      const std::string table = text.substr(at, id - at);
      at = id + kId.size();
      size_t next = text.find('~', at);
      if (next == std::string::npos) next = text.size();
      (*keyspace)[table] = text.substr(at, next - at);
      at = next;
    } else {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Table metadata not readable at offset %zu", at);
    }
  }
  return CQiError::Success();
}

CQiError CRestorePlacement::FromOptions(const std::string& extendedOptions,
                                        const std::string& destination,
                                        CRestorePlacement& placement) {
  CExtendedOptions options(extendedOptions);
  placement = CRestorePlacement();
  placement.destination_ = destination;
  std::string value;
  if (IsSet(options, kInPlaceOption)) {
    placement.mode_ = kInPlace;
    options.getOption(kDataDirectoryOption, value);
    CQiError error = ParseNodePathList(value, placement.folderByNode_);
    if (error.IsError()) return error.Push(FXLOC);
    value.clear();
    options.getOption(kTableMetaOption, value);
    error = ParseTableMeta(value, placement.tableIds_);
    if (error.IsError()) return error.Push(FXLOC);
  } else if (IsSet(options, kStagedOption)) {
    placement.mode_ = kStaged;
    options.getOption(kStagingOption, value);
    CQiError error = ParseNodePathList(value, placement.folderByNode_);
    if (error.IsError()) return error.Push(FXLOC);
  }
  for (const auto& folder : placement.folderByNode_) {
    if (folder.second.empty() || folder.second[0] != '/') {
      return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                     "The folder of node %s is not an absolute path: [%s]",
                                     folder.first.c_str(), folder.second.c_str());
    }
  }
  return CQiError::Success();
}

CQiError CRestorePlacement::TargetOf(const std::string& headerPath, const std::string& sourcePath,
                                     bool isDirectory, SItemTarget& target) const {
  target = SItemTarget();
  if (mode_ == kFileSystem) return FileSystemTarget(sourcePath, isDirectory, target);
  std::vector<std::string> parts;
  FXString::Split(headerPath, "/", parts, FXString::kKeepEmpty);
  if (parts.size() < 2 || !parts[0].empty()) return Refuse("not an index path", headerPath);
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!SafeComponent(parts[i])) return Refuse("a path component is not a plain name", headerPath);
  }
  if (parts.size() < kKeyspaceLevel) return CQiError::Success();  // nothing to place
  if (parts.size() > kFileLevel) return Refuse("deeper than a table file", headerPath);
  CQiError error = mode_ == kInPlace ? InPlaceTarget(parts, isDirectory, target)
                                     : StagedTarget(parts, isDirectory, target);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestorePlacement::InPlaceTarget(const std::vector<std::string>& parts, bool isDirectory,
                                          SItemTarget& target) const {
  const std::string& node = parts[kNodeLevel - 1];
  const std::string& keyspace = parts[kKeyspaceLevel - 1];
  auto folder = folderByNode_.find(node);
  if (folder == folderByNode_.end()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Node %s has no data directory in %s", node.c_str(),
                                   kDataDirectoryOption);
  }
  if (keyspace == kCommitLogComponent) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 87, "Commit log items of node %s are not restored in place", node.c_str());
  }
  auto tables = tableIds_.find(keyspace);
  if (tables == tableIds_.end()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Keyspace %s is not in %s", keyspace.c_str(),
                                   kTableMetaOption);
  }
  target.root = folder->second;
  std::string path = Under(folder->second, keyspace);
  if (parts.size() == kKeyspaceLevel) {
    target.kind = SItemTarget::kDirectory;
    target.path = path;
    return CQiError::Success();
  }
  const std::string& table = parts[kTableLevel - 1];
  auto id = tables->second.find(table);
  if (id == tables->second.end()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Table %s.%s is not in %s", keyspace.c_str(),
                                   table.c_str(), kTableMetaOption);
  }
  std::string tableId = id->second;
  tableId.erase(std::remove(tableId.begin(), tableId.end(), '-'), tableId.end());
  if (!SafeComponent(table + "-" + tableId)) {
    return Refuse("the table id is not a plain name", tableId);
  }
  path = Under(path, table + "-" + tableId);
  if (parts.size() == kTableLevel) {
    target.kind = SItemTarget::kDirectory;
    target.path = path;
    return CQiError::Success();
  }
  if (isDirectory) return Refuse("a folder inside a table folder", parts.back());
  target.kind = SItemTarget::kFile;
  target.path = Under(path, parts.back());
  target.tableFile = true;
  return CQiError::Success();
}

CQiError CRestorePlacement::StagedTarget(const std::vector<std::string>& parts, bool isDirectory,
                                         SItemTarget& target) const {
  const std::string& node = parts[kNodeLevel - 1];
  auto folder = folderByNode_.find(node);
  if (folder == folderByNode_.end()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Node %s has no staging folder in %s", node.c_str(),
                                   kStagingOption);
  }
  target.root = folder->second;
  std::string path = folder->second;
  const bool commitLog = parts[kKeyspaceLevel - 1] == kCommitLogComponent;
  const size_t last = commitLog ? kTableLevel : kFileLevel;
  if (parts.size() > last) return Refuse("deeper than a commit log", parts.back());
  // Tables and commit logs are staged below a folder of their node: nodes
  // that share one staging folder (on one machine, or several sources
  // mapped onto one target) keep their files apart, a load of one node's
  // table folder never takes, or removes, another node's files, and one
  // node's segment never takes the place of another's of the same name.
  path = Under(path, node);
  for (size_t i = kKeyspaceLevel - 1; i < parts.size(); ++i) path = Under(path, parts[i]);
  target.path = path;
  if (parts.size() < last) {
    target.kind = SItemTarget::kDirectory;
    return CQiError::Success();
  }
  if (isDirectory) return Refuse("a folder where a file belongs", parts.back());
  target.kind = SItemTarget::kFile;
  target.tableFile = !commitLog;
  target.commitLog = commitLog;
  return CQiError::Success();
}

CQiError CRestorePlacement::FileSystemTarget(const std::string& sourcePath, bool isDirectory,
                                             SItemTarget& target) const {
  if (sourcePath.empty() || sourcePath[0] != '/') {
    return Refuse("the source path is not absolute", sourcePath);
  }
  std::vector<std::string> parts;
  FXString::Split(sourcePath, "/", parts, FXString::kKeepEmpty);
  std::string relative;
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty() && i + 1 == parts.size()) break;  // a final "/"
    if (!SafeComponent(parts[i])) {
      return Refuse("a path component is not a plain name", sourcePath);
    }
    relative += (relative.empty() ? "" : "/") + parts[i];
  }
  target.root = destination_.empty() ? "/" : destination_;
  target.path = Under(target.root, relative);
  target.kind = isDirectory ? SItemTarget::kDirectory : SItemTarget::kFile;
  return CQiError::Success();
}

}  // namespace TqDataMover
