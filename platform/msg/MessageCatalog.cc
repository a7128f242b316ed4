#include "platform/msg/MessageCatalog.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

struct Registered {
  std::string name;
  uint32_t tag = 0;
};

// Built on first use, so that registrations made by other files' load-time
// initialisers find it whatever the order of initialisation.
struct Catalog {
  std::mutex mutex;
  std::map<std::pair<uint32_t, uint32_t>, Registered> records;
};

Catalog& TheCatalog() {
  static Catalog* catalog = new Catalog();  // never destroyed: used until exit
  return *catalog;
}

}  // namespace

uint32_t CMessageCatalog::Hash24(const std::string& name) {
  uint32_t h = 0;
  for (unsigned char c : name) h = h * 31u + c;
  return h & 0x00FFFFFFu;
}

uint32_t CMessageCatalog::TagFor(uint32_t ns, const std::string& shortName) {
  return (ns << 24) | Hash24(shortName);
}

void CMessageCatalog::Register(uint32_t ns, uint32_t cls, const std::string& shortName,
                               uint32_t tag) {
  Catalog& catalog = TheCatalog();
  std::lock_guard<std::mutex> lock(catalog.mutex);
  Registered& entry = catalog.records[{ns, cls}];
  entry.name = shortName;
  entry.tag = tag != 0 ? tag : TagFor(ns, shortName);
}

void CMessageCatalog::Register(std::initializer_list<Entry> entries) {
  for (const Entry& e : entries) Register(e.ns, e.cls, e.shortName, e.tag);
}

bool CMessageCatalog::IsRegistered(uint32_t ns, uint32_t cls) {
  Catalog& catalog = TheCatalog();
  std::lock_guard<std::mutex> lock(catalog.mutex);
  return catalog.records.count({ns, cls}) != 0;
}

std::string CMessageCatalog::NameOf(uint32_t ns, uint32_t cls) {
  Catalog& catalog = TheCatalog();
  {
    std::lock_guard<std::mutex> lock(catalog.mutex);
    auto it = catalog.records.find({ns, cls});
    if (it != catalog.records.end()) return it->second.name;
  }
  return "Record_" + std::to_string(ns) + "_" + std::to_string(cls);
}

uint32_t CMessageCatalog::TagOf(uint32_t ns, uint32_t cls) {
  Catalog& catalog = TheCatalog();
  {
    std::lock_guard<std::mutex> lock(catalog.mutex);
    auto it = catalog.records.find({ns, cls});
    if (it != catalog.records.end()) return it->second.tag;
  }
  return TagFor(ns, NameOf(ns, cls));
}
