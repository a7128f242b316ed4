#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"

// Path building in place.
//
// Joining rule of Append: an empty path becomes the component as given; an
// empty component leaves the path ending in exactly one "/" (the directory
// form, so a later component joins without a double separator); otherwise the
// path's trailing "/"s and the component's leading "/"s are dropped and one
// "/" joins them (the root "/" stays "/").
class FXPath {
 public:
  // Appends `component` to `path`. `flags` is reserved (pass 0). A null
  // component is error 87 and leaves the path unchanged.
  static CQiError Append(CQiString& path, const char* component, int flags = 0);
  static CQiError Append(std::string& path, const std::string& component, int flags = 0);

  // Splits `path` after its last "/": `parent` keeps that "/" ("/a/b/c" gives
  // "/a/b/" and "c"; "/c" gives "/" and "c"); a path without "/" gives an
  // empty parent. A null path is error 87.
  static CQiError SplitParentPath(const char* path, CQiString& parent, CQiString& name);

  // True when something (file, directory, other) exists at `path`; a
  // dangling symbolic link counts as existing.
  static bool DoesPathExist(const char* path);

  // The join of Append as a value.
  static std::string Join(const std::string& path, const std::string& component);
};
