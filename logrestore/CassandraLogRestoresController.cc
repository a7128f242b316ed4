// The point-in-time node controller: the commit-log entries of the node
// start payload, the restore workers it hands out and the target of a source
// node.

#include "logrestore/CassandraLogRestoresController.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <set>

#include "logrestore/CassandraLogRestoreWorker.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"

namespace TQCassandra {

namespace {

constexpr const char* kCommitLogComponent = "#COMMITLOG#";

// A signed 64-bit decimal number, the whole text but for a line end or
// blanks after it; 0 for anything else.
int64_t NumberOrZero(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '\t')) {
    text.pop_back();
  }
  if (text.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return 0;
  return static_cast<int64_t>(value);
}

int64_t ClientIdOf(const boost::shared_ptr<App::CassandraNode>& node) {
  if (!node) return 0;
  std::optional<TqEntities::ClientEntity> client = node->getClient();
  return client ? client->getClientId() : 0;
}

}  // namespace

CCassandraLogRestoreController::CCassandraLogRestoreController() = default;

CCassandraLogRestoreController::~CCassandraLogRestoreController() = default;

std::string CCassandraLogRestoreController::CassandraPointInTime(int64_t seconds) {
  const time_t time = static_cast<time_t>(seconds);
  struct tm utc;
  if (static_cast<int64_t>(time) != seconds || ::gmtime_r(&time, &utc) == nullptr) {
    return std::string();
  }
  char text[96];
  std::snprintf(text, sizeof text, "%lld:%d:%d %d:%d:%d",
                static_cast<long long>(utc.tm_year) + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

CQiError CCassandraLogRestoreController::processNodeInit(CNMessageBase* message) {
  TQ_DEBUG_FUNCTION();
  CQiError e = CCassandraRestoreController::processNodeInit(message);
  if (e.IsError()) return e.Push(FXLOC);
  if (!recover || message == nullptr) return CQiError::Success();

  DistributedQEL::NodeInit init;
  std::string xml;
  if (message->serialize(xml) != 0 || init.unserialize(xml) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "The node start message is not readable");
  }
  for (const DistributedQEL::DINameValue& entry : init.getValues()) {
    const std::string name = entry.getName();
    if (name == "CommitLogRestoreCmd") {
      restoreCommand = entry.getValue();
    } else if (name == "CommitLogRestoreTime") {
      const int64_t toTime = NumberOrZero(entry.getValue());
      TQLOG(0, "Received ToTime: %ld", static_cast<long>(toTime));
      cassandraPointInTime = CassandraPointInTime(toTime);
      TQLOG(0, "ToTime in Cassandra format: %s", cassandraPointInTime.c_str());
    } else if (name == "BackupReferenceTime") {
      backupRefTime = NumberOrZero(entry.getValue());
      TQLOG(0, "Backup reference time: %ld", static_cast<long>(backupRefTime));
    }
  }
  return CQiError::Success();
}

bool CCassandraLogRestoreController::tokenRuleApplies(const std::string&,
                                                      const std::string&) const {
  return false;
}

CQiError CCassandraLogRestoreController::GetRestoreWorker(
    DistributedQEL::IRestoreWorkerPtr& worker) {
  const bool crossNode = ClientIdOf(sourceNode) != ClientIdOf(targetNode);
  DistributedQEL::IRestoreWorkerPtr made(new (std::nothrow) CCassandraLogRestoreWorker(
      this, static_cast<unsigned long>(destInstanceId), recover, dataDirBySource, stagingBySource,
      crossNode, useSSTableLoader, &tableMetadata, static_cast<long>(backupRefTime)));
  if (!made) return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate a restore worker");
  worker = made;
  return CQiError::Success();
}

std::vector<std::string> CCassandraLogRestoreController::stagedLogSources(
    const std::string& targetKey) const {
  std::set<std::string> sources;
  auto staging = hostStagingPath.find(targetKey);
  if (staging == hostStagingPath.end() || !sourceTargetMappings) return {};
  for (const DistributedQEL::CassandraSourceTargetMapping& mapping :
       sourceTargetMappings->getMappings()) {
    const std::optional<App::CassandraNode> from = mapping.getSource();
    const std::optional<App::CassandraNode> to = mapping.getTarget();
    if (!from || !to || TargetKeyOf(*to) != targetKey) continue;
    // Named as the backup named it in its paths (see getTargetFromSource).
    std::string name = from->getAgentInstanceName();
    if (name.empty()) {
      std::optional<TqEntities::ClientEntity> client = from->getClient();
      name = client ? client->getClientName() : std::string();
    }
    // The data mover stages each source node's logs below a folder of its
    // name; a name that is not one folder name has none.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
      continue;
    }
    const std::string folder =
        FXPath::Join(FXPath::Join(staging->second, name), kCommitLogComponent);
    if (FXPath::DoesPathExist(folder.c_str())) sources.insert(name);
  }
  return std::vector<std::string>(sources.begin(), sources.end());
}

CQiError CCassandraLogRestoreController::getTargetFromSource(const std::string& source,
                                                             std::string& target) {
  if (sourceTargetMappings) {
    for (const DistributedQEL::CassandraSourceTargetMapping& mapping :
         sourceTargetMappings->getMappings()) {
      const std::optional<App::CassandraNode> from = mapping.getSource();
      const std::optional<App::CassandraNode> to = mapping.getTarget();
      if (!from || !to) continue;
      // Named as the backup named it in its paths: an empty agent instance
      // name counts as none.
      std::string name = from->getAgentInstanceName();
      if (name.empty()) {
        std::optional<TqEntities::ClientEntity> client = from->getClient();
        name = client ? client->getClientName() : std::string();
      }
      if (name != source) continue;
      target = TargetKeyOf(*to);
      return CQiError::Success();
    }
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to find target for source node %s",
                                 source.c_str());
}

}  // namespace TQCassandra
