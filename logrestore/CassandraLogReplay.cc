// The rolling restart of a point-in-time restore: the node utility restarts
// Cassandra on one node at a time, seeds first, and the coordinator's Priam
// confirms each node is Up again before the utility is told to clean up.

#include "logrestore/CassandraLogReplay.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>

#include "common/CassandraClientLookup.h"
#include "common/RestoreRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiSleep.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQClient.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_Focus.h"

namespace TQCassandra {

namespace {

constexpr const char* kUtilityProgram = "RoVerodaruvErad";
constexpr const char* kReportName = "CassandraServiceRestarted";
constexpr int kLaunchTimeoutSecs = 120;
constexpr int kDisconnectTimeoutSecs = 10;
// Win32 codes of the failures that have no Cassandra code of their own.
constexpr uint32_t kTimeoutCode = 1460;
constexpr uint32_t kCancelledCode = 1223;
// The longest wait between status checks a report may ask for.
constexpr uint32_t kMaxStatusWaitSecs = 3600;

std::string ClientNameOf(const CCassandraNodeInfo& node) {
  return node.nodeInfo ? node.nodeInfo->getClientName() : std::string();
}

std::string HostNameOf(const CCassandraNodeInfo& node) {
  return node.nodeInfo ? node.nodeInfo->getHostName() : std::string();
}

// A whole unsigned decimal number that fits 32 bits.
bool ParseSeconds(const std::string& text, uint32_t& seconds) {
  if (text.empty() || text.size() > 10) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > 0xFFFFFFFFull) return false;
  seconds = static_cast<uint32_t>(value);
  return true;
}

// A string member of a status row ("" when absent or of another type).
std::string StringMember(const TqJson::Object& row, const std::string& name) {
  auto it = row.find(name);
  if (it == row.end() || !it->second.isString()) return std::string();
  return it->second.getStr();
}

}  // namespace

CassandraLogReplay::CassandraLogReplay(const CassandraNodeInfoList& nodes,
                                       const boost::shared_ptr<TqCassandra::PriamUtil>& priamUtil,
                                       const std::string& stagingPath, int64_t jobId,
                                       TQJobCtrlClient* jobCtrl)
    : nodes(nodes), priamUtil(priamUtil), stagingPath(stagingPath), jobId(jobId), jobCtrl(jobCtrl) {
  if (!TQPlatformInfo().getNumber("Cassandra", "nCassandraStartWaitTime",
                                  configuredStatusWaitSecs)) {
    TQLOG(0, "Unable to fetch registry value name for Cassandra startup wait time.");
  }
  statusWaitSecs = configuredStatusWaitSecs;
  TQPlatformInfo().getNumber("Cassandra", "nCassandraRestartReportWaitTime", reportWaitSecs);
}

CassandraLogReplay::~CassandraLogReplay() {
  if (network) {
    bool ignored = false;
    network->Disconnect(kDisconnectTimeoutSecs, ignored);
  }
}

std::string CassandraLogReplay::replayArguments(const CCassandraNodeInfo& node) const {
  // A location written "<directory>:<something>" names the directory first.
  std::string confDir = node.confDir;
  if (std::count(confDir.begin(), confDir.end(), ':') == 1) {
    confDir = confDir.substr(0, confDir.find(':'));
  }
  char job[32];
  std::snprintf(job, sizeof job, "%lld", static_cast<long long>(jobId));
  // Values are quoted only where the utility's line would split them.
  std::string arguments = " --cassandraConfDirectory " + CProgramArguments::Quote(confDir);
  arguments += " --jobId " + std::string(job);
  if (node.dockerInfo) {
    arguments += " --container " + CProgramArguments::Quote(node.dockerInfo->containerName);
    arguments += " --stagingPath " + CProgramArguments::Quote(node.dockerInfo->stagingLocation);
  } else {
    arguments += " --stagingPath " + CProgramArguments::Quote(stagingPath);
  }
  return arguments;
}

CQiError CassandraLogReplay::mapNodesToConfDir() {
  for (const auto& node : nodes) {
    if (!node) continue;
    replayArgsByNode[node.get()] = replayArguments(*node);
    TQLOG(2, "Replay arguments of %s [%s]: %s", ClientNameOf(*node).c_str(), node->ip.c_str(),
          replayArgsByNode[node.get()].c_str());
  }
  return CQiError::Success();
}

