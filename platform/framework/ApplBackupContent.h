#pragma once

#include <map>
#include <string>
#include <vector>

// Content cache of an application entity: the content texts the suite hands
// over while it loads the entity, by content id, with a letter-case flag.
class ApplBackupContent {
 public:
  virtual ~ApplBackupContent() = default;

  // Adds the text under the id; 0 on success, -1 for a missing text.
  int addToContentCache(int id, const char* content);
  void setContentCaseSensitive() { caseSensitive_ = 1; }
  void setContentCaseInsensitive() { caseSensitive_ = 0; }
  // 1 when content compares with letter case, 0 without.
  int getContentCaseSensitive() const { return caseSensitive_; }

  // The texts under the id, in arrival order.
  std::vector<std::string> getContent(int id) const;
  std::vector<int> getContentIds() const;
  // Whether some text equals `text`, compared as the case flag says.
  bool hasContent(const std::string& text) const;
  void clearContentCache() { cache_.clear(); }

 private:
  std::map<int, std::vector<std::string>> cache_;
  int caseSensitive_ = 1;
};
