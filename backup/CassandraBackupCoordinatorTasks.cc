// The backup coordinator's side of a node's life once its controller starts:
// stream share, argument line and collect-file request; the tasks made from
// the node's collect files, their hand-out to streams, failures and
// completions; the collect file mapping file; stopping finished nodes.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <set>

#include "backup/CassandraBackupCoordinator.h"
#include "backup/CassandraMetaKeyspace.h"
#include "backup/CassandraNodeInfo.h"
#include "backup/CollectFileMapping.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/RestartString.h"
#include "platform/framework/StreamInfo.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TQCassandra {

using DistributedQEL::CNodeInfoPtr;
using DistributedQEL::CStreamInfoPtr;
using DistributedQEL::TaskBase;
using DistributedQEL::TaskBasePtr;
using TQDC_FileSystem::CollectFileInfo;
using TQDC_FileSystem::CollectFileInfoPtr;

namespace {

constexpr uint32_t EV_CONTROLLER_DETAILS_MISSING = 0x60003D2;
// The backup's stream kind.
constexpr int kBackupStreams = 1;
constexpr int kBackupTaskKind = 1;
constexpr int kBackupTaskPriority = 50;

// A decimal number as the C library reads it (leading digits, 0 when none),
// held to the range of int.
int DecimalInt(const std::string& text) {
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)));
}

int64_t Decimal64(const std::string& text) {
  return static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 10));
}

// The client a node key belongs to.
std::string ClientPart(const std::string& nodeKey, bool dockerConfig) {
  if (!dockerConfig) return nodeKey;
  size_t underscore = nodeKey.rfind('_');
  return underscore == std::string::npos ? nodeKey : nodeKey.substr(0, underscore);
}

