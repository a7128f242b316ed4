// Error values, time stamps, strings, locks and the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <limits>
#include <thread>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXMutex.h"
#include "platform/base/QiError.h"
#include "platform/base/QiFile.h"
#include "platform/base/QiString.h"
#include "platform/base/TimeStamp.h"
#include "platform/suite/PlatformInfo.h"
#include "tests/platform/TempDir.h"

TEST(CQiErrorTest, IsErrorIsTheTopBitOfTheCode) {
  EXPECT_EQ(CQiError(0x80000000u).IsError(), 1);
  EXPECT_EQ(CQiError(0x7FFFFFFFu).IsError(), 0);
  EXPECT_EQ(CQiError::Success().IsError(), 0);
  EXPECT_EQ(CQiError().GetCode(), 0u);
}

TEST(CQiErrorTest, CopiesShareTheDetailChain) {
  CQiError error = FXErrorUtil::ErrorWin32(FXLOC, 774, "Priam said %s", "no");
  CQiError copy = error;
  copy.Push(FXLOC);
  EXPECT_EQ(copy.detail(), error.detail());
  EXPECT_EQ(error.detail()->chain.size(), 2u);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_FALSE(FXErrorUtil::IsWin32(error, 5));
  EXPECT_NE(error.AsString(2).find("Priam said no"), std::string::npos);
}

TEST(CTimeStampTest, AsUnixTime) {
  struct Case {
    int64_t value;
    int64_t unix;
  } cases[] = {
      {116444736000000000LL, 0},
      {116444736000000000LL + 10000000, 1},
      {116444736000000000LL + 9999999, 0},    // truncated toward zero
      {116444736000000000LL - 10000000, -1},  // before 1970, signed
      {0, 0},                                 // clear, not a negative time
      {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()},  // filled
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CTimeStamp(c.value).AsUnixTime(), c.unix) << c.value;
  }
  EXPECT_TRUE(CTimeStamp().IsClear());
  EXPECT_TRUE(CTimeStamp(std::numeric_limits<int64_t>::max()).IsFilled());
}

TEST(CQiStringTest, EmptyStringGivesAValidEmptyText) {
  CQiString empty;
  ASSERT_NE(empty.c_str(), nullptr);
  EXPECT_STREQ(empty.c_str(), "");
  const char* asText = empty;
  ASSERT_NE(asText, nullptr);
  CQiString fromNull(static_cast<const char*>(nullptr));
  ASSERT_NE(fromNull.c_str(), nullptr);
  EXPECT_EQ(fromNull.length(), 0u);
}

TEST(CQiStringTest, AppendingNullIsANoOp) {
  CQiString s("abc");
  s += static_cast<const char*>(nullptr);
  EXPECT_STREQ(s.c_str(), "abc");
  CQiString copy = s + static_cast<const char*>(nullptr);
  EXPECT_STREQ(copy.c_str(), "abc");
  s += "def";
  EXPECT_STREQ(s.c_str(), "abcdef");
  EXPECT_EQ(s.length(), 6u);
  EXPECT_TRUE(s == "abcdef");
  EXPECT_TRUE(CQiString() == static_cast<const char*>(nullptr));
}

TEST(FXMutexTest, IsRecursiveAndCountsItsHolds) {
  FXMutex mutex;
  EXPECT_EQ(mutex.lockCount, 0);
  EXPECT_EQ(mutex.ownerThreadId, 0u);
  ASSERT_TRUE(mutex.Lock());
  ASSERT_TRUE(mutex.Lock());  // the same thread locks again without blocking
  ASSERT_TRUE(mutex.TryLock());
  EXPECT_EQ(mutex.lockCount, 3);
  EXPECT_EQ(mutex.ownerThreadId, GetCurrentThreadId());
  mutex.Unlock();
  mutex.Unlock();
  EXPECT_EQ(mutex.lockCount, 1);
  EXPECT_EQ(mutex.ownerThreadId, GetCurrentThreadId());
  mutex.Unlock();
  EXPECT_EQ(mutex.lockCount, 0);
  EXPECT_EQ(mutex.ownerThreadId, 0u);
}

TEST(FXMutexTest, TryLockFailsWhileAnotherThreadHoldsIt) {
  FXMutex mutex;
  ASSERT_TRUE(mutex.Lock());
  bool gotIt = true, gotItTimed = true;
  std::thread other([&] {
    gotIt = mutex.TryLock();
    gotItTimed = mutex.TryLock(CTimeInterval(1000));
  });
  other.join();
  EXPECT_FALSE(gotIt);
  EXPECT_FALSE(gotItTimed);
  EXPECT_EQ(mutex.lockCount, 1);
  mutex.Unlock();
}

