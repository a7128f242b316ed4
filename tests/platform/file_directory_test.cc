// Files, directories, descriptors and line reading on a real file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/AutoHandle.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiFile.h"
#include "platform/base/QiPath.h"
#include "platform/base/TQFile.h"
#include "tests/platform/TempDir.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadText(const std::string& path) {
  std::string content;
  EXPECT_FALSE(CQiFile::ReadWholeFile(path.c_str(), content).IsError()) << path;
  return content;
}

bool IsOpenDescriptor(int fd) { return fcntl(fd, F_GETFD) != -1; }

}  // namespace

class FileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FileTest, WriteThenReadWholeFile) {
  std::string path = dir_.Sub("commitlog_archiving.properties");
  CQiFile file;
  ASSERT_FALSE(file.Open(path.c_str(), "w").IsError());
  const std::string text = "archive_command=/bin/ln %path /backup/%name\n";
  ASSERT_FALSE(file.Write(text.data(), text.size(), 0).IsError());
  ASSERT_FALSE(file.Close().IsError());

  char* buffer = nullptr;
  size_t length = 0;
  ASSERT_FALSE(CQiFile::ReadWholeFile(path.c_str(), buffer, length).IsError());
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(length, text.size());
  EXPECT_EQ(buffer[length], '\0');
  EXPECT_EQ(std::string(buffer, length), text);
  delete[] buffer;
}

TEST_F(FileTest, ReadWholeFileOfAMissingFileIsAnErrnoError) {
  char* buffer = nullptr;
  size_t length = 99;
  CQiError error = CQiFile::ReadWholeFile(dir_.Sub("key_file").c_str(), buffer, length);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(error, ENOENT));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 99u);
  EXPECT_NE(error.AsString(2).find("key_file"), std::string::npos);
}

// Names in the test's folder, for spotting temporary files left behind.
static std::vector<std::string> NamesIn(const std::string& directory) {
  std::vector<std::string> names;
  CQiDirectory listing;
  EXPECT_FALSE(listing.Open(directory.c_str()).IsError());
  SQiDirEntry entry;
  bool done = false;
  while (!listing.GetEntry(entry, done).IsError() && !done) names.push_back(entry.name.c_str());
  return names;
}

TEST_F(FileTest, ReplaceWholeFileSwapsTheContentAndLeavesNoTemporaryFile) {
  const std::string path = dir_.Sub("clients.json");
  WriteText(path, "old content that is longer than the new one\n");
  ASSERT_FALSE(CQiFile::ReplaceWholeFile(path.c_str(), "{}\n", 0600).IsError());
  EXPECT_EQ(ReadText(path), "{}\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(NamesIn(dir_.path()), std::vector<std::string>{"clients.json"});
}

TEST_F(FileTest, ReplaceWholeFileFailureKeepsWhatWasThere) {
  // A folder in the way: the rename fails after the content was written.
  const std::string blocked = dir_.Sub("harness.json");
  ASSERT_FALSE(CQiDirectory::Create(FXPath::Join(blocked, "inside").c_str(), true).IsError());
  CQiError error = CQiFile::ReplaceWholeFile(blocked.c_str(), "{}\n");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(error, EISDIR)) << error.AsString(2);
  EXPECT_NE(error.AsString(2).find("Failed to replace " + blocked), std::string::npos);
  EXPECT_TRUE(CQiPath::IsDirectory(FXPath::Join(blocked, "inside").c_str()));
  EXPECT_EQ(NamesIn(dir_.path()), std::vector<std::string>{"harness.json"});

  // A missing folder: nothing can be created.
  error = CQiFile::ReplaceWholeFile(dir_.Sub("no/such/dir/f").c_str(), "x");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(error, ENOENT)) << error.AsString(2);
}