CQiError CassandraLogReplay::getSeedNodes() {
  for (const auto& node : nodes) {
    if (!node || !node->nodeInfo) continue;
    const std::string hostName = HostNameOf(*node);
    if (hostName.empty()) continue;
    TQLOG(0, "Node %s, IP: %s", hostName.c_str(), node->ip.c_str());
    const bool seed =
        std::find(seeds.begin(), seeds.end(), hostName) != seeds.end() ||
        (!node->ip.empty() && std::find(seeds.begin(), seeds.end(), node->ip) != seeds.end());
    if (seed) seedNodes.push_back(node);
  }
  return CQiError::Success();
}

bool CassandraLogReplay::quitRequested() const { return jobCtrl && jobCtrl->checkQuitFlag(); }

CQiError CassandraLogReplay::Run() {
  TQ_DEBUG_FUNCTION();
  mapNodesToConfDir();
  if (!priamUtil) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "The coordinator's Priam is not running: the seed list and the "
                                   "status of the nodes cannot be read");
  }
  CQiError e = priamUtil->getCassandraSeeds(seeds);
  if (e.IsError()) {
    TQLOG(-1, "Failed to get the Cassandra seeds: %s", e.AsString(2).c_str());
    return e.Push(FXLOC);
  }
  getSeedNodes();

  CQiError firstError;
  auto restart = [&](const boost::shared_ptr<CCassandraNodeInfo>& node) {
    CQiError error;
    bool restarted = false;
    if (!node->nodeInfo) {
      error = FXErrorUtil::ErrorWin32(FXLOC, 774, "No node record for the client of node %s",
                                      node->ip.c_str());
    } else if (HostNameOf(*node).empty()) {
      error = FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to retrieve hostname for client %s",
                                      ClientNameOf(*node).c_str());
    } else {
      restarted = restartNode(*node, error);
    }
    if (restarted) return;
    if (error.IsError()) {
      TQLOG(-1, "Failed to restart Cassandra on %s [%s]: %s", ClientNameOf(*node).c_str(),
            node->ip.c_str(), error.AsString(2).c_str());
      if (!firstError.IsError()) firstError = error;
    }
    std::string name = HostNameOf(*node);
    if (name.empty()) name = !node->ip.empty() ? node->ip : ClientNameOf(*node);
    EvEvent event;
    event << name;
    event.MajorEvent(kEvNodeNotRestarted);
  };

  std::set<const CCassandraNodeInfo*> seedSet;
  for (const auto& node : seedNodes) {
    if (stopped) break;
    seedSet.insert(node.get());
    TQLOG(0, "Stating agent on seed node %s", ClientNameOf(*node).c_str());
    restart(node);
  }
  for (const auto& node : nodes) {
    if (stopped) break;
    if (!node) continue;
    if (seedSet.count(node.get())) {
      TQLOG(0, "Skipping seed node %s %s. Already restarted.", HostNameOf(*node).c_str(),
            node->ip.c_str());
      continue;
    }
    TQLOG(0, "Stating agent on non seed node %s", ClientNameOf(*node).c_str());
    restart(node);
  }

  if (restartedCount == nodes.size()) return CQiError::Success();
  TQLOG(-1, "Mismatch: restarted: %u, total: %lu", restartedCount,
        static_cast<unsigned long>(nodes.size()));
  if (firstError.IsError()) return firstError.Push(FXLOC);
  return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to restart some Cassandra nodes.");
}

