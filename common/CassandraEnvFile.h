#pragma once

#include <list>
#include <string>

namespace TQCassandra {

// Cassandra's start-up script "cassandra-env.sh": the JVM option that names
// the tables whose commit logs Cassandra replays when it starts. The script
// is run by a shell, so only plain table names ever reach it.
class CassandraEnvFile {
 public:
  static constexpr const char* kFileName = "cassandra-env.sh";
  // How the replay-list line begins, up to its first table name.
  static constexpr const char* kReplayListPrefix = "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=";

  // JVM_OPTS="$JVM_OPTS -Dcassandra.replayList=<name>,<name>..." with the
  // names in the order given.
  static std::string ReplayListLine(const std::list<std::string>& tables);

  // `text` with the replay list set to `tables`: every line that begins with
  // kReplayListPrefix becomes ReplayListLine (keeping its own line end);
  // without such a line, a line end, the line and a line end are appended.
  static std::string SetReplayList(const std::string& text, const std::list<std::string>& tables);

  // A name of a keyspace or table as Cassandra allows it: letters, digits and
  // "_", at least one.
  static bool IsPlainName(const std::string& name);
};

}  // namespace TQCassandra
