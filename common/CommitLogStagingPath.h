#pragma once

#include <string>

namespace TQCassandra {

// Whether the staging folder of a point-in-time restore can be carried
// where the commit-log replay needs it: "restore_directories" (a ","
// separated list, each segment's path then split at blanks into the restore
// command's words), the node's container entry of the restart request
// ("<node>:<container>:<staging>", pieces joined by "##"), the data
// directory lists (";" separated) and the lines of the settings files and of
// the restore's records (no control character).
class CommitLogStagingPath {
 public:
  // A control character: no line-based record carries it whole.
  static bool HasControlCharacter(const std::string& path) {
    for (unsigned char c : path) {
      if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
  }

  // "" when `path` can be carried, else what in it cannot.
  static std::string Problem(const std::string& path) {
    if (HasControlCharacter(path)) return "it holds a control character";
    if (path.find_first_of(" \t") != std::string::npos) {
      return "it holds a blank, which splits the commit-log restore command";
    }
    if (path.find(',') != std::string::npos) {
      return "it holds \",\", which separates the commit-log restore folders";
    }
    if (path.find(';') != std::string::npos) {
      return "it holds \";\", which separates the entries of the nodes' folder lists";
    }
    if (path.find("##") != std::string::npos) {
      return "it holds \"##\", which separates the nodes of the restart request";
    }
    if (path.find(':') != std::string::npos) {
      return "it holds \":\", which separates the fields of a node's container entry";
    }
    return std::string();
  }
};

}  // namespace TQCassandra
