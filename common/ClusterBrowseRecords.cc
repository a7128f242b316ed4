#include "common/ClusterBrowseRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

using namespace App;

// MachineBrowseReq, MachineBrowseResp and GenericResp have no class id in the
// suite's catalogue that the plug-in relies on; 9002 to 9004 are its own.
const CMessageCatalogRegistration kClusterBrowseRecords{
    CMessageCatalog::EntryOf<DistributedAppsBrowseProperties>("DistributedAppsBrowseProperties"),
    CMessageCatalog::EntryOf<MachineBrowseReq>("MachineBrowseReq"),
    CMessageCatalog::EntryOf<CassandraBrowseItem>("CassandraBrowseItem"),
    CMessageCatalog::EntryOf<MachineBrowseItem>("MachineBrowseItem"),
    CMessageCatalog::EntryOf<MachineBrowseResp>("MachineBrowseResp"),
    CMessageCatalog::EntryOf<GenericResp>("GenericResp"),
};

}  // namespace