bool CassandraLogReplay::restartNode(const CCassandraNodeInfo& node, CQiError& error) {
  const std::string clientName = ClientNameOf(node);
  const std::string hostName = HostNameOf(node);
  if (hostName.empty() && node.ip.empty()) {
    error = FXErrorUtil::ErrorWin32(
        FXLOC, 774, "Failed to retrieve hostname/ip address for client %s", clientName.c_str());
    return false;
  }
  if (quitRequested()) {
    stopped = true;
    error = FXErrorUtil::ErrorWin32(FXLOC, kCancelledCode,
                                    "The job was asked to stop before node %s was restarted",
                                    clientName.c_str());
    return false;
  }
  if (!StartRemoteAgent(node, true)) {
    network.reset();
    error = FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to start CassandraUtil on node %s for %s",
                                    clientName.c_str(), node.ip.c_str());
    return false;
  }

  TQLOG(0, "Agent started. Waiting to receive message");
  QISLEEP(kStartWaitSecs * 1000);
  bool restarted = false;
  CNMessageBasePtr message;
  error = receiveReport(clientName, message);
  if (error.IsError()) {
    // The utility is told not to clean up before it is let go.
    if (network->IsConnected()) sendCleanupMessage(false);
  } else {
    error = handleMessage(hostName, node.ip, *message, restarted, node.hostId);
  }
  bool ignored = false;
  network->Disconnect(kDisconnectTimeoutSecs, ignored);
  network.reset();
  if (restarted) {
    ++restartedCount;
    TQLOG(0, "Cassandra restarted on %u nodes", restartedCount);
  }
  return restarted;
}

bool CassandraLogReplay::StartRemoteAgent(const CCassandraNodeInfo& node, bool wait) {
  const std::string clientName = ClientNameOf(node);
  auto found = replayArgsByNode.find(&node);
  CNSession::tqsExecuteRemoteCommandType command;
  command.setField1(0);
  command.setProgram(kUtilityProgram);
  command.setArguments(found == replayArgsByNode.end() ? std::string() : found->second);
  command.setWaitFlag(wait ? 1 : 0);
  command.setField5(0);
  TQLOG(0, "Starting remote agent [%s]:[%s]", clientName.c_str(), node.ip.c_str());

  const std::string localClient = CassandraClientLookup::LocalClientName();
  CQiString mangled;
  TQClient(clientName.c_str(), TQ_NAME_TYPE_CLIENT, 0, nullptr)
      .getNetworkHostnameMangled(mangled, nullptr);
  if (mangled.str().empty()) {
    TQLOG(-1, "Failed to get mangled host name from [%s].", clientName.c_str());
    return false;
  }
  TQLOG(0, "Mangled host name [%s]", mangled.c_str());

  if (!network) network.reset(new CTqNetwork());
  bool timedOut = false;
  CQiError e = network->Attach_RemoteCommand(mangled.c_str(), command, nullptr, localClient.c_str(),
                                             kLaunchTimeoutSecs, timedOut);
  if (e.IsError()) {
    uint32_t code = 0;
    CQiString text;
    network->GetLastErrorGenericText(code, text, 0);
    if (!text.str().empty()) {
      TQLOG(-1, "Failed to launch agent on [%s] ERROR %lx %s", clientName.c_str(),
            static_cast<unsigned long>(code), text.c_str());
    }
    return false;
  }
  if (timedOut) {
    TQLOG(-1, "Timed out while launching CassandraUtil on %s", clientName.c_str());
    return false;
  }
  TQLOG(0, "Started Agent [%s]", clientName.c_str());
  return true;
}

CQiError CassandraLogReplay::receiveReport(const std::string& clientName,
                                           CNMessageBasePtr& message) {
  uint32_t remaining = reportWaitSecs;
  for (;;) {
    if (quitRequested()) {
      stopped = true;
      TQLOG(-1, "QuitFlag detected while waiting for the restart report of %s", clientName.c_str());
      return FXErrorUtil::ErrorWin32(FXLOC, kCancelledCode,
                                     "The job was asked to stop while node %s was restarting",
                                     clientName.c_str());
    }
    const uint32_t slice = std::max<uint32_t>(1, std::min(remaining, kReportSliceSecs));
    bool timedOut = false;
    message.reset();
    CQiError e =
        network->ReceiveXMLMessage(nullptr, message, nullptr, 0, static_cast<int>(slice), timedOut);
    if (e.IsError()) {
      TQLOG(-1, "Failed to receive the restart report of %s: %s", clientName.c_str(),
            e.AsString(2).c_str());
      return e.Push(FXLOC);
    }
    if (!timedOut) {
      if (message) return CQiError::Success();
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Empty restart report from node %s",
                                     clientName.c_str());
    }
    remaining = remaining > slice ? remaining - slice : 0;
    if (remaining == 0) {
      TQLOG(-1, "No restart report from %s within %u seconds", clientName.c_str(), reportWaitSecs);
      return FXErrorUtil::ErrorWin32(FXLOC, kTimeoutCode,
                                     "No restart report from node %s within %u seconds",
                                     clientName.c_str(), reportWaitSecs);
    }
  }
}

