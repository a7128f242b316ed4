#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/json/TqJson.h"

namespace TQCassandra {

// One keyspace of Priam's "getMeta" reply, read the same way by every user of
// the reply (the default subclient's content, the node start-up and the index
// views).
struct CassandraMetaKeyspace {
  // The keyspace object as the reply holds it.
  TqJson::Object object;
  std::string name;  // "KEYSPACE"
  // "REPLICATION": a JSON object, or a text that holds one; empty when absent.
  TqJson::Object replication;
  std::string replicationClass;  // its "class"
  // "Tables" that are objects: "COLUMNSPACE" and "ID" without its dashes.
  std::vector<std::pair<std::string, std::string>> tables;

  // Reads a whole reply. Elements that are not objects are passed over; a
  // reply that is not a JSON array, or a keyspace whose "KEYSPACE",
  // "REPLICATION", its "class", "Tables" or a table's "COLUMNSPACE" or "ID"
  // has another shape, is error 13 naming it: a keyspace dropped there would
  // silently never be backed up.
  static CQiError ReadReply(const std::string& reply, std::vector<CassandraMetaKeyspace>& out);
};

}  // namespace TQCassandra
