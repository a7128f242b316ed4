#include "platform/msg/SuiteServiceRecords.h"

#include "platform/msg/MessageCatalog.h"

namespace {

const CMessageCatalogRegistration kSuiteServiceRecords{
    CMessageCatalog::EntryOf<CNSession::tqsExecuteRemoteCommandType>("tqsExecuteRemoteCommandType",
                                                                     0x09000111),
    CMessageCatalog::EntryOf<App::GetClientsForIPAddressRequest>("GetClientsForIPAddressRequest"),
    CMessageCatalog::EntryOf<App::GetClientsForIPAddressResponse>("GetClientsForIPAddressResponse"),
    CMessageCatalog::EntryOf<App::KeyValueInfo>("KeyValueInfo"),
    CMessageCatalog::EntryOf<App::ZELKShareInfo>("ZELKShareInfo"),
    CMessageCatalog::EntryOf<App::SetZELKSharePropsReq>("SetZELKSharePropsReq"),
    CMessageCatalog::EntryOf<App::SetZELKSharePropsResp>("SetZELKSharePropsResp"),
};

}  // namespace
