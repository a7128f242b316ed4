#include "common/CleanupRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

const CMessageCatalogRegistration kCleanupRecords{
    CMessageCatalog::EntryOf<DistributedQEL::CassandraPostOpParams>("CassandraPostOpParams"),
    CMessageCatalog::EntryOf<DistributedQEL::CassandraPostOpParamsList>(
        "CassandraPostOpParamsList"),
};

}  // namespace
