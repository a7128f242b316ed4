#include "platform/base/ExtendedOptions.h"

#include <cctype>
#include <cstdio>

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '%' || c == '=' || c == ';' || c < 0x20 || c == 0x7F) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

void CExtendedOptions::setOptions(const std::string& options) {
  items_.clear();
  size_t begin = 0;
  while (begin <= options.size()) {
    size_t end = options.find(';', begin);
    if (end == std::string::npos) end = options.size();
    std::string segment = options.substr(begin, end - begin);
    if (!segment.empty()) {
      size_t eq = segment.find('=');
      std::string name = Unescape(segment.substr(0, eq));
      std::string value =
          eq == std::string::npos ? std::string() : Unescape(segment.substr(eq + 1));
      setOption(name, value);
    }
    begin = end + 1;
  }
}

void CExtendedOptions::setOption(const std::string& name, const std::string& value) {
  for (auto& item : items_) {
    if (item.first == name) {
      item.second = value;
      return;
    }
  }
  items_.emplace_back(name, value);
}

bool CExtendedOptions::getOption(const std::string& name, std::string& value) const {
  for (const auto& item : items_) {
    if (item.first == name) {
      value = item.second;
      return true;
    }
  }
  return false;
}

void CExtendedOptions::getOptions(std::string& options) const {
  std::string out;
  for (const auto& item : items_) out += Escape(item.first) + "=" + Escape(item.second) + ";";
  options.swap(out);
}
