#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/msg/EntityRecords.h"
#include "platform/msg/NMessageBase.h"
#include "platform/msg/PString.h"

// User name and encrypted password (credential namespace 20; reached only as
// a nested object, with class id 0).
class UserCredentials : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 20;
  static constexpr uint32_t kClassId = 0;
  UserCredentials() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getUserName() const { return getstring(1, 1); }
  void setUserName(const std::string& v) { setstring(1, 1, v); }
  // Encrypted with the suite's password cipher; decrypt with TQPassword.
  pstring getPassword() const { return getpstringobject(2, 5); }
  void setPassword(const std::string& encrypted) { setpstring(2, 5, encrypted); }
};

// Cassandra nodes, their connection settings, the cluster instance properties
// the suite keeps, and a subclient's content (namespace 30).
namespace App {

// Ring state of a node, from Priam's "state" text.
enum class CassandraNodeState : int64_t { Normal = 0, Leaving = 1, Joining = 2, Moving = 3 };

// The state a ring state text names, compared exactly; false for any other
// text, which gives Normal.
inline bool NodeStateFromText(const std::string& text, CassandraNodeState& state) {
  static const char* const kNames[] = {"Normal", "Leaving", "Joining", "Moving"};
  for (int64_t i = 0; i < 4; ++i) {
    if (text == kNames[i]) {
      state = static_cast<CassandraNodeState>(i);
      return true;
    }
  }
  state = CassandraNodeState::Normal;
  return false;
}

class JMXConnection : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1719;
  JMXConnection() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getJmxHost() const { return getstring(1, 1); }
  void setJmxHost(const std::string& v) { setstring(1, 1, v); }
  int64_t getJmxPort() const { return getint64(5); }
  void setJmxPort(int64_t v) { setint64(2, 5, v); }
  std::string getJmxService() const { return getstring(3, 6); }
  void setJmxService(const std::string& v) { setstring(3, 6, v); }
  std::optional<UserCredentials> getCredentials() const {
    return getObjectAs<UserCredentials>(4, 10);
  }
  void setCredentials(const UserCredentials& v) { setObjectAccessor(4, 10, v); }
};

class CassandraSSLConfig : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1927;
  CassandraSSLConfig() : CNMessageBase(kNamespaceId, kClassId) {}

  // Non-zero = SSL on; the other fields are read only then.
  int64_t getSslEnabled() const { return getint64(1); }
  void setSslEnabled(int64_t v) { setint64(1, 1, v); }
  std::string getKeystorePath() const { return getstring(2, 2); }
  void setKeystorePath(const std::string& v) { setstring(2, 2, v); }
  pstring getKeystorePassword() const { return getpstringobject(3, 6); }
  void setKeystorePassword(const std::string& encrypted) { setpstring(3, 6, encrypted); }
  std::string getTruststorePath() const { return getstring(4, 7); }
  void setTruststorePath(const std::string& v) { setstring(4, 7, v); }
  pstring getTruststorePassword() const { return getpstringobject(5, 11); }
  void setTruststorePassword(const std::string& encrypted) { setpstring(5, 11, encrypted); }
};

class AuthConfig : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1952;
  AuthConfig() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraSSLConfig> getSsl() const { return getObjectAs<CassandraSSLConfig>(1, 1); }
  void setSsl(const CassandraSSLConfig& v) { setObjectAccessor(1, 1, v); }
};

// One Cassandra node of a cluster instance. Fields 7, 12 and 14 are not used.
class CassandraNode : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1720;
  CassandraNode() : CNMessageBase(kNamespaceId, kClassId) {}

  std::string getHostId() const { return getstring(1, 1); }
  void setHostId(const std::string& v) { setstring(1, 1, v); }
  std::optional<TqEntities::ClientEntity> getClient() const {
    return getObjectAs<TqEntities::ClientEntity>(2, 5);
  }
  void setClient(const TqEntities::ClientEntity& v) { setObjectAccessor(2, 5, v); }
  std::string getClientName() const { return getstring(3, 6); }
  void setClientName(const std::string& v) { setstring(3, 6, v); }
  std::string getAddress() const { return getstring(4, 10); }
  void setAddress(const std::string& v) { setstring(4, 10, v); }
  std::string getDataCenter() const { return getstring(5, 14); }
  void setDataCenter(const std::string& v) { setstring(5, 14, v); }
  std::string getRack() const { return getstring(6, 18); }
  void setRack(const std::string& v) { setstring(6, 18, v); }
  std::string getTokens() const { return getstring(8, 23); }
  void setTokens(const std::string& v) { setstring(8, 23, v); }
  // A CassandraNodeState number.
  int64_t getState() const { return getint64(27); }
  void setState(int64_t v) { setint64(9, 27, v); }
  int64_t getDown() const { return getint64(28); }
  void setDown(int64_t v) { setint64(10, 28, v); }
  // Data directories joined by ";".
  std::string getDataDirectories() const { return getstring(11, 29); }
  void setDataDirectories(const std::string& v) { setstring(11, 29, v); }
  std::string getConfigDirectory() const { return getstring(13, 37); }
  void setConfigDirectory(const std::string& v) { setstring(13, 37, v); }
  bool hasJavaHome() const { return isSet(15); }
  std::string getJavaHome() const { return getstring(15, 42); }
  void setJavaHome(const std::string& v) { setstring(15, 42, v); }
  std::optional<JMXConnection> getJmx() const { return getObjectAs<JMXConnection>(16, 46); }
  void setJmx(const JMXConnection& v) { setObjectAccessor(16, 46, v); }
  int64_t getPlaceholder() const { return getint64(47); }
  void setPlaceholder(int64_t v) { setint64(17, 47, v); }
  std::optional<AuthConfig> getAuth() const { return getObjectAs<AuthConfig>(18, 48); }
  void setAuth(const AuthConfig& v) { setObjectAccessor(18, 48, v); }
  // Client name, "_" and address, set when several nodes share one client.
  bool hasAgentInstanceName() const { return isSet(19); }
  std::string getAgentInstanceName() const { return getstring(19, 49); }
  void setAgentInstanceName(const std::string& v) { setstring(19, 49, v); }
};

