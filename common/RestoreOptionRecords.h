#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/msg/EntityRecords.h"
#include "platform/msg/NMessageBase.h"

// A restore job's options: the job option record holds the restore options,
// which hold the distributed-apps restore options, which hold the Cassandra
// restore options with the user's node maps.
namespace App {

// One entry of the node map option: a source and a target client.
class CassandraClientMap : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 9001;
  CassandraClientMap() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TqEntities::ClientEntity> getSource() const {
    return getObjectAs<TqEntities::ClientEntity>(1, 1);
  }
  void setSource(const TqEntities::ClientEntity& v) { setObjectAccessor(1, 1, v); }
  std::optional<TqEntities::ClientEntity> getTarget() const {
    return getObjectAs<TqEntities::ClientEntity>(2, 2);
  }
  void setTarget(const TqEntities::ClientEntity& v) { setObjectAccessor(2, 2, v); }
};

// A client and, for a node in a container, the container's name.
class CassandraClientMapEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 3125;
  CassandraClientMapEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TqEntities::ClientEntity> getClient() const {
    return getObjectAs<TqEntities::ClientEntity>(1, 1);
  }
  void setClient(const TqEntities::ClientEntity& v) { setObjectAccessor(1, 1, v); }
  std::string getContainerName() const { return getstring(2, 2); }
  void setContainerName(const std::string& v) { setstring(2, 2, v); }
};

// One entry of the docker node map option (and of the coordinator's node map).
class CassandraDockerClientMap : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 3126;
  CassandraDockerClientMap() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraClientMapEntity> getSource() const {
    return getObjectAs<CassandraClientMapEntity>(1, 1);
  }
  void setSource(const CassandraClientMapEntity& v) { setObjectAccessor(1, 1, v); }
  std::optional<CassandraClientMapEntity> getTarget() const {
    return getObjectAs<CassandraClientMapEntity>(2, 2);
  }
  void setTarget(const CassandraClientMapEntity& v) { setObjectAccessor(2, 2, v); }
};

// The Cassandra restore options. Integer options are flags (non-zero = on)
// and read as 0 when not set. Only field 15 has a number fixed by the suite;
// the others are this platform's.
class CassandraRestoreOptions : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1724;
  CassandraRestoreOptions() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getCrossInstance() const { return getint64(1); }
  void setCrossInstance(int64_t v) { setint64(1, 1, v); }
  bool hasNodeMap() const { return isSet(2); }
  std::vector<CassandraClientMap> getNodeMap() const { return getListAs<CassandraClientMap>(2, 2); }
  void setNodeMap(const std::vector<CassandraClientMap>& v) { setListOf(2, 2, v); }
  bool hasDockerNodeMap() const { return isSet(3); }
  std::vector<CassandraDockerClientMap> getDockerNodeMap() const {
    return getListAs<CassandraDockerClientMap>(3, 3);
  }
  void setDockerNodeMap(const std::vector<CassandraDockerClientMap>& v) { setListOf(3, 3, v); }
  int64_t getReplaceDeadNode() const { return getint64(4); }
  void setReplaceDeadNode(int64_t v) { setint64(4, 4, v); }
  int64_t getRecover() const { return getint64(5); }
  void setRecover(int64_t v) { setint64(5, 5, v); }
  std::string getStagingLocation() const { return getstring(6, 6); }
  void setStagingLocation(const std::string& v) { setstring(6, 6, v); }
  int64_t getUseSSTableLoader() const { return getint64(7); }
  void setUseSSTableLoader(int64_t v) { setint64(7, 7, v); }
  int64_t getRunDR() const { return getint64(8); }
  void setRunDR(int64_t v) { setint64(8, 8, v); }
  int64_t getSubclientRestore() const { return getint64(9); }
  void setSubclientRestore(int64_t v) { setint64(9, 9, v); }
  int64_t getTruncateTables() const { return getint64(10); }
  void setTruncateTables(int64_t v) { setint64(10, 10, v); }
  int64_t getStageFreeRestore() const { return getint64(15); }
  void setStageFreeRestore(int64_t v) { setint64(15, 15, v); }
};

class DistributedAppsRestoreOptions : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 600;
  DistributedAppsRestoreOptions() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraRestoreOptions> getCassandraRestoreOptions() const {
    return getObjectAs<CassandraRestoreOptions>(7, 7);
  }
  void setCassandraRestoreOptions(const CassandraRestoreOptions& v) { setObjectAccessor(7, 7, v); }
};

}  // namespace App

namespace TMMsg {

class RestoreOptions : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 12;
  static constexpr uint32_t kClassId = 311;
  RestoreOptions() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<App::DistributedAppsRestoreOptions> getDistributedAppsRestoreOptions() const {
    return getObjectAs<App::DistributedAppsRestoreOptions>(50, 50);
  }
  void setDistributedAppsRestoreOptions(const App::DistributedAppsRestoreOptions& v) {
    setObjectAccessor(50, 50, v);
  }
};

// The job's options, as the job's XML options text holds them.
class JobOption : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 12;
  static constexpr uint32_t kClassId = 262;
  JobOption() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<RestoreOptions> getRestoreOptions() const {
    return getObjectAs<RestoreOptions>(2, 2);
  }
  void setRestoreOptions(const RestoreOptions& v) { setObjectAccessor(2, 2, v); }
};

}  // namespace TMMsg
