#include "platform/msg/EntityRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace TqEntities;

const CMessageCatalogRegistration kEntityRecords{
    CMessageCatalog::EntryOf<ClientEntity>("ClientEntity"),
    CMessageCatalog::EntryOf<OmbrelEntity>("OmbrelEntity"),
    CMessageCatalog::EntryOf<InstanceEntity>("InstanceEntity"),
    CMessageCatalog::EntryOf<BackupSetEntity>("BackupSetEntity"),
    CMessageCatalog::EntryOf<SubClientEntity>("SubClientEntity"),
    CMessageCatalog::EntryOf<MediaAgentEntity>("MediaAgentEntity"),
    CMessageCatalog::EntryOf<TimeEntity>("TimeEntity"),
    CMessageCatalog::EntryOf<AppIdEntity>("AppIdEntity", 0x128C0C7A),
};

}  // namespace