bool Contains(const std::list<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool CassandraTaskByPriorityAndReservation(const TaskBasePtr& a, const TaskBasePtr& b) {
  bool aReserved = !a->reservedNode.empty();
  bool bReserved = !b->reservedNode.empty();
  if (aReserved != bReserved) return !aReserved;
  if (a->priority != b->priority) return a->priority < b->priority;
  size_t aFailed = a->failedStreamCount();
  size_t bFailed = b->failedStreamCount();
  if (aFailed != bFailed) return aFailed < bFailed;
  return false;
}

std::string CassandraBackupCoordinator::mappingFilePath() const {
  const DistributedQEL::CClientConfigPtr& config = getClientConfig();
  if (!config) return CollectFileMapping::FileName(0);
  return CollectFileMapping::Path(config->getJobResultsDirectory(), config->getJobId());
}

// ---------------------------------------------------------------------------
// Node start-up.

CQiError CassandraBackupCoordinator::getStreamReservationInfoForNode(CNodeInfoPtr& node) {
  TQ_DEBUG_FUNCTION();
  if (!node) return CQiError::Success();
  size_t nodeCount = std::max<size_t>(1, getNodes().size());
  int32_t streams = getClientConfig() ? getClientConfig()->getNumberOfStreams() : 0;
  int share = static_cast<int>(std::ceil(static_cast<double>(streams) / nodeCount));
  // Once the job start has sized each node's range of collect-file numbers
  // (two per stream of the node's share), the node is given that same share:
  // it passes as "-numstreams" to the controller, which splits its collect
  // files into exactly the range's numbers, so the numbered and the surplus
  // collect files are the ones the tasks expect.
  if (tasksPerNode > 0) share = static_cast<int>(tasksPerNode / 2);
  // A node restored from the mapping file keeps the range of its first run.
  CassandraNodeInfoPtr info = CassandraNodeInfo::Of(findNodeInfoByNodeName(node->getClientName()));
  if (info && info->rangeWidth > 0) share = (info->rangeWidth + 1) / 2;
  int limit = node->getCPUCount() != 0 ? node->getCPUCount() : share;
  node->setStreamLimit(kBackupStreams, limit);
  node->setMaxStreamsNeeded(kBackupStreams, share);
  node->setNodeWorkersLimit(share);
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::getCommandArgumentsForNode(CNodeInfoPtr& node,
                                                                std::string& arguments) {
  TQ_DEBUG_FUNCTION();
  if (!node) return CQiError::Success();
  CassandraNodeInfoPtr info = CassandraNodeInfo::Of(findNodeInfoByNodeName(node->getClientName()));
  int collectFileStart = info ? info->collectFileStart : 0;
  if (!info) TQLOG(-1, "No Cassandra node details for node %s", node->getClientName().c_str());
  const DistributedQEL::CClientConfigPtr& config = getClientConfig();
  arguments = CFrameworkArguments::FormatNodeLine(
      node->getMaxStreamsNeeded(kBackupStreams), config ? config->getBackupLevel() : 0,
      config ? config->getMediaAgentName() : std::string(), collectFileStart);
  return CQiError::Success();
}

DistributedQEL::CassandraNodeKeyspace* CassandraBackupCoordinator::findInstanceObjByInstance(
    std::vector<DistributedQEL::CassandraNodeKeyspace>* list, const std::string& key) {
  if (list == nullptr) return nullptr;
  for (DistributedQEL::CassandraNodeKeyspace& entry : *list) {
    std::optional<App::CassandraNode> node = entry.getNode();
    if (node && nodeKey(*node) == key) return &entry;
  }
  return nullptr;
}

CQiError CassandraBackupCoordinator::getNodeStartAcknowledgeMessage(CNodeInfoPtr& node,
                                                                    FrameworkMessagePtr& message) {
  TQ_DEBUG_FUNCTION();
  if (!node) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No node to acknowledge");
  const std::string clientName = node->getClientName();
  CassandraNodeInfoPtr info = CassandraNodeInfo::Of(findNodeInfoByNodeName(clientName));
  if (!info) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Cassandra node details for node %s",
                                   clientName.c_str());
  }
  if (!clientConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The coordinator has no configuration");
  }

  bool reportReceived;
  {
    auto_lock lock(getCoordinatorLock());
    reportReceived = info->collectReportReceived;
  }
  if (reportReceived) {
    TQLOG(0, "Sending NodeInit");
    FrameworkMessagePtr init(new (std::nothrow) DistributedQEL::NodeInit());
    if (!init) return CQiError(CQiError::MakeCode(CQiError::kWin32, 14)).Push(FXLOC);
    message = init;
    return CQiError::Success();
  }

  if (!metadataAvailable) {
    TQLOG(-1, "Error while getting metadata from the Cassandra cluster. Response: %s",
          metaJson.c_str());
    return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                   "Failed to get metaData from Priam. Not continuing.");
  }
  if (metaJson.IsEmpty()) {
    CQiError error = priam ? priam->get(0, CQiString("getMeta"), metaJson, CQiString(""))
                           : FXErrorUtil::ErrorWin32(FXLOC, 1359, "Priam is not running");
    if (error.IsError()) {
      metadataAvailable = false;
      TQLOG(-1, "Error while getting metadata from the Cassandra cluster. Error: %s, Response: %s",
            error.AsString(2).c_str(), metaJson.c_str());
      handlePriamError(error, kEvPriamRequestFailed, "getMeta");
      return error.Push(FXLOC);
    }
    TQLOG(2, "Response: %s", metaJson.c_str());
  }

  // One entry per Cassandra node of the client, keyspaces added below.
  std::vector<DistributedQEL::CassandraNodeKeyspace> entries;
  for (const App::CassandraNode& cassandraNode : info->cassandraNodes) {
    DistributedQEL::CassandraNodeKeyspace entry;
    entry.setNode(cassandraNode);
    entry.setKeyspaces({});
    entries.push_back(entry);
  }

  if (!clientConfig->commitLogJob) {
    std::vector<CassandraMetaKeyspace> keyspaces;
    CQiError read = CassandraMetaKeyspace::ReadReply(metaJson.str(), keyspaces);
    if (read.IsError()) {
      // Every later node would meet the same reply.
      metadataAvailable = false;
      TQLOG(-1, "Error while getting metadata from the Cassandra cluster. Error: %s, Response: %s",
            read.AsString(2).c_str(), metaJson.c_str());
      handlePriamError(read, kEvPriamRequestFailed, "getMeta");
      return read.Push(FXLOC);
    }

    for (auto& content : nodeKeyspaces) {
      const std::string& nodeKey = content.first;
      std::list<std::string>& selected = content.second;
      TQLOG(0, "Instance: %s, Content size: %lu", nodeKey.c_str(),
            static_cast<unsigned long>(selected.size()));
      if (ClientPart(nodeKey, dockerConfig) != clientName) continue;
      DistributedQEL::CassandraNodeKeyspace* entry = findInstanceObjByInstance(&entries, nodeKey);
      if (entry == nullptr) {
        TQLOG(-1, "No Cassandra node %s on node %s", nodeKey.c_str(), clientName.c_str());
        continue;
      }
      const bool wholeNode = selected.empty();
      const bool fullNodeKey = Contains(fullNodeKeys, nodeKey);
      std::vector<DistributedQEL::CassandraKeyspace> sent = entry->getKeyspaces();
      for (const CassandraMetaKeyspace& keyspace : keyspaces) {
        bool simpleStrategy = keyspace.replicationClass.find("SimpleStrategy") != std::string::npos;
        if (wholeNode && !fullClusterBackup && simpleStrategy) continue;
        if (!wholeNode && !Contains(selected, keyspace.name) && !fullNodeKey) continue;
        DistributedQEL::CassandraKeyspace record;
        record.setKeyspaceName(keyspace.name);
        std::vector<DistributedQEL::CassandraTable> tables;
        for (const auto& table : keyspace.tables) {
          DistributedQEL::CassandraTable tableRecord;
          tableRecord.setTableName(table.first);
          tableRecord.setTableId(table.second);
          tables.push_back(tableRecord);
        }
        record.setTables(tables);
        sent.push_back(record);
        if (!Contains(selected, keyspace.name)) selected.push_back(keyspace.name);
      }
      entry->setKeyspaces(sent);
    }
  }

  boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles> request(
      new (std::nothrow) DistributedQEL::CassandraCreateCollectFiles());
  if (!request) return CQiError(CQiError::MakeCode(CQiError::kWin32, 14)).Push(FXLOC);
  request->setNodeKeyspaces(entries);
  request->setClusterName(clientConfig->clusterName);

  std::vector<DistributedQEL::DINameValue> options;
  options.emplace_back("CreateCollectFiles",
                       taskStatusByClient.count(node->getClientID()) ? "n" : "y");
  if (!jmxConfigXml.empty()) options.emplace_back("JMXConfig", jmxConfigXml);
  if (!authConfigXml.empty()) options.emplace_back("AuthConfig", authConfigXml);
  if (clientConfig->commitLogJob) {
    options.emplace_back("CommitLogBackupCmd", clientConfig->archiveCommand);
    options.emplace_back("CommitLogBackupDir", clientConfig->archiveDirectory);
  } else {
    std::vector<App::CassandraNodeStatus> statuses;
    for (const auto& last : lastStatusXml) {
      TQLOG(2, "Node %s : %s", last.first.c_str(), last.second.c_str());
      if (ClientPart(last.first, dockerConfig) != clientName) continue;
      App::CassandraNodeStatus status;
      status.unserialize(last.second);
      statuses.push_back(status);
    }
    App::CassandraLastBackupStatus lastStatus;
    lastStatus.setNodeStatuses(statuses);
    std::string statusXml;
    lastStatus.serialize(statusXml);
    TQLOG(2, "Sending status to Controller: %s", statusXml.c_str());
    options.emplace_back("LastBackupStatus", statusXml);
  }
  if (clientConfig->extentBackup && clientConfig->extentSize != 0) {
    options.emplace_back(
        "ExtentSize",
        FXString::Format("%llu", static_cast<unsigned long long>(clientConfig->extentSize)));
  }
  if (clientConfig->extentBackup && clientConfig->largeFileThreshold != 0) {
    options.emplace_back("LargeFileThreshold",
                         FXString::Format("%llu", static_cast<unsigned long long>(
                                                      clientConfig->largeFileThreshold)));
  }
  request->setOptions(options);

  TQLOG(0, "Sending CassandraCreateCollectFiles");
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 2) {
    std::string xml;
    request->serialize(xml);
    TQLOG(2, "CassandraCreateCollectFiles XML :%s", xml.c_str());
  }
  message = request;
  return CQiError::Success();
}