TEST_F(FileTest, OperationsOnAClosedFileFail) {
  CQiFile file;
  EXPECT_TRUE(file.Write("x", 1).IsError());
  size_t got = 0;
  char c;
  EXPECT_TRUE(file.Read(&c, 1, got).IsError());
  EXPECT_FALSE(file.Close().IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(file.Open(dir_.Sub("no/such/dir/f").c_str(), "w"), ENOENT));
}

TEST_F(FileTest, WriteReportsAFullDevice) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  CQiFile file;
  ASSERT_FALSE(file.Open("/dev/full", "w").IsError());
  std::string big(1 << 16, 'x');
  CQiError write = file.Write(big.data(), big.size());
  CQiError close = file.Close();
  EXPECT_TRUE(write.IsError() || close.IsError());
}

TEST_F(FileTest, DeleteTreatsAMissingFileByItsFlag) {
  std::string path = dir_.Sub("Failures.tqf");
  EXPECT_FALSE(CQiFile::Delete(path.c_str(), false).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(CQiFile::Delete(path.c_str(), true), ENOENT));
  WriteText(path, "inst ks\n");
  EXPECT_FALSE(CQiFile::Delete(path.c_str(), true).IsError());
  EXPECT_FALSE(FXPath::DoesPathExist(path.c_str()));
}

TEST_F(FileTest, GetTimesGivesTheModificationTimeSecond) {
  std::string path = dir_.Sub("sstable-Data.db");
  WriteText(path, "data");
  struct timespec times[2] = {{1000000000, 0}, {1600000000, 500}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  CTimeStamp accessed, modified, changed;
  ASSERT_FALSE(CQiFile::GetTimes(path.c_str(), accessed, modified, changed).IsError());
  EXPECT_EQ(accessed.AsUnixTime(), 1000000000);
  EXPECT_EQ(modified.AsUnixTime(), 1600000000);
  EXPECT_FALSE(changed.IsClear());
  EXPECT_TRUE(CQiFile::GetTimes(dir_.Sub("none").c_str(), accessed, modified, changed).IsError());
}

TEST_F(FileTest, CreateWriteAndSizeThroughDescriptors) {
  std::string path = dir_.Sub("SubclientdirState.tqf");
  WriteText(path, "old content that is longer");
  auto_handle handle;
  ASSERT_FALSE(FXFile::TQCreateFile(path.c_str(), FXFile::kGenericWrite, 0, nullptr,
                                    FXFile::kCreateAlways, 0x80, nullptr, handle)
                   .IsError());
  ASSERT_TRUE(handle.valid());
  EXPECT_NE(fcntl(handle.get(), F_GETFD) & FD_CLOEXEC, 0);
  size_t written = 0;
  ASSERT_FALSE(FXFile::TQWriteFile(handle, "12345", 5, &written).IsError());
  EXPECT_EQ(written, 5u);
  handle.reset(-1);
  EXPECT_EQ(ReadText(path), "12345");  // always-create truncated the old content

  long size = -1;
  ASSERT_FALSE(FXFile::TQGetFileSize(path.c_str(), size).IsError());
  EXPECT_EQ(size, 5);
  long long missingSize = 7;
  EXPECT_TRUE(
      FXErrorUtil::IsErrNo(FXFile::TQGetFileSize(dir_.Sub("x").c_str(), missingSize), ENOENT));
  EXPECT_EQ(missingSize, 7);
}

TEST_F(FileTest, CreateFileDispositions) {
  std::string path = dir_.Sub("f");
  auto_handle h;
  auto create = [&](uint32_t disposition) {
    return FXFile::TQCreateFile(path.c_str(), FXFile::kGenericWrite, 0, nullptr, disposition, 0x80,
                                nullptr, h);
  };
  EXPECT_TRUE(FXErrorUtil::IsErrNo(create(FXFile::kOpenExisting), ENOENT));
  EXPECT_FALSE(h.valid());
  EXPECT_FALSE(create(FXFile::kCreateNew).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(create(FXFile::kCreateNew), EEXIST));
  EXPECT_FALSE(create(FXFile::kOpenAlways).IsError());
  EXPECT_TRUE(create(99).IsError());
}

TEST_F(FileTest, MoveFileReplacesOnlyWithItsFlag) {
  std::string tmp = dir_.Sub("CollectTot3tmp.tqf"), final = dir_.Sub("CollectTot9.tqf");
  WriteText(tmp, "new");
  WriteText(final, "old");
  CQiError refused = FXFile::TQMoveFileEx(tmp.c_str(), final.c_str(), 0);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(refused, EEXIST));
  EXPECT_EQ(ReadText(final), "old");
  ASSERT_FALSE(FXFile::TQMoveFileEx(tmp.c_str(), final.c_str(), 1).IsError());
  EXPECT_EQ(ReadText(final), "new");
  EXPECT_FALSE(FXPath::DoesPathExist(tmp.c_str()));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(FXFile::TQMoveFileEx(tmp.c_str(), final.c_str(), 1), ENOENT));
}

