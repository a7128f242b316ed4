#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "logrestore/CassandraNodeInfo.h"
#include "platform/base/QiError.h"
#include "platform/msg/NMessageBase.h"

class CTqNetwork;
class TQJobCtrlClient;
namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The rolling restart that makes Cassandra replay the restored commit logs:
// one node at a time, seed nodes first, it starts the node utility
// "RoVerodaruvErad" on the node's client through the remote-command channel,
// waits for its "CassandraServiceRestarted" report, checks through the
// coordinator's Priam that the node is Up again (at most six "status"
// checks), and answers the utility "cleanup" "true" (Up) or "false".
//
// A node that fails (no record, no utility, no report in time, a wrong
// reply, never Up) raises EV_NODE_NOT_RESTARTED and the replay goes on with
// the next node, so that no node keeps its restore settings because another
// one failed; Run then fails. Every wait goes through the sleep hook; the
// wait for a report is bounded by "Cassandra"/nCassandraRestartReportWaitTime
// seconds (default 600) and ends when the job's quit flag is raised, which
// also ends the replay.
class CassandraLogReplay {
 public:
  static constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;
  // Seconds between the start of the utility and the first look for its
  // report, and the number of status checks per node.
  static constexpr uint32_t kStartWaitSecs = 60;
  static constexpr int kStatusChecks = 6;
  static constexpr uint32_t kDefaultStatusWaitSecs = 30;
  static constexpr uint32_t kDefaultCoordinatorWaitSecs = 10;
  static constexpr uint32_t kDefaultReportWaitSecs = 600;
  // The report is awaited in slices of this many seconds, the quit flag read
  // between them.
  static constexpr uint32_t kReportSliceSecs = 5;

  // `jobCtrl` (may be null) gives the quit flag; it must outlive the replay.
  CassandraLogReplay(const CassandraNodeInfoList& nodes,
                     const boost::shared_ptr<TqCassandra::PriamUtil>& priamUtil,
                     const std::string& stagingPath, int64_t jobId,
                     TQJobCtrlClient* jobCtrl = nullptr);
  ~CassandraLogReplay();
  CassandraLogReplay(const CassandraLogReplay&) = delete;
  CassandraLogReplay& operator=(const CassandraLogReplay&) = delete;

  // Restarts every node; success only when every node was confirmed Up.
  CQiError Run();

 protected:
  // The utility's argument line of every node.
  CQiError mapNodesToConfDir();
  // The nodes whose host name or address Priam lists as a seed.
  CQiError getSeedNodes();
  // Restarts one node: true when it was confirmed Up; `error` holds why a
  // node failed other than by not coming Up.
  bool restartNode(const CCassandraNodeInfo& node, CQiError& error);
  // Starts the utility on the node's client; false when it did not start.
  bool StartRemoteAgent(const CCassandraNodeInfo& node, bool wait);
  // Waits for the utility's report (bounded, quit flag read).
  CQiError receiveReport(const std::string& clientName, CNMessageBasePtr& message);
  CQiError handleMessage(const std::string& hostName, const std::string& ip,
                         const CNMessageBase& message, bool& restarted, const std::string& hostId);
  bool isNodeUp(const std::string& hostName, const std::string& ip, const std::string& hostId);
  CQiError sendCleanupMessage(bool cleanup);
  bool quitRequested() const;

  // The utility's argument line of a node.
  std::string replayArguments(const CCassandraNodeInfo& node) const;

  CassandraNodeInfoList nodes;
  CassandraNodeInfoList seedNodes;
  boost::shared_ptr<TqCassandra::PriamUtil> priamUtil;
  std::string stagingPath;
  std::vector<std::string> seeds;
  // Node -> the utility's argument line. Nodes are told apart as objects,
  // so two nodes that share an address keep their own lines.
  std::map<const CCassandraNodeInfo*, std::string> replayArgsByNode;
  int64_t jobId;
  TQJobCtrlClient* jobCtrl;
  std::unique_ptr<CTqNetwork> network;
  uint32_t restartedCount = 0;
  // The configured wait between status checks ("Cassandra"/
  // nCassandraStartWaitTime, default 30), and the one in force for the node
  // being checked (its report's number when it sent one).
  uint32_t configuredStatusWaitSecs = kDefaultStatusWaitSecs;
  uint32_t statusWaitSecs = kDefaultStatusWaitSecs;
  uint32_t reportWaitSecs = kDefaultReportWaitSecs;
  // The quit flag was seen: no further node is started.
  bool stopped = false;
};

}  // namespace TQCassandra
