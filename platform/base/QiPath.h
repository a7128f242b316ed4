#pragma once

#include "platform/base/QiString.h"

// Path queries that answer with values.
class CQiPath {
 public:
  // `directory` joined with `name` by the rule of FXPath::Append (an empty
  // name gives the directory ending in "/"). Null texts count as empty.
  static CQiString Append(const char* directory, const char* name);

  // True for an existing regular file (symbolic links followed).
  static bool IsFile(const char* path);
  // True for an existing directory (symbolic links followed).
  static bool IsDirectory(const char* path);

  // The path without its last component and without trailing "/": "/a/b/"
  // and "/a/b" give "/a"; "/a" and "/" give "/"; "a" gives "".
  static CQiString GetParent(const char* path);
  // The last component, trailing "/" ignored: "/a/b/" gives "b"; "/" gives "".
  static CQiString GetBaseName(const char* path);
};
