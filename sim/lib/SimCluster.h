#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace TqSim {

// DSE transparent data encryption settings of one table.
struct SimEncryption {
  std::string keyFile;  // name of the system key file in system_key_directory
  std::string cipher;
  int strength = 0;
  std::string key;
  std::string keyId;
};

struct SimTable {
  std::string name;
  std::string id;   // UUID with dashes; the table directory drops them
  std::string cql;  // CREATE TABLE statement
  bool encrypted = false;
  SimEncryption encryption;
};

struct SimKeyspace {
  std::string name;
  std::string cql;  // CREATE KEYSPACE statement
  // {"class": "...SimpleStrategy", "replication_factor": "3"} or one member
  // per data centre; every factor is a text, as Cassandra keeps them.
  nlohmann::json replication = nlohmann::json::object();
  std::vector<SimTable> tables;
};

struct SimNode {
  std::string name;  // directory name under nodes/
  std::string address;
  std::string dataCenter;
  std::string rack;
  std::vector<std::string> tokens;
  std::string hostId;
  std::string state = "Normal";  // "Normal", "Leaving", "Joining", "Moving"
  std::string status = "Up";     // "Up" or "Down", as the ring reports it
  bool running = true;           // whether the node's Cassandra process runs
  std::string confDir;
  std::string commitLogArchiveDir;
  std::vector<std::string> unflushed;      // "keyspace.table" with data in memtables
  std::vector<std::string> pendingTokens;  // tokens taken at the next start
  std::string replacing;                   // address of the dead node it replaces at start
  // A node that runs but has not joined the ring yet: the next this many
  // "status" requests report it "Down", the one after "Up".
  int upAfterChecks = 0;
};

// A fault switch. "when" is "start" or "request"; "request" names the
// request (the resource up to "?"; empty matches every request); "node" the
// address of the node whose Priam is affected (empty: every node).
// Actions: at start "access_denied" (the stand-in exits with status 5) and
// "exit" (it exits with `status`, default 1, writing `text` to standard
// error); on a request "fail" (HTTP `status`, default 500, with `text`),
// "access_denied" (HTTP 401), "invalid_json" (the reply is cut short) and
// "signal" (once the request has taken effect, signal `status`, default
// SIGKILL, goes to the process that started the Priam, and the switch is
// removed: a job stopped or killed at a chosen step) and "signal_group"
// (the same, to the whole process group of that process, as a terminal's
// Ctrl-C reaches its foreground group).
struct SimFault {
  std::string when;
  std::string request;
  std::string node;
  std::string action;
  int status = 0;
  std::string text;
};

// The simulated cluster as cluster.json holds it.
struct SimCluster {
  std::string name;
  std::string version;
  std::string flavour = "cassandra";  // "cassandra" or "dse"
  std::vector<SimNode> nodes;
  std::vector<SimKeyspace> keyspaces;
  nlohmann::json encryptedEntries = nlohmann::json::array();  // rows inserted by "insertKey"
  std::vector<SimFault> faults;

  SimNode* FindNode(const std::string& address);
  SimKeyspace* FindKeyspace(const std::string& name);
  SimTable* FindTable(const std::string& keyspace, const std::string& table);

  nlohmann::json ToJson() const;
  // Throws nlohmann::json::exception on a document of the wrong shape.
  static SimCluster FromJson(const nlohmann::json& doc);
};

// The directory name of a table: "<table>-<id without dashes>".
std::string TableDirName(const SimTable& table);

}  // namespace TqSim