CQiError CassandraLogReplay::handleMessage(const std::string& hostName, const std::string& ip,
                                           const CNMessageBase& message, bool& restarted,
                                           const std::string& hostId) {
  TQLOG(0, "Handle received message");
  restarted = false;
  std::optional<DistributedQEL::DINameValue> report =
      RecordAs<DistributedQEL::DINameValue>(message);
  if (!report) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to cast the message");

  bool up = false;
  if (report->getName() == kReportName && report->getValue() != "false") {
    // A report without a usable number leaves the configured wait.
    if (!ParseSeconds(report->getValue(), statusWaitSecs)) {
      statusWaitSecs = configuredStatusWaitSecs;
      TQLOG(0, "The restart report names no wait [%s]; checking every %u seconds",
            report->getValue().c_str(), statusWaitSecs);
    } else if (statusWaitSecs > kMaxStatusWaitSecs) {
      TQLOG(0, "The restart report asks for %u seconds between status checks; waiting %u",
            statusWaitSecs, kMaxStatusWaitSecs);
      statusWaitSecs = kMaxStatusWaitSecs;
    }
    for (int check = 1; check <= kStatusChecks; ++check) {
      if (isNodeUp(hostName, ip, hostId)) {
        TQLOG(0, "Cassandra on node %s:%s restarted", hostName.c_str(), ip.c_str());
        up = true;
        break;
      }
      if (check < kStatusChecks) {
        TQLOG(2, "Retrying in %u seconds", statusWaitSecs);
        QISLEEP(statusWaitSecs * 1000);
      }
    }
  }
  if (!up) return sendCleanupMessage(false);

  const std::string focusHost = TQPI_Focus::getFocusHostName().str();
  if (!focusHost.empty() && (focusHost == hostName || focusHost == ip)) {
    uint32_t extra = kDefaultCoordinatorWaitSecs;
    TQPlatformInfo().getNumber("Cassandra", "nCassandraStartWaitTimeOnCoordinator", extra);
    extra = std::min(extra, kMaxStatusWaitSecs);
    TQLOG(2, "Sleeping for additional %u seconds for this node to finish Log Replay", extra);
    QISLEEP(extra * 1000);
  }
  CQiError e = sendCleanupMessage(true);
  if (e.IsError()) return e;
  restarted = true;
  return CQiError::Success();
}

bool CassandraLogReplay::isNodeUp(const std::string& hostName, const std::string& ip,
                                  const std::string& hostId) {
  CQiString reply;
  CQiError e = priamUtil->get(0, CQiString("status"), reply, CQiString(""));
  if (e.IsError()) {
    TQLOG(-1, "Failed to fetch Cassandra node status: %s", e.AsString(2).c_str());
    return false;
  }
  TqJson::Array rows;
  if (!TqJson::Unserialize(reply.str(), rows)) {
    TQLOG(-1, "Failed to fetch Cassandra node status: the reply is not a JSON array: %s",
          reply.c_str());
    return false;
  }
  for (const TqJson::Value& value : rows) {
    if (!value.isObject()) continue;
    const TqJson::Object& row = value.getObject();
    const std::string node = StringMember(row, "node");
    if (node.empty() || (node != hostName && node != ip)) continue;
    if (!hostId.empty() && StringMember(row, "hostid") != hostId) continue;
    return StringMember(row, "nodestatus") == "Up";
  }
  return false;
}

CQiError CassandraLogReplay::sendCleanupMessage(bool cleanup) {
  DistributedQEL::DINameValue answer("cleanup", cleanup ? "true" : "false");
  TQLOG(0, "Sending cleanup message to the controller");
  bool timedOut = false;
  CQiError e = network->SendXMLMessage(answer, 0, -1, timedOut);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
