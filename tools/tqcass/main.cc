// Command-line front end of the Cassandra backup plug-in.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Demo() {
  std::printf("Cassandra backup plug-in\n");
  void* lib = dlopen(TQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "cannot load %s: %s\n", TQ_PLUGIN_PATH, dlerror());
    return 1;
  }
  std::printf("library: %s\n", TQ_PLUGIN_PATH);
  for (const char* name :
       {"createICoordinatorInstance", "createIControllerInstance", "createClientBrowseInstance"}) {
    std::printf("  %-28s %s\n", name, dlsym(lib, name) ? "exported" : "missing");
  }
  dlclose(lib);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "demo";
  if (command == "demo") return Demo();
  std::fprintf(stderr, "usage: %s demo\n", argv[0]);
  return 2;
}
