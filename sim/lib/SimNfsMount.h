#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/base/QiDirectory.h"
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
// The simulated machines share one file system, so the nodes of a job mount
// the share at the same folder. The mounting machine is the calling
// thread's host (CClientContext::HostName); each machine mounts the folder
// once, and further machines mounting the same share there are counted. The
// tree stays visible until the last of them unmounts. Every machine that
// mounted the folder keeps a folder of its own until it removes it:
// CQiDirectory::Remove of the folder by a machine that has unmounted it
// succeeds without touching it while another machine still mounts or keeps
// it, and removes it for real when that machine is the last; a machine that
// still mounts it gets EBUSY, as rmdir of a mount point does.
//
// The mount fails as the real one would, with status 32 and a "mount.nfs: "
// message on standard error, when the server does not run, the share does
// not exist on that server, the mounting client's host is not among the
// share's hosts, the folder is missing, mounted by this machine or mounted
// with another share, not empty (when nobody mounts it), or the options do
// not begin with "nolock". Failure switches make every mount or umount
// fail.
class CSimNfsMount {
 public:
  struct Mount {
    std::string server;
    std::string share;
    std::string folder;
    std::string options;
    std::string exportPath;
    std::vector<std::string> links;  // made in the folder
    std::vector<std::string> hosts;  // the machines that mount it now
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

  // Folders mounted now (by one machine or more).
  std::vector<Mount> Mounted() const;
  // Every mount command line seen, in order.
  std::vector<std::string> MountCommands() const;
  // Every umount target seen, in order.
  std::vector<std::string> UmountTargets() const;

 private:
  bool HandleCommand(const std::string& command, std::string& out, std::string& err, int& status);
  int HandleUmount(const std::string& target, int& error);
  bool HandleRemove(const std::string& path, bool recursive, bool ignoreMissing, CQiError& result);

  mutable std::mutex mutex_;
  std::string home_;
  bool failMounts_ = false;
  std::string mountMessage_;
  bool failUmounts_ = false;
  int umountError_ = 16;
  std::map<std::string, Mount> mounted_;  // by folder
  // By folder: the machines that unmounted it and have not removed their
  // folder yet.
  std::map<std::string, std::set<std::string>> unmounted_;
  std::vector<std::string> commands_;
  std::vector<std::string> umounts_;
  TqProcess::Hook previousProcess_;
  TqMount::UmountHook previousUmount_;
  CQiDirectory::RemoveHook previousRemove_;
};

}  // namespace TqSim
