// The NFS client stand-in: mount lines of the node controllers make a share
// of the file server visible at a folder, umount takes it away.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ProcessScript.h"
#include "platform/suite/TqMount.h"
#include "platform/suite/TqProcess.h"
#include "platform/zelk/ZelkShareStore.h"
#include "sim/lib/SimNfsMount.h"
#include "support/SimTestSupport.h"

namespace {

using TqSim::CSimNfsMount;

class NfsMountTest : public ::testing::Test {
 public:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    Zelk::CZelkShareStore store;
    ASSERT_FALSE(store.MarkServerRunning("ma1.net").IsError());
    const std::string table = store.ExportPath("share47") + "/C/dc1/n1/ks/t1";
    simtest::WriteFile(table + "/nb-1-big-Data.db", "sstable bytes");
    Zelk::SZelkShare share;
    share.name = "share47";
    share.server = "ma1.net";
    share.jobId = 47;
    ASSERT_FALSE(store.Add(share).IsError());
    folder_ = home_.path() + "/mnt/share47";
    ASSERT_FALSE(CQiDirectory::Create(folder_.c_str(), true).IsError());
  }
  void TearDown() override { CClientContext::SetSuiteHome(""); }

  static int Run(const std::string& command, std::string& out, std::string& err) {
    return TqProcess::system(command.c_str(), out, err, 0, false);
  }
  std::string Line(const std::string& source) const {
    return " mount -o nolock \"" + source + "\" " + folder_;
  }
  static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

  simtest::TempDir home_;
  std::string folder_;
};

TEST_F(NfsMountTest, AMountShowsTheSharesTreeUntilItIsUnmounted) {
  CSimNfsMount nfs;
  const std::string file = folder_ + "/C/dc1/n1/ks/t1/nb-1-big-Data.db";
  for (const std::string options : {"nolock", "nolock,port=2049,mountport=2049,proto=tcp,vers=3"}) {
    SCOPED_TRACE(options);
    std::string out, err;
    ASSERT_EQ(Run(" mount -o " + options + " \"ma1.net:/share47\" " + folder_, out, err), 0) << err;
    EXPECT_EQ(simtest::ReadFile(file), "sstable bytes");
    ASSERT_EQ(nfs.Mounted().size(), 1u);
    EXPECT_EQ(nfs.Mounted()[0].options, options);
    ASSERT_EQ(TqMount::umount(folder_.c_str()), 0);
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(nfs.Mounted().empty());
    // Nothing of the share is left in the folder: it can be removed alone.
    CQiDirectory listing;
    ASSERT_FALSE(listing.Open(folder_.c_str()).IsError());
    SQiDirEntry entry;
    bool done = false;
    ASSERT_FALSE(listing.GetEntry(entry, done).IsError());
    EXPECT_TRUE(done);
  }
  EXPECT_EQ(nfs.UmountTargets(), (std::vector<std::string>{folder_, folder_}));
}

