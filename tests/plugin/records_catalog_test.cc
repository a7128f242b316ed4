#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "common/CleanupRecords.h"
#include "common/ClusterBrowseRecords.h"
#include "common/RestoreOptionRecords.h"
#include "common/RestoreRecords.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/msg/EntityRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/IndexMetadataRecords.h"
#include "platform/msg/MessageCatalog.h"
#include "platform/msg/SuiteServiceRecords.h"

namespace {

// The tag of a record whose tag the suite's catalogue does not give.
constexpr uint32_t kHashed = 0;

struct CatalogCase {
  std::function<CNMessageBase()> make;
  uint32_t ns;
  uint32_t cls;
  uint32_t tag;  // kHashed: the hash of the name
  const char* name;
};

template <class R>
std::function<CNMessageBase()> Make() {
  return [] { return R(); };
}

// Every named record: its namespace and class ids and its tag. Tags that do
// not follow the hash of the name are the catalogue's and must win. Class ids
// 9001 and up are ones the suite leaves to its platform and plug-ins.
const CatalogCase kCases[] = {
    {Make<App::CassandraNode>(), 30, 1720, 0x1EF777CA, "CassandraNode"},
    {Make<App::JMXConnection>(), 30, 1719, 0x1E826C33, "JMXConnection"},
    {Make<UserCredentials>(), 20, 0, 0x148F63A6, "UserCredentials"},
    {Make<App::AuthConfig>(), 30, 1952, 0x1E214B2A, "AuthConfig"},
    {Make<App::CassandraSSLConfig>(), 30, 1927, 0x1E2F904E, "CassandraSSLConfig"},
    {Make<TqEntities::ClientEntity>(), 18, 4, 0x122FD3AE, "ClientEntity"},
    {Make<TqEntities::InstanceEntity>(), 18, 8, 0x1221ACF8, "InstanceEntity"},
    {Make<TqEntities::BackupSetEntity>(), 18, 9, kHashed, "BackupSetEntity"},
    {Make<TqEntities::SubClientEntity>(), 18, 10, 0x12D8E9CE, "SubClientEntity"},
    {Make<TqEntities::MediaAgentEntity>(), 18, 14, kHashed, "MediaAgentEntity"},
    {Make<TqEntities::TimeEntity>(), 18, 50, kHashed, "TimeEntity"},
    {Make<TqEntities::OmbrelEntity>(), 18, 3, kHashed, "OmbrelEntity"},
    {Make<TqEntities::AppIdEntity>(), 18, 46, 0x128C0C7A, "AppIdEntity"},
    {Make<DistributedQEL::NodeInit>(), 119, 5, 0x77C61A52, "NodeInit"},
    {Make<DistributedQEL::DINameValue>(), 119, 13, 0x7726E2A1, "DINameValue"},
    {Make<DistributedQEL::RestoreTaskStats>(), 119, 29, kHashed, "RestoreTaskStats"},
    {Make<DistributedQEL::RestoreTaskInfo>(), 119, 34, 0x77644461, "RestoreTaskInfo"},
    {Make<DistributedQEL::TaskID>(), 119, 37, 0x77E3DD80, "TaskID"},
    {Make<DistributedQEL::NodeStop>(), 119, 38, kHashed, "NodeStop"},
    {Make<DistributedQEL::CassandraCreateCollectFiles>(), 119, 52, 0x77AAFA51,
     "CassandraCreateCollectFiles"},
    {Make<DistributedQEL::CassandraTable>(), 119, 53, 0x7745AB06, "CassandraTable"},
    {Make<DistributedQEL::CassandraKeyspace>(), 119, 54, 0x77B01BCF, "CassandraKeyspace"},
    {Make<DistributedQEL::CassandraSystemKey>(), 119, 64, kHashed, "CassandraSystemKey"},
    {Make<DistributedQEL::CassandraSystemKeyInfo>(), 119, 65, kHashed, "CassandraSystemKeyInfo"},
    {Make<DistributedQEL::AgentStoppedStatus>(), 119, 66, 0x77E4793A, "AgentStoppedStatus"},
    {Make<DistributedQEL::CassandraZelkRestoreOptions>(), 119, 70, 0x77C2F296,
     "CassandraZelkRestoreOptions"},
    {Make<DistributedQEL::CassandraSourceTargetMappingList>(), 119, 75, 0x77F52A98,
     "CassandraSourceTargetMappingList"},
    {Make<DistributedQEL::CassandraPostOpParams>(), 119, 76, kHashed, "CassandraPostOpParams"},
    {Make<DistributedQEL::CassandraSourceTargetMapping>(), 119, 77, 0x77A202DA,
     "CassandraSourceTargetMapping"},
    {Make<DistributedQEL::CassandraPostOpParamsList>(), 119, 78, kHashed,
     "CassandraPostOpParamsList"},
    {Make<DistributedQEL::CassandraNodeKeyspace>(), 119, 79, 0x7760E7F1, "CassandraNodeKeyspace"},
    {Make<DistributedQEL::ControllerStartup>(), 119, 9001, 0x77BBAF21, "ControllerStartup"},
    {Make<DistributedQEL::ControllerDone>(), 119, 9002, 0x7712995E, "ControllerDone"},
    {Make<DistributedQEL::TaskInfo>(), 119, 9003, 0x776327F3, "TaskInfo"},
    {Make<DistributedQEL::TaskRequest>(), 119, 9004, kHashed, "TaskRequest"},
    {Make<DistributedQEL::StreamInfo>(), 119, 9005, kHashed, "StreamInfo"},
    {Make<App::DistributedAppsBrowseProperties>(), 30, 269, kHashed,
     "DistributedAppsBrowseProperties"},
    {Make<App::MachineBrowseItem>(), 30, 270, kHashed, "MachineBrowseItem"},
    {Make<App::DistributedClusterConfig>(), 30, 564, 0x1EA27C19, "DistributedClusterConfig"},
    {Make<App::ClusterInstanceInfo>(), 30, 565, 0x1E9EB3AC, "ClusterInstanceInfo"},
    {Make<App::DistributedClusterInstanceReq>(), 30, 566, 0x1E4FDD52,
     "DistributedClusterInstanceReq"},
    {Make<App::DistributedClusterInstanceResp>(), 30, 567, 0x1EABCD9C,
     "DistributedClusterInstanceResp"},
    {Make<App::DistributedAppsRestoreOptions>(), 30, 600, kHashed, "DistributedAppsRestoreOptions"},
    {Make<App::CassandraGatewayNode>(), 30, 1721, 0x1E0DCB9E, "CassandraGatewayNode"},
    {Make<App::CassandraConfig>(), 30, 1722, 0x1E37FB0A, "CassandraConfig"},
    {Make<App::CassandraRestoreOptions>(), 30, 1724, 0x1ED31FF8, "CassandraRestoreOptions"},
    {Make<App::CassandraBrowseItem>(), 30, 1734, kHashed, "CassandraBrowseItem"},
    {Make<App::CassandraContent>(), 30, 1799, 0x1ECDB5B1, "CassandraContent"},
    {Make<App::CassandraSubclientProps>(), 30, 1800, 0x1E5E95ED, "CassandraSubclientProps"},
    {Make<App::GetClientsForIPAddressRequest>(), 30, 1938, 0x1E122479,
     "GetClientsForIPAddressRequest"},
    {Make<App::GetClientsForIPAddressResponse>(), 30, 1939, 0x1E5A1F97,
     "GetClientsForIPAddressResponse"},
    {Make<App::CassandraKeyspaceStatus>(), 30, 2045, 0x1E4C80A1, "CassandraKeyspaceStatus"},
    {Make<App::CassandraNodeStatus>(), 30, 2046, 0x1E1FB45C, "CassandraNodeStatus"},
    {Make<App::CassandraLastBackupStatus>(), 30, 2047, 0x1EB46BD2, "CassandraLastBackupStatus"},
    {Make<App::ZELKShareInfo>(), 30, 2378, kHashed, "ZELKShareInfo"},
    {Make<App::SetZELKSharePropsReq>(), 30, 2382, kHashed, "SetZELKSharePropsReq"},
    {Make<App::SetZELKSharePropsResp>(), 30, 2383, kHashed, "SetZELKSharePropsResp"},
    {Make<App::KeyValueInfo>(), 30, 2660, kHashed, "KeyValueInfo"},
    {Make<App::CassandraClientMapEntity>(), 30, 3125, kHashed, "CassandraClientMapEntity"},
    {Make<App::CassandraDockerClientMap>(), 30, 3126, kHashed, "CassandraDockerClientMap"},
    {Make<App::CassandraClientMap>(), 30, 9001, kHashed, "CassandraClientMap"},
    {Make<App::MachineBrowseReq>(), 30, 9002, kHashed, "MachineBrowseReq"},
    {Make<App::MachineBrowseResp>(), 30, 9003, kHashed, "MachineBrowseResp"},
    {Make<App::GenericResp>(), 30, 9004, kHashed, "GenericResp"},
    {Make<CNSession::tqsExecuteRemoteCommandType>(), 9, 45, 0x09000111,
     "tqsExecuteRemoteCommandType"},
    {Make<TMMsg::JobOption>(), 12, 262, 0x0CBCAE72, "JobOption"},
    {Make<TMMsg::RestoreOptions>(), 12, 311, kHashed, "RestoreOptions"},
    {Make<IdxMetadata::IdxMetaData>(), 101, 93, 0x65F4850C, "IdxMetaData"},
    {Make<IdxMetadata::IdxObjectHeader>(), 101, 1, 0x651935BA, "IdxObjectHeader"},
    {Make<IdxMetadata::IdxViewInfo>(), 101, 0, 0x65F65749, "IdxViewInfo"},
    {Make<IdxMetadata::IdxRecordId>(), 101, 37, 0x65999426, "IdxRecordId"},
    {Make<IdxMetadata::CassandraReplicationInfo>(), 101, 107, 0x65ABE3D2,
     "CassandraReplicationInfo"},
    {Make<IdxMetadata::CassandraKeyspaceMetadata>(), 101, 108, 0x65C2BC1E,
     "CassandraKeyspaceMetadata"},
    {Make<IdxMetadata::CassandraTableMetadata>(), 101, 109, 0x650D2455, "CassandraTableMetadata"},
    {Make<IdxMetadata::CassandraNodeMetadata>(), 101, 137, 0x6597ED19, "CassandraNodeMetadata"},
    {Make<IdxMetadata::CassandraEncryptionInfo>(), 101, 147, 0x659FFB7C, "CassandraEncryptionInfo"},
    {Make<databrowse::BrowsePath>(), 100, 3, 0x640305EF, "BrowsePath"},
    {Make<databrowse::BrowseOptions>(), 100, 4, 0x64841894, "BrowseOptions"},
    {Make<databrowse::QueryRange>(), 100, 6, 0x64536ED6, "QueryRange"},
    {Make<databrowse::AdditionalFlagList>(), 100, 10, kHashed, "AdditionalFlagList"},
    {Make<databrowse::BrowseFlags>(), 100, 61, 0x6460234E, "BrowseFlags"},
    {Make<databrowse::BrowseViewSpec>(), 100, 63, 0x6479E812, "BrowseViewSpec"},
    {Make<databrowse::TimeRange>(), 100, 64, kHashed, "TimeRange"},
    {Make<databrowse::QueryFilter>(), 100, 71, 0x64ED92E3, "QueryFilter"},
    {Make<databrowse::Query>(), 100, 80, 0x64AC28A8, "Query"},
    {Make<databrowse::BrowseRequest>(), 100, 92, 0x644C8485, "BrowseRequest"},
    {Make<databrowse::BrowseItemDetails>(), 100, 93, 0x64D022B6, "BrowseItemDetails"},
    {Make<databrowse::BrowseResult>(), 100, 98, 0x64FB1F67, "BrowseResult"},
    {Make<databrowse::BrowseResponseList>(), 100, 102, 0x64626849, "BrowseResponseList"},
    {Make<databrowse::BrowseResponse>(), 100, 9001, 0x646BC10B, "BrowseResponse"},
    {Make<databrowse::AggregateResult>(), 100, 9002, 0x640ADE9C, "AggregateResult"},
    {Make<databrowse::BrowseData>(), 100, 9003, 0x64FD9174, "BrowseData"},
    {Make<databrowse::AdditionalFlag>(), 100, 9004, 0x6432CC53, "AdditionalFlag"},
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

TEST(RecordCatalog, EveryRecordHasItsIdsNameAndTag) {
  for (const CatalogCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CNMessageBase record = c.make();
    EXPECT_EQ(record.getNamespaceId(), c.ns);
    EXPECT_EQ(record.getClassId(), c.cls);
    EXPECT_TRUE(CMessageCatalog::IsRegistered(c.ns, c.cls));
    EXPECT_EQ(record.getTagName(), c.name);
    uint32_t expected = c.tag == kHashed ? CMessageCatalog::TagFor(c.ns, c.name) : c.tag;
    EXPECT_EQ(Hex(record.getTagID()), Hex(expected));
    // A record made by the framework from the bare pair answers alike.
    EXPECT_EQ(CNMessageBase(c.ns, c.cls).getTagID(), record.getTagID());
  }
}

TEST(RecordCatalog, PairsAndTagsAreUnique) {
  std::set<std::pair<uint32_t, uint32_t>> pairs;
  std::set<uint32_t> tags;
  for (const CatalogCase& c : kCases) {
    EXPECT_TRUE(pairs.insert({c.ns, c.cls}).second) << c.name;
    EXPECT_TRUE(tags.insert(c.make().getTagID()).second) << c.name;
  }
}

// Receivers tell messages apart by tag: text of one record is refused by
// every other record class.
TEST(RecordCatalog, EmptyRecordsRoundTripAndRefuseOtherRecords) {
  for (const CatalogCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string xml;
    ASSERT_EQ(c.make().serialize(xml, false), 0);
    CNMessageBase same(c.ns, c.cls);
    EXPECT_EQ(same.unserialize(xml), 0);
    CNMessageBase other(c.ns, c.cls + 1);
    EXPECT_EQ(other.unserialize(xml), CNMessageBase::kXmlOtherRecord);
  }
}

}  // namespace
