#include "platform/runner/PluginLibrary.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace TqRunner {

namespace {

std::mutex g_libraryMutex;
// Loaded libraries by path; never closed.
std::map<std::string, void*>& Libraries() {
  static std::map<std::string, void*>* libraries = new std::map<std::string, void*>();
  return *libraries;
}

}  // namespace

CQiError CPluginLibrary::Resolve(const std::string& path, const std::vector<const char*>& names,
                                 std::vector<void*>& addresses) {
  std::lock_guard<std::mutex> lock(g_libraryMutex);
  void*& handle = Libraries()[path];
  if (handle == nullptr) {
    dlerror();
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* text = dlerror();
      Libraries().erase(path);
      return FXErrorUtil::ErrorWin32(FXLOC, 126, "Failed to load plug-in %s: %s", path.c_str(),
                                     text ? text : "unknown error");
    }
    TQLOG(1, "Loaded plug-in %s", path.c_str());
  }
  addresses.clear();
  for (const char* name : names) {
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr) {
      const char* text = dlerror();
      return FXErrorUtil::ErrorWin32(FXLOC, 127, "Plug-in %s does not export %s: %s", path.c_str(),
                                     name, text ? text : "no such symbol");
    }
    addresses.push_back(address);
  }
  return CQiError::Success();
}

CQiError CPluginLibrary::Load(const std::string& path, CoordinatorFactory& coordinatorFactory,
                              ControllerFactory& controllerFactory) {
  std::vector<void*> addresses;
  CQiError e =
      Resolve(path, {"createICoordinatorInstance", "createIControllerInstance"}, addresses);
  if (e.IsError()) return e;
  coordinatorFactory = reinterpret_cast<CoordinatorFactory>(addresses[0]);
  controllerFactory = reinterpret_cast<ControllerFactory>(addresses[1]);
  return CQiError::Success();
}

CQiError CPluginLibrary::LoadClientBrowse(const std::string& path, ClientBrowseFactory& factory) {
  std::vector<void*> addresses;
  CQiError e = Resolve(path, {"createClientBrowseInstance"}, addresses);
  if (e.IsError()) return e;
  factory = reinterpret_cast<ClientBrowseFactory>(addresses[0]);
  return CQiError::Success();
}

}  // namespace TqRunner
