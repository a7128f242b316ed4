// The ".bkp" copies of a target's commit-log restore settings files: made
// whole or not at all, never replaced by a file that already holds restore
// settings, and the record that lets the next run put them back.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LogRestoreControllerFixture.h"
#include "logrestore/CommitLogSettingsCopy.h"

namespace logrestoretest {
namespace {

using TQCassandra::CCommitLogSettingsCopy;

const std::string kPropsText = "restore_command=\nrestore_directories=\nrestore_point_in_time=\n";
const std::string kEnvText = "JMX_PORT=\"7199\"\n";
// What an earlier run of the restore wrote into the files.
const std::string kEditedProps =
    "restore_command=/bin/cp %from %to \nrestore_directories=/stage/90/#COMMITLOG#\n"
    "restore_point_in_time=2021:3:4 5:6:7\n";
const std::string kEditedEnv =
    kEnvText + "\nJVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks1.t1\"\n";

std::string Read(const std::string& path) { return simtest::ReadFile(path); }

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CommitLogSettingsCopy, RestoreSettingsAreTheRestoreKeysWithValuesOrAReplayList) {
  struct Case {
    const char* file;
    std::string text;
    bool holds;
  } cases[] = {
      {"commitlog_archiving.properties", kPropsText, false},
      {"commitlog_archiving.properties", "archive_command=/bin/ln %path /a/%name\n", false},
      {"commitlog_archiving.properties", "restore_command=/bin/cp %from %to\n", false},
      {"commitlog_archiving.properties", "restore_directories=/stage/9/#COMMITLOG#\n", true},
      {"commitlog_archiving.properties", "x=1\nrestore_point_in_time=2021:1:1 0:0:0", true},
      {"commitlog_archiving.properties", "#restore_directories=/old\n", false},
      {"cassandra-env.sh", kEnvText, false},
      {"cassandra-env.sh", kEditedEnv, true},
      {"cassandra-env.sh", "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=a.b\"", true},
      {"cassandra-env.sh", "# JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=a.b\"\n", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CCommitLogSettingsCopy::HoldsRestoreSettings(c.file, c.text), c.holds)
        << c.file << ": " << c.text;
  }
}

// A rerun after a run killed while the settings were live: the copies are
// the originals and stay; the edit is made again over the live settings.
TEST_F(LogRestoreControllerTest, ACopyIsNeverReplacedByAFileHoldingRestoreSettings) {
  const std::string conf = AddTarget("a", kEditedProps, kEditedEnv);
  simtest::WriteFile(conf + "/" + kProps + ".bkp", kPropsText);
  simtest::WriteFile(conf + "/" + kEnv + ".bkp", kEnvText);
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(conf + "/" + kProps + ".bkp"), kPropsText);
  EXPECT_EQ(Read(conf + "/" + kEnv + ".bkp"), kEnvText);
  EXPECT_EQ(Read(conf + "/" + kProps),
            "restore_command=/bin/cp %from %to \nrestore_directories=/stage/91/node1/#COMMITLOG#\n"
            "restore_point_in_time=2021:3:4 5:6:7\n");
  EXPECT_EQ(Read(conf + "/" + kEnv),
            kEnvText + "\nJVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks1.t1,ks1.t2\"\n");
  EXPECT_EQ(PendingCauses(kConfigFailed), 0u);
}

// A copy beside a file without restore settings is older than the file: the
// file is the original now.
TEST_F(LogRestoreControllerTest, ACopyBesideAFileWithoutRestoreSettingsIsMadeAnew) {
  const std::string conf = AddTarget("a", kPropsText, kEnvText);
  simtest::WriteFile(conf + "/" + kProps + ".bkp", "stale\n");
  simtest::WriteFile(conf + "/" + kEnv + ".bkp", "stale\n");
  fs::permissions(conf + "/" + kProps, fs::perms(0640));
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(conf + "/" + kProps + ".bkp"), kPropsText);
  EXPECT_EQ(Read(conf + "/" + kEnv + ".bkp"), kEnvText);
  // The copy has the mode of its file; no temporary file is left.
  EXPECT_EQ(fs::status(conf + "/" + kProps + ".bkp").permissions(), fs::perms(0640));
  EXPECT_EQ(FilesIn(conf), (std::vector<std::string>{std::string(kEnv), std::string(kEnv) + ".bkp",
                                                     "cassandra.yaml", std::string(kProps),
                                                     std::string(kProps) + ".bkp"}));
}

// A copy that cannot be written whole (here: the file size limit) leaves no
// part of itself, and the target keeps its files.
TEST_F(LogRestoreControllerTest, AFailedCopyLeavesNoPartialFile) {
  const std::string big = kPropsText + "# " + std::string(9000, 'x') + "\n";
  const std::string conf = AddTarget("a", big, kEnvText);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit limited = old;
  limited.rlim_cur = 4096;
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  controller_->OnAgentStopped();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(Read(conf + "/" + kProps), big);
  EXPECT_EQ(Read(conf + "/" + kEnv), kEnvText);
  EXPECT_EQ(FilesIn(conf),
            (std::vector<std::string>{std::string(kEnv), "cassandra.yaml", std::string(kProps)}));
  EXPECT_EQ(PendingCauses(kConfigFailed), 1u);
}

// The record that the next run reads after a kill: written before the
// copies, naming the configuration folder.
TEST_F(LogRestoreControllerTest, TheEditIsRecordedInTheTargetsWorkFolder) {
  const std::string conf = AddTarget("a", kPropsText, kEnvText);
  const std::string untouched = AddTarget("b", kPropsText, kEnvText, {"ks1.t1"}, false);
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(home_.Sub("work/a/CommitLogSettingsEdited")), conf + "\n");
  EXPECT_FALSE(fs::exists(home_.Sub("work/b/CommitLogSettingsEdited")));
  EXPECT_FALSE(fs::exists(untouched + "/" + kProps + ".bkp"));
}

}  // namespace
}  // namespace logrestoretest
