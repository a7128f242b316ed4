#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The suite's JSON wrapper: parse Priam's and docker's JSON replies into
// objects, arrays and values, and read typed members. A typed read of a value
// of another type raises std::runtime_error; a member that is absent reads as
// the type's empty value ("" / false / 0) or, for Find..., as not found.
namespace TqJson {

class Value;
using Array = std::vector<Value>;
// Members by name, in ascending name order (a repeated name keeps its last
// value).
using Object = std::map<std::string, Value>;

enum class Type { Null, Bool, Int, Real, String, Array, Object };

// One JSON value. Copies share the (immutable) contents of arrays and objects.
class Value {
 public:
  Value();  // null
  explicit Value(bool value);
  explicit Value(int value) : Value(static_cast<int64_t>(value)) {}
  explicit Value(int64_t value);
  explicit Value(double value);
  explicit Value(std::string value);
  explicit Value(const char* value) : Value(std::string(value)) {}
  explicit Value(Array value);
  explicit Value(Object value);

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }
  bool isBool() const { return type_ == Type::Bool; }
  bool isInt() const { return type_ == Type::Int; }
  bool isReal() const { return type_ == Type::Real; }
  bool isString() const { return type_ == Type::String; }
  bool isArray() const { return type_ == Type::Array; }
  bool isObject() const { return type_ == Type::Object; }

  // Typed reads; each raises std::runtime_error for a value of another type.
  bool getBool() const;
  int64_t getInt64() const;
  int getInt() const;      // also raises when the number does not fit an int
  double getReal() const;  // an integer reads as its double value
  const std::string& getStr() const;
  const Array& getArray() const;
  const Object& getObject() const;

  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

 private:
  Type type_;
  bool bool_ = false;
  int64_t int_ = 0;
  double real_ = 0;
  std::shared_ptr<const std::string> string_;
  std::shared_ptr<const Array> array_;
  std::shared_ptr<const Object> object_;
};

// Deepest nesting of arrays and objects that Unserialize accepts.
constexpr int kMaxDepth = 256;

// Parse JSON text. The output is replaced (emptied first, also on failure).
// Returns true on success; false, without throwing, for text that is not
// JSON, is nested deeper than kMaxDepth, or whose top-level value is not of
// the output's kind.
bool Unserialize(const std::string& text, Value& out);
bool Unserialize(const std::string& text, Array& out);
bool Unserialize(const std::string& text, Object& out);

// Members of an object.
// The member's string; "" when absent; raises when it is not a string.
std::string GetStringValue(const Object& object, const std::string& name);
// The member's boolean; false when absent; raises when it is not a boolean.
bool GetBoolValue(const Object& object, const std::string& name);
// The member's integer; 0 when absent; raises when it is not an integer.
int64_t GetInt64Value(const Object& object, const std::string& name);
int GetIntValue(const Object& object, const std::string& name);
// Any member: false when absent.
bool FindValue(const Object& object, const std::string& name, Value& out);
// An object or array member: false (and `out` emptied) when absent; raises
// when the member is of another type.
bool FindObjectValue(const Object& object, const std::string& name, Object& out);
bool FindArrayValue(const Object& object, const std::string& name, Array& out);

}  // namespace TqJson
