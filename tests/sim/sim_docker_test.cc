// The docker stand-in: the command lines it answers from its world, the
// failures it gives on demand, and Docker-hosted nodes made by the cluster
// fixture generator.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/suite/TqProcess.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimDockerCommand.h"
#include "sim/lib/SimDockerWorld.h"
#include "support/DockerTestSupport.h"
#include "support/SimTestSupport.h"

namespace {

using TqSim::SimDockerCommand;
using TqSim::SimDockerWorld;

SimDockerWorld World() {
  SimDockerWorld world;
  world.containers.push_back(
      dockertest::Container("web", "nginx:1.25", {{"/srv/www", "/usr/share/nginx"}}));
  world.containers.push_back(dockertest::Container(
      "cass", "cassandra:4.0", {{"/etc/cass", "/etc/cassandra"}, {"/data", "/var/lib/cassandra"}}));
  auto stopped = dockertest::Container("old", "cassandra:3.11", {});
  stopped.running = false;
  world.containers.push_back(stopped);
  return world;
}

TEST(DockerCommands, ListingsAndInspectionsAnswerFromTheWorld) {
  const std::string mounts =
      R"([{"Destination":"/etc/cassandra","Mode":"","Propagation":"rprivate","RW":true,)"
      R"("Source":"/etc/cass","Type":"bind"},{"Destination":"/var/lib/cassandra","Mode":"",)"
      R"("Propagation":"rprivate","RW":true,"Source":"/data","Type":"bind"}])";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{"container", "ls", "--format", "{{.Image}}"}, 0, "nginx:1.25\ncassandra:4.0\n", ""},
      {{"container", "ls", "--format={{.Names}}"}, 0, "web\ncass\n", ""},
      {{"ps", "-a", "--format", "{{.Names}} {{.Image}}"},
       0,
       "web nginx:1.25\ncass cassandra:4.0\nold cassandra:3.11\n",
       ""},
      {{"container", "inspect", "--format={{json .Mounts}}", "cass"}, 0, mounts + "\n", ""},
      {{"container", "inspect", "--format", "{{json .Mounts}}", "nope"},
       1,
       "",
       "Error: No such container: nope\n"},
      {{"container", "ls", "--format", "{{.Status}}"}, 1, "", ""},
      {{"container", "rm", "cass"}, 1, "", ""},
      {{"container", "ls", "--bogus"}, 125, "", ""},
  };
  const SimDockerWorld world = World();
  for (const auto& c : cases) {
    SCOPED_TRACE(nlohmann::json(c.arguments).dump());
    std::string out, err;
    EXPECT_EQ(SimDockerCommand::Run(c.arguments, world, out, err), c.status);
    EXPECT_EQ(out, c.out);
    if (c.status == 0 || !c.err.empty()) {
      EXPECT_EQ(err, c.err);
    } else {
      EXPECT_FALSE(err.empty());
    }
  }
}

