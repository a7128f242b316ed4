#include "backup/CassandraDockerHelper.h"

#include <utility>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/TqProcess.h"

namespace TQCassandra {

namespace {

const char* const kListImagesCommand = "docker container ls --format \"{{.Image}}\"";
const char* const kListNamesCommand = "docker container ls --format \"{{.Names}}\"";
const char* const kInspectMountsCommand = "docker container inspect --format='{{json .Mounts}}' ";

// True when `path` lies under `directory`; `rest` gets what follows the "/"
// after the directory ("" when the path is the directory).
bool LiesUnder(const std::string& path, const std::string& directory, std::string& rest) {
  if (path == directory) {
    rest.clear();
    return true;
  }
  if (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
      path[directory.size()] == '/') {
    rest = path.substr(directory.size() + 1);
    return true;
  }
  return false;
}

// A string member of a mount; "" when absent or not a string.
std::string MountMember(const TqJson::Object& mount, const char* name) {
  TqJson::Value value;
  if (!TqJson::FindValue(mount, name, value) || !value.isString()) return std::string();
  return value.getStr();
}

// Runs a docker command; on failure logs it and gives error 774 with the
// command and its standard error.
CQiError RunDocker(const std::string& command, std::string& out) {
  std::string err;
  out.clear();
  if (TqProcess::system(command.c_str(), out, err, 0, false) == 0) return CQiError::Success();
  TQLOG(-1, "Failed to run command [%s]: Output: [%s] Error: [%s]", command.c_str(), out.c_str(),
        err.c_str());
  const std::string text = "Failed to run the cmd " + command + ". Error: " + err;
  return FXErrorUtil::ErrorWin32(FXLOC, 774, "%s", text.c_str());
}

}  // namespace

CassandraDockerHelper::CassandraDockerHelper(std::string nodePath)
    : nodePath(std::move(nodePath)) {}

CassandraDockerHelper::~CassandraDockerHelper() = default;

std::string CassandraDockerHelper::InspectMountsCommand(const std::string& container) {
  return std::string(kInspectMountsCommand) + FXString::QuoteForShell(container);
}

bool CassandraDockerHelper::checkIfCassandraInDocker() {
  std::string out;
  std::string err;
  if (TqProcess::system(kListImagesCommand, out, err, 0, false) != 0) {
    TQLOG(-1, "Failed to run the cmd [%s]: Output: [%s] Error: [%s]", kListImagesCommand,
          out.c_str(), err.c_str());
    return false;
  }
  if (FXString::FindString(out.c_str(), "DataStax", true) ||
      FXString::FindString(out.c_str(), "Cassandra", true)) {
    return true;
  }
  TQLOG(0, "Non docker configuration");
  return false;
}

CQiError CassandraDockerHelper::initialize() {
  std::string names;
  CQiError error = RunDocker(kListNamesCommand, names);
  if (error.IsError()) return error.Push(FXLOC);
  TQLOG(2, "Output: %s", names.c_str());
  std::vector<std::string> lines;
  FXString::Split(names, "\n", lines, FXString::kKeepEmpty);

  TqJson::Array found;
  for (const std::string& name : lines) {
    if (name.empty()) continue;
    std::string out;
    error = RunDocker(InspectMountsCommand(name), out);
    if (error.IsError()) return error.Push(FXLOC);
    TQLOG(2, "Output: %s", out.c_str());
    TqJson::Unserialize(out, found);
    for (const TqJson::Value& mount : found) {
      if (!mount.isObject()) continue;
      const std::string source = MountMember(mount.getObject(), "Source");
      std::string rest;
      if (source.empty() || !LiesUnder(nodePath, source, rest)) continue;
      TQLOG(0, "Node maps to container %s", name.c_str());
      containerName = name;
      mounts = found;
      return CQiError::Success();
    }
  }
  return CQiError::Success();
}

CQiError CassandraDockerHelper::getContainerName(std::string& name) {
  if (containerName.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Not a docker configuration");
  }
  name = containerName;
  return CQiError::Success();
}

bool CassandraDockerHelper::MapPath(const std::string& path, const char* from, const char* to,
                                    std::string& mapped) const {
  for (const TqJson::Value& mount : mounts) {
    if (!mount.isObject()) continue;
    const std::string side = MountMember(mount.getObject(), from);
    std::string rest;
    if (side.empty() || !LiesUnder(path, side, rest)) continue;
    mapped = MountMember(mount.getObject(), to);
    if (!rest.empty()) FXPath::Append(mapped, rest, 0);
    return !mapped.empty();
  }
  return false;
}

CQiError CassandraDockerHelper::getSourcePath(const std::string& containerPath,
                                              std::string& hostPath) {
  std::string mapped;
  if (!MapPath(containerPath, "Destination", "Source", mapped)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "No mapping found for destination path %s",
                                   containerPath.c_str());
  }
  hostPath = mapped;
  return CQiError::Success();
}

CQiError CassandraDockerHelper::getDestPath(const std::string& hostPath,
                                            std::string& containerPath) {
  std::string mapped;
  if (!MapPath(hostPath, "Source", "Destination", mapped)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "No mapping found for source path %s",
                                   hostPath.c_str());
  }
  containerPath = mapped;
  return CQiError::Success();
}

}  // namespace TQCassandra
