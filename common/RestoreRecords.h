#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/NMessageBase.h"

// Records between the restore coordinators, their node controllers and the
// remote utility: the source-to-target node mapping, the stage-free share
// parameters, the DSE system keys and the controllers' agent-stopped status.
namespace DistributedQEL {

class CassandraSourceTargetMapping : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 77;
  CassandraSourceTargetMapping() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<App::CassandraNode> getSource() const {
    return getObjectAs<App::CassandraNode>(1, 1);
  }
  void setSource(const App::CassandraNode& v) { setObjectAccessor(1, 1, v); }
  std::optional<App::CassandraNode> getTarget() const {
    return getObjectAs<App::CassandraNode>(2, 2);
  }
  void setTarget(const App::CassandraNode& v) { setObjectAccessor(2, 2, v); }
};

// The XML text of the node start value "SourceTargetMappingList".
class CassandraSourceTargetMappingList : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 75;
  CassandraSourceTargetMappingList() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<CassandraSourceTargetMapping> getMappings() const {
    return getListAs<CassandraSourceTargetMapping>(1, 1);
  }
  void setMappings(const std::vector<CassandraSourceTargetMapping>& v) { setListOf(1, 1, v); }
};

// The XML text of the node start value "ZelkRestoreParameters".
class CassandraZelkRestoreOptions : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 70;
  CassandraZelkRestoreOptions() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getShareName() const { return getstring(1, 1); }
  void setShareName(const std::string& v) { setstring(1, 1, v); }
  // The file server: the media agent's host name, or "localhost" when the
  // share is reached through a tunnel.
  std::string getServerHost() const { return getstring(2, 2); }
  void setServerHost(const std::string& v) { setstring(2, 2, v); }
  std::string getMountDirectory() const { return getstring(3, 3); }
  void setMountDirectory(const std::string& v) { setstring(3, 3, v); }
  // "cluster/data centre/client" of each source node served by this node.
  std::vector<std::string> getSourcePrefixes() const { return getStringList(4, 4); }
  void setSourcePrefixes(const std::vector<std::string>& v) { setliststring(4, 4, v); }
  std::vector<CassandraKeyspace> getKeyspaces() const { return getListAs<CassandraKeyspace>(5, 5); }
  void setKeyspaces(const std::vector<CassandraKeyspace>& v) { setListOf(5, 5, v); }
  // Set only when a tunnelling port is configured.
  bool hasTunnelingPort() const { return isSet(6); }
  int64_t getTunnelingPort() const { return getint64(6); }
  void setTunnelingPort(int64_t v) { setint64(6, 6, v); }
};

// One DSE system key file: its path and its content, encrypted.
class CassandraSystemKey : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 64;
  CassandraSystemKey() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getKeyFilePath() const { return getstring(1, 1); }
  void setKeyFilePath(const std::string& v) { setstring(1, 1, v); }
  std::string getContent() const { return getstring(2, 2); }
  void setContent(const std::string& v) { setstring(2, 2, v); }
};

// The key message to the remote utility.
class CassandraSystemKeyInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 65;
  CassandraSystemKeyInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<CassandraSystemKey> getKeys() const { return getListAs<CassandraSystemKey>(1, 1); }
  void setKeys(const std::vector<CassandraSystemKey>& v) { setListOf(1, 1, v); }
};

// A node controller's report to its coordinator when its agent stopped.
class AgentStoppedStatus : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 66;
  AgentStoppedStatus() : CNMessageBase(kNamespaceId, kClassId) {}

  // 1 = the node failed to reload the restored tables.
  int64_t getFailed() const { return getint64(1); }
  void setFailed(int64_t v) { setint64(1, 1, v); }
  // Restart report of a point-in-time node; not set otherwise.
  std::vector<DINameValue> getValues() const { return getListAs<DINameValue>(2, 2); }
  void setValues(const std::vector<DINameValue>& v) { setListOf(2, 2, v); }
};

}  // namespace DistributedQEL
