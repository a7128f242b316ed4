// Extent settings read from the registry.

#include <gtest/gtest.h>

#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ExtentCollectFile.h"
#include "platform/suite/PlatformInfo.h"

using MultiNodeBackupOps::CExtentCollectFile;

namespace {

class ExtentSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    savedFile_ = CRegistry::Instance().GetFile();
    CRegistry::Instance().SetFile("");  // values in memory only
  }
  void TearDown() override {
    CRegistry::Instance().ClearMemory();
    CRegistry::Instance().SetFile(savedFile_);
  }
  void Set(const char* name, const std::string& value) {
    CRegistry::Instance().Set(CExtentCollectFile::kRegistrySection, name, value);
  }
  CQiError Read() {
    return CExtentCollectFile::ReadExtentConfigFromRegistry(backup, size, threshold);
  }

  bool backup = true;
  uint64_t size = 1;
  uint64_t threshold = 1;

 private:
  std::string savedFile_;
};

TEST_F(ExtentSettings, DefaultsWhenNothingIsConfigured) {
  EXPECT_FALSE(Read().IsError());
  EXPECT_FALSE(backup);
  EXPECT_EQ(size, 4ULL << 30);
  EXPECT_EQ(threshold, 10ULL << 30);
}

TEST_F(ExtentSettings, RegistryValuesWin) {
  Set(CExtentCollectFile::kEnableValue, "1");
  Set(CExtentCollectFile::kExtentSizeValue, "0");
  Set(CExtentCollectFile::kThresholdValue, "1048576");
  EXPECT_FALSE(Read().IsError());
  EXPECT_TRUE(backup);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(threshold, 1048576u);
}

TEST_F(ExtentSettings, SwitchOffStaysOff) {
  Set(CExtentCollectFile::kEnableValue, "0");
  Set(CExtentCollectFile::kExtentSizeValue, "65536");
  EXPECT_FALSE(Read().IsError());
  EXPECT_FALSE(backup);
  EXPECT_EQ(size, 65536u);
}

// A malformed value is reported; its field keeps the default and the others
// are still read.
TEST_F(ExtentSettings, MalformedValuesAreReportedAndSkipped) {
  const char* bad[] = {"-1", "12abc", "", "0x10", "99999999999999999999"};
  for (const char* value : bad) {
    CRegistry::Instance().ClearMemory();
    Set(CExtentCollectFile::kEnableValue, "1");
    Set(CExtentCollectFile::kExtentSizeValue, value);
    Set(CExtentCollectFile::kThresholdValue, "2048");
    CQiError error = Read();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << value;
    EXPECT_TRUE(backup) << value;
    EXPECT_EQ(size, CExtentCollectFile::kDefaultExtentSize) << value;
    EXPECT_EQ(threshold, 2048u) << value;
  }
}

}  // namespace