// ---------------------------------------------------------------------------
// Start-up and done reports.

void CassandraBackupCoordinator::ControllerStarted(CNodeInfoPtr& node,
                                                   DistributedQEL::ControllerStartup* report) {
  TQ_DEBUG_FUNCTION();
  if (report == nullptr) {
    TQLOG(-1, "NULL ControllerStartup message");
    return;
  }
  if (!node) return;
  const std::string clientName = node->getClientName();
  if (!report->isSet(9)) {
    TQLOG(-1, "Did not receive Cassandra specific details");
    nodeSkipped = true;
    EvEvent event;
    event << clientName;
    event.CriticalEvent(EV_CONTROLLER_DETAILS_MISSING);
    return;
  }

  bool firstReport = false;
  int count = -1;
  int start = -1;
  for (const DistributedQEL::DINameValue& value : report->getValues()) {
    const std::string name = value.getName();
    if (name == "CassandraStartup") {
      firstReport = true;
    } else if (name == "FailedInstances") {
      if (!value.getValue().empty()) nodeSkipped = true;
    } else if (name == "CollectFileCount") {
      count = DecimalInt(value.getValue());
    } else if (name == "CollectFileStart") {
      start = DecimalInt(value.getValue());
    }
  }
  if (firstReport) return;

  auto_lock lock(getCoordinatorLock());
  CNodeInfoPtr registered = findNodeInfoByNodeName(clientName);
  CassandraNodeInfoPtr info = CassandraNodeInfo::Of(registered ? registered : node);
  if (info) {
    info->collectReportReceived = true;
  } else {
    TQLOG(-1, "No Cassandra node details for node %s", clientName.c_str());
  }

  if (count < 1 || start < 1) {
    TQLOG(-1, "Did not receive collect file details");
    auto known = taskStatusByClient.find(node->getClientID());
    if (known != taskStatusByClient.end()) {
      std::vector<std::string> pieces;
      FXString::Split(known->second, "|", pieces);
      start = CollectFileMapping::FirstTaskNumber(known->second);
      count = static_cast<int>(pieces.size()) - 1;
    }
  }
  if (count < 1 || start < 1) {
    TQLOG(-1, "Could not fetch collect file details from mapping file either");
    nodeSkipped = true;
    if (info) info->tasksSettled = true;
    EvEvent event;
    event << clientName;
    event.CriticalEvent(EV_CONTROLLER_DETAILS_MISSING);
    TQLOG(0, "stopping node %s", clientName.c_str());
    CQiError error =
        sendMessageToNode(clientName, FrameworkMessagePtr(new DistributedQEL::NodeStop()));
    if (error.IsError()) {
      TQLOG(-1, "Failed to send NodeStop to node %s: %s", clientName.c_str(),
            error.AsString(2).c_str());
    } else {
      node->setState(DistributedQEL::NODE_STOPPING);
    }
    return;
  }

  TQLOG(0, "Node %s created %d collect files starting from id %d", clientName.c_str(), count,
        start);
  createTasksForNode(node, count, start);
}

