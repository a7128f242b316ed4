// Loads the built plug-in the way the suite does: dlopen, then the three
// factory names; nothing else may be visible.

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/framework/ClientBrowse.h"
#include "platform/framework/Controller.h"
#include "platform/framework/Coordinator.h"

namespace {

typedef DistributedQEL::ICoordinator* (*CoordinatorFactory)(const char*);
typedef DistributedQEL::CController* (*ControllerFactory)(const char*);
typedef DistributedQEL::IClientBrowse* (*BrowseFactory)(int);

class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(TQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  void* handle_ = nullptr;
};

TEST_F(LoadedPlugin, FindsTheThreeFactoriesAndTheyWork) {
  auto coordinator =
      reinterpret_cast<CoordinatorFactory>(dlsym(handle_, "createICoordinatorInstance"));
  auto controller =
      reinterpret_cast<ControllerFactory>(dlsym(handle_, "createIControllerInstance"));
  auto browse = reinterpret_cast<BrowseFactory>(dlsym(handle_, "createClientBrowseInstance"));
  ASSERT_NE(coordinator, nullptr);
  ASSERT_NE(controller, nullptr);
  ASSERT_NE(browse, nullptr);

  std::unique_ptr<DistributedQEL::ICoordinator> scan(coordinator("scan"));
  ASSERT_NE(scan, nullptr);
  EXPECT_TRUE(scan->shouldSkipThisPhase());
  std::unique_ptr<DistributedQEL::ICoordinator> backup(coordinator("backup"));
  ASSERT_NE(backup, nullptr);
  EXPECT_TRUE(backup->getStartAllNodesAtOnce());
  EXPECT_EQ(coordinator("Backup"), nullptr);
  std::unique_ptr<DistributedQEL::CController> node(controller("restore"));
  EXPECT_NE(node, nullptr);
  EXPECT_EQ(controller("scan"), nullptr);
  std::unique_ptr<DistributedQEL::IClientBrowse> browser(browse(-7));
  EXPECT_NE(browser, nullptr);
}

TEST_F(LoadedPlugin, ClassSymbolsAreNotVisible) {
  const char* hidden[] = {
      "_ZN11TQCassandra5CScanD0Ev",                        // CScan's deleting destructor
      "_ZN11TQCassandra26CassandraBackupCoordinatorC1Ev",  // its constructor
      "_ZTVN11TQCassandra5CScanE",                         // vtable of CScan
  };
  for (const char* name : hidden) {
    SCOPED_TRACE(name);
    EXPECT_EQ(dlsym(handle_, name), nullptr);
  }
}

// The defined global and weak names of an ELF64 file's dynamic symbol table.
std::set<std::string> ExportedNames(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (file.size() < sizeof(Elf64_Ehdr)) return names;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(file.data());
  if (header->e_ident[EI_CLASS] != ELFCLASS64) return names;
  if (header->e_shoff + header->e_shnum * sizeof(Elf64_Shdr) > file.size()) return names;
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + header->e_shoff);
  for (int i = 0; i < header->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strings = sections[sections[i].sh_link];
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
    size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t s = 0; s < count; ++s) {
      const Elf64_Sym& sym = symbols[s];
      int binding = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
      names.insert(file.data() + strings.sh_offset + sym.st_name);
    }
  }
  return names;
}

TEST(PluginExports, OnlyTheThreeFactoriesAreDefined) {
  std::set<std::string> expected = {"createClientBrowseInstance", "createICoordinatorInstance",
                                    "createIControllerInstance"};
  EXPECT_EQ(ExportedNames(TQ_PLUGIN_PATH), expected);
}

}  // namespace
