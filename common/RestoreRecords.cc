#include "common/RestoreRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace DistributedQEL;

const CMessageCatalogRegistration kRestoreRecords{
    CMessageCatalog::EntryOf<CassandraSourceTargetMapping>("CassandraSourceTargetMapping"),
    CMessageCatalog::EntryOf<CassandraSourceTargetMappingList>("CassandraSourceTargetMappingList"),
    CMessageCatalog::EntryOf<CassandraZelkRestoreOptions>("CassandraZelkRestoreOptions",
                                                          0x77C2F296),
    CMessageCatalog::EntryOf<CassandraSystemKey>("CassandraSystemKey"),
    CMessageCatalog::EntryOf<CassandraSystemKeyInfo>("CassandraSystemKeyInfo"),
    CMessageCatalog::EntryOf<AgentStoppedStatus>("AgentStoppedStatus"),
};

}  // namespace