void CassandraBackupCoordinator::ControllerDone(CNodeInfoPtr& node,
                                                DistributedQEL::ControllerDone* report) {
  TQ_DEBUG_FUNCTION();
  if (report == nullptr) {
    TQLOG(-1, "NULL ControllerDone message");
    return;
  }
  if (!report->isSet(6)) {
    TQLOG(-1, "Did not receive Cassandra specific details");
    return;
  }
  const std::string clientName = node ? node->getClientName() : std::string();
  auto_lock lock(getCoordinatorLock());
  for (const DistributedQEL::DINameValue& value : report->getValues()) {
    const std::string name = value.getName();
    if (name == "CassandraKeyspaceStatus") {
      keyspaceStatusXmls.push_back(value.getValue());
    } else if (name == "CassandraNodeBackupTime") {
      const std::string time = value.getValue();
      TQLOG(0, "Received node %s backup time %s", clientName.c_str(), time.c_str());
      // A node that lost its state files on a restart reports 0: that is no
      // time, so the node's last time is read back from the index instead of
      // a 0 being written over it.
      const int64_t seconds = time.empty() ? 0 : Decimal64(time);
      if (seconds > 0) nodeBackupTime[clientName] = seconds;
    }
  }
}

// ---------------------------------------------------------------------------
// Tasks.

