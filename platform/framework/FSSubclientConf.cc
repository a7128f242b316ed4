#include "platform/framework/FSSubclientConf.h"

bool FSSubclientConf::fixPath(const std::string& in, std::string& out, bool keepWildcards) const {
  if (in.empty()) return false;
  std::string fixed;
  fixed.reserve(in.size());
  for (char c : in) {
    if (c == '/' && !fixed.empty() && fixed.back() == '/') continue;
    fixed += c;
  }
  auto endsWith = [&fixed](const char* tail) {
    const std::string t(tail);
    return fixed.size() >= t.size() && fixed.compare(fixed.size() - t.size(), t.size(), t) == 0;
  };
  if (!keepWildcards) {
    if (endsWith("/**")) {
      fixed.resize(fixed.size() - 3);
    } else if (endsWith("/*")) {
      fixed.resize(fixed.size() - 2);
    }
    if (fixed.empty()) fixed = "/";
  }
  while (fixed.size() > 1 && fixed.back() == '/') fixed.pop_back();
  out = fixed;
  return true;
}
