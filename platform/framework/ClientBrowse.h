#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/BrowseTypes.h"
#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// The framework's cluster browser interface, used by the suite's user
// interface to list a cluster.
class IClientBrowse {
 public:
  // The integer is not kept.
  explicit IClientBrowse(int) {}
  virtual ~IClientBrowse() = default;
  IClientBrowse(const IClientBrowse&) = delete;
  IClientBrowse& operator=(const IClientBrowse&) = delete;

  // Answers one browse request.
  virtual CQiError MachineBrowse(const std::string& name, App::DistributedClusterType* clusterType,
                                 App::MachineBrowseReq* request, App::MachineBrowseResp* response,
                                 App::GenericResp* genericResponse) = 0;
  // Succeeds and leaves the response as it is.
  virtual CQiError CreateFolder(const std::string& folderName,
                                App::DistributedClusterType* clusterType,
                                App::CreateFolderRequest* request, App::GenericResp* response);
};

}  // namespace DistributedQEL