void CassandraBackupCoordinator::createTasksForNode(CNodeInfoPtr& node, int count, int start) {
  TQ_DEBUG_FUNCTION();
  if (!node) return;
  // Held throughout, so no stream sees the list half made or a task that the
  // restart entries below are about to mark complete.
  auto_lock lock(getCoordinatorLock());
  const std::string clientName = node->getClientName();
  const uint32_t clientId = node->getClientID();

  CNodeInfoPtr registered = findNodeInfoByNodeName(clientName);
  CassandraNodeInfoPtr nodeInfo = CassandraNodeInfo::Of(registered ? registered : node);
  const uint32_t width = nodeInfo && nodeInfo->rangeWidth > 0
                             ? static_cast<uint32_t>(nodeInfo->rangeWidth)
                             : tasksPerNode;
  // A node restored from the mapping file keeps the task numbers its line
  // recorded, surplus ones included.
  auto known = taskStatusByClient.find(clientId);
  const std::vector<int> recorded = known != taskStatusByClient.end()
                                        ? CollectFileMapping::TaskNumbers(known->second)
                                        : std::vector<int>();

  std::string line = std::to_string(clientId) + " ";
  TQLOG(1, "Tasks preallocated per node: %u", width);
  std::vector<TaskBasePtr> made;
  for (int i = 1; i <= count; ++i) {
    TaskBasePtr task(new TaskBase());
    task->status = DistributedQEL::TASK_NEW;
    task->taskKind = kBackupTaskKind;
    task->priority = kBackupTaskPriority;
    task->reservedNode = clientName;
    CollectFileInfoPtr info(new CollectFileInfo());
    if (static_cast<size_t>(i) <= recorded.size()) {
      task->taskId = recorded[i - 1];
      // A numbered collect file carries its task's number; a surplus one is
      // still under its temporary name with ordinal i, or already moved.
      info->collectFileNumber =
          task->taskId == start + i - 1 && static_cast<uint32_t>(i) <= width ? task->taskId : i;
    } else if (static_cast<uint32_t>(i) <= width) {
      task->taskId = start + i - 1;
      info->collectFileNumber = task->taskId;
    } else {
      // A surplus collect file, still under its temporary name with ordinal i.
      task->taskId = static_cast<int>(nextTaskId++);
      info->collectFileNumber = i;
    }
    info->resumeOffset = -1;
    task->customInfo = info;
    addTask(task);
    made.push_back(task);
    TQLOG(0, "Added task for ref id %d and collect file %d for node %s", task->taskId,
          info->collectFileNumber, clientName.c_str());
    line += std::to_string(task->taskId) + ":0|";
  }

  if (nodeInfo) nodeInfo->tasksSettled = true;
  if (clientConfig) clientConfig->setTasksCreated(true);

  if (known == taskStatusByClient.end()) {
    const std::string path = mappingFilePath();
    TQLOG(2, "Writing into mapping file %s", path.c_str());
    CQiError error = CollectFileMapping::AppendLine(path, line);
    if (error.IsError()) {
      TQLOG(-1, "Failed to open mapping file");
      TQLOG(-1, "%s", error.AsString(2).c_str());
    } else {
      TQLOG(2, "Writing into mapping file %s", path.c_str());
    }
  }

  // Restart entries of a resumed job: "-o <task>|<offset>", -1 = complete.
  // An entry applies only to a task of this node that its mapping-file line
  // holds: a number new to this run was never run before.
  auto recordedHere = [&recorded](int number) {
    return std::find(recorded.begin(), recorded.end(), number) != recorded.end();
  };
  if (getJobClient() && !recorded.empty()) {
    CQiString restart;
    getJobClient()->getRestartString(restart, 0);
    if (!restart.IsEmpty()) {
      TQLOG(0, "Restart String: %s", restart.c_str());
      for (const TQDC_FileSystem::RestartInfo& entry :
           TQDC_FileSystem::CRestartString::Parse(restart.str())) {
        if (!recordedHere(entry.taskId)) continue;
        for (const TaskBasePtr& task : made) {
          if (task->taskId != entry.taskId) continue;
          CollectFileInfoPtr info = boost::dynamic_pointer_cast<CollectFileInfo>(task->customInfo);
          if (info) info->resumeOffset = entry.offset;
          if (entry.offset == -1) {
            task->status = DistributedQEL::TASK_COMPLETE;
            TQLOG(0, "Task %d is complete from restart string", task->taskId);
          }
        }
      }
    }
  }

  // Tasks a restarted job already completed, from this node's own line.
  if (known != taskStatusByClient.end()) {
    TQLOG(0, "Task status string for node %s: %s", clientName.c_str(), known->second.c_str());
    std::vector<int> complete;
    CollectFileMapping::TaskNumbers(known->second, &complete);
    for (int number : complete) {
      for (const TaskBasePtr& task : made) {
        if (task->taskId != number) continue;
        task->status = DistributedQEL::TASK_COMPLETE;
        TQLOG(0, "Task %d is complete from collect file mapping", task->taskId);
      }
    }
  }
}

