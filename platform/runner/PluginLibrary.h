#pragma once

#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/runner/RunnerTypes.h"

namespace DistributedQEL {
class IClientBrowse;
}

namespace TqRunner {

typedef DistributedQEL::IClientBrowse* (*ClientBrowseFactory)(int value);

// A plug-in library loaded with dlopen, as the suite loads it: its exported
// factories "createICoordinatorInstance" and "createIControllerInstance",
// and for a cluster browse "createClientBrowseInstance".
// A library once loaded stays loaded for the life of the process (the suite
// never unloads a plug-in while it may still run, and the plug-in keeps
// process-wide state such as its collect-file counter).
class CPluginLibrary {
 public:
  // Loads the library (or finds it loaded) and resolves both factories.
  // Error 126 when the library cannot be loaded, 127 when a factory is
  // missing; the messages carry the loader's text.
  static CQiError Load(const std::string& path, CoordinatorFactory& coordinatorFactory,
                       ControllerFactory& controllerFactory);
  // Loads the library (or finds it loaded) and resolves the browse factory;
  // errors as Load.
  static CQiError LoadClientBrowse(const std::string& path, ClientBrowseFactory& factory);

 private:
  // The loaded library's address of each named symbol, in order.
  static CQiError Resolve(const std::string& path, const std::vector<const char*>& names,
                          std::vector<void*>& addresses);
};

}  // namespace TqRunner
