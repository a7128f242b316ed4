#include "common/CassandraNodeRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace App;

const CMessageCatalogRegistration kCassandraNodeRecords{
    CMessageCatalog::EntryOf<UserCredentials>("UserCredentials", 0x148F63A6),
    CMessageCatalog::EntryOf<JMXConnection>("JMXConnection"),
    CMessageCatalog::EntryOf<CassandraSSLConfig>("CassandraSSLConfig", 0x1E2F904E),
    CMessageCatalog::EntryOf<AuthConfig>("AuthConfig"),
    CMessageCatalog::EntryOf<CassandraNode>("CassandraNode"),
    CMessageCatalog::EntryOf<CassandraGatewayNode>("CassandraGatewayNode"),
    CMessageCatalog::EntryOf<CassandraConfig>("CassandraConfig"),
    CMessageCatalog::EntryOf<DistributedClusterConfig>("DistributedClusterConfig"),
    CMessageCatalog::EntryOf<ClusterInstanceInfo>("ClusterInstanceInfo", 0x1E9EB3AC),
    CMessageCatalog::EntryOf<DistributedClusterInstanceReq>("DistributedClusterInstanceReq"),
    CMessageCatalog::EntryOf<DistributedClusterInstanceResp>("DistributedClusterInstanceResp"),
    CMessageCatalog::EntryOf<CassandraContent>("CassandraContent"),
    CMessageCatalog::EntryOf<CassandraSubclientProps>("CassandraSubclientProps"),
};

}  // namespace