TEST_F(FileTest, CopyFileKeepsContentAndMode) {
  std::string from = dir_.Sub("cassandra-env.sh"), to = dir_.Sub("cassandra-env.sh.bkp");
  WriteText(from, "JVM_OPTS=\"$JVM_OPTS\"\n");
  chmod(from.c_str(), 0750);
  WriteText(to, "stale and longer content");
  ASSERT_FALSE(FXFile::TQCopyFile(from.c_str(), to.c_str()).IsError());
  EXPECT_EQ(ReadText(to), "JVM_OPTS=\"$JVM_OPTS\"\n");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(FXFile::TQCopyFile(from.c_str(), to.c_str(), true), EEXIST));
  EXPECT_TRUE(FXFile::TQCopyFile(dir_.Sub("none").c_str(), to.c_str()).IsError());
  EXPECT_TRUE(FXFile::RemoveFile(dir_.Sub("none").c_str()).IsError());
  EXPECT_FALSE(FXFile::RemoveFile(to.c_str()).IsError());
}

TEST(AutoHandleTest, ClosesWhatItHolds) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    auto_handle h;
    EXPECT_EQ(h.get(), -1);
    h.reset(fds[0]);
    EXPECT_EQ(h.get(), fds[0]);
    h.reset(fds[0]);  // resetting to the same descriptor keeps it open
    EXPECT_TRUE(IsOpenDescriptor(fds[0]));
    h.reset(fds[1]);
    EXPECT_FALSE(IsOpenDescriptor(fds[0]));
    EXPECT_TRUE(IsOpenDescriptor(fds[1]));
  }
  EXPECT_FALSE(IsOpenDescriptor(fds[1]));
}

class DirectoryTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(DirectoryTest, CreateMakesParentsAndAcceptsAnExistingDirectory) {
  std::string deep = dir_.Sub("JobResults/12/34/priam");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(CQiDirectory::Create(deep.c_str(), false), ENOENT));
  ASSERT_FALSE(CQiDirectory::Create(deep.c_str(), true).IsError());
  EXPECT_TRUE(CQiPath::IsDirectory(deep.c_str()));
  EXPECT_FALSE(CQiDirectory::Create(deep.c_str(), true).IsError());
  EXPECT_FALSE(CQiDirectory::Create((deep + "/").c_str(), false).IsError());
  std::string file = dir_.Sub("file");
  WriteText(file, "");
  EXPECT_TRUE(CQiDirectory::Create(file.c_str(), true).IsError());
  EXPECT_TRUE(CQiDirectory::Create((file + "/sub").c_str(), true).IsError());
  EXPECT_TRUE(CQiDirectory::Create("", true).IsError());
}

