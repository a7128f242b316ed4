#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/msg/NMessageBase.h"

// Index metadata records (namespace 101): one metadata entry of an index view
// with its header and identity, and the Cassandra payloads the index keeps for
// the views "NodeMetaData" and "DBView".
namespace IdxMetadata {

class IdxViewInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 0;
  IdxViewInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getViewName() const { return getstring(2, 5); }
  void setViewName(const std::string& v) { setstring(2, 5, v); }
  // Object GUID of the path "/".
  std::string getComponentId() const { return getstring(3, 9); }
  void setComponentId(const std::string& v) { setstring(3, 9, v); }
};

// Where an entry lives.
class IdxObjectHeader : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 1;
  IdxObjectHeader() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<IdxViewInfo> getView() const { return getObjectAs<IdxViewInfo>(12, 15); }
  void setView(const IdxViewInfo& v) { setObjectAccessor(12, 15, v); }
  std::string getObjectGuid() const { return getstring(13, 16); }
  void setObjectGuid(const std::string& v) { setstring(13, 16, v); }
  std::string getParentGuid() const { return getstring(14, 20); }
  void setParentGuid(const std::string& v) { setstring(14, 20, v); }
};

// Identity of one version of an entry.
class IdxRecordId : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 37;
  IdxRecordId() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getRecordGuid() const { return getstring(1, 1); }
  void setRecordGuid(const std::string& v) { setstring(1, 1, v); }
};

class CassandraReplicationInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 107;
  CassandraReplicationInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getDataCenter() const { return getstring(1, 1); }
  void setDataCenter(const std::string& v) { setstring(1, 1, v); }
  int64_t getReplicationFactor() const { return getint64(5); }
  void setReplicationFactor(int64_t v) { setint64(2, 5, v); }
};

// Payload of a keyspace entry of "DBView".
class CassandraKeyspaceMetadata : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 108;
  CassandraKeyspaceMetadata() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getKeyspaceName() const { return getstring(1, 1); }
  void setKeyspaceName(const std::string& v) { setstring(1, 1, v); }
  std::string getCql() const { return getstring(2, 5); }
  void setCql(const std::string& v) { setstring(2, 5, v); }
  std::vector<CassandraReplicationInfo> getReplication() const {
    return getListAs<CassandraReplicationInfo>(3, 9);
  }
  void setReplication(const std::vector<CassandraReplicationInfo>& v) { setListOf(3, 9, v); }
  std::string getReplicationClass() const { return getstring(4, 10); }
  void setReplicationClass(const std::string& v) { setstring(4, 10, v); }
};

// DataStax Enterprise encryption settings of a table; key file content,
// cipher, key and key id are held encrypted with the suite's password cipher.
class CassandraEncryptionInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 147;
  CassandraEncryptionInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getKeyFile() const { return getstring(1, 1); }
  void setKeyFile(const std::string& v) { setstring(1, 1, v); }
  std::string getKeyFileContent() const { return getstring(2, 5); }
  void setKeyFileContent(const std::string& v) { setstring(2, 5, v); }
  std::string getCipher() const { return getstring(3, 9); }
  void setCipher(const std::string& v) { setstring(3, 9, v); }
  int64_t getStrength() const { return getint64(13); }
  void setStrength(int64_t v) { setint64(4, 13, v); }
  std::string getKey() const { return getstring(5, 14); }
  void setKey(const std::string& v) { setstring(5, 14, v); }
  std::string getKeyId() const { return getstring(6, 18); }
  void setKeyId(const std::string& v) { setstring(6, 18, v); }
};

// Payload of a table entry of "DBView".
class CassandraTableMetadata : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 109;
  CassandraTableMetadata() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getTableName() const { return getstring(1, 1); }
  void setTableName(const std::string& v) { setstring(1, 1, v); }
  std::string getCql() const { return getstring(2, 5); }
  void setCql(const std::string& v) { setstring(2, 5, v); }
  std::string getTableId() const { return getstring(3, 9); }
  void setTableId(const std::string& v) { setstring(3, 9, v); }
  int64_t getEncrypted() const { return getint64(13); }
  void setEncrypted(int64_t v) { setint64(4, 13, v); }
  std::optional<CassandraEncryptionInfo> getEncryption() const {
    return getObjectAs<CassandraEncryptionInfo>(5, 14);
  }
  void setEncryption(const CassandraEncryptionInfo& v) { setObjectAccessor(5, 14, v); }
};

// Payload of a "NodeMetaData" entry.
class CassandraNodeMetadata : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 137;
  CassandraNodeMetadata() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getClientName() const { return getstring(1, 1); }
  void setClientName(const std::string& v) { setstring(1, 1, v); }
  int64_t getBackupTime() const { return getint64(5); }
  void setBackupTime(int64_t v) { setint64(2, 5, v); }
};

// One index metadata entry; of the three payloads exactly one is filled.
class IdxMetaData : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 101;
  static constexpr uint32_t kClassId = 93;
  IdxMetaData() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<IdxObjectHeader> getHeader() const { return getObjectAs<IdxObjectHeader>(1, 1); }
  void setHeader(const IdxObjectHeader& v) { setObjectAccessor(1, 1, v); }
  std::optional<IdxRecordId> getRecordId() const { return getObjectAs<IdxRecordId>(11, 11); }
  void setRecordId(const IdxRecordId& v) { setObjectAccessor(11, 11, v); }
  std::optional<CassandraKeyspaceMetadata> getKeyspaceMetadata() const {
    return getObjectAs<CassandraKeyspaceMetadata>(48, 48);
  }
  void setKeyspaceMetadata(const CassandraKeyspaceMetadata& v) { setObjectAccessor(48, 48, v); }
  std::optional<CassandraTableMetadata> getTableMetadata() const {
    return getObjectAs<CassandraTableMetadata>(49, 49);
  }
  void setTableMetadata(const CassandraTableMetadata& v) { setObjectAccessor(49, 49, v); }
  std::optional<CassandraNodeMetadata> getNodeMetadata() const {
    return getObjectAs<CassandraNodeMetadata>(57, 57);
  }
  void setNodeMetadata(const CassandraNodeMetadata& v) { setObjectAccessor(57, 57, v); }
};

}  // namespace IdxMetadata