TEST_F(NfsMountTest, MountsThatCannotSucceedFailAsTheNfsClientDoes) {
  struct Case {
    const char* name;
    std::function<std::string(NfsMountTest&)> line;
    std::function<void(NfsMountTest&)> prepare;
    std::string error;
  } cases[] = {
      {"server not running", [](NfsMountTest& t) { return t.Line("ma2.net:/share47"); }, nullptr,
       "mount.nfs: Connection refused\n"},
      {"unknown share", [](NfsMountTest& t) { return t.Line("ma1.net:/share48"); }, nullptr,
       "mount.nfs: access denied by server while mounting ma1.net:/share48\n"},
      {"locking asked for",
       [](NfsMountTest& t) { return " mount -o vers=3 \"ma1.net:/share47\" " + t.folder_; },
       nullptr, "mount.nfs: rpc.statd is not running but is required for remote locking.\n"},
      {"folder missing",
       [](NfsMountTest& t) { return " mount -o nolock \"ma1.net:/share47\" " + t.folder_ + "x"; },
       nullptr, ""},
      {"folder not empty", [](NfsMountTest& t) { return t.Line("ma1.net:/share47"); },
       [](NfsMountTest& t) { simtest::WriteFile(t.folder_ + "/stray", "x"); }, ""},
      {"not a mount line it understands",
       [](NfsMountTest& t) { return " mount -o nolock ma1.net:/share47 " + t.folder_; }, nullptr,
       "mount: bad usage\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CQiDirectory::Remove(folder_.c_str(), true, true);
    ASSERT_FALSE(CQiDirectory::Create(folder_.c_str(), true).IsError());
    if (k.prepare) k.prepare(*this);
    CSimNfsMount nfs;
    std::string out, err;
    EXPECT_EQ(Run(k.line(*this), out, err), 32);
    if (!k.error.empty()) {
      EXPECT_EQ(err, k.error);
    } else {
      EXPECT_EQ(err.compare(0, 11, "mount.nfs: "), 0) << err;
    }
    EXPECT_TRUE(nfs.Mounted().empty());
    EXPECT_FALSE(Exists(folder_ + "/C"));
  }
}

TEST_F(NfsMountTest, AShareServesOnlyItsHosts) {
  Zelk::CZelkShareStore store;
  Zelk::SZelkShare share;
  ASSERT_FALSE(store.FindByName("share47", share).IsError());
  ASSERT_FALSE(store.Remove(share.id).IsError());
  simtest::WriteFile(store.ExportPath("share47") + "/C/x", "x");
  share.hosts = {"some-other-host.example"};
  ASSERT_FALSE(store.Add(share).IsError());
  CSimNfsMount nfs;
  std::string out, err;
  EXPECT_EQ(Run(Line("ma1.net:/share47"), out, err), 32);
  EXPECT_EQ(err, "mount.nfs: access denied by server while mounting ma1.net:/share47\n");
}

TEST_F(NfsMountTest, FailureSwitchesAndOtherCommands) {
  CProcessScript script;
  script.Add(CProcessScript::kPrefix, "echo", {"scripted\n", "", 0});
  CSimNfsMount nfs;
  std::string out, err;
  // Other command lines reach the hook installed before.
  EXPECT_EQ(Run("echo hi", out, err), 0);
  EXPECT_EQ(out, "scripted\n");

  nfs.FailMounts(true, "mount.nfs: Connection timed out");
  EXPECT_EQ(Run(Line("ma1.net:/share47"), out, err), 32);
  EXPECT_EQ(err, "mount.nfs: Connection timed out\n");
  EXPECT_TRUE(nfs.Mounted().empty());
  nfs.FailMounts(false);

  ASSERT_EQ(Run(Line("ma1.net:/share47"), out, err), 0) << err;
  EXPECT_EQ(Run(Line("ma1.net:/share47"), out, err), 32) << "already mounted";
  nfs.FailUmounts(true, EBUSY);
  errno = 0;
  EXPECT_EQ(TqMount::umount(folder_.c_str()), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_TRUE(Exists(folder_ + "/C"));
  nfs.FailUmounts(false);
  errno = 0;
  EXPECT_EQ(TqMount::umount((home_.path() + "/not-mounted").c_str()), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(nfs.MountCommands().size(), 3u);
}

TEST_F(NfsMountTest, NothingStaysMountedPastTheStandIn) {
  {
    CSimNfsMount nfs;
    std::string out, err;
    ASSERT_EQ(Run(Line("ma1.net:/share47"), out, err), 0) << err;
    EXPECT_TRUE(Exists(folder_ + "/C"));
  }
  EXPECT_FALSE(Exists(folder_ + "/C"));
}

// The node machines share this file system, so every node of a job mounts
// the share at the same folder: each mount is counted, the tree stays until
// the last machine unmounts, and a machine's removal of its folder never
// takes the folder from a machine that still uses it.
TEST_F(NfsMountTest, SeveralMachinesMountOneFolderAndEachRemovesItsOwn) {
  Zelk::CZelkShareStore store;
  simtest::WriteFile(store.ExportPath("share48") + "/C/x", "x");
  Zelk::SZelkShare other;
  other.name = "share48";
  other.server = "ma1.net";
  ASSERT_FALSE(store.Add(other).IsError());

  CSimNfsMount nfs;
  const std::string file = folder_ + "/C/dc1/n1/ks/t1/nb-1-big-Data.db";
  auto as = [](const std::string& host, const std::function<void()>& step) {
    SClientIdentity identity;
    identity.clientName = host;
    identity.hostName = host;
    CClientContextScope scope(identity);
    step();
  };
  auto mount = [&](const std::string& host, const std::string& share, std::string* err) {
    int status = -1;
    as(host, [&] {
      std::string out;
      status = Run(Line("ma1.net:/" + share), out, *err);
    });
    return status;
  };
  auto umount = [&](const std::string& host, int* error) {
    int result = 0;
    as(host, [&] {
      errno = 0;
      result = TqMount::umount(folder_.c_str());
      *error = errno;
    });
    return result;
  };
  auto remove = [&](const std::string& host) {
    CQiError e;
    as(host, [&] { e = CQiDirectory::Remove(folder_.c_str(), false, false); });
    return e;
  };

  std::string err;
  int error = 0;
  for (const char* host : {"n1.sim", "n2.sim", "n3.sim"}) {
    ASSERT_EQ(mount(host, "share47", &err), 0) << host << ": " << err;
  }
  ASSERT_EQ(nfs.Mounted().size(), 1u);
  EXPECT_EQ(nfs.Mounted()[0].hosts, (std::vector<std::string>{"n1.sim", "n2.sim", "n3.sim"}));
  EXPECT_EQ(simtest::ReadFile(file), "sstable bytes");

  // A machine mounts the folder once; another share is refused there.
  const std::string busy = "mount.nfs: " + folder_ + " is busy or already mounted\n";
  EXPECT_EQ(mount("n1.sim", "share47", &err), 32);
  EXPECT_EQ(err, busy);
  EXPECT_EQ(mount("n4.sim", "share48", &err), 32);
  EXPECT_EQ(err, busy);
  // A machine that does not mount it cannot unmount it.
  EXPECT_EQ(umount("n4.sim", &error), -1);
  EXPECT_EQ(error, EINVAL);

  // n1 unmounts and removes its folder: the others still read the tree.
  ASSERT_EQ(umount("n1.sim", &error), 0);
  EXPECT_FALSE(remove("n1.sim").IsError());
  EXPECT_EQ(simtest::ReadFile(file), "sstable bytes");
  // A machine that still mounts the folder cannot remove it.
  CQiError e = remove("n2.sim");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(e, EBUSY)) << e.AsString();
  EXPECT_EQ(simtest::ReadFile(file), "sstable bytes");
  // A failed unmount keeps the machine's mount.
  nfs.FailUmounts(true, EBUSY);
  EXPECT_EQ(umount("n2.sim", &error), -1);
  EXPECT_EQ(error, EBUSY);
  nfs.FailUmounts(false);
  ASSERT_EQ(nfs.Mounted().size(), 1u);
  EXPECT_EQ(nfs.Mounted()[0].hosts, (std::vector<std::string>{"n2.sim", "n3.sim"}));

  ASSERT_EQ(umount("n2.sim", &error), 0);
  EXPECT_EQ(simtest::ReadFile(file), "sstable bytes");
  // The last unmount takes the tree away; the folder is still the one n2
  // and n3 keep, until the last of them removes it.
  ASSERT_EQ(umount("n3.sim", &error), 0);
  EXPECT_TRUE(nfs.Mounted().empty());
  EXPECT_FALSE(Exists(folder_ + "/C"));
  EXPECT_TRUE(Exists(folder_));
  EXPECT_FALSE(remove("n3.sim").IsError());
  EXPECT_TRUE(Exists(folder_));
  EXPECT_FALSE(remove("n2.sim").IsError());
  EXPECT_FALSE(Exists(folder_));
  // Gone for every machine now.
  e = remove("n1.sim");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(e, ENOENT)) << e.AsString();
}

}  // namespace
