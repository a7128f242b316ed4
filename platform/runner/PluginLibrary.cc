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

CQiError CPluginLibrary::Load(const std::string& path, CoordinatorFactory& coordinatorFactory,
                              ControllerFactory& controllerFactory) {
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
  struct {
    const char* name;
    void* address;
  } symbols[] = {{"createICoordinatorInstance", nullptr}, {"createIControllerInstance", nullptr}};
  for (auto& symbol : symbols) {
    dlerror();
    symbol.address = dlsym(handle, symbol.name);
    if (symbol.address == nullptr) {
      const char* text = dlerror();
      return FXErrorUtil::ErrorWin32(FXLOC, 127, "Plug-in %s does not export %s: %s", path.c_str(),
                                     symbol.name, text ? text : "no such symbol");
    }
  }
  coordinatorFactory = reinterpret_cast<CoordinatorFactory>(symbols[0].address);
  controllerFactory = reinterpret_cast<ControllerFactory>(symbols[1].address);
  return CQiError::Success();
}

}  // namespace TqRunner
