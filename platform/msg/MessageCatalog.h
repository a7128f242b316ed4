#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

class CNMessageBase;

// The suite's message catalogue: names and tag ids of records by
// (namespace id, class id).
class CMessageCatalog {
 public:
  // One catalogue entry: a record's short class name and, where the suite's
  // catalogue fixes one that differs from the hash, its tag id (0 = hash).
  struct Entry {
    uint32_t ns;
    uint32_t cls;
    const char* shortName;
    uint32_t tag;
  };
  // The entry of a named record class R (R::kNamespaceId, R::kClassId).
  template <class R>
  static Entry EntryOf(const char* shortName, uint32_t tag = 0) {
    return Entry{R::kNamespaceId, R::kClassId, shortName, tag};
  }

  // Lower 24 bits of h = h * 31 + c over the characters, from h = 0.
  static uint32_t Hash24(const std::string& name);
  // (namespace << 24) | Hash24(shortName).
  static uint32_t TagFor(uint32_t ns, const std::string& shortName);

  // Registers a record: its short class name and, where the suite's catalogue
  // fixes one that differs from the hash, its tag id (0 = use the hash). A
  // later registration of the same pair replaces the earlier one.
  static void Register(uint32_t ns, uint32_t cls, const std::string& shortName, uint32_t tag = 0);
  static void Register(std::initializer_list<Entry> entries);

  // Whether the pair is registered.
  static bool IsRegistered(uint32_t ns, uint32_t cls);
  // The registered name, or "Record_<ns>_<class>".
  static std::string NameOf(uint32_t ns, uint32_t cls);
  // The registered tag, else the hash of NameOf.
  static uint32_t TagOf(uint32_t ns, uint32_t cls);
};

// Registers a family of records when its file is loaded: a namespace-scope
// object of this type in the family's source file.
class CMessageCatalogRegistration {
 public:
  CMessageCatalogRegistration(std::initializer_list<CMessageCatalog::Entry> entries) {
    CMessageCatalog::Register(entries);
  }
};
