#include "platform/datamover/SSTableName.h"

#include <vector>

#include "platform/base/FXString.h"

namespace TqDataMover {

namespace {

bool IsVersion(const std::string& part) {
  return part.size() == 2 && part[0] >= 'a' && part[0] <= 'z' && part[1] >= 'a' && part[1] <= 'z';
}

bool IsNumber(const std::string& part, int64_t& value) {
  long long parsed = 0;
  if (part.empty() || part.size() > 18 || part.find_first_not_of("0123456789") != std::string::npos)
    return false;
  if (!FXString::ParseDecimal(part, 0, INT64_MAX, parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace

bool SSSTableName::Parse(const std::string& name, SSSTableName& parsed) {
  std::vector<std::string> parts;
  FXString::Split(name, "-", parts, FXString::kKeepEmpty);
  size_t at = 0;
  int64_t generation = 0;
  if (parts.size() >= 4 && IsVersion(parts[0]) && IsNumber(parts[1], generation)) {
    at = 1;
  } else if (parts.size() >= 5 && IsVersion(parts[2]) && IsNumber(parts[3], generation)) {
    at = 3;
  } else {
    return false;
  }
  if (parts.back().empty()) return false;
  parsed.before.clear();
  for (size_t i = 0; i < at; ++i) parsed.before += parts[i] + "-";
  parsed.generation = generation;
  parsed.after.clear();
  for (size_t i = at + 1; i < parts.size(); ++i) parsed.after += "-" + parts[i];
  return true;
}

std::string SSSTableName::WithGeneration(int64_t value) const {
  return before + std::to_string(value) + after;
}

}  // namespace TqDataMover
