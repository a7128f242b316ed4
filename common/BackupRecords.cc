#include "common/BackupRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

const CMessageCatalogRegistration kBackupRecords{
    CMessageCatalog::EntryOf<DistributedQEL::CassandraTable>("CassandraTable"),
    CMessageCatalog::EntryOf<DistributedQEL::CassandraKeyspace>("CassandraKeyspace"),
    CMessageCatalog::EntryOf<DistributedQEL::CassandraNodeKeyspace>("CassandraNodeKeyspace"),
    CMessageCatalog::EntryOf<DistributedQEL::CassandraCreateCollectFiles>(
        "CassandraCreateCollectFiles"),
    CMessageCatalog::EntryOf<App::CassandraKeyspaceStatus>("CassandraKeyspaceStatus"),
    CMessageCatalog::EntryOf<App::CassandraNodeStatus>("CassandraNodeStatus"),
    CMessageCatalog::EntryOf<App::CassandraLastBackupStatus>("CassandraLastBackupStatus"),
};

}  // namespace
