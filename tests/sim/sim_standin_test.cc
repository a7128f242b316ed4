// The Priam stand-in program: start-up refusals, serving on loopback, and
// ending when told to or when its parent goes away.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "support/SimTestSupport.h"

extern char** environ;

namespace {

using nlohmann::json;

const std::string kStandIn = std::string(TQ_BINARY_DIR) + "/sim/priam-standin";

class SimStandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TqSim::FixtureOptions options;
    options.nodes = 2;
    options.keyspaces = 1;
    options.tablesPerKeyspace = 1;
    options.sstableSize = 16;
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("c"), options, cluster_, error)) << error;
  }
  void TearDown() override {
    for (pid_t pid : simtest::ChildrenOf(::getpid())) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      ADD_FAILURE() << "process " << pid << " was left running";
    }
  }

  // Starts the stand-in with `args`; stderr goes to err.txt.
  pid_t Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), kStandIn);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, dir_.Sub("err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    return pid;
  }

  // Waits for the process to end; -1 when it still ran after about 10 s.
  static int Wait(pid_t pid) {
    for (int i = 0; i < 2000; ++i) {
      int status = 0;
      pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      ::usleep(5000);
    }
    return -1;
  }

  int WaitForPort(const std::string& portFile) {
    for (int i = 0; i < 2000; ++i) {
      std::string text = simtest::ReadFile(portFile);
      if (!text.empty()) return std::stoi(text);
      ::usleep(5000);
    }
    return 0;
  }

  void AddFault(const TqSim::SimFault& fault) {
    TqSim::SimClusterFile file(cluster_.clusterFile);
    TqSim::SimCluster c;
    std::string error;
    ASSERT_TRUE(file.Load(c, error)) << error;
    c.faults.push_back(fault);
    ASSERT_TRUE(file.Save(c, error)) << error;
  }

  simtest::TempDir dir_;
  TqSim::FixtureResult cluster_;
};

TEST_F(SimStandInTest, ServesOnLoopbackLogsRequestsAndEndsOnSigterm) {
  std::string portFile = dir_.Sub("priam.port");
  pid_t pid = Spawn({"--conf", cluster_.nodes[1].confDir, "--port-file", portFile, "--work-dir",
                     dir_.path(), "--jvm-options", " -Dx=1 ", "--java", ""});
  int port = WaitForPort(portFile);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  auto res = client.Get("/info");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(json::parse(res->body)["Address"], cluster_.nodes[1].address);
  res = client.Post("/insertKey", R"({"key_file":"k"})", "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);

  std::string log = simtest::ReadFile(dir_.Sub("priam-requests.log"));
  EXPECT_NE(log.find(R"("target":"/info")"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("body":"{\"key_file\":\"k\"}")"), std::string::npos) << log;

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(SimStandInTest, StartFaultsEndTheStandInWithTheirStatus) {
  struct Case {
    TqSim::SimFault fault;
    int status;
    const char* text;
  } cases[] = {
      {{"start", "", "", "access_denied", 0, "JMX authentication failed"},
       5,
       "JMX authentication failed"},
      {{"start", "", "", "exit", 3, "Unable to load cassandra.yaml"},
       3,
       "Unable to load cassandra.yaml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    TqSim::SimClusterFile file(cluster_.clusterFile);
    TqSim::SimCluster cluster;
    ASSERT_TRUE(file.Load(cluster, error));
    cluster.faults = {c.fault};
    ASSERT_TRUE(file.Save(cluster, error));
    pid_t pid = Spawn({"--conf", cluster_.nodes[0].confDir, "--port-file", dir_.Sub("p")});
    EXPECT_EQ(Wait(pid), c.status);
    EXPECT_NE(simtest::ReadFile(dir_.Sub("err.txt")).find(c.text), std::string::npos);
    EXPECT_FALSE(TqSim::IsFile(dir_.Sub("p")));
  }
}

TEST_F(SimStandInTest, FaultForAnotherNodeLeavesThisOneAlone) {
  AddFault({"start", "", cluster_.nodes[1].address, "access_denied", 0, ""});
  std::string portFile = dir_.Sub("priam.port");
  pid_t pid = Spawn({"--conf", cluster_.nodes[0].confDir, "--port-file", portFile});
  EXPECT_GT(WaitForPort(portFile), 0);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(SimStandInTest, EndsOnSigtermSentAsSoonAsItsPortIsKnown) {
  // The signal may come before the server's listening loop has begun.
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    std::string portFile = dir_.Sub("priam" + std::to_string(i) + ".port");
    pid_t pid = Spawn({"--conf", cluster_.nodes[0].confDir, "--port-file", portFile});
    ASSERT_GT(WaitForPort(portFile), 0);
    ::kill(pid, SIGTERM);
    ASSERT_EQ(Wait(pid), 0);
  }
}

TEST_F(SimStandInTest, BadInvocationsAreRefused) {
  struct Case {
    std::vector<std::string> args;
    const char* text;
  } cases[] = {
      {{}, "--conf"},
      {{"--conf"}, "needs a value"},
      {{"--port", "1"}, "Unknown option"},
      {{"--conf", "/nonexistent/conf"}, "tqsim-node.json"},
      {{"--cluster", "/nonexistent/cluster.json", "--node", "10.0.1.1"}, "Cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    pid_t pid = Spawn(c.args);
    int status = Wait(pid);
    EXPECT_NE(status, 0);
    EXPECT_NE(simtest::ReadFile(dir_.Sub("err.txt")).find(c.text), std::string::npos)
        << simtest::ReadFile(dir_.Sub("err.txt"));
  }
  pid_t pid = Spawn({"--cluster", cluster_.clusterFile, "--node", "10.9.9.9"});
  EXPECT_EQ(Wait(pid), 1);
  EXPECT_NE(simtest::ReadFile(dir_.Sub("err.txt")).find("not part of cluster"), std::string::npos);
}

TEST_F(SimStandInTest, EndsWhenItsParentEnds) {
  // A shell starts the stand-in in the background and exits once it serves,
  // so the stand-in loses its parent.
  std::string portFile = dir_.Sub("priam.port");
  std::string pidFile = dir_.Sub("standin.pid");
  std::string command = kStandIn + " --conf " + cluster_.nodes[0].confDir + " --port-file " +
                        portFile + " >/dev/null 2>&1 & echo $! > " + pidFile + "; while [ ! -s " +
                        portFile + " ]; do sleep 0.01; done";
  ASSERT_EQ(std::system(command.c_str()), 0);
  pid_t pid = std::stoi(simtest::ReadFile(pidFile));
  ASSERT_GT(WaitForPort(portFile), 0);
  bool ended = false;
  for (int i = 0; i < 2000 && !ended; ++i) {
    std::string stat = simtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    ended = stat.empty() || stat.find(") Z") != std::string::npos;
    if (!ended) ::usleep(5000);
  }
  if (!ended) ::kill(pid, SIGKILL);
  EXPECT_TRUE(ended);
}

}  // namespace
