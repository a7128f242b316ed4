#include "platform/index/IndexMetaDataHelper.h"

#include <cerrno>
#include <cstdlib>

std::string IndexMetaDataHelper::encodeData(uint32_t, const int32_t* value) {
  return value ? std::to_string(*value) : std::string();
}

std::string IndexMetaDataHelper::encodeData(uint32_t, const uint32_t* value) {
  return value ? std::to_string(*value) : std::string();
}

std::string IndexMetaDataHelper::encodeData(uint32_t, const int64_t* value) {
  return value ? std::to_string(*value) : std::string();
}

std::string IndexMetaDataHelper::encodeData(uint32_t, const uint64_t* value) {
  return value ? std::to_string(*value) : std::string();
}

std::string IndexMetaDataHelper::encodeData(uint32_t, const char* value) {
  return value ? std::string(value) : std::string();
}

bool IndexMetaDataHelper::decodeData(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || text[0] == ' ') return false;
  value = parsed;
  return true;
}
