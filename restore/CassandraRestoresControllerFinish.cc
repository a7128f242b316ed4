// The end of a restore on the node: the keyspaces learnt from the tasks, and
// the finishing of every target node once the data agent has stopped.

#include <cctype>
#include <optional>

#include "common/PriamQuery.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiPath.h"
#include "platform/base/QiSleep.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "platform/suite/TQRstJobClient.h"
#include "platform/suite/TqProcess.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

namespace {

constexpr uint32_t kChownPauseMs = 5000;
constexpr uint32_t kReplaceDeadNodePauseMs = 1000;
// Priam answered a request with a failure status, or refused its
// credentials (the transport's error values).
constexpr uint32_t kRefusedByPriam = 1359;
constexpr uint32_t kDeniedByPriam = 5;
// Characters of a path or an address that go as they are in a query value.
constexpr const char* kPathLiteral = "/:,";

// The path split on "/", the empty element before a leading "/" kept.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    parts.push_back(
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

// A keyspace name as Cassandra allows it; anything else could change the
// meaning of the refresh request it is put into.
bool IsKeyspaceName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

bool HasControlCharacter(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// An owner name chown reads as one user or group of "user:group".
bool IsSafeOwnerName(const std::string& name) {
  return !name.empty() && name[0] != '-' && name.find(':') == std::string::npos &&
         !HasControlCharacter(name);
}

bool HasAgentName(const App::CassandraNode& node) {
  return node.hasAgentInstanceName() && !node.getAgentInstanceName().empty();
}

std::string ClientNameOf(const App::CassandraNode& node) {
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  return client ? client->getClientName() : std::string();
}

}  // namespace

CQiError CCassandraRestoreController::MakeChownCommand(const std::string& user,
                                                       const std::string& group,
                                                       const std::string& directory,
                                                       std::string& command) {
  command.clear();
  if (!IsSafeOwnerName(user) || !IsSafeOwnerName(group)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Refusing the owner [%s:%s] of restored files",
                                   user.c_str(), group.c_str());
  }
  if (directory.empty() || directory[0] != '/' || HasControlCharacter(directory)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Refusing to change the owner of [%s]",
                                   directory.c_str());
  }
  command = " chown -R " + FXString::QuoteForShell(user) + ":" + FXString::QuoteForShell(group) +
            " " + FXString::QuoteForShell(directory);
  return CQiError::Success();
}

CQiError CCassandraRestoreController::OnTask(DistributedQEL::TaskInfo* task, bool& flag) {
  TQ_DEBUG_FUNCTION();
  if (recover && task != nullptr) {
    DistributedQEL::RestoreTaskInfo info;
    if (info.unserialize(task->getPayload()) != 0) {
      TQLOG(-1, "The restore task's payload cannot be read; no keyspace learnt from it");
    } else {
      for (const std::string& path : info.getSourcePaths()) {
        const std::vector<std::string> parts = SplitPath(path);
        if (parts.size() < 5 || parts[4] == "#COMMITLOG#") continue;
        const std::string& keyspace = parts[4];
        if (!IsKeyspaceName(keyspace)) {
          TQLOG(-1, "Not a keyspace name [%s] in path [%s]; it is not refreshed", keyspace.c_str(),
                path.c_str());
          continue;
        }
        // The refresh reads the list by the target node the source node is
        // restored to, which on another machine has another name.
        const std::string key = targetKeyOfSource(parts[3]);
        std::list<std::string>& keyspaces = keyspacesByInstance[key];
        bool known = false;
        for (const std::string& k : keyspaces) known = known || k == keyspace;
        if (known) continue;
        keyspaces.push_back(keyspace);
        TQLOG(2, " adding keyspace [%s] for instance [%s] keyspace vector size[%lu]",
              keyspace.c_str(), key.c_str(), static_cast<unsigned long>(keyspaces.size()));
      }
    }
  }
  CQiError e = TQDC_FileSystem::CFSRestoreController::OnTask(task, flag);
  if (e.IsError()) return e.Push(FXLOC);
  taskReceived = true;
  return CQiError::Success();
}

std::string CCassandraRestoreController::targetKeyOfSource(const std::string& sourceName) const {
  if (sourceTargetMappings) {
    for (const DistributedQEL::CassandraSourceTargetMapping& mapping :
         sourceTargetMappings->getMappings()) {
      std::optional<App::CassandraNode> source = mapping.getSource();
      std::optional<App::CassandraNode> target = mapping.getTarget();
      if (!source || !target) continue;
      const std::string name =
          source->hasAgentInstanceName() ? source->getAgentInstanceName() : ClientNameOf(*source);
      if (name != sourceName) continue;
      return HasAgentName(*target) ? target->getAgentInstanceName()
                                   : TQPI_Focus::getFocusClientName(true).str();
    }
  }
  return sourceName;
}