TEST(FXMutexTest, AutoLockHoldsForItsScopeAndExcludesOtherThreads) {
  FXMutex mutex;
  std::atomic<bool> otherGotIt{false};
  {
    auto_lock lock(mutex, true);
    EXPECT_EQ(mutex.lockCount, 1);
    std::thread other([&] { otherGotIt = mutex.TryLock(); });
    other.join();
    EXPECT_FALSE(otherGotIt);
  }
  EXPECT_EQ(mutex.lockCount, 0);
  std::thread other([&] {
    otherGotIt = mutex.TryLock();
    if (otherGotIt) mutex.Unlock();
  });
  other.join();
  EXPECT_TRUE(otherGotIt);
}

TEST(FXMutexTest, SerialisesCounterUpdates) {
  FXMutex mutex;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        auto_lock lock(mutex, true);
        auto_lock again(mutex, true);  // recursive hold
        ++counter;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_EQ(mutex.lockCount, 0);
}

// Runs each test on an empty registry backed by a file of its own.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.Sub("registry.ini");
    ASSERT_TRUE(CRegistry::Instance().SetFile(file_));
  }
  void TearDown() override {
    CRegistry::Instance().SetFile("");
    CRegistry::Instance().ClearMemory();
  }
  TempDir dir_;
  std::string file_;
};

TEST_F(RegistryTest, GetNumberLeavesAPresetDefaultWhenAbsent) {
  TQPlatformInfo info;
  uint32_t small = 30;
  int64_t big = -7;
  EXPECT_EQ(info.getNumber("Cassandra", "nCassandraStartWaitTime", small), 0);
  EXPECT_EQ(small, 30u);
  EXPECT_EQ(info.getNumber("Cassandra", "nCassandraStartWaitTime", big), 0);
  EXPECT_EQ(big, -7);
  CQiString text("keep");
  EXPECT_EQ(info.getString("Cassandra", "sCassOSUser", text), 0);
  EXPECT_STREQ(text.c_str(), "keep");
}

TEST_F(RegistryTest, GetNumberReadsValuesAndThe32BitFormKeepsTheLowBits) {
  CRegistry::Instance().Set("Cassandra", "nCassandraSleepTime", "25");
  CRegistry::Instance().Set("Cassandra", "nWide", "4294967297");  // 2^32 + 1
  CRegistry::Instance().Set("Cassandra", "nBad", "abc");
  TQPlatformInfo info;
  uint32_t value = 10;
  EXPECT_NE(info.getNumber("Cassandra", "nCassandraSleepTime", value), 0);
  EXPECT_EQ(value, 25u);
  EXPECT_NE(info.getNumber("Cassandra", "nWide", value), 0);
  EXPECT_EQ(value, 1u);
  value = 10;
  EXPECT_EQ(info.getNumber("Cassandra", "nBad", value), 0);
  EXPECT_EQ(value, 10u);
  EXPECT_EQ(info.getNumber("Other", "nCassandraSleepTime", value), 0);  // sections are apart
}

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  ASSERT_TRUE(CRegistry::Instance().Set("Base", "dBASEHOME", "/opt/suite/Base"));
  ASSERT_TRUE(CRegistry::Instance().Set("Cassandra", "sCassOSUser", "cassandra user"));
  ASSERT_TRUE(CRegistry::Instance().Set("Cassandra", "nUseSSTableLoader", "1"));
  ASSERT_TRUE(CRegistry::Instance().Remove("Cassandra", "nUseSSTableLoader"));

  CRegistry::Instance().ClearMemory();
  ASSERT_TRUE(CRegistry::Instance().SetFile(file_));  // read back from the file alone
  TQPlatformInfo info;
  std::string base, user;
  EXPECT_NE(info.getString("Base", "dBASEHOME", base), 0);
  EXPECT_EQ(base, "/opt/suite/Base");
  EXPECT_NE(info.getString("Cassandra", "sCassOSUser", user), 0);
  EXPECT_EQ(user, "cassandra user");
  int64_t loader = 0;
  EXPECT_EQ(info.getNumber("Cassandra", "nUseSSTableLoader", loader), 0);

  std::string content;
  ASSERT_FALSE(CQiFile::ReadWholeFile(file_.c_str(), content).IsError());
  EXPECT_NE(content.find("[Base]\ndBASEHOME=/opt/suite/Base\n"), std::string::npos);
}

TEST_F(RegistryTest, AMissingFileIsAnEmptyRegistry) {
  ASSERT_TRUE(CRegistry::Instance().SetFile(dir_.Sub("none.ini")));
  std::string value = "unchanged";
  EXPECT_EQ(TQPlatformInfo().getString("Base", "dBASEHOME", value), 0);
  EXPECT_EQ(value, "unchanged");
}