CQiError CassandraBackupCoordinator::getTask(CNodeInfoPtr& node, CStreamInfoPtr& stream,
                                             DistributedQEL::TaskInfoPtr& task) {
  TQ_DEBUG_FUNCTION();
  auto_lock lock(getCoordinatorLock());
  if (!node || !stream) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No node or stream for a task");
  const std::string& clientName = node->getClientName();

  std::vector<TaskBasePtr> candidates;
  for (const TaskBasePtr& candidate : getTaskList()) {
    if (!candidate || candidate->reservedNode != clientName) continue;
    TQLOG(2, "task %d status %d", candidate->taskId, candidate->status);
    if (candidate->status == DistributedQEL::TASK_NEW) {
      candidates.push_back(candidate);
    } else if (candidate->status == DistributedQEL::TASK_REASSIGN) {
      auto failed = candidate->failedStreams.find(clientName);
      if (failed == candidate->failedStreams.end() ||
          failed->second.count(stream->getStreamNumber()) == 0) {
        candidates.push_back(candidate);
      } else if (static_cast<int>(failed->second.size()) >=
                 node->getStreamCount(stream->getStreamKind())) {
        TQLOG(0,
              "there are no other streams running on the reserved node. will try to start new "
              "worker");
        CQiError error = addWorker(clientName, stream->getStreamKind() != 0, PropertyMap());
        if (error.IsError()) return error.Push(FXLOC);
        task.reset();
        return CQiError::Success();
      }
    }
  }

  std::stable_sort(candidates.begin(), candidates.end(), CassandraTaskByPriorityAndReservation);
  TQLOG(0, "got %d tasks to be executed", static_cast<int>(candidates.size()));
  const int wantedKind = stream->getRequestedTaskKind();
  TaskBasePtr chosen;
  for (const TaskBasePtr& candidate : candidates) {
    if (wantedKind == 0 || candidate->taskKind == wantedKind) {
      chosen = candidate;
      break;
    }
  }
  if (!chosen) return FXErrorUtil::ErrorWin32(FXLOC, 259, "no more tasks found");
  TQLOG(0, "got task %d reserved for node %s", chosen->taskId, clientName.c_str());

  CollectFileInfoPtr info = boost::dynamic_pointer_cast<CollectFileInfo>(chosen->customInfo);
  if (!task) task.reset(new DistributedQEL::TaskInfo());
  CNMessageBase* taskId = task->getObjectAccessor(2, 2, true, DistributedQEL::TaskID::kNamespaceId,
                                                  DistributedQEL::TaskID::kClassId);
  taskId->setint64(1, 1, chosen->taskId);
  task->setPayload(FXString::Format("%d|%lld", info ? info->collectFileNumber : chosen->taskId,
                                    static_cast<long long>(info ? info->resumeOffset : -1)));
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::OnTaskChange(const TaskBasePtr& task,
                                                  DistributedQEL::TakeAction& action) {
  TQ_DEBUG_FUNCTION();
  if (!task) return CQiError::Success();
  auto_lock lock(getCoordinatorLock());
  if (task->status == DistributedQEL::TASK_COMPLETE) {
    CQiError error = markTaskCompleteInMappingFile(task->runningNode, task->taskId);
    if (error.IsError()) {
      TQLOG(-1, "Task %d of node %s is complete but is not recorded in the mapping file: %s",
            task->taskId, task->runningNode.c_str(), error.AsString(2).c_str());
    }
    return CQiError::Success();
  }
  if (getJobCtrlClient() && getJobCtrlClient()->checkQuitFlag()) return CQiError::Success();
  if (task->status != DistributedQEL::TASK_FAILED) return CQiError::Success();

  const std::string runningNode = task->runningNode;
  std::set<int>& failed = task->failedStreams[runningNode];
  failed.insert(task->streamId);

  std::vector<CStreamInfoPtr> streams;
  CQiError error = getStreams(streams, CNodeInfoPtr(), DistributedQEL::STREAM_STATUS_ANY,
                              DistributedQEL::STREAM_KIND_ANY);
  if (error.IsError()) {
    TQLOG(-1, "Failed to get the streams of the job: %s", error.AsString(2).c_str());
    streams.clear();
  }
  bool otherStream = std::any_of(streams.begin(), streams.end(), [&](const CStreamInfoPtr& s) {
    return s && s->getNodeName() == runningNode && s->isActive() &&
           failed.count(s->getStreamNumber()) == 0;
  });

  CollectFileInfoPtr info = boost::dynamic_pointer_cast<CollectFileInfo>(task->customInfo);
  if (info) ++info->failureCount;

  if (otherStream) {
    TQLOG(0, "task %d failed. will reassign to another stream", task->taskId);
    task->status = DistributedQEL::TASK_REASSIGN;
    task->runningNode.clear();
    int64_t offset = GetTaskCommitOffset(task);
    if (offset < 0) offset = 0;
    if (info) info->resumeOffset = offset;
    TQLOG(0, "Task %d will be reassigned and resumed from offset %lld", task->taskId,
          static_cast<long long>(offset));
  } else {
    action.action = 0;
    TQLOG(-1, "Task %d failed", task->taskId);
  }
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::markTaskCompleteInMappingFile(std::string nodeName,
                                                                   int taskNumber) {
  TQ_DEBUG_FUNCTION();
  auto_lock lock(getCoordinatorLock());
  CNodeInfoPtr node = findNodeInfoByNodeName(nodeName);
  if (!node) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Node %s of task %d is not a node of the job",
                                   nodeName.c_str(), taskNumber);
  }
  const uint32_t clientId = node->getClientID();
  const std::string path = mappingFilePath();
  TQLOG(2, "Reading from mapping file %s into temporary map", path.c_str());
  std::vector<std::string> lines;
  CQiError error = CollectFileMapping::ReadLines(path, lines);
  if (error.IsError()) return error.Push(FXLOC);

  std::vector<std::string> rewritten;
  std::set<uint32_t> seen;
  bool marked = false;
  for (const std::string& line : lines) {
    std::string trimmed = line;
    FXString::TrimWhiteSpace(trimmed);
    if (trimmed.empty()) continue;
    uint32_t id = 0;
    std::string status;
    if (!CollectFileMapping::ParseLine(trimmed, id, status)) {
      // Not ours to judge: keep it for whoever wrote it.
      TQLOG(1, "Keeping mapping file line as it is: %s", line.c_str());
      rewritten.push_back(line);
      continue;
    }
    if (!seen.insert(id).second) continue;  // the first line of a client wins
    if (id == clientId) {
      std::string updated;
      if (CollectFileMapping::MarkComplete(status, taskNumber, updated)) {
        TQLOG(2, "Changing status of task in temporary map");
        marked = true;
      }
      status = updated;
      TQLOG(0, "Updating status string for node %s to %s", nodeName.c_str(), status.c_str());
    }
    rewritten.push_back(std::to_string(id) + " " + status);
  }
  if (!marked) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Task %d is not in the mapping file line of node %s",
                                   taskNumber, nodeName.c_str());
  }
  error = CollectFileMapping::Rewrite(path, rewritten);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

