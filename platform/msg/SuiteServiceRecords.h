#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/msg/EntityRecords.h"
#include "platform/msg/NMessageBase.h"

// Requests and replies of the suite's services that its platform answers: the
// remote-command service, the stored procedure that maps addresses to clients
// and the network file server's share request. Values that only the service
// interprets have accessors named after their field numbers.
namespace CNSession {

// Starts a utility program on another client.
class tqsExecuteRemoteCommandType : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 9;
  static constexpr uint32_t kClassId = 45;
  tqsExecuteRemoteCommandType() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getField1() const { return getint64(1); }
  void setField1(int64_t v) { setint64(1, 1, v); }
  std::string getProgram() const { return getstring(2, 2); }
  void setProgram(const std::string& v) { setstring(2, 2, v); }
  std::string getArguments() const { return getstring(3, 3); }
  void setArguments(const std::string& v) { setstring(3, 3, v); }
  int64_t getWaitFlag() const { return getint64(4); }
  void setWaitFlag(int64_t v) { setint64(4, 4, v); }
  int64_t getField5() const { return getint64(5); }
  void setField5(int64_t v) { setint64(5, 5, v); }
};

}  // namespace CNSession

namespace App {

// Stored procedure 0x1E122479: the clients of node addresses.
class GetClientsForIPAddressRequest : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1938;
  GetClientsForIPAddressRequest() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<std::string> getIpAddresses() const { return getStringList(1, 1); }
  void setIpAddresses(const std::vector<std::string>& v) { setliststring(1, 1, v); }
};

// One client per requested address, in request order.
class GetClientsForIPAddressResponse : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1939;
  GetClientsForIPAddressResponse() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<TqEntities::ClientEntity> getClients() const {
    return getListAs<TqEntities::ClientEntity>(1, 1);
  }
  void setClients(const std::vector<TqEntities::ClientEntity>& v) { setListOf(1, 1, v); }
};

class KeyValueInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2660;
  KeyValueInfo() : CNMessageBase(kNamespaceId, kClassId) {}
  KeyValueInfo(const std::string& key, const std::string& value) : KeyValueInfo() {
    setKey(key);
    setValue(value);
  }

  std::string getKey() const { return getstring(1, 1); }
  void setKey(const std::string& v) { setstring(1, 1, v); }
  std::string getValue() const { return getstring(2, 2); }
  void setValue(const std::string& v) { setstring(2, 2, v); }
};

// Description of a network share of a media agent.
class ZELKShareInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2378;
  ZELKShareInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TqEntities::MediaAgentEntity> getMediaAgent() const {
    return getObjectAs<TqEntities::MediaAgentEntity>(3, 3);
  }
  void setMediaAgent(const TqEntities::MediaAgentEntity& v) { setObjectAccessor(3, 3, v); }
  std::optional<TqEntities::SubClientEntity> getSubclient() const {
    return getObjectAs<TqEntities::SubClientEntity>(4, 4);
  }
  void setSubclient(const TqEntities::SubClientEntity& v) { setObjectAccessor(4, 4, v); }
  std::optional<TqEntities::BackupSetEntity> getBackupSet() const {
    return getObjectAs<TqEntities::BackupSetEntity>(5, 5);
  }
  void setBackupSet(const TqEntities::BackupSetEntity& v) { setObjectAccessor(5, 5, v); }
  // The media agent that serves the share.
  std::optional<TqEntities::MediaAgentEntity> getServingMediaAgent() const {
    return getObjectAs<TqEntities::MediaAgentEntity>(6, 6);
  }
  void setServingMediaAgent(const TqEntities::MediaAgentEntity& v) { setObjectAccessor(6, 6, v); }
  std::optional<TqEntities::TimeEntity> getToTime() const {
    return getObjectAs<TqEntities::TimeEntity>(7, 7);
  }
  void setToTime(const TqEntities::TimeEntity& v) { setObjectAccessor(7, 7, v); }
  std::optional<TqEntities::TimeEntity> getFromTime() const {
    return getObjectAs<TqEntities::TimeEntity>(8, 8);
  }
  void setFromTime(const TqEntities::TimeEntity& v) { setObjectAccessor(8, 8, v); }
  // Hosts allowed to mount the share.
  std::vector<std::string> getHosts() const { return getStringList(9, 9); }
  void setHosts(const std::vector<std::string>& v) { setliststring(9, 9, v); }
  std::string getShareName() const { return getstring(10, 10); }
  void setShareName(const std::string& v) { setstring(10, 10, v); }
  std::string getField11() const { return getstring(11, 11); }
  void setField11(const std::string& v) { setstring(11, 11, v); }
  int64_t getField12() const { return getint64(12); }
  void setField12(int64_t v) { setint64(12, 12, v); }
  int64_t getField13() const { return getint64(13); }
  void setField13(int64_t v) { setint64(13, 13, v); }
  int64_t getField14() const { return getint64(14); }
  void setField14(int64_t v) { setint64(14, 14, v); }
  int64_t getField19() const { return getint64(19); }
  void setField19(int64_t v) { setint64(19, 19, v); }
  // Owner and access settings ("uid", "gid", "accessPerm").
  std::vector<KeyValueInfo> getProperties() const { return getListAs<KeyValueInfo>(20, 20); }
  void setProperties(const std::vector<KeyValueInfo>& v) { setListOf(20, 20, v); }
};

// Request to the network file server.
class SetZELKSharePropsReq : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2382;
  SetZELKSharePropsReq() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<ZELKShareInfo> getShareInfo() const { return getObjectAs<ZELKShareInfo>(5, 5); }
  void setShareInfo(const ZELKShareInfo& v) { setObjectAccessor(5, 5, v); }
  int64_t getOperation() const { return getint64(6); }
  void setOperation(int64_t v) { setint64(6, 6, v); }
};

class SetZELKSharePropsResp : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 2383;
  SetZELKSharePropsResp() : CNMessageBase(kNamespaceId, kClassId) {}

  // Absent when no share was created.
  bool hasShareId() const { return isSet(2); }
  int64_t getShareId() const { return getint64(2); }
  void setShareId(int64_t v) { setint64(2, 2, v); }
};

}  // namespace App
