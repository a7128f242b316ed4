#include "sim/lib/SimRequest.h"

#include <cctype>

namespace TqSim {

namespace {

std::string Decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

SimRequest SimRequest::FromTarget(const std::string& target, int kind, const std::string& body) {
  SimRequest r;
  r.kind = kind;
  r.body = body;
  std::string t = target;
  while (!t.empty() && t.front() == '/') t.erase(0, 1);
  size_t q = t.find('?');
  r.name = Decode(t.substr(0, q));
  if (q == std::string::npos) return r;
  std::string query = t.substr(q + 1);
  size_t start = 0;
  while (start <= query.size()) {
    size_t amp = query.find('&', start);
    std::string part =
        query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    if (!part.empty()) {
      size_t eq = part.find('=');
      // "&?keyspace=" names the key "keyspace"; the "?" may come encoded.
      std::string key = Decode(part.substr(0, eq));
      while (!key.empty() && key.front() == '?') key.erase(0, 1);
      std::string value = eq == std::string::npos ? std::string() : Decode(part.substr(eq + 1));
      r.params.emplace_back(key, value);
    }
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return r;
}

std::string SimRequest::Param(const std::string& key) const {
  for (const auto& p : params) {
    if (p.first == key) return p.second;
  }
  return std::string();
}

std::vector<std::string> SimRequest::Params(const std::string& key) const {
  std::vector<std::string> values;
  for (const auto& p : params) {
    if (p.first == key) values.push_back(p.second);
  }
  return values;
}

bool SimRequest::Has(const std::string& key) const {
  for (const auto& p : params) {
    if (p.first == key) return true;
  }
  return false;
}

}  // namespace TqSim
