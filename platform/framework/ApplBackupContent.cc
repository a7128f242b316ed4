#include "platform/framework/ApplBackupContent.h"

#include <strings.h>

int ApplBackupContent::addToContentCache(int id, const char* content) {
  if (!content) return -1;
  cache_[id].push_back(content);
  return 0;
}

std::vector<std::string> ApplBackupContent::getContent(int id) const {
  auto it = cache_.find(id);
  return it == cache_.end() ? std::vector<std::string>() : it->second;
}

std::vector<int> ApplBackupContent::getContentIds() const {
  std::vector<int> ids;
  for (const auto& entry : cache_) ids.push_back(entry.first);
  return ids;
}

bool ApplBackupContent::hasContent(const std::string& text) const {
  for (const auto& entry : cache_) {
    for (const auto& known : entry.second) {
      if (known.size() != text.size()) continue;
      if (caseSensitive_ ? known == text : strcasecmp(known.c_str(), text.c_str()) == 0) {
        return true;
      }
    }
  }
  return false;
}
