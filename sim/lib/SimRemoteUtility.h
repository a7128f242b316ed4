#pragma once

#include <string>
#include <vector>

#include "platform/network/TqRemoteCommandPeer.h"
#include "sim/lib/SimCluster.h"

namespace TqSim {

// One simulated Cassandra node the utility serves: its configuration
// directory and, through the node's pointer file, its cluster file and
// address.
struct SimUtilityNode {
  std::string confDir;
  std::string clusterFile;
  std::string address;
};

// The node-side utility program that the coordinator starts on a suite
// client through the remote-command channel. It runs in the client's
// identity (the channel sets it), connects back to the requester and then
// serves one mode of its argument line:
//
//   <job id> -systemKeyCopy     receives the DSE system keys and writes them
//                               into the node's system key folder
//                               (SimSystemKeyCopy)
//   --cassandraConfDirectory D --jobId J [--container C] --stagingPath P
//                               restarts the node of D, replaying its
//                               restored commit logs (SimLogReplay)
//
// Fault switches come from the simulated cluster of the client's nodes: a
// SimFault with "when" = "utility", "request" the mode name ("" every mode),
// "node" an address ("" every node) and the action "answer_false" (the mode
// answers that it failed, and changes nothing) or "no_answer" (it closes the
// connection without an answer).
class SimRemoteUtility {
 public:
  // The program's entry; the exit status (0 served, 1 failed, 2 usage).
  static int Main(int argc, char** argv);

  // The simulated nodes of this client: the nodes of the registered
  // instances (only the restore job's destination instance when the job's
  // description names one) whose client is this client, or whose address is
  // one of its addresses.
  static std::vector<SimUtilityNode> ClientNodes(int64_t jobId, std::string& error);

  // The action of the first utility fault switch for `mode` on any of the
  // nodes ("" none).
  static std::string FaultAction(const std::vector<SimUtilityNode>& nodes, const std::string& mode);
  // The first utility fault switch for `mode` on any of the nodes.
  static bool FindFault(const std::vector<SimUtilityNode>& nodes, const std::string& mode,
                        SimFault& fault);

  // A node's own configuration folder on this machine: the stored location,
  // or of "<node view>:<host view>" the part that exists here; a location
  // naming a file gives its folder.
  static std::string LocalConfDir(const std::string& stored);
};

}  // namespace TqSim
