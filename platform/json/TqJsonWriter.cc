#include "platform/json/TqJsonWriter.h"

#include <nlohmann/json.hpp>

namespace TqJson {

struct ObjectWriter::Members {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
};

ObjectWriter::ObjectWriter() : members_(new Members()) {}
ObjectWriter::~ObjectWriter() = default;

ObjectWriter& ObjectWriter::Add(const std::string& name, const std::string& value) {
  members_->object[name] = value;
  return *this;
}

ObjectWriter& ObjectWriter::Add(const std::string& name, int64_t value) {
  members_->object[name] = value;
  return *this;
}

std::string ObjectWriter::Text() const {
  return members_->object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool ObjectWriter::Text(std::string& out) const {
  try {
    out = members_->object.dump();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return true;
}

}  // namespace TqJson
