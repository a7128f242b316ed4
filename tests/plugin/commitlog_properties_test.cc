// Editing a key of commitlog_archiving.properties: which lines hold the key,
// how the value is replaced or appended, and the rewrite that leaves either
// the old or the new file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/CommitLogArchivingProperties.h"
#include "tests/support/SimTestSupport.h"

namespace {

using TQCassandra::CommitLogArchivingProperties;

const char* const kKey = "archive_command";

TEST(PropertiesKey, TheValueOfEveryKeyLineIsReplacedAsWritten) {
  const std::string v = "/bin/cp %path /backup/%name";
  struct Case {
    const char* name;
    std::string text;
    std::string value;
    std::string expected;
  } cases[] = {
      {"empty value", "# c\narchive_command=\nrestore_command=\n", v,
       "# c\narchive_command=" + v + "\nrestore_command=\n"},
      {"other value", "a=1\narchive_command=/bin/ln %path /old/%name\nb=2\n", v,
       "a=1\narchive_command=" + v + "\nb=2\n"},
      {"two key lines", "archive_command=x\nmid=1\narchive_command=y\n", v,
       "archive_command=" + v + "\nmid=1\narchive_command=" + v + "\n"},
      {"key line last, without line feed", "a=1\narchive_command=old", v,
       "a=1\narchive_command=" + v},
      {"key on the first line", "archive_command=old\na=1\n", v,
       "archive_command=" + v + "\na=1\n"},
      {"carriage returns kept", "a=1\r\narchive_command=old\r\nb=2\r\n", v,
       "a=1\r\narchive_command=" + v + "\r\nb=2\r\n"},
      {"commented and longer keys untouched",
       "#archive_command=x\n archive_command=y\narchive_command_old=z\narchive_command=\n", v,
       "#archive_command=x\n archive_command=y\narchive_command_old=z\narchive_command=" + v +
           "\n"},
      {"dollar and backslash kept", "archive_command=\n", "/bin/cp $1 $& \\1 %path /d$0/%name",
       "archive_command=/bin/cp $1 $& \\1 %path /d$0/%name\n"},
      {"no key line: appended after an empty line", "a=1\n", v, "a=1\n\n\narchive_command=" + v},
      {"no key line, no final line feed", "a=1", v, "a=1\n\narchive_command=" + v},
      {"empty file", "", v, "\n\narchive_command=" + v},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CommitLogArchivingProperties::UpdateKey(c.text, kKey, c.value), c.expected);
  }
}

TEST(PropertiesKey, TheFirstKeyLineGivesTheValue) {
  std::string value = "unchanged";
  EXPECT_FALSE(CommitLogArchivingProperties::FindKey("#archive_command=x\na=1", kKey, value));
  EXPECT_EQ(value, "unchanged");
  EXPECT_TRUE(CommitLogArchivingProperties::FindKey(
      "#archive_command=x\narchive_command=cp a=b %path\r\narchive_command=later", kKey, value));
  EXPECT_EQ(value, "cp a=b %path");
  EXPECT_TRUE(CommitLogArchivingProperties::FindKey("archive_command=", kKey, value));
  EXPECT_EQ(value, "");
}

class PropertiesRewrite : public ::testing::Test {
 protected:
  // Names in the directory other than the file itself.
  std::vector<std::string> OtherNames(const std::string& directory, const std::string& keep) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(directory)) {
      if (e.path().filename() != keep) names.push_back(e.path().filename().string());
    }
    return names;
  }
  simtest::TempDir dir_;
};

TEST_F(PropertiesRewrite, TheNewTextReplacesTheFileWithItsModeAndNoTemporaryFileStays) {
  const std::string path = dir_.Sub("conf/commitlog_archiving.properties");
  simtest::WriteFile(path, "archive_command=\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  CommitLogArchivingProperties::RewriteStep step;
  ASSERT_FALSE(CommitLogArchivingProperties::Rewrite(path, "archive_command=x\n", step).IsError());
  EXPECT_EQ(simtest::ReadFile(path), "archive_command=x\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_TRUE(OtherNames(dir_.Sub("conf"), "commitlog_archiving.properties").empty());
}

// The rewritten file keeps its owner and group, not those of the process
// that rewrites it (which needs the right to give them: root).
TEST_F(PropertiesRewrite, TheNewFileKeepsTheOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
  const std::string path = dir_.Sub("conf/commitlog_archiving.properties");
  simtest::WriteFile(path, "archive_command=\n");
  ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  CommitLogArchivingProperties::RewriteStep step;
  ASSERT_FALSE(CommitLogArchivingProperties::Rewrite(path, "archive_command=x\n", step).IsError());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(simtest::ReadFile(path), "archive_command=x\n");
}

TEST_F(PropertiesRewrite, ALinkedFileIsReplacedBehindTheLink) {
  const std::string real = dir_.Sub("real/commitlog_archiving.properties");
  simtest::WriteFile(real, "old\n");
  std::filesystem::create_directories(dir_.Sub("conf"));
  const std::string link = dir_.Sub("conf/commitlog_archiving.properties");
  std::filesystem::create_symlink(real, link);
  CommitLogArchivingProperties::RewriteStep step;
  ASSERT_FALSE(CommitLogArchivingProperties::Rewrite(link, "new\n", step).IsError());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(simtest::ReadFile(real), "new\n");
}

TEST_F(PropertiesRewrite, AFileThatCannotBeReplacedKeepsItsContent) {
  // The file's place is taken by a directory that is not empty: the rename
  // fails after the new text was written, and the temporary file goes.
  const std::string path = dir_.Sub("conf/commitlog_archiving.properties");
  simtest::WriteFile(path + "/inner", "keep");
  CommitLogArchivingProperties::RewriteStep step;
  CQiError error = CommitLogArchivingProperties::Rewrite(path, "new\n", step);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(step, CommitLogArchivingProperties::kRewriteWrite);
  EXPECT_EQ(simtest::ReadFile(path + "/inner"), "keep");
  EXPECT_TRUE(OtherNames(dir_.Sub("conf"), "commitlog_archiving.properties").empty());

  // A directory that does not exist: nothing can be created.
  error = CommitLogArchivingProperties::Rewrite(dir_.Sub("missing/x.properties"), "new\n", step);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(step, CommitLogArchivingProperties::kRewriteOpen);
}

}  // namespace
