#include "platform/msg/NMessageBase.h"

#include <utility>

#include "platform/msg/MessageCatalog.h"
#include "platform/msg/MessageXml.h"

CNMessageBase::CNMessageBase(uint32_t namespaceId, uint32_t classId)
    : ns_(namespaceId), class_(classId) {}

CNMessageBase::CNMessageBase(const CNMessageBase& other) = default;
CNMessageBase& CNMessageBase::operator=(const CNMessageBase& other) = default;
CNMessageBase::CNMessageBase(CNMessageBase&&) noexcept = default;
CNMessageBase& CNMessageBase::operator=(CNMessageBase&&) noexcept = default;
CNMessageBase::~CNMessageBase() = default;

bool CNMessageBase::Field::operator==(const Field& o) const {
  if (type != o.type || index != o.index) return false;
  switch (type) {
    case kString:
    case kPString:
      return text == o.text;
    case kInt64:
      return number == o.number;
    case kObject:
    case kObjectList:
      return objects == o.objects;
    case kStringList:
      return strings == o.strings;
  }
  return false;
}

bool CNMessageBase::operator==(const CNMessageBase& other) const {
  return ns_ == other.ns_ && class_ == other.class_ && fields_ == other.fields_;
}

uint32_t CNMessageBase::getTagID() const { return CMessageCatalog::TagOf(ns_, class_); }

std::string CNMessageBase::getTagName() const { return CMessageCatalog::NameOf(ns_, class_); }

void CNMessageBase::reset() { fields_.clear(); }

bool CNMessageBase::isSet(int field) const { return fields_.count(field) != 0; }

CNMessageBase::Field& CNMessageBase::Put(int field, int index, FieldType type) {
  Field& f = fields_[field];
  if (f.type != type) f = Field();
  f.type = type;
  f.index = index;
  return f;
}

const CNMessageBase::Field* CNMessageBase::Get(int field, FieldType type) const {
  auto it = fields_.find(field);
  if (it == fields_.end() || it->second.type != type) return nullptr;
  return &it->second;
}

std::string CNMessageBase::getstring(int field, int) const {
  const Field* f = Get(field, kString);
  return f ? f->text : std::string();
}

void CNMessageBase::setstring(int field, int index, const std::string& value) {
  Put(field, index, kString).text = value;
}

int64_t CNMessageBase::getint64(int index) const {
  for (const auto& entry : fields_) {
    if (entry.second.type == kInt64 && entry.second.index == index) return entry.second.number;
  }
  return 0;
}

void CNMessageBase::setint64(int field, int index, int64_t value) {
  Put(field, index, kInt64).number = value;
}

pstring CNMessageBase::getpstringobject(int field, int) const {
  const Field* f = Get(field, kPString);
  return f ? pstring(f->text) : pstring();
}

void CNMessageBase::setpstring(int field, int index, const std::string& encrypted) {
  Put(field, index, kPString).text = encrypted;
}

CNMessageBase* CNMessageBase::getObjectAccessor(int field, int index, bool create, uint32_t ns,
                                                uint32_t cls) {
  auto it = fields_.find(field);
  if (it != fields_.end() && it->second.type == kObject && !it->second.objects.empty()) {
    return &it->second.objects.front();
  }
  if (!create) return nullptr;
  Field& f = Put(field, index, kObject);
  f.objects.assign(1, CNMessageBase(ns, cls));
  return &f.objects.front();
}

const CNMessageBase* CNMessageBase::getObjectAccessor(int field, int) const {
  const Field* f = Get(field, kObject);
  return (f && !f->objects.empty()) ? &f->objects.front() : nullptr;
}

void CNMessageBase::setObjectAccessor(int field, int index, const CNMessageBase& value) {
  // Copy first: `value` may live inside this record.
  CNMessageBase copy(value);
  Field& f = Put(field, index, kObject);
  f.objects.clear();
  f.objects.push_back(std::move(copy));
}

void CNMessageBase::setObjectAccessor(int field, int index, CNMessageBase&& value) {
  // Taken first: `value` may live inside this record.
  CNMessageBase taken(std::move(value));
  Field& f = Put(field, index, kObject);
  f.objects.clear();
  f.objects.push_back(std::move(taken));
}

std::vector<CNMessageBase>* CNMessageBase::getlistobject(int field, int index, bool write) {
  auto it = fields_.find(field);
  if (it != fields_.end() && it->second.type == kObjectList) return &it->second.objects;
  if (!write) return nullptr;
  return &Put(field, index, kObjectList).objects;
}

const std::vector<CNMessageBase>* CNMessageBase::getlistobject(int field, int) const {
  const Field* f = Get(field, kObjectList);
  return f ? &f->objects : nullptr;
}

void CNMessageBase::setlistobject(int field, int index, const std::vector<CNMessageBase>& value) {
  std::vector<CNMessageBase> copy(value);
  Put(field, index, kObjectList).objects = std::move(copy);
}

std::vector<std::string>* CNMessageBase::getliststring(int field, int index, bool write) {
  auto it = fields_.find(field);
  if (it != fields_.end() && it->second.type == kStringList) return &it->second.strings;
  if (!write) return nullptr;
  return &Put(field, index, kStringList).strings;
}

const std::vector<std::string>* CNMessageBase::getliststring(int field, int) const {
  const Field* f = Get(field, kStringList);
  return f ? &f->strings : nullptr;
}

std::vector<std::string> CNMessageBase::getStringList(int field, int index) const {
  const std::vector<std::string>* list = getliststring(field, index);
  return list ? *list : std::vector<std::string>();
}

void CNMessageBase::setliststring(int field, int index, const std::vector<std::string>& value) {
  Put(field, index, kStringList).strings = value;
}

int CNMessageBase::serialize(std::string& out, bool) const {
  return CMessageXml::Write(*this, out);
}

int CNMessageBase::unserialize(const std::string& xml) {
  return CMessageXml::Read(xml.data(), xml.size(), *this);
}

int CNMessageBase::unserialize(const char* xml) {
  if (xml == nullptr) return kXmlMalformed;
  return CMessageXml::Read(xml, std::char_traits<char>::length(xml), *this);
}

std::vector<int> CNMessageBase::fieldNumbers() const {
  std::vector<int> numbers;
  numbers.reserve(fields_.size());
  for (const auto& entry : fields_) numbers.push_back(entry.first);
  return numbers;
}

bool CNMessageBase::getFieldInfo(int field, FieldType& type, int& index) const {
  auto it = fields_.find(field);
  if (it == fields_.end()) return false;
  type = it->second.type;
  index = it->second.index;
  return true;
}
