#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CNMessageBase;

// The suite's message catalogue: names and tag ids of records by
// (namespace id, class id).
class CMessageCatalog {
 public:
  // Lower 24 bits of h = h * 31 + c over the characters, from h = 0.
  static uint32_t Hash24(const std::string& name);
  // (namespace << 24) | Hash24(shortName).
  static uint32_t TagFor(uint32_t ns, const std::string& shortName);

  // Registers a record: its short class name and, where the suite's catalogue
  // fixes one that differs from the hash, its tag id (0 = use the hash).
  static void Register(uint32_t ns, uint32_t cls, const std::string& shortName, uint32_t tag = 0);

  static std::string NameOf(uint32_t ns, uint32_t cls);
  static uint32_t TagOf(uint32_t ns, uint32_t cls);
};
