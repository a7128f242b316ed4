// Running command lines, for real and from a script.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/base/QiPath.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ProcessScript.h"
#include "platform/suite/TqProcess.h"
#include "tests/platform/TempDir.h"

TEST(TqProcessTest, CapturesBothOutputsAndTheExitStatus) {
  struct Case {
    const char* command;
    const char* out;
    const char* err;
    int status;
  } cases[] = {
      {"echo hello", "hello\n", "", 0},
      {"echo oops >&2; exit 3", "", "oops\n", 3},
      {"printf 'a\\nb'; printf err >&2", "a\nb", "err", 0},
      {"exit 255", "", "", 255},
      {"kill -TERM $$", "", "", 128 + SIGTERM},
      {"cat", "", "", 0},  // standard input is empty, not the test's own
  };
  for (const auto& c : cases) {
    std::string out = "stale", err = "stale";
    EXPECT_EQ(TqProcess::system(c.command, out, err, 0, false), c.status) << c.command;
    EXPECT_EQ(out, c.out) << c.command;
    EXPECT_EQ(err, c.err) << c.command;
  }
}

TEST(TqProcessTest, CommandLineGoesThroughTheShell) {
  TempDir dir;
  std::string out, err;
  std::string command = " chown -R " + std::to_string(getuid()) + ":" + std::to_string(getgid()) +
                        " " + dir.path() + " && echo \"quoted  text\" | tr a-z A-Z";
  EXPECT_EQ(TqProcess::system(command.c_str(), out, err, 0, false), 0) << err;
  EXPECT_EQ(out, "QUOTED  TEXT\n");
  CQiString qout, qerr;
  EXPECT_EQ(TqProcess::system("no-such-command-xyz", qout, qerr, 0, false), 127);
  EXPECT_NE(qerr.str().find("not found"), std::string::npos);
}

TEST(TqProcessTest, LargeOutputsOnBothStreamsDoNotDeadlock) {
  std::string out, err;
  int status = TqProcess::system(
      "i=0; while [ $i -lt 2000 ]; do echo 0123456789012345678901234567890123456789; "
      "echo 0123456789012345678901234567890123456789 >&2; i=$((i+1)); done",
      out, err, 0, false);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.size(), 2000u * 41);
  EXPECT_EQ(err.size(), 2000u * 41);
}

TEST(TqProcessTest, EmptyCommandFails) {
  std::string out, err;
  EXPECT_EQ(TqProcess::system("", out, err, 0, false), -1);
  EXPECT_EQ(TqProcess::system(nullptr, out, err, 0, false), -1);
  EXPECT_FALSE(err.empty());
}

TEST(ProcessScriptTest, AnswersFromRulesAndRecordsEveryCommand) {
  CProcessScript script;
  script.Add(CProcessScript::kExact, "docker container ls --format \"{{.Image}}\"",
             {"datastax/dse-server:6.8\n", "", 0});
  script.Add(CProcessScript::kPrefix, "docker container inspect", {"[]", "", 0});
  script.Add(CProcessScript::kContains, " mount -o ", {"", "access denied", 32}, 1);

  std::string out, err;
  EXPECT_EQ(TqProcess::system("docker container ls --format \"{{.Image}}\"", out, err, 0, false),
            0);
  EXPECT_EQ(out, "datastax/dse-server:6.8\n");
  EXPECT_EQ(TqProcess::system("docker container inspect --format='{{json .Mounts}}' c1", out, err,
                              0, false),
            0);
  EXPECT_EQ(out, "[]");
  std::string mount = " mount -o nolock \"ma:/share\" /mnt/x";
  EXPECT_EQ(TqProcess::system(mount.c_str(), out, err, 0, false), 32);
  EXPECT_EQ(err, "access denied");
  // The mount rule answered once; the next mount is not scripted.
  EXPECT_EQ(TqProcess::system(mount.c_str(), out, err, 0, false), 127);
  EXPECT_EQ(err, "command not scripted: " + mount);
  // Nothing really ran: a real "touch" would have made the file.
  TempDir dir;
  std::string touch = "touch " + dir.Sub("made");
  EXPECT_EQ(TqProcess::system(touch.c_str(), out, err, 0, false), 127);
  EXPECT_FALSE(CQiPath::IsFile(dir.Sub("made").c_str()));

  EXPECT_EQ(script.Commands(),
            (std::vector<std::string>{"docker container ls --format \"{{.Image}}\"",
                                      "docker container inspect --format='{{json .Mounts}}' c1",
                                      mount, mount, touch}));
}

TEST(ProcessScriptTest, DefaultAnswerPassThroughAndRestore) {
  std::string out, err;
  {
    CProcessScript outer;
    outer.SetDefault({"outer", "", 0});
    {
      CProcessScript inner;
      inner.SetPassThrough(true);
      inner.Add(CProcessScript::kExact, "echo scripted", {"from script\n", "", 0});
      EXPECT_EQ(TqProcess::system("echo scripted", out, err, 0, false), 0);
      EXPECT_EQ(out, "from script\n");
      EXPECT_EQ(TqProcess::system("echo real", out, err, 0, false), 0);
      EXPECT_EQ(out, "real\n");  // not matched: really run
      EXPECT_EQ(inner.Commands().size(), 2u);
    }
    EXPECT_EQ(TqProcess::system("echo real", out, err, 0, false), 0);
    EXPECT_EQ(out, "outer");  // the outer script is back
    EXPECT_EQ(outer.Commands(), (std::vector<std::string>{"echo real"}));
  }
  EXPECT_EQ(TqProcess::system("echo real", out, err, 0, false), 0);
  EXPECT_EQ(out, "real\n");  // no script left
}

TEST(ProcessScriptTest, RecordsTheClientOfEachCaller) {
  CProcessScript script;
  script.SetDefault({"", "", 0});
  std::vector<std::thread> nodes;
  for (const char* name : {"node1", "node2"}) {
    nodes.emplace_back([name] {
      SClientIdentity identity;
      identity.clientName = name;
      CClientContextScope scope(identity);
      std::string out, err;
      std::string command = std::string(" chown -R cassandra:cassandra /stage/") + name;
      TqProcess::system(command.c_str(), out, err, 0, false);
    });
  }
  for (auto& t : nodes) t.join();
  auto calls = script.Calls();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls)
    EXPECT_EQ(call.command, " chown -R cassandra:cassandra /stage/" + call.client);
}
