#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/msg/PString.h"

// Base of every XML message record. A record is made from a (namespace id,
// class id) pair and holds typed fields addressed by field number; each field
// also carries the index it was set with, and a 64-bit integer read names the
// field by its index alone. Records are value types: copies are deep.
//
// The record's name and tag id come from CMessageCatalog (records register
// themselves there); an unregistered pair gets the name "Record_<ns>_<class>"
// and the hashed tag of that name.
class CNMessageBase {
 public:
  enum FieldType { kString, kInt64, kPString, kObject, kObjectList, kStringList };

  CNMessageBase(uint32_t namespaceId, uint32_t classId);
  CNMessageBase(const CNMessageBase& other);
  CNMessageBase& operator=(const CNMessageBase& other);
  CNMessageBase(CNMessageBase&&) noexcept;
  CNMessageBase& operator=(CNMessageBase&&) noexcept;
  virtual ~CNMessageBase();

  // Whole-record equality: same namespace, class and fields.
  bool operator==(const CNMessageBase& other) const;
  bool operator!=(const CNMessageBase& other) const { return !(*this == other); }

  uint32_t getNamespaceId() const { return ns_; }
  uint32_t getClassId() const { return class_; }
  uint32_t getTagID() const;
  std::string getTagName() const;

  // Empties the record for reuse (namespace and class stay).
  void reset();
  bool isSet(int field) const;

  // Strings: "" when unset.
  std::string getstring(int field, int index) const;
  void setstring(int field, int index, const std::string& value);

  // 64-bit integers: read by index alone; 0 when unset.
  int64_t getint64(int index) const;
  void setint64(int field, int index, int64_t value);

  // Protected strings (encrypted passwords).
  pstring getpstringobject(int field, int index) const;
  void setpstring(int field, int index, const std::string& encrypted);

  // A nested record. Without `create`, an absent field yields null; with it an
  // empty record of (ns, cls) is made in the field. The pointer stays valid
  // until the field is changed or the record is destroyed.
  CNMessageBase* getObjectAccessor(int field, int index, bool create, uint32_t ns, uint32_t cls);
  const CNMessageBase* getObjectAccessor(int field, int index) const;
  void setObjectAccessor(int field, int index, const CNMessageBase& value);

  // Lists of records. Read: the list (null when the field is absent). With
  // `write` the field is created when absent (an empty list that was set stays
  // present through XML).
  std::vector<CNMessageBase>* getlistobject(int field, int index, bool write);
  const std::vector<CNMessageBase>* getlistobject(int field, int index) const;
  void setlistobject(int field, int index, const std::vector<CNMessageBase>& value);

  std::vector<std::string>* getliststring(int field, int index, bool write);
  const std::vector<std::string>* getliststring(int field, int index) const;
  void setliststring(int field, int index, const std::vector<std::string>& value);

  // Record to XML text; returns 0 on success, non-zero on failure.
  int serialize(std::string& out, bool = false) const;
  // XML text to record; 0 on success, else an error number (the record is then
  // in an unspecified but valid state). Hostile input never crashes.
  int unserialize(const std::string& xml);
  int unserialize(const char* xml);

  // For diagnostics: field numbers in use.
  std::vector<int> fieldNumbers() const;

 private:
  struct Field {
    FieldType type = kString;
    int index = 0;
    std::string text;  // string or protected string
    int64_t number = 0;
    std::vector<CNMessageBase> objects;  // object (one element) or list
    std::vector<std::string> strings;
    bool operator==(const Field& o) const;
  };

  Field& Put(int field, int index, FieldType type);
  const Field* Get(int field, FieldType type) const;

  uint32_t ns_;
  uint32_t class_;
  std::map<int, Field> fields_;

  friend class CMessageXml;
};

using CNMessageBasePtr = std::shared_ptr<CNMessageBase>;
