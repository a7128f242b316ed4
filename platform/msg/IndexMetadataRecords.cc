#include "platform/msg/IndexMetadataRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace IdxMetadata;

const CMessageCatalogRegistration kIndexMetadataRecords{
    CMessageCatalog::EntryOf<IdxViewInfo>("IdxViewInfo", 0x65F65749),
    CMessageCatalog::EntryOf<IdxObjectHeader>("IdxObjectHeader", 0x651935BA),
    CMessageCatalog::EntryOf<IdxRecordId>("IdxRecordId", 0x65999426),
    CMessageCatalog::EntryOf<CassandraReplicationInfo>("CassandraReplicationInfo"),
    CMessageCatalog::EntryOf<CassandraKeyspaceMetadata>("CassandraKeyspaceMetadata"),
    CMessageCatalog::EntryOf<CassandraEncryptionInfo>("CassandraEncryptionInfo", 0x659FFB7C),
    CMessageCatalog::EntryOf<CassandraTableMetadata>("CassandraTableMetadata"),
    CMessageCatalog::EntryOf<CassandraNodeMetadata>("CassandraNodeMetadata"),
    CMessageCatalog::EntryOf<IdxMetaData>("IdxMetaData"),
};

}  // namespace