TEST(DockerCommands, FailuresAreGivenOnDemand) {
  SimDockerWorld world = World();
  world.failures.push_back({"ls", "{{.Names}}", "", 3, "names broken"});
  world.failures.push_back({"inspect", "", "cass", 1, "cass broken\n"});
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string err;
  } cases[] = {
      {{"container", "ls", "--format", "{{.Names}}"}, 3, "names broken\n"},
      {{"container", "ls", "--format", "{{.Image}}"}, 0, ""},
      {{"container", "inspect", "--format={{json .Mounts}}", "cass"}, 1, "cass broken\n"},
      {{"container", "inspect", "--format={{json .Mounts}}", "web"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(nlohmann::json(c.arguments).dump());
    std::string out, err;
    EXPECT_EQ(SimDockerCommand::Run(c.arguments, world, out, err), c.status);
    EXPECT_EQ(err, c.err);
  }
  world.engineRunning = false;
  std::string out, err;
  EXPECT_EQ(SimDockerCommand::Run({"container", "ls"}, world, out, err), 1);
  EXPECT_EQ(err, SimDockerCommand::kEngineDown);
}

TEST(DockerWorldFile, AWorldReadsBackAsItWasWritten) {
  simtest::TempDir dir;
  SimDockerWorld world = World();
  world.failures.push_back({"inspect", "{{json .Mounts}}", "cass", 2, "x"});
  std::string error;
  ASSERT_TRUE(world.Save(dir.Sub("w.json"), error)) << error;
  SimDockerWorld back;
  ASSERT_TRUE(back.Load(dir.Sub("w.json"), error)) << error;
  ASSERT_EQ(back.containers.size(), 3u);
  EXPECT_EQ(back.containers[1].mounts[1].source, "/data");
  EXPECT_FALSE(back.containers[2].running);
  ASSERT_EQ(back.failures.size(), 1u);
  EXPECT_EQ(back.failures[0].exitCode, 2);
  simtest::WriteFile(dir.Sub("bad.json"), "[1]");
  EXPECT_FALSE(back.Load(dir.Sub("bad.json"), error));
}

// The generator's Docker-hosted nodes, answered by the stand-in program
// found on PATH for the command lines the plug-in runs.
TEST(DockerStandInProgram, TheGeneratorsDockerNodesAreFoundByTheirConfigurationDirectory) {
  simtest::TempDir dir;
  TqSim::FixtureOptions options;
  options.nodes = 2;
  options.version = "4.0.1";
  options.docker = true;
  options.archivingConfigured = true;
  TqSim::FixtureResult cluster;
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir.Sub("c"), options, cluster, error)) << error;
  ASSERT_EQ(cluster.dockerWorld, dir.Sub("c/docker.json"));
  const auto& node = cluster.nodes[1];
  EXPECT_EQ(node.containerName, "tqsim-node2");
  EXPECT_EQ(node.containerArchiveDir, "/var/lib/cassandra/commitlog_archive");
  EXPECT_NE(
      simtest::ReadFile(node.confDir + "/commitlog_archiving.properties")
          .find("\narchive_command=/bin/ln %path /var/lib/cassandra/commitlog_archive/%name\n"),
      std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(node.commitLogArchiveDir),
                          std::filesystem::directory_iterator()),
            2);

  dockertest::ScopedDockerStandIn standIn(cluster.dockerWorld, dir.Sub("calls"));
  std::string out, err;
  ASSERT_EQ(TqProcess::system("docker container ls --format \"{{.Image}}\"", out, err), 0) << err;
  EXPECT_EQ(out, "nginx:1.25\ncassandra:4.0.1\ncassandra:4.0.1\n");
  ASSERT_EQ(TqProcess::system("docker container ls --format \"{{.Names}}\"", out, err), 0) << err;
  EXPECT_EQ(out, "tqsim-proxy\ntqsim-node1\ntqsim-node2\n");
  ASSERT_EQ(TqProcess::system("docker container inspect --format='{{json .Mounts}}' tqsim-node2",
                              out, err),
            0)
      << err;
  nlohmann::json mounts = nlohmann::json::parse(out);
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0]["Source"], node.confDir);
  EXPECT_EQ(mounts[1]["Source"], std::filesystem::path(node.confDir).parent_path().string());
  EXPECT_EQ(mounts[1]["Destination"], "/var/lib/cassandra");
  EXPECT_EQ(std::filesystem::path(node.confDir).parent_path().string() + "/commitlog_archive",
            node.commitLogArchiveDir);
  EXPECT_EQ(dockertest::LoggedCalls(dir.Sub("calls")).size(), 3u);
}

TEST(DockerStandInProgram, TheFixtureGeneratorProgramWritesTheWorld) {
  simtest::TempDir dir;
  const std::string program = std::string(TQ_BINARY_DIR) + "/sim/cluster-fixture";
  std::string out, err;
  ASSERT_EQ(TqProcess::system((program + " --root " + dir.Sub("c") + " --nodes 1 --docker").c_str(),
                              out, err),
            0)
      << err;
  EXPECT_NE(out.find(" tqsim-node1\n"), std::string::npos) << out;
  EXPECT_NE(out.find(dir.Sub("c/docker.json") + "\n"), std::string::npos) << out;
  SimDockerWorld world;
  std::string error;
  ASSERT_TRUE(world.Load(dir.Sub("c/docker.json"), error)) << error;
  EXPECT_EQ(world.containers.size(), 2u);
}

}  // namespace
