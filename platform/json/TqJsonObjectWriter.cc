#include "platform/json/TqJsonObjectWriter.h"

#include <nlohmann/json.hpp>

namespace TqJson {

ObjectWriter& ObjectWriter::Add(const std::string& name, const std::string& value) {
  members_.emplace_back(name, value);
  return *this;
}

bool ObjectWriter::Text(std::string& out) const {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto& member : members_) object[member.first] = member.second;
  try {
    out = object.dump();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return true;
}

}  // namespace TqJson