void CCassandraRestoreController::raisePendingCause(uint32_t eventId, const std::string& argument) {
  // Without the restore job client the cause still goes into the job's
  // events through a job client of its own.
  TQJobClient fallback;
  TQJobClient& client = rstJobClient ? static_cast<TQJobClient&>(*rstJobClient) : fallback;
  if (!argument.empty()) client << argument;
  client.setPendingCauseAndEvent(eventId, 6, 0, false, 300, 0, 0, 0, 0, 0);
}

void CCassandraRestoreController::markReloadFailed() {
  raisePendingCause(kEvTableReloadFailed);
  reloadFailed = true;
}

void CCassandraRestoreController::OnAgentStopped() {
  TQ_DEBUG_FUNCTION();
  if (!stageFreeRestore) {
    TQJobCtrlClientPtr jobCtrl;
    if (GetJobControllerObj(jobCtrl).IsError()) jobCtrl.reset();
    if (taskReceived) {
      for (const auto& entry : priamByTarget) finishTargetNode(entry.first, jobCtrl);
      if (useSSTableLoader) loadStagedDirectories();
    }
  }
  if (reloadFailed) {
    TQLOG(-1, "Failed to reload Cassandra tables. Sending FAIL status");
    boost::shared_ptr<DistributedQEL::AgentStoppedStatus> status(
        new DistributedQEL::AgentStoppedStatus());
    status->setFailed(1);
    if (!SendMsgToServer(status)) {
      TQLOG(-1, "Failed to send AgentStoppedStatus message to the Master");
    }
  }
  // A quit, or a failure before the bring-up, leaves nodes stopped for the
  // token takeover: each is started again, its data restored or not.
  startStoppedTargets();
  // A quit, a loader or a stage-free restore leaves Priams running that the
  // in-place finishing did not stop; none may outlive the controller's work.
  stopPriams();
  DistributedQEL::CRestoreController::OnAgentStopped();
}

void CCassandraRestoreController::finishTargetNode(const std::string& targetKey,
                                                   const TQJobCtrlClientPtr& jobCtrl) {
  auto found = priamByTarget.find(targetKey);
  boost::shared_ptr<TqCassandra::PriamUtil> priam =
      found != priamByTarget.end() ? found->second : boost::shared_ptr<TqCassandra::PriamUtil>();
  if (!priam || !priam->getIsConnected()) {
    TQLOG(-1, "Priam not initialized or not started on %s. Skipping cassandra restore",
          targetKey.c_str());
    // A staged restore starts no Priam and has nothing to load; in the other
    // modes the node's restored data stays unloaded.
    if (recover) markReloadFailed();
    return;
  }
  const bool inPlace = recover && !useSSTableLoader;

  std::string user = cassandraFlavor;
  std::string group = cassandraFlavor;
  TQPlatformInfo registry;
  if (registry.getString("Cassandra", "sCassOSUser", user)) {
    registry.getString("Cassandra", "sCassOSGroup", group);
  }
  TQLOG(2, " Changing permissions User [%s], group [%s] ", user.c_str(), group.c_str());

  std::string directory;
  if (inPlace) {
    auto dirs = dataDirsByTarget.find(targetKey);
    if (dirs != dataDirsByTarget.end() && !dirs->second.empty()) directory = dirs->second.front();
  } else {
    auto staging = hostStagingPath.find(targetKey);
    directory = staging != hostStagingPath.end() ? staging->second : stagePath;
  }

  std::string command;
  CQiError e = MakeChownCommand(user, group, directory, command);
  if (e.IsError()) {
    TQLOG(-1, " Failed to change permissions on required directory of %s: %s", targetKey.c_str(),
          e.AsString().c_str());
    raisePendingCause(kEvChownFailed, e.GetMessage());
  } else {
    std::string out, err;
    if (TqProcess::system(command.c_str(), out, err, 0, false) != 0) {
      TQLOG(-1, " Failed to change permissions on required directory cmd [%s], error [%s]",
            command.c_str(), err.c_str());
      raisePendingCause(kEvChownFailed, command);
    }
  }
  QISLEEP(kChownPauseMs);

  if (!inPlace) return;
  if (!jobCtrl) {
    TQLOG(-1, "No job control client; Cassandra on %s is not brought up", targetKey.c_str());
    markReloadFailed();
    return;
  }
  if (jobCtrl->checkQuitFlag()) return;
  // What was placed is kept from here on, should the job be killed.
  if (!noteLoading(targetKey)) {
    markReloadFailed();
    return;
  }

  const int startsBefore = startsAsked;
  e = doCassandraLogic(targetKey);
  if (e.IsError()) {
    TQLOG(-1, "Failed to bring up Cassandra on %s: %s", targetKey.c_str(), e.AsString().c_str());
    markReloadFailed();
  }

  CQiString resource("refresh");
  auto keyspaces = keyspacesByInstance.find(targetKey);
  if (keyspaces == keyspacesByInstance.end() || keyspaces->second.empty()) {
    TQLOG(2, " size 0 ");
  } else {
    TQLOG(2, " calculating the request path ");
    std::string list;
    for (const std::string& keyspace : keyspaces->second) {
      if (!list.empty()) list += ",";
      list += keyspace;
    }
    resource = CQiString("refresh?keyspaces=" + list);
  }
  CQiString reply;
  e = priam->get(0, resource, reply, CQiString(""));
  if (e.IsError()) {
    TQLOG(-1, " Failed to refresh the keyspaces error [%s] [%s]", e.AsString().c_str(),
          reply.c_str());
    markReloadFailed();
    // Priam answered that it refused the refresh, and no start loaded the
    // node's folders: nothing placed was loaded. A request without an answer
    // may have loaded them; its files stay.
    const uint32_t value = e.GetValue();
    if (startsAsked == startsBefore && (value == kRefusedByPriam || value == kDeniedByPriam)) {
      noteNotLoaded(targetKey);
    }
  }
  e = priam->stopPriam();
  if (e.IsError()) TQLOG(-1, " Error stopping priam error[%s]", e.AsString().c_str());
}

