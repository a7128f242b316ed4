#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"

namespace TqDataMover {

// Folders and files a restore makes below the folder it was given, made
// without following a symbolic link: a link planted where a folder of the
// restore belongs (its own folder included) could lead its writes anywhere.
// The folders above the restore's folder are the user's choice and are taken
// as they are.
class CNoFollowPath {
 public:
  // Opens `path`, which is `root` or lies below it, creating every missing
  // folder from `root` down (with the default mode); the descriptor goes to
  // `fd` (the caller closes it). A symbolic link met below `root`, and with
  // `rootIsOwn` at `root` itself (a folder the restore makes for itself, not
  // one the user named), is error ELOOP naming it; anything else that is no
  // folder ENOTDIR; a path outside `root` is error 87. With `mode` not 0 the
  // last folder gets those permission bits, whether made now or there before.
  static CQiError OpenFolder(const std::string& root, bool rootIsOwn, const std::string& path,
                             uint32_t mode, int& fd);
  // Creates a file of a new name "<prefix>XXXXXX" (six random letters and
  // digits) in the open folder `folderFd` (`folder` names it), readable and
  // writable by its owner only, never through a link; its name goes to
  // `name` and its descriptor to `fd`.
  static CQiError CreateUniqueFile(int folderFd, const std::string& folder,
                                   const std::string& prefix, std::string& name, int& fd);
};

}  // namespace TqDataMover