TEST_F(DirectoryTest, RemoveRecursiveRemovesTheTreeButNotLinkTargets) {
  std::string tree = dir_.Sub("priam-uuid");
  CQiDirectory::Create((tree + "/a/b").c_str(), true);
  WriteText(tree + "/a/b/f", "x");
  WriteText(tree + "/top", "y");
  std::string outside = dir_.Sub("outside");
  CQiDirectory::Create(outside.c_str(), true);
  WriteText(outside + "/keep", "z");
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/link").c_str()), 0);

  EXPECT_TRUE(FXErrorUtil::IsErrNo(CQiDirectory::Remove(tree.c_str(), false, false), ENOTEMPTY));
  ASSERT_FALSE(CQiDirectory::Remove(tree.c_str(), true, false).IsError());
  EXPECT_FALSE(FXPath::DoesPathExist(tree.c_str()));
  EXPECT_TRUE(CQiPath::IsFile((outside + "/keep").c_str()));

  EXPECT_TRUE(FXErrorUtil::IsErrNo(CQiDirectory::Remove(tree.c_str(), true, false), ENOENT));
  EXPECT_FALSE(CQiDirectory::Remove(tree.c_str(), true, true).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(CQiDirectory::Remove((outside + "/keep").c_str(), true, false),
                                   ENOTDIR));
  std::string empty = dir_.Sub("mnt");
  CQiDirectory::Create(empty.c_str(), false);
  EXPECT_FALSE(CQiDirectory::Remove(empty.c_str(), false, false).IsError());
}

struct WalkLog {
  std::vector<std::string> entries;
  std::string stopAt;
};

CQiError RecordEntry(const char* directory, const char* name, bool isDirectory, void* context) {
  auto* log = static_cast<WalkLog*>(context);
  log->entries.push_back(std::string(directory) + "|" + name + (isDirectory ? "|d" : "|f"));
  if (log->stopAt == name) return FXErrorUtil::ErrorWin32(FXLOC, 1627, "stop");
  return CQiError::Success();
}

TEST_F(DirectoryTest, WalkReportsEntriesInNameOrder) {
  std::string snap = dir_.Sub("snapshots");
  CQiDirectory::Create((snap + "/sub").c_str(), true);
  WriteText(snap + "/b-Data.db", "");
  WriteText(snap + "/a-Index.db", "");
  WriteText(snap + "/sub/inner", "");

  WalkLog flat;
  ASSERT_FALSE(CQiDirectory::Walk(snap.c_str(), &flat, 0, false, RecordEntry).IsError());
  EXPECT_EQ(flat.entries, (std::vector<std::string>{snap + "|a-Index.db|f", snap + "|b-Data.db|f",
                                                    snap + "|sub|d"}));
  WalkLog deep;
  ASSERT_FALSE(CQiDirectory::Walk(snap.c_str(), &deep, 0, true, RecordEntry).IsError());
  EXPECT_EQ(deep.entries.back(), snap + "/sub|inner|f");

  WalkLog stopped;
  stopped.stopAt = "a-Index.db";
  EXPECT_TRUE(CQiDirectory::Walk(snap.c_str(), &stopped, 0, false, RecordEntry).IsError());
  EXPECT_EQ(stopped.entries.size(), 1u);

  WalkLog missing;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(
      CQiDirectory::Walk(dir_.Sub("backups").c_str(), &missing, 0, false, RecordEntry), ENOENT));
  EXPECT_TRUE(missing.entries.empty());
}

TEST_F(DirectoryTest, WalkReportsLinksByWhatTheyPointAtAndNeverFollowsThem) {
  std::string root = dir_.Sub("walked");
  std::string elsewhere = dir_.Sub("elsewhere");
  CQiDirectory::Create(root.c_str(), true);
  CQiDirectory::Create(elsewhere.c_str(), true);
  WriteText(elsewhere + "/far", "");
  WriteText(root + "/file", "");
  ASSERT_EQ(symlink(elsewhere.c_str(), (root + "/dirlink").c_str()), 0);
  ASSERT_EQ(symlink((root + "/file").c_str(), (root + "/filelink").c_str()), 0);
  ASSERT_EQ(symlink((root + "/gone").c_str(), (root + "/dangling").c_str()), 0);

  WalkLog log;
  ASSERT_FALSE(CQiDirectory::Walk(root.c_str(), &log, 0, true, RecordEntry).IsError());
  EXPECT_EQ(log.entries, (std::vector<std::string>{root + "|dangling|f", root + "|dirlink|d",
                                                   root + "|file|f", root + "|filelink|f"}));
}

