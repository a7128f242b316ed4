#pragma once

#include "sim/lib/SimRequest.h"

namespace TqSim {

// The stand-in's answers to the requests of a restore. Schema changes reach
// every node (table directories are made on each); data changes touch the
// nodes' data directories.
class SimRestoreRequests {
 public:
  // checkExistance?keyspace=<ks>[&table=<t>]: "0" when it exists, "1" when not.
  static SimReply CheckExistance(SimContext& context, const SimRequest& request);
  // Body {"Schema": <statements>[, "Maintainreplication": 1][, "ReplicationString": " {...}"]}.
  // In a DSE cluster a table encrypted with a system key is created only
  // when the key file is in the serving node's system key folder and its row
  // among the encrypted keys ("insertKey").
  static SimReply ExecuteCql(SimContext& context, const SimRequest& request);
  // Body {"key_file", "key", "cipher", "strength", "key_id"}: an encrypted-key row.
  static SimReply InsertKey(SimContext& context, const SimRequest& request);
  // Body {"keyspace", "table"}: removes the table's live SSTables on every
  // node (files placed since the last refresh stay).
  static SimReply TruncateTable(SimContext& context, const SimRequest& request);
  // Body {"ConfPath", "Tokens", "Replace"}: "NotRequired" when the node holds
  // these tokens already, else they go into initial_token for the next start.
  static SimReply ReplaceTokens(SimContext& context, const SimRequest& request);
  // replaceDeadNode?confpath=<path>&nodename=<address>: the next start
  // replaces that dead node.
  static SimReply ReplaceDeadNode(SimContext& context, const SimRequest& request);
  static SimReply Stop(SimContext& context);
  // Starts the node; every SSTable of its data directories becomes live.
  static SimReply Start(SimContext& context);
  // refresh[?keyspaces=<ks>,<ks>]: the files placed in this node's table
  // directories (of those keyspaces) become live.
  static SimReply Refresh(SimContext& context, const SimRequest& request);
  // Body {"directory", "Connections", "Progress"}: loads the SSTables of
  // <...>/<keyspace>/<table>[-<id>] into the running nodes that hold the
  // keyspace (with "priam.ignore.nodes" only those of this node's data
  // centre).
  static SimReply ExecuteBatch(SimContext& context, const SimRequest& request);
};

}  // namespace TqSim
