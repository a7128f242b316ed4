#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/suite/TqMount.h"
#include "platform/suite/TqProcess.h"

namespace TqSim {

// A stand-in for the NFS client of the node machines. While it lives, the
// command line
//   " mount -o <options> \"<server>:/<share>\" <folder>"
// run through TqProcess::system mounts a share of the network file server
// (Zelk::CZelkShareStore under the suite home): the share's exported tree
// becomes visible at the folder (each top-level entry of the share appears
// in it as a link into the export), and TqMount::umount of that folder
// takes it away again. Other command lines and umount targets go to the
// hooks that were installed before (or run for real).
//
// The mount fails as the real one would, with status 32 and a "mount.nfs: "
// message on standard error, when the server does not run, the share does
// not exist on that server, the mounting client's host is not among the
// share's hosts, the folder is missing, not empty or already mounted, or the
// options do not begin with "nolock". Failure switches make every mount or
// umount fail.
class CSimNfsMount {
 public:
  struct Mount {
    std::string server;
    std::string share;
    std::string folder;
    std::string options;
    std::string exportPath;
    std::vector<std::string> links;  // made in the folder
  };

  // `home` "" is the suite home of the calling thread at each mount.
  explicit CSimNfsMount(const std::string& home = std::string());
  ~CSimNfsMount();
  CSimNfsMount(const CSimNfsMount&) = delete;
  CSimNfsMount& operator=(const CSimNfsMount&) = delete;

  // Every mount fails with `message` on standard error (status 32).
  void FailMounts(bool on, const std::string& message = "mount.nfs: Connection timed out");
  // Every umount fails with `error` (an errno value).
  void FailUmounts(bool on, int error = 16 /* EBUSY */);

  // Folders mounted now.
  std::vector<Mount> Mounted() const;
  // Every mount command line seen, in order.
  std::vector<std::string> MountCommands() const;
  // Every umount target seen, in order.
  std::vector<std::string> UmountTargets() const;

 private:
  bool HandleCommand(const std::string& command, std::string& out, std::string& err, int& status);
  int HandleUmount(const std::string& target, int& error);

  mutable std::mutex mutex_;
  std::string home_;
  bool failMounts_ = false;
  std::string mountMessage_;
  bool failUmounts_ = false;
  int umountError_ = 16;
  std::map<std::string, Mount> mounted_;  // by folder
  std::vector<std::string> commands_;
  std::vector<std::string> umounts_;
  TqProcess::Hook previousProcess_;
  TqMount::UmountHook previousUmount_;
};

}  // namespace TqSim
