#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/msg/EntityRecords.h"
#include "platform/msg/NMessageBase.h"

// The suite user interface's cluster browse: request, response and the
// browse item with a cluster's nodes or keyspaces (namespace 30).
namespace App {

class DistributedAppsBrowseProperties : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 269;
  DistributedAppsBrowseProperties() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TqEntities::SubClientEntity> getSubclient() const {
    return getObjectAs<TqEntities::SubClientEntity>(1, 1);
  }
  void setSubclient(const TqEntities::SubClientEntity& v) { setObjectAccessor(1, 1, v); }
  std::optional<DistributedClusterConfig> getClusterConfig() const {
    return getObjectAs<DistributedClusterConfig>(3, 3);
  }
  void setClusterConfig(const DistributedClusterConfig& v) { setObjectAccessor(3, 3, v); }
};

class MachineBrowseReq : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 9002;
  MachineBrowseReq() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TqEntities::ClientEntity> getGatewayClient() const {
    return getObjectAs<TqEntities::ClientEntity>(1, 1);
  }
  void setGatewayClient(const TqEntities::ClientEntity& v) { setObjectAccessor(1, 1, v); }
  std::optional<DistributedAppsBrowseProperties> getBrowseProperties() const {
    return getObjectAs<DistributedAppsBrowseProperties>(5, 5);
  }
  void setBrowseProperties(const DistributedAppsBrowseProperties& v) { setObjectAccessor(5, 5, v); }
};

// A cluster's nodes (node browse) or keyspaces (content browse).
class CassandraBrowseItem : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1734;
  CassandraBrowseItem() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<CassandraNode> getNodes() const { return getListAs<CassandraNode>(1, 1); }
  void setNodes(const std::vector<CassandraNode>& v) { setListOf(1, 1, v); }
  std::vector<CassandraContent> getContents() const { return getListAs<CassandraContent>(2, 2); }
  void setContents(const std::vector<CassandraContent>& v) { setListOf(2, 2, v); }
  std::string getClusterName() const { return getstring(3, 3); }
  void setClusterName(const std::string& v) { setstring(3, 3, v); }
  std::string getVersion() const { return getstring(4, 4); }
  void setVersion(const std::string& v) { setstring(4, 4, v); }
};

class MachineBrowseItem : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 270;
  MachineBrowseItem() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraBrowseItem> getCassandraItem() const {
    return getObjectAs<CassandraBrowseItem>(7, 7);
  }
  void setCassandraItem(const CassandraBrowseItem& v) { setObjectAccessor(7, 7, v); }
};

class MachineBrowseResp : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 9003;
  MachineBrowseResp() : CNMessageBase(kNamespaceId, kClassId) {}

  std::vector<MachineBrowseItem> getBrowseItems() const {
    return getListAs<MachineBrowseItem>(2, 2);
  }
  void setBrowseItems(const std::vector<MachineBrowseItem>& v) { setListOf(2, 2, v); }
};

// The error reply of a browse.
class GenericResp : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 9004;
  GenericResp() : CNMessageBase(kNamespaceId, kClassId) {}

  int64_t getErrorCode() const { return getint64(1); }
  void setErrorCode(int64_t v) { setint64(1, 1, v); }
  std::string getErrorMessage() const { return getstring(2, 2); }
  void setErrorMessage(const std::string& v) { setstring(2, 2, v); }
};

}  // namespace App
