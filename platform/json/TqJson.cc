#include "platform/json/TqJson.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

namespace TqJson {

namespace {

const char* TypeName(Type type) {
  switch (type) {
    case Type::Null:
      return "null";
    case Type::Bool:
      return "boolean";
    case Type::Int:
      return "integer";
    case Type::Real:
      return "real";
    case Type::String:
      return "string";
    case Type::Array:
      return "array";
    case Type::Object:
      return "object";
  }
  return "unknown";
}

[[noreturn]] void WrongType(Type expected, Type actual) {
  throw std::runtime_error(std::string("value type is ") + TypeName(actual) + ", not " +
                           TypeName(expected));
}

// Builds Values from the parser's events, bounded in depth so that hostile
// text cannot exhaust the stack when the tree is later copied or destroyed.
class Builder {
 public:
  using json = nlohmann::json;

  bool null() { return Add(Value()); }
  bool boolean(bool v) { return Add(Value(v)); }
  bool number_integer(json::number_integer_t v) { return Add(Value(static_cast<int64_t>(v))); }
  bool number_unsigned(json::number_unsigned_t v) {
    if (v <= static_cast<json::number_unsigned_t>(std::numeric_limits<int64_t>::max())) {
      return Add(Value(static_cast<int64_t>(v)));
    }
    return Add(Value(static_cast<double>(v)));
  }
  bool number_float(json::number_float_t v, const json::string_t&) {
    return Add(Value(static_cast<double>(v)));
  }
  bool string(json::string_t& v) { return Add(Value(std::move(v))); }
  bool binary(json::binary_t&) { return false; }
  bool start_object(std::size_t) { return Open(true); }
  bool key(json::string_t& k) {
    stack_.back().key = std::move(k);
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(false); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  bool done() const { return done_; }
  Value& result() { return result_; }

 private:
  struct Frame {
    bool isObject = false;
    Array array;
    Object object;
    std::string key;
  };

  bool Open(bool isObject) {
    if (static_cast<int>(stack_.size()) >= kMaxDepth) return false;
    stack_.emplace_back();
    stack_.back().isObject = isObject;
    return true;
  }

  bool Close() {
    Frame frame = std::move(stack_.back());
    stack_.pop_back();
    return Add(frame.isObject ? Value(std::move(frame.object)) : Value(std::move(frame.array)));
  }

  bool Add(Value value) {
    if (stack_.empty()) {
      result_ = std::move(value);
      done_ = true;
      return true;
    }
    Frame& top = stack_.back();
    if (top.isObject) {
      top.object.insert_or_assign(top.key, std::move(value));
    } else {
      top.array.push_back(std::move(value));
    }
    return true;
  }

  std::vector<Frame> stack_;
  Value result_;
  bool done_ = false;
};

}  // namespace

Value::Value() : type_(Type::Null) {}
Value::Value(bool value) : type_(Type::Bool), bool_(value) {}
Value::Value(int64_t value) : type_(Type::Int), int_(value) {}
Value::Value(double value) : type_(Type::Real), real_(value) {}
Value::Value(std::string value)
    : type_(Type::String), string_(std::make_shared<const std::string>(std::move(value))) {}
Value::Value(Array value)
    : type_(Type::Array), array_(std::make_shared<const Array>(std::move(value))) {}
Value::Value(Object value)
    : type_(Type::Object), object_(std::make_shared<const Object>(std::move(value))) {}

bool Value::getBool() const {
  if (type_ != Type::Bool) WrongType(Type::Bool, type_);
  return bool_;
}

int64_t Value::getInt64() const {
  if (type_ != Type::Int) WrongType(Type::Int, type_);
  return int_;
}

int Value::getInt() const {
  int64_t v = getInt64();
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
    throw std::runtime_error("integer value out of range of int");
  }
  return static_cast<int>(v);
}

double Value::getReal() const {
  if (type_ == Type::Int) return static_cast<double>(int_);
  if (type_ != Type::Real) WrongType(Type::Real, type_);
  return real_;
}

const std::string& Value::getStr() const {
  if (type_ != Type::String) WrongType(Type::String, type_);
  return *string_;
}

const Array& Value::getArray() const {
  if (type_ != Type::Array) WrongType(Type::Array, type_);
  return *array_;
}

const Object& Value::getObject() const {
  if (type_ != Type::Object) WrongType(Type::Object, type_);
  return *object_;
}

bool Value::operator==(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case Type::Null:
      return true;
    case Type::Bool:
      return bool_ == other.bool_;
    case Type::Int:
      return int_ == other.int_;
    case Type::Real:
      return real_ == other.real_;
    case Type::String:
      return *string_ == *other.string_;
    case Type::Array:
      return *array_ == *other.array_;
    case Type::Object:
      return *object_ == *other.object_;
  }
  return false;
}

bool Unserialize(const std::string& text, Value& out) {
  out = Value();
  Builder builder;
  try {
    if (!nlohmann::json::sax_parse(text, &builder) || !builder.done()) return false;
  } catch (const std::exception&) {
    return false;
  }
  out = std::move(builder.result());
  return true;
}

bool Unserialize(const std::string& text, Array& out) {
  out.clear();
  Value value;
  if (!Unserialize(text, value) || !value.isArray()) return false;
  out = value.getArray();
  return true;
}

bool Unserialize(const std::string& text, Object& out) {
  out.clear();
  Value value;
  if (!Unserialize(text, value) || !value.isObject()) return false;
  out = value.getObject();
  return true;
}

std::string GetStringValue(const Object& object, const std::string& name) {
  auto it = object.find(name);
  return it == object.end() ? std::string() : it->second.getStr();
}

bool GetBoolValue(const Object& object, const std::string& name) {
  auto it = object.find(name);
  return it != object.end() && it->second.getBool();
}

int64_t GetInt64Value(const Object& object, const std::string& name) {
  auto it = object.find(name);
  return it == object.end() ? 0 : it->second.getInt64();
}

int GetIntValue(const Object& object, const std::string& name) {
  auto it = object.find(name);
  return it == object.end() ? 0 : it->second.getInt();
}

bool FindValue(const Object& object, const std::string& name, Value& out) {
  auto it = object.find(name);
  if (it == object.end()) return false;
  out = it->second;
  return true;
}

bool FindObjectValue(const Object& object, const std::string& name, Object& out) {
  out.clear();
  auto it = object.find(name);
  if (it == object.end()) return false;
  out = it->second.getObject();
  return true;
}

bool FindArrayValue(const Object& object, const std::string& name, Array& out) {
  out.clear();
  auto it = object.find(name);
  if (it == object.end()) return false;
  out = it->second.getArray();
  return true;
}

}  // namespace TqJson