TEST_F(DirectoryTest, ListingFiltersByPattern) {
  std::string results = dir_.Sub("results");
  CQiDirectory::Create((results + "/restoredir").c_str(), true);
  WriteText(results + "/restore.out", "");
  WriteText(results + "/restore.2.out", "");
  WriteText(results + "/other", "");

  auto list = [&](const char* pattern, bool includeDirectories) {
    CQiDirectory dir;
    EXPECT_FALSE(dir.Open(results.c_str(), pattern, includeDirectories).IsError());
    std::vector<std::string> names;
    SQiDirEntry entry;
    bool done = false;
    while (!dir.GetEntry(entry, done).IsError() && !done) names.push_back(entry.name.str());
    return names;
  };
  EXPECT_EQ(list("*", true),
            (std::vector<std::string>{"other", "restore.2.out", "restore.out", "restoredir"}));
  EXPECT_EQ(list("restore*", false), (std::vector<std::string>{"restore.2.out", "restore.out"}));

  CQiDirectory closed;
  SQiDirEntry entry;
  bool done = false;
  EXPECT_TRUE(closed.GetEntry(entry, done).IsError());
  EXPECT_TRUE(closed.Open(dir_.Sub("none").c_str()).IsError());
}

TEST_F(DirectoryTest, PathQueries) {
  std::string file = dir_.Sub("f");
  WriteText(file, "");
  EXPECT_TRUE(CQiPath::IsFile(file.c_str()));
  EXPECT_FALSE(CQiPath::IsDirectory(file.c_str()));
  EXPECT_TRUE(CQiPath::IsDirectory(dir_.path().c_str()));
  EXPECT_FALSE(CQiPath::IsFile(dir_.path().c_str()));
  EXPECT_FALSE(CQiPath::IsFile(dir_.Sub("none").c_str()));
  EXPECT_FALSE(FXPath::DoesPathExist(""));
  ASSERT_EQ(symlink("/nonexistent/target", dir_.Sub("dangling").c_str()), 0);
  EXPECT_TRUE(FXPath::DoesPathExist(dir_.Sub("dangling").c_str()));
}

TEST(TQFileTest, GetLineStripsLineEndsAndSplitsLongLines) {
  TempDir dir;
  std::string path = dir.Sub("restore.out");
  WriteText(path, "BeginDistributedRestore\r\n/data/ks/t/f  DATA  x\n\n1234567\nabc");
  TQFile file;
  ASSERT_FALSE(file.open(path.c_str()).IsError());
  std::vector<std::string> lines;
  char buffer[8];  // room for 7 characters
  while (file.getLine(buffer, sizeof buffer)) lines.push_back(buffer);
  EXPECT_EQ(lines, (std::vector<std::string>{"BeginDi", "stribut", "edResto", "re", "/data/k",
                                             "s/t/f  ", "DATA  x", "", "1234567", "abc"}));
  ASSERT_FALSE(file.open(path.c_str()).IsError());
  std::string line;
  std::vector<std::string> whole;
  while (file.getLine(line)) whole.push_back(line);
  EXPECT_EQ(whole, (std::vector<std::string>{"BeginDistributedRestore", "/data/ks/t/f  DATA  x", "",
                                             "1234567", "abc"}));
  TQFile missing;
  EXPECT_TRUE(missing.open(dir.Sub("none").c_str()).IsError());
  EXPECT_FALSE(missing.getLine(line));
}
