#pragma once

#include <cstdint>
#include <string>

#include "platform/msg/NMessageBase.h"

// The suite's entity records (namespace 18): references to clients,
// instances, backup sets, subclients and media agents. Like every named
// record class they add no members to CNMessageBase.
namespace TqEntities {

// A suite client.
class ClientEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 4;
  ClientEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  bool hasClientId() const { return isSet(0); }
  int64_t getClientId() const { return getint64(0); }
  void setClientId(int64_t v) { setint64(0, 0, v); }
  std::string getClientName() const { return getstring(1, 1); }
  void setClientName(const std::string& v) { setstring(1, 1, v); }
  std::string getHostName() const { return getstring(2, 5); }
  void setHostName(const std::string& v) { setstring(2, 5, v); }
};

// The installation (Ombrel) an item belongs to.
class OmbrelEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 3;
  OmbrelEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getOmbrelId() const { return getint64(0); }
  void setOmbrelId(int64_t v) { setint64(0, 0, v); }
};

class InstanceEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 8;
  InstanceEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getInstanceId() const { return getint64(0); }
  void setInstanceId(int64_t v) { setint64(0, 0, v); }
};

class BackupSetEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 9;
  BackupSetEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getBackupSetId() const { return getint64(0); }
  void setBackupSetId(int64_t v) { setint64(0, 0, v); }
};

class SubClientEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 10;
  SubClientEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  bool hasSubclientId() const { return isSet(0); }
  int64_t getSubclientId() const { return getint64(0); }
  void setSubclientId(int64_t v) { setint64(0, 0, v); }
  int64_t getBackupsetId() const { return getint64(10); }
  void setBackupsetId(int64_t v) { setint64(4, 10, v); }
  bool hasInstanceId() const { return isSet(7); }
  int64_t getInstanceId() const { return getint64(19); }
  void setInstanceId(int64_t v) { setint64(7, 19, v); }
};

class MediaAgentEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 14;
  MediaAgentEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getClientId() const { return getint64(0); }
  void setClientId(int64_t v) { setint64(0, 0, v); }
  std::string getClientName() const { return getstring(1, 1); }
  void setClientName(const std::string& v) { setstring(1, 1, v); }
};

// A point in time (seconds since 1970).
class TimeEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 50;
  TimeEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getTime() const { return getint64(0); }
  void setTime(int64_t v) { setint64(0, 0, v); }
};

// The application a job works on, as the index addresses it.
class AppIdEntity : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 18;
  static constexpr uint32_t kClassId = 46;
  AppIdEntity() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getOmbrelId() const { return getint64(1); }
  void setOmbrelId(int64_t v) { setint64(1, 1, v); }
  int64_t getSubclientId() const { return getint64(11); }
  void setSubclientId(int64_t v) { setint64(5, 11, v); }
  int64_t getBackupsetId() const { return getint64(20); }
  void setBackupsetId(int64_t v) { setint64(8, 20, v); }
  int64_t getInstanceId() const { return getint64(29); }
  void setInstanceId(int64_t v) { setint64(11, 29, v); }
  int64_t getAppType() const { return getint64(38); }
  void setAppType(int64_t v) { setint64(14, 38, v); }
  int64_t getClientId() const { return getint64(47); }
  void setClientId(int64_t v) { setint64(17, 47, v); }
};

}  // namespace TqEntities