// The node the suite reaches the cluster through.
class CassandraGatewayNode : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1721;
  CassandraGatewayNode() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraNode> getNode() const { return getObjectAs<CassandraNode>(1, 1); }
  void setNode(const CassandraNode& v) { setObjectAccessor(1, 1, v); }
  std::optional<UserCredentials> getCqlCredentials() const {
    return getObjectAs<UserCredentials>(3, 3);
  }
  void setCqlCredentials(const UserCredentials& v) { setObjectAccessor(3, 3, v); }
};

class CassandraConfig : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1722;
  CassandraConfig() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraGatewayNode> getGatewayNode() const {
    return getObjectAs<CassandraGatewayNode>(1, 1);
  }
  void setGatewayNode(const CassandraGatewayNode& v) { setObjectAccessor(1, 1, v); }
  std::vector<CassandraNode> getNodes() const { return getListAs<CassandraNode>(2, 2); }
  void setNodes(const std::vector<CassandraNode>& v) { setListOf(2, 2, v); }
  std::string getClusterName() const { return getstring(4, 7); }
  void setClusterName(const std::string& v) { setstring(4, 7, v); }
  bool hasConfigFilePath() const { return isSet(8); }
  std::string getConfigFilePath() const { return getstring(8, 20); }
  void setConfigFilePath(const std::string& v) { setstring(8, 20, v); }
};

class DistributedClusterConfig : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 564;
  DistributedClusterConfig() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<CassandraConfig> getCassandraConfig() const {
    return getObjectAs<CassandraConfig>(6, 6);
  }
  void setCassandraConfig(const CassandraConfig& v) { setObjectAccessor(6, 6, v); }
};

// A cluster instance and its properties, for stored procedure 0x1E4FDD52.
class ClusterInstanceInfo : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 565;
  static constexpr int64_t kOperationGet = 1;
  static constexpr int64_t kOperationSet = 2;
  static constexpr int64_t kClusterTypeCassandra = 9;
  ClusterInstanceInfo() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<TqEntities::InstanceEntity> getInstance() const {
    return getObjectAs<TqEntities::InstanceEntity>(1, 1);
  }
  void setInstance(const TqEntities::InstanceEntity& v) { setObjectAccessor(1, 1, v); }
  int64_t getOperation() const { return getint64(2); }
  void setOperation(int64_t v) { setint64(2, 2, v); }
  int64_t getClusterType() const { return getint64(3); }
  void setClusterType(int64_t v) { setint64(3, 3, v); }
  std::optional<DistributedClusterConfig> getClusterConfig() const {
    return getObjectAs<DistributedClusterConfig>(4, 4);
  }
  void setClusterConfig(const DistributedClusterConfig& v) { setObjectAccessor(4, 4, v); }
};

class DistributedClusterInstanceReq : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 566;
  DistributedClusterInstanceReq() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<ClusterInstanceInfo> getInstanceInfo() const {
    return getObjectAs<ClusterInstanceInfo>(1, 1);
  }
  void setInstanceInfo(const ClusterInstanceInfo& v) { setObjectAccessor(1, 1, v); }
};

class DistributedClusterInstanceResp : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 567;
  DistributedClusterInstanceResp() : CNMessageBase(kNamespaceId, kClassId) {}

  std::optional<ClusterInstanceInfo> getInstanceInfo() const {
    return getObjectAs<ClusterInstanceInfo>(1, 1);
  }
  void setInstanceInfo(const ClusterInstanceInfo& v) { setObjectAccessor(1, 1, v); }
};

// One content item of a subclient (only the cluster name set: the whole
// cluster), and one row of a content browse.
class CassandraContent : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1799;
  CassandraContent() : CNMessageBase(kNamespaceId, kClassId) {}

  bool hasClusterName() const { return isSet(1); }
  std::string getClusterName() const { return getstring(1, 1); }
  void setClusterName(const std::string& v) { setstring(1, 1, v); }
  bool hasKeyspaceName() const { return isSet(2); }
  std::string getKeyspaceName() const { return getstring(2, 5); }
  void setKeyspaceName(const std::string& v) { setstring(2, 5, v); }
  bool hasDataCenter() const { return isSet(3); }
  std::string getDataCenter() const { return getstring(3, 9); }
  void setDataCenter(const std::string& v) { setstring(3, 9, v); }
  int64_t getReplicationFactor() const { return getint64(13); }
  void setReplicationFactor(int64_t v) { setint64(4, 13, v); }
  std::string getReplicationClass() const { return getstring(5, 14); }
  void setReplicationClass(const std::string& v) { setstring(5, 14, v); }
};

class CassandraSubclientProps : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 30;
  static constexpr uint32_t kClassId = 1800;
  CassandraSubclientProps() : CNMessageBase(kNamespaceId, kClassId) {}

  bool hasContents() const { return isSet(1); }
  std::vector<CassandraContent> getContents() const { return getListAs<CassandraContent>(1, 1); }
  void setContents(const std::vector<CassandraContent>& v) { setListOf(1, 1, v); }
};

}  // namespace App
