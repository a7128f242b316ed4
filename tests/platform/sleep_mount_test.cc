// The sleep hook and the mount-point lookup.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXMountPoint.h"
#include "platform/base/QiSleep.h"
#include "platform/base/SleepRecorder.h"
#include "tests/platform/TempDir.h"

TEST(SleepHookTest, RecorderTakesEverySleepWithoutWaiting) {
  EXPECT_FALSE(CSleepHook::IsSet());
  auto start = std::chrono::steady_clock::now();
  {
    CSleepRecorder recorder;
    EXPECT_TRUE(CSleepHook::IsSet());
    QISLEEP(10 * 1000);
    QISLEEP_InTeRnAl(5000);
    std::thread other([] { QISLEEP(60000); });
    other.join();
    EXPECT_EQ(recorder.Sleeps(), (std::vector<uint32_t>{10000, 5000, 60000}));
    EXPECT_EQ(recorder.TotalMilliseconds(), 75000u);
    recorder.Clear();
    EXPECT_TRUE(recorder.Sleeps().empty());
  }
  EXPECT_FALSE(CSleepHook::IsSet());
  // 75 seconds were asked for; far less passed.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(SleepHookTest, NestedRecordersRestoreTheOuterOne) {
  CSleepRecorder outer;
  {
    CSleepRecorder inner;
    QISLEEP(1);
    EXPECT_EQ(inner.Sleeps().size(), 1u);
  }
  QISLEEP(2);
  EXPECT_EQ(outer.Sleeps(), (std::vector<uint32_t>{2}));
}

TEST(SleepHookTest, WithoutAHookItReallySleeps) {
  auto start = std::chrono::steady_clock::now();
  QISLEEP(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(MountPointTest, ParsesTheTableAndPicksTheLongestMatch) {
  const char* table =
      "/dev/sda1 / ext4 rw 0 0\n"
      "nas:/share /mnt/stage\\040dir nfs rw,nolock 0 0\n"
      "tmpfs /mnt/stage\\040dir/sub tmpfs rw 0 0\n"
      "overlay /var/lib/docker xfs rw 0 0\n"
      "second /var/lib/docker ext4 rw 0 0\n"
      "garbage\n";
  auto entries = FXMountPoint::ParseMountTable(table);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[1].mountPoint, "/mnt/stage dir");
  EXPECT_EQ(entries[1].device, "nas:/share");
  EXPECT_EQ(entries[1].fileSystemType, "nfs");

  struct Case {
    const char* path;
    const char* mountPoint;
    const char* device;
  } cases[] = {
      {"/mnt/stage dir/ks/t", "/mnt/stage dir", "nas:/share"},
      {"/mnt/stage dir", "/mnt/stage dir", "nas:/share"},
      {"/mnt/stage dirt", "/", "/dev/sda1"},  // a longer name is not under the mount
      {"/mnt/stage dir/sub/x", "/mnt/stage dir/sub", "tmpfs"},
      {"/var/lib/docker/c", "/var/lib/docker", "second"},  // the later mount covers the earlier
      {"/etc", "/", "/dev/sda1"},
  };
  for (const auto& c : cases) {
    SMountEntry mount;
    ASSERT_TRUE(FXMountPoint::FindMount(entries, c.path, mount)) << c.path;
    EXPECT_EQ(mount.mountPoint, c.mountPoint) << c.path;
    EXPECT_EQ(mount.device, c.device) << c.path;
  }
  SMountEntry none;
  EXPECT_FALSE(FXMountPoint::FindMount({}, "/x", none));
}

TEST(MountPointTest, LooksUpRealPaths) {
  CQiString root;
  ASSERT_FALSE(FXMountPoint::GetMountPoint("/", root).IsError());
  EXPECT_STREQ(root.c_str(), "/");

  TempDir dir;
  SMountEntry mount;
  ASSERT_FALSE(FXMountPoint::GetMountPoint(dir.path().c_str(), mount).IsError());
  std::string p = dir.path();
  EXPECT_TRUE(mount.mountPoint == "/" ||
              p.compare(0, mount.mountPoint.size() + 1, mount.mountPoint + "/") == 0)
      << mount.mountPoint;
  // A path that does not exist yet is looked up through its existing part.
  SMountEntry future;
  ASSERT_FALSE(FXMountPoint::GetMountPoint((p + "/not/yet").c_str(), future).IsError());
  EXPECT_EQ(future.mountPoint, mount.mountPoint);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(FXMountPoint::GetMountPoint("", mount), EINVAL));
}