CQiError CCassandraRestoreController::doCassandraLogic(const std::string& targetKey) {
  TQ_DEBUG_FUNCTION();
  std::optional<DistributedQEL::CassandraSourceTargetMapping> match;
  bool byAgentName = false;
  if (sourceTargetMappings) {
    for (const DistributedQEL::CassandraSourceTargetMapping& mapping :
         sourceTargetMappings->getMappings()) {
      std::optional<App::CassandraNode> target = mapping.getTarget();
      if (!target || !mapping.getSource()) continue;
      if (HasAgentName(*target)) {
        if (target->getAgentInstanceName() != targetKey) continue;
        byAgentName = true;
      } else if (ClientNameOf(*target) != targetKey) {
        continue;
      }
      match = mapping;
      break;
    }
  }
  if (!match) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No source node is mapped onto target %s",
                                   targetKey.c_str());
  }
  const App::CassandraNode source = *match->getSource();
  const App::CassandraNode target = *match->getTarget();
  const bool sameMachine =
      byAgentName ? source.hasAgentInstanceName() && source.getAgentInstanceName() == targetKey
                  : ClientNameOf(source) == targetKey;

  if (sameMachine) {
    TQLOG(2, " As source and destination are the same machines, not replacing dead node");
    if (!runDR) return CQiError::Success();
  } else if (replaceDeadNode) {
    auto found = priamByTarget.find(targetKey);
    if (found == priamByTarget.end() || !found->second) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for target %s", targetKey.c_str());
    }
    TqCassandra::PriamUtil& priam = *found->second;
    const std::string nodeName = source.getAddress();
    std::string confPath = target.getConfigDirectory();
    const size_t colon = confPath.find(':');
    if (colon != std::string::npos && confPath.find(':', colon + 1) == std::string::npos) {
      confPath.erase(colon);
    }
    CQiString reply;
    CQiError e =
        priam.get(0,
                  CQiString("replaceDeadNode?confpath=" + PriamQueryValue(confPath, kPathLiteral) +
                            "&nodename=" + PriamQueryValue(nodeName, kPathLiteral)),
                  reply, CQiString(""));
    if (e.IsError()) return e.Push(FXLOC);
    QISLEEP(kReplaceDeadNodePauseMs);
    const std::string body = JsonStringObject(
        {{"ConfPath", confPath}, {"Tokens", source.getTokens()}, {"Replace", "1"}});
    e = priam.get(1, CQiString("ReplaceTokens"), reply, CQiString(body));
    if (e.IsError()) return e.Push(FXLOC);
    auto dirs = dataDirsByTarget.find(targetKey);
    if (dirs == dataDirsByTarget.end() || dirs->second.empty()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "No data directory is known for target %s",
                                     targetKey.c_str());
    }
    const CQiString system = CQiPath::Append(dirs->second.front().c_str(), "system");
    if (CQiPath::IsDirectory(system)) {
      e = CQiDirectory::Remove(system, true, false);
      if (e.IsError()) return e.Push(FXLOC);
    }
  }
  CQiError e = StartCassandra(targetKey);
  if (e.IsError()) return e.Push(FXLOC);
  QISLEEP(cassandraSleepTime * 1000);
  return CQiError::Success();
}

}  // namespace TQCassandra
