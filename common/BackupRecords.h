#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/NMessageBase.h"

// The backup coordinator's collect-file request to a node controller (also
// the restore side's "TableMetadata") with its keyspaces and tables.
namespace DistributedQEL {

class CassandraTable : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 53;
  CassandraTable() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getTableName() const { return getstring(1, 1); }
  void setTableName(const std::string& v) { setstring(1, 1, v); }
  std::string getTableId() const { return getstring(2, 5); }
  void setTableId(const std::string& v) { setstring(2, 5, v); }
};

class CassandraKeyspace : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 54;
  CassandraKeyspace() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getKeyspaceName() const { return getstring(1, 1); }
  void setKeyspaceName(const std::string& v) { setstring(1, 1, v); }
  std::vector<CassandraTable> getTables() const { return getListAs<CassandraTable>(2, 5); }
  void setTables(const std::vector<CassandraTable>& v) { setListOf(2, 5, v); }
};

// A node of the controller with what to back up on it.
class CassandraNodeKeyspace : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 79;
  CassandraNodeKeyspace() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<App::CassandraNode> getNode() const {
    return getObjectAs<App::CassandraNode>(1, 1);
  }
  void setNode(const App::CassandraNode& v) { setObjectAccessor(1, 1, v); }
  std::vector<CassandraKeyspace> getKeyspaces() const { return getListAs<CassandraKeyspace>(2, 2); }
  void setKeyspaces(const std::vector<CassandraKeyspace>& v) { setListOf(2, 2, v); }
};

// Fields 1 and 2 are not used.
class CassandraCreateCollectFiles : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 119;
  static constexpr uint32_t kClassId = 52;
  CassandraCreateCollectFiles() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getClusterName() const { return getstring(3, 3); }
  void setClusterName(const std::string& v) { setstring(3, 3, v); }
  std::vector<DINameValue> getOptions() const { return getListAs<DINameValue>(4, 7); }
  void setOptions(const std::vector<DINameValue>& v) { setListOf(4, 7, v); }
  std::vector<CassandraNodeKeyspace> getNodeKeyspaces() const {
    return getListAs<CassandraNodeKeyspace>(5, 8);
  }
  void setNodeKeyspaces(const std::vector<CassandraNodeKeyspace>& v) { setListOf(5, 8, v); }
};

}  // namespace DistributedQEL

// What each node backed up in the last job (namespace 30).
namespace App {

class CassandraKeyspaceStatus : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2045;
  CassandraKeyspaceStatus() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getKeyspaceName() const { return getstring(1, 1); }
  void setKeyspaceName(const std::string& v) { setstring(1, 1, v); }
  // 1 backed up, 0 failed; a keyspace counts as failed only when the status
  // is set and 0.
  bool hasStatus() const { return isSet(2); }
  int64_t getStatus() const { return getint64(5); }
  void setStatus(int64_t v) { setint64(2, 5, v); }
};

class CassandraNodeStatus : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2046;
  CassandraNodeStatus() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getInstanceName() const { return getstring(1, 1); }
  void setInstanceName(const std::string& v) { setstring(1, 1, v); }
  std::vector<CassandraKeyspaceStatus> getKeyspaceStatuses() const {
    return getListAs<CassandraKeyspaceStatus>(2, 5);
  }
  void setKeyspaceStatuses(const std::vector<CassandraKeyspaceStatus>& v) { setListOf(2, 5, v); }
};

class CassandraLastBackupStatus : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2047;
  CassandraLastBackupStatus() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<CassandraNodeStatus> getNodeStatuses() const {
    return getListAs<CassandraNodeStatus>(1, 1);
  }
  void setNodeStatuses(const std::vector<CassandraNodeStatus>& v) { setListOf(1, 1, v); }
};

}  // namespace App
