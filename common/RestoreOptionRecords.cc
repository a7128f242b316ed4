#include "common/RestoreOptionRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

// CassandraClientMap has no class id in the suite's catalogue that the
// plug-in relies on; 9001 is this plug-in's own.
const CMessageCatalogRegistration kRestoreOptionRecords{
    CMessageCatalog::EntryOf<App::CassandraClientMap>("CassandraClientMap"),
    CMessageCatalog::EntryOf<App::CassandraClientMapEntity>("CassandraClientMapEntity"),
    CMessageCatalog::EntryOf<App::CassandraDockerClientMap>("CassandraDockerClientMap"),
    CMessageCatalog::EntryOf<App::CassandraRestoreOptions>("CassandraRestoreOptions"),
    CMessageCatalog::EntryOf<App::DistributedAppsRestoreOptions>("DistributedAppsRestoreOptions"),
    CMessageCatalog::EntryOf<TMMsg::RestoreOptions>("RestoreOptions"),
    CMessageCatalog::EntryOf<TMMsg::JobOption>("JobOption"),
};

}  // namespace
