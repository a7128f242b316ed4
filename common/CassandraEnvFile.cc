#include "common/CassandraEnvFile.h"

#include <cstring>

#include "common/ConfigFileLines.h"

namespace TQCassandra {

std::string CassandraEnvFile::ReplayListLine(const std::list<std::string>& tables) {
  std::string names;
  for (const std::string& table : tables) {
    if (!names.empty()) names += ",";
    names += table;
  }
  return std::string(kReplayListPrefix) + names + "\"";
}

std::string CassandraEnvFile::SetReplayList(const std::string& text,
                                            const std::list<std::string>& tables) {
  const std::string line = ReplayListLine(tables);
  const size_t prefixLength = std::strlen(kReplayListPrefix);
  bool found = false;
  const std::string updated = ConfigFileLines::ReplaceLines(
      text,
      [prefixLength](const std::string& content) {
        return content.compare(0, prefixLength, kReplayListPrefix) == 0;
      },
      line, found);
  if (!found) return text + "\n" + line + "\n";
  return updated;
}

bool CassandraEnvFile::IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

}  // namespace TQCassandra
