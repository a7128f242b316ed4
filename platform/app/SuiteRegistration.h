#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/suite/SuiteStore.h"

// One content row of a subclient. A field that is not given is absent from
// the stored row; a given empty text is present (a keyspace row may name an
// empty keyspace).
struct SContentRow {
  std::optional<std::string> clusterName;
  std::optional<std::string> keyspaceName;
  std::optional<std::string> dataCenter;
};

// One node of an instance's stored node list.
struct SNodeSettings {
  std::string address;
  // The client that runs the node: by id, or (0) the client that lists the
  // address or has it as host name, or none when no client does.
  uint64_t clientId = 0;
  std::string dataCenter;  // "": not stored
  std::string rack;        // "": not stored
  // The node's own Cassandra configuration directory.
  std::string configDirectory;
  // Data directories joined by ";"; "": not stored.
  std::string dataDirectories;
  std::string javaHome;  // "": not stored
};

struct SJmxSettings {
  std::string host;
  int64_t port = 0;
  std::string service;   // "": not stored
  std::string user;      // "": no credentials stored
  std::string password;  // plain text; stored encrypted
};

struct SSslSettings {
  bool enabled = false;
  std::string keystorePath;
  std::string keystorePassword;  // plain text; stored encrypted
  std::string truststorePath;
  std::string truststorePassword;  // plain text; stored encrypted
};

// Everything a Cassandra instance keeps. Passwords are given in plain text
// and stored encrypted with the suite's password cipher.
struct SInstanceSettings {
  uint64_t id = 0;  // 0: the next free id
  std::string name;
  uint64_t clientId = 0;  // the client that stands for the cluster; must be registered
  std::string cassandraConfigFile;
  std::string javaHome;
  std::string gatewayHost;
  int gatewayCqlPort = 9042;
  std::string gatewayUser;
  std::string gatewayPassword;
  std::optional<SJmxSettings> jmx;
  std::optional<SSslSettings> ssl;
  bool enableCommitLogBackup = false;
  std::string archiveLogPath;
  std::string archiveCommand;
  std::string clusterName;
  std::string version;
  std::vector<SNodeSettings> nodes;
};

struct SSubclientSettings {
  uint64_t id = 0;  // 0: the next free id
  std::string name;
  uint64_t instanceId = 0;
  uint64_t backupSetId = 1;
  bool isDefault = false;
  int maxStreams = 2;
  // The content rows; none (also an empty list) stores no content, which a
  // default subclient has.
  std::vector<SContentRow> content;
};

// Registers clients, instances and subclients with the central server, as
// the command-line front end and the tests set up a suite. Each call either
// stores its record whole or changes nothing.
class CSuiteRegistration {
 public:
  explicit CSuiteRegistration(CSuiteStore store = CSuiteStore::Default());

  // `clientId` in: the wanted id (0: the next free one); out: the id.
  CQiError registerClient(const std::string& name, const std::string& hostName,
                          const std::vector<std::string>& addresses, uint64_t& clientId);
  // The instance with its JMX and authentication records, encrypted
  // passwords and stored node list. `instanceId` is the id given.
  CQiError registerInstance(const SInstanceSettings& settings, uint64_t& instanceId);
  CQiError registerSubclient(const SSubclientSettings& settings, uint64_t& subclientId);

  // A data directory of a node (`node` names it in the error): an absolute
  // path without ";", which separates a node's directories in the lists that
  // hold them. Anything else is error 87 naming the directory.
  static CQiError CheckDataDirectory(const std::string& directory, const std::string& node);

  // A commit-log archive folder or command (`what` names it: "folder" or
  // "command"): Cassandra splits "archive_command" on blanks and runs it
  // without a shell, so a value holding a blank, tab or line end is error 87.
  static CQiError CheckArchiveSetting(const std::string& value, const char* what);

  // The XML text of a content record holding the rows ("" for no rows).
  static std::string ContentXml(const std::vector<SContentRow>& rows);

 private:
  CSuiteStore store_;
};
