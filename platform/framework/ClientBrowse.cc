#include "platform/framework/ClientBrowse.h"

namespace DistributedQEL {

CQiError IClientBrowse::CreateFolder(const std::string&, App::DistributedClusterType*,
                                     App::CreateFolderRequest*, App::GenericResp*) {
  return CQiError::Success();
}

}  // namespace DistributedQEL