// ---------------------------------------------------------------------------
// Idle and node changes.

void CassandraBackupCoordinator::OnIdle() {
  auto_lock lock(getCoordinatorLock());
  if (!clientConfig || !clientConfig->getTasksCreated()) return;
  for (const TaskBasePtr& task : getTaskList()) {
    if (task && task->status != DistributedQEL::TASK_COMPLETE) return;
  }
  for (const CNodeInfoPtr& node : getNodes()) {
    if (!node || node->getState() != DistributedQEL::NODE_RUNNING) continue;
    CassandraNodeInfoPtr info = CassandraNodeInfo::Of(node);
    if (!info || !info->tasksSettled) continue;
    int running = 0;
    for (int kind : node->getStreamTypes()) running += node->getStreamCount(kind);
    const std::string& clientName = node->getClientName();
    TQLOG(0, "node %s has %d running streams. %s", clientName.c_str(), running,
          running == 0 ? "will stop the node" : "");
    if (running != 0) continue;
    TQLOG(0, "stopping node %s", clientName.c_str());
    CQiError error =
        sendMessageToNode(clientName, FrameworkMessagePtr(new DistributedQEL::NodeStop()));
    if (error.IsError()) TQLOG(-1, "%s", error.AsString(2).c_str());
    node->setState(DistributedQEL::NODE_STOPPING);
  }
}

CQiError CassandraBackupCoordinator::OnNodeChange(const CNodeInfoPtr& node,
                                                  DistributedQEL::TakeAction& action) {
  TQ_DEBUG_FUNCTION();
  action.action = 0;
  CQiError error = DistributedQEL::ICoordinator::OnNodeChange(node, action);
  if (error.IsError()) return error.Push(FXLOC);
  if (node && (node->isStartFailed() || node->isAborted())) {
    TQLOG(-1, "Node %s has failed to start or aborted", node->getClientName().c_str());
    nodeSkipped = true;
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
