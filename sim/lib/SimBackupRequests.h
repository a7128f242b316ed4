#pragma once

#include "sim/lib/SimRequest.h"

namespace TqSim {

// The stand-in's answers to the requests of a backup and of the browse.
class SimBackupRequests {
 public:
  // {"ClusterName": ..., "Version": ...}
  static SimReply ClusterDetails(SimContext& context);
  // One object per node: node, state, nodestatus, data_center, rack, token, hostid.
  static SimReply Status(SimContext& context);
  // One object per keyspace: KEYSPACE, SCHEMA, REPLICATION (object), Tables
  // (COLUMNSPACE, ID, SCHEMA, ENCRYPTED and, for DSE-encrypted tables,
  // EncyptionOptions).
  static SimReply GetMeta(SimContext& context);
  // {"incrementalEnabled": ..., ...} of this node.
  static SimReply Info(SimContext& context);
  // Writes a new SSTable generation for every table with unflushed data; with
  // incremental_backups on it is hard-linked into backups/.
  static SimReply Flush(SimContext& context);
  // snapshot?SnapID=<name>[&?keyspace=<ks>...]: hard links of the live
  // SSTables into snapshots/<name>/; every keyspace when none is named.
  static SimReply Snapshot(SimContext& context, const SimRequest& request);
  // A JSON object whose member names are the node's snapshot names.
  static SimReply ListSnaps(SimContext& context);
  // clearsnapshot?SnapID=<name>
  static SimReply ClearSnapshot(SimContext& context, const SimRequest& request);
};

}  // namespace TqSim
