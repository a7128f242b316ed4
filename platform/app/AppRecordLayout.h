#pragma once

#include <cstdint>

// Namespace, class and field numbers of the application records that the
// suite's central server reads and writes. The platform addresses these
// records through the record base by number (the named record classes belong
// to the agents).
namespace AppRecordLayout {

struct RecordId {
  uint32_t ns;
  uint32_t cls;
};
struct FieldId {
  int field;
  int index;
};

// Suite client (TqEntities).
constexpr RecordId kClientEntity{18, 4};
constexpr FieldId kClientId{0, 0};
constexpr FieldId kClientName{1, 1};
constexpr FieldId kClientHostName{2, 5};

constexpr RecordId kInstanceEntity{18, 8};
constexpr FieldId kInstanceId{0, 0};

// Clients of node addresses.
constexpr RecordId kGetClientsForIPAddressRequest{30, 1938};
constexpr FieldId kIpAddresses{1, 1};
constexpr RecordId kGetClientsForIPAddressResponse{30, 1939};
constexpr FieldId kClients{1, 1};

// Cluster instance properties.
constexpr RecordId kDistributedClusterInstanceReq{30, 566};
constexpr RecordId kDistributedClusterInstanceResp{30, 567};
constexpr FieldId kInstanceInfo{1, 1};

constexpr RecordId kClusterInstanceInfo{30, 565};
constexpr FieldId kInfoInstance{1, 1};
constexpr FieldId kInfoOperation{2, 2};
constexpr FieldId kInfoClusterType{3, 3};
constexpr FieldId kInfoClusterConfig{4, 4};
constexpr int64_t kOperationGet = 1;
constexpr int64_t kOperationSet = 2;
constexpr int64_t kClusterTypeCassandra = 9;

constexpr RecordId kDistributedClusterConfig{30, 564};
constexpr FieldId kCassandraConfigField{6, 6};

constexpr RecordId kCassandraConfig{30, 1722};
constexpr FieldId kConfigGatewayNode{1, 1};
constexpr FieldId kConfigNodes{2, 2};
constexpr FieldId kConfigClusterName{4, 7};
constexpr FieldId kConfigFilePath{8, 20};

constexpr RecordId kCassandraGatewayNode{30, 1721};
constexpr FieldId kGatewayNode{1, 1};
constexpr FieldId kGatewayCqlCredentials{3, 3};

// User name and encrypted password (reached only as a nested object).
constexpr RecordId kUserCredentials{20, 0};
constexpr FieldId kUserName{1, 1};
constexpr FieldId kUserPassword{2, 5};

// One Cassandra node.
constexpr RecordId kCassandraNode{30, 1720};
constexpr FieldId kNodeHostId{1, 1};
constexpr FieldId kNodeClient{2, 5};
constexpr FieldId kNodeClientName{3, 6};
constexpr FieldId kNodeAddress{4, 10};
constexpr FieldId kNodeDataCenter{5, 14};
constexpr FieldId kNodeRack{6, 18};
constexpr FieldId kNodeDataDirectories{11, 29};
constexpr FieldId kNodeConfigDirectory{13, 37};
constexpr FieldId kNodeJavaHome{15, 42};
constexpr FieldId kNodeJmx{16, 46};
constexpr FieldId kNodeAuth{18, 48};

constexpr RecordId kJMXConnection{30, 1719};
constexpr FieldId kJmxHost{1, 1};
constexpr FieldId kJmxPort{2, 5};
constexpr FieldId kJmxService{3, 6};
constexpr FieldId kJmxCredentials{4, 10};

constexpr RecordId kAuthConfig{30, 1952};
constexpr FieldId kAuthSsl{1, 1};

constexpr RecordId kCassandraSSLConfig{30, 1927};
constexpr FieldId kSslEnabled{1, 1};
constexpr FieldId kSslKeystorePath{2, 2};
constexpr FieldId kSslKeystorePassword{3, 6};
constexpr FieldId kSslTruststorePath{4, 7};
constexpr FieldId kSslTruststorePassword{5, 11};

// A subclient's content.
constexpr RecordId kCassandraSubclientProps{30, 1800};
constexpr FieldId kPropsContents{1, 1};
constexpr RecordId kCassandraContent{30, 1799};
constexpr FieldId kContentClusterName{1, 1};
constexpr FieldId kContentKeyspaceName{2, 5};
constexpr FieldId kContentDataCenter{3, 9};

}  // namespace AppRecordLayout
