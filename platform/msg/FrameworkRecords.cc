#include "platform/msg/FrameworkRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace DistributedQEL;

// The class ids 9001 to 9005 are this platform's own: the framework builds
// these records, and its catalogue fixes their tags, not their class ids.
const CMessageCatalogRegistration kFrameworkRecords{
    CMessageCatalog::EntryOf<DINameValue>("DINameValue"),
    CMessageCatalog::EntryOf<NodeInit>("NodeInit"),
    CMessageCatalog::EntryOf<NodeStop>("NodeStop"),
    CMessageCatalog::EntryOf<ControllerStartup>("ControllerStartup", 0x77BBAF21),
    CMessageCatalog::EntryOf<ControllerDone>("ControllerDone", 0x7712995E),
    CMessageCatalog::EntryOf<TaskID>("TaskID"),
    CMessageCatalog::EntryOf<TaskInfo>("TaskInfo", 0x776327F3),
    CMessageCatalog::EntryOf<TaskRequest>("TaskRequest"),
    CMessageCatalog::EntryOf<StreamInfo>("StreamInfo"),
    CMessageCatalog::EntryOf<RestoreTaskStats>("RestoreTaskStats"),
    CMessageCatalog::EntryOf<RestoreTaskInfo>("RestoreTaskInfo"),
};

}  // namespace
