#include "common/PriamQuery.h"

#include <cctype>
#include <cstring>

namespace TQCassandra {

std::string PriamQueryValue(const std::string& value, const char* literal) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : value) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) ||
        (c != '\0' && (std::strchr("-._~", c) != nullptr || std::strchr(literal, c) != nullptr))) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    }
  }
  return out;
}

}  // namespace TQCassandra
