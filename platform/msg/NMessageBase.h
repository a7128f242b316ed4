#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

  // Results of unserialize (0 = success) and serialize.
  enum XmlResult {
    kXmlOk = 0,
    kXmlMalformed = 1,    // not well-formed XML, empty text or no single root element
    kXmlNotARecord = 2,   // the root element carries no valid namespace and class
    kXmlOtherRecord = 3,  // the text holds a record of another namespace or class
    kXmlBadField = 4,     // a field element with a bad number, index, type or value
    kXmlTooDeep = 5,      // records nested deeper than kMaxNesting
  };
  // Deepest nesting of records that serialize and unserialize accept (the
  // outermost record counts as 1).
  static constexpr int kMaxNesting = 64;

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
  // Whether the field holds a value of any type (an empty string or an empty
  // list that was set counts as set).
  bool isSet(int field) const;

  // Strings: "" when unset or of another type.
  std::string getstring(int field, int index) const;
  void setstring(int field, int index, const std::string& value);

  // 64-bit integers: read by index alone; 0 when no int64 field has it.
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
  // The same, taking the record's contents instead of copying them.
  void setObjectAccessor(int field, int index, CNMessageBase&& value);

  // Lists of records. Read: the list (null when the field is absent). With
  // `write` the field is created when absent (an empty list that was set stays
  // present through XML).
  std::vector<CNMessageBase>* getlistobject(int field, int index, bool write);
  const std::vector<CNMessageBase>* getlistobject(int field, int index) const;
  void setlistobject(int field, int index, const std::vector<CNMessageBase>& value);

  std::vector<std::string>* getliststring(int field, int index, bool write);
  const std::vector<std::string>* getliststring(int field, int index) const;
  void setliststring(int field, int index, const std::vector<std::string>& value);

  // Typed views for the named record classes, which add no members: a nested
  // record of class R (absent, or of another class: none), the records of
  // class R in a list (others are passed over), and a list replaced by copies.
  template <class R>
  std::optional<R> getObjectAs(int field, int index) const;
  template <class R>
  std::vector<R> getListAs(int field, int index) const;
  template <class R>
  void setListOf(int field, int index, const std::vector<R>& value);
  // The same, taking the records' contents instead of copying them (a
  // browse answer of many items is not copied on its way into its reply).
  template <class R>
  void setListOf(int field, int index, std::vector<R>&& value);
  // A copy of a list of strings (empty when absent).
  std::vector<std::string> getStringList(int field, int index) const;

  // Record to XML text; returns 0 on success, non-zero on failure.
  int serialize(std::string& out, bool = false) const;
  // XML text to record; 0 on success, else an XmlResult. Text that is not XML
  // of this record's namespace and class leaves the record unchanged; a fault
  // inside the fields leaves the fields read before it. Hostile input never
  // crashes.
  int unserialize(const std::string& xml);
  int unserialize(const char* xml);

  // For diagnostics and tests: field numbers in use, and a field's type and
  // index (false when the field is absent).
  std::vector<int> fieldNumbers() const;
  bool getFieldInfo(int field, FieldType& type, int& index) const;

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
  static bool IsClass(const CNMessageBase& record, uint32_t ns, uint32_t cls) {
    return record.ns_ == ns && record.class_ == cls;
  }

  uint32_t ns_;
  uint32_t class_;
  std::map<int, Field> fields_;

  friend class CMessageXml;
};

using CNMessageBasePtr = std::shared_ptr<CNMessageBase>;

// A received record as the named record class R: a copy when it is of R's
// namespace and class, else none.
template <class R>
std::optional<R> RecordAs(const CNMessageBase& record) {
  if (record.getNamespaceId() != R::kNamespaceId || record.getClassId() != R::kClassId) {
    return std::nullopt;
  }
  R typed;
  static_cast<CNMessageBase&>(typed) = record;
  return typed;
}

template <class R>
std::optional<R> CNMessageBase::getObjectAs(int field, int index) const {
  const CNMessageBase* nested = getObjectAccessor(field, index);
  if (nested == nullptr || !IsClass(*nested, R::kNamespaceId, R::kClassId)) return std::nullopt;
  R record;
  static_cast<CNMessageBase&>(record) = *nested;
  return record;
}

template <class R>
std::vector<R> CNMessageBase::getListAs(int field, int index) const {
  std::vector<R> out;
  const std::vector<CNMessageBase>* list = getlistobject(field, index);
  if (list == nullptr) return out;
  out.reserve(list->size());
  for (const CNMessageBase& element : *list) {
    if (!IsClass(element, R::kNamespaceId, R::kClassId)) continue;
    out.emplace_back();
    static_cast<CNMessageBase&>(out.back()) = element;
  }
  return out;
}

template <class R>
void CNMessageBase::setListOf(int field, int index, const std::vector<R>& value) {
  std::vector<CNMessageBase>* list = getlistobject(field, index, true);
  list->assign(value.begin(), value.end());
}

template <class R>
void CNMessageBase::setListOf(int field, int index, std::vector<R>&& value) {
  std::vector<CNMessageBase> moved;
  moved.reserve(value.size());
  for (R& record : value) moved.push_back(std::move(static_cast<CNMessageBase&>(record)));
  value.clear();
  *getlistobject(field, index, true) = std::move(moved);
}
