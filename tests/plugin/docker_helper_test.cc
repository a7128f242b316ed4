// The Docker helper: which machines count as running Cassandra in Docker,
// how a node's container is found by its mounts, how container paths map to
// host paths and back, and the failing docker commands; against scripted
// command lines and against the docker stand-in on PATH.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "backup/CassandraDockerHelper.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ProcessScript.h"
#include "tests/support/DockerTestSupport.h"
#include "tests/support/SimTestSupport.h"

namespace {

using TQCassandra::CassandraDockerHelper;

const char* const kImages = "docker container ls --format \"{{.Image}}\"";
const char* const kNames = "docker container ls --format \"{{.Names}}\"";
const char* const kInspect = "docker container inspect --format='{{json .Mounts}}' ";

CProcessScript::Answer Out(const std::string& out) {
  CProcessScript::Answer answer;
  answer.out = out;
  return answer;
}

CProcessScript::Answer Failed(int status, const std::string& err, const std::string& out = "") {
  CProcessScript::Answer answer;
  answer.status = status;
  answer.err = err;
  answer.out = out;
  return answer;
}

std::string Mounts(const std::vector<std::pair<std::string, std::string>>& mounts) {
  std::string json = "[";
  for (const auto& m : mounts) {
    if (json.size() > 1) json += ",";
    json += R"({"Type":"bind","Source":")" + m.first + R"(","Destination":")" + m.second +
            R"(","RW":true})";
  }
  return json + "]\n";
}

TEST(DockerDetection, ImagesOfCassandraOrDataStaxCountAsDocker) {
  struct Case {
    const char* name;
    std::string images;
    bool docker;
  } cases[] = {
      {"cassandra image", "nginx:1.25\ncassandra:4.0\n", true},
      {"DataStax image", "datastax/dse-server:6.8\n", true},
      {"name in capitals", "registry/Cassandra-custom:1\n", true},
      {"other images", "nginx:1.25\nredis:7\n", false},
      {"no containers", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CProcessScript script;
    script.Add(CProcessScript::kExact, kImages, Out(c.images));
    CLogCapture log;
    EXPECT_EQ(CassandraDockerHelper::checkIfCassandraInDocker(), c.docker);
    EXPECT_EQ(script.Commands(), std::vector<std::string>{kImages});
    EXPECT_EQ(log.Contains("Non docker configuration"), !c.docker);
  }
}

TEST(DockerDetection, AFailingListingMeansNoDocker) {
  CProcessScript script;
  script.Add(CProcessScript::kExact, kImages, Failed(1, "daemon down", "partial"));
  CLogCapture log;
  EXPECT_FALSE(CassandraDockerHelper::checkIfCassandraInDocker());
  EXPECT_TRUE(log.Contains(std::string("Failed to run the cmd [") + kImages +
                           "]: Output: [partial] Error: [daemon down]"));
}

// Searches for the container of the node path /etc/cassandra.
class ContainerSearch : public ::testing::Test {
 protected:
  CProcessScript script_;
};

// Containers "web" (mounts /srv and /etc/nginx) and "cass" (the mounts of
// the case); an empty line of the listing is passed over.
TEST_F(ContainerSearch, TheNodePathMustLieUnderAMountSource) {
  struct Case {
    const char* name;
    std::string mounts;
    bool match;
  } cases[] = {
      {"source equals the node path", Mounts({{"/etc/cassandra", "/etc/cassandra"}}), true},
      {"source is a parent directory", Mounts({{"/etc", "/hostetc"}}), true},
      {"source is a prefix of a name only", Mounts({{"/etc/cass", "/etc/cassandra"}}), false},
      {"source lies below the node path", Mounts({{"/etc/cassandra/conf", "/c"}}), false},
      {"elements that are not objects are passed over",
       R"(["/etc/cassandra", 7, {"Source":"/etc/cassandra","Destination":"/c"}])", true},
      {"a source that is not a string", R"([{"Source":5,"Destination":"/c"}])", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CProcessScript script;
    script.Add(CProcessScript::kExact, kNames, Out("web\n\ncass\n"));
    script.Add(CProcessScript::kExact, std::string(kInspect) + "web",
               Out(Mounts({{"/srv", "/usr/share/nginx"}, {"/etc/nginx", "/etc/nginx"}})));
    script.Add(CProcessScript::kExact, std::string(kInspect) + "cass", Out(c.mounts));
    CassandraDockerHelper helper("/etc/cassandra");
    CLogCapture log;
    ASSERT_FALSE(helper.initialize().IsError());
    EXPECT_EQ(script.Commands(), (std::vector<std::string>{kNames, std::string(kInspect) + "web",
                                                           std::string(kInspect) + "cass"}));
    std::string name = "unchanged";
    CQiError error = helper.getContainerName(name);
    if (c.match) {
      EXPECT_FALSE(error.IsError());
      EXPECT_EQ(name, "cass");
      EXPECT_TRUE(log.Contains("Node maps to container cass"));
    } else {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13));
      EXPECT_EQ(error.GetMessage(), "Not a docker configuration");
      EXPECT_EQ(name, "unchanged");
    }
  }
}

TEST_F(ContainerSearch, TheFirstMatchingContainerIsTakenAndTheRestAreNotInspected) {
  script_.Add(CProcessScript::kExact, kNames, Out("first\nsecond\n"));
  script_.Add(CProcessScript::kExact, std::string(kInspect) + "first",
              Out(Mounts({{"/etc/cassandra", "/etc/cassandra"}, {"/data/one", "/var/lib/c"}})));
  script_.Add(CProcessScript::kExact, std::string(kInspect) + "second",
              Out(Mounts({{"/etc", "/etc"}})));
  CassandraDockerHelper helper("/etc/cassandra");
  ASSERT_FALSE(helper.initialize().IsError());
  std::string name;
  ASSERT_FALSE(helper.getContainerName(name).IsError());
  EXPECT_EQ(name, "first");
  EXPECT_EQ(script_.Commands().size(), 2u);
  std::string host;
  ASSERT_FALSE(helper.getSourcePath("/var/lib/c/archive", host).IsError());
  EXPECT_EQ(host, "/data/one/archive");
}

TEST_F(ContainerSearch, FailingCommandsAreError774WithTheCommandAndItsError) {
  {
    CProcessScript script;
    script.Add(CProcessScript::kExact, kNames, Failed(1, "daemon down"));
    CassandraDockerHelper helper("/etc/cassandra");
    CLogCapture log;
    CQiError error = helper.initialize();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_EQ(error.GetMessage(),
              std::string("Failed to run the cmd ") + kNames + ". Error: daemon down");
    EXPECT_TRUE(log.Contains(std::string("Failed to run command [") + kNames +
                             "]: Output: [] Error: [daemon down]"));
  }
  {
    // An inspect that fails stops the search; "cass" is not inspected.
    CProcessScript script;
    script.Add(CProcessScript::kExact, kNames, Out("web\ncass\n"));
    script.Add(CProcessScript::kExact, std::string(kInspect) + "web",
               Failed(1, "Error: No such container: web"));
    script.Add(CProcessScript::kExact, std::string(kInspect) + "cass",
               Out(Mounts({{"/etc/cassandra", "/etc/cassandra"}})));
    CassandraDockerHelper helper("/etc/cassandra");
    CQiError error = helper.initialize();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
    EXPECT_EQ(error.GetMessage(), std::string("Failed to run the cmd ") + kInspect +
                                      "web. Error: Error: No such container: web");
    EXPECT_EQ(script.Commands().size(), 2u);
    std::string name;
    EXPECT_TRUE(helper.getContainerName(name).IsError());
  }
}

TEST(DockerPaths, ContainerPathsMapToHostPathsByTheFirstMountThatHoldsThem) {
  CProcessScript script;
  script.Add(CProcessScript::kExact, kNames, Out("cass\n"));
  script.Add(CProcessScript::kExact, std::string(kInspect) + "cass",
             Out(R"([{"Source":"/etc/cassandra","Destination":"/etc/cassandra"},)"
                 R"("text",)"
                 R"({"Source":"/srv/c1","Destination":"/var/lib/cassandra"},)"
                 R"({"Source":"/srv/other","Destination":"/var/lib/cassandra/commitlog"}])"));
  CassandraDockerHelper helper("/etc/cassandra/conf");
  ASSERT_FALSE(helper.initialize().IsError());

  struct Case {
    std::string container;
    std::string host;  // "" for no mapping
  } toHost[] = {
      {"/var/lib/cassandra", "/srv/c1"},
      {"/var/lib/cassandra/commitlog_backup", "/srv/c1/commitlog_backup"},
      {"/var/lib/cassandra/commitlog/x", "/srv/c1/commitlog/x"},  // first mount wins
      {"/var/lib/cassandra2", ""},
      {"/var/lib", ""},
  };
  for (const auto& c : toHost) {
    SCOPED_TRACE(c.container);
    std::string host;
    CQiError error = helper.getSourcePath(c.container, host);
    if (c.host.empty()) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13));
      EXPECT_EQ(error.GetMessage(), "No mapping found for destination path " + c.container);
      EXPECT_TRUE(host.empty());
    } else {
      EXPECT_FALSE(error.IsError()) << error.AsString(2);
      EXPECT_EQ(host, c.host);
    }
  }

  std::string container;
  ASSERT_FALSE(helper.getDestPath("/srv/c1/hints", container).IsError());
  EXPECT_EQ(container, "/var/lib/cassandra/hints");
  CQiError error = helper.getDestPath("/srv/c10", container);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13));
  EXPECT_EQ(error.GetMessage(), "No mapping found for source path /srv/c10");
}

TEST(DockerPaths, WithoutAContainerNothingMaps) {
  CassandraDockerHelper helper("/etc/cassandra");
  std::string host;
  EXPECT_TRUE(FXErrorUtil::IsWin32(helper.getSourcePath("/var/lib/cassandra", host), 13));
}

// A container name is handed to the shell quoted: with a blank, a quote and a
// command substitution in it, the stand-in receives the name as it is and
// nothing else runs.
TEST(DockerStandIn, AContainerNameReachesDockerAsOneWordAndRunsNothing) {
  simtest::TempDir dir;
  const std::string marker = dir.Sub("ran");
  const std::string name = "cass node's $(touch " + marker + ") `touch " + marker + "`";
  const std::string node = dir.Sub("node $(touch " + marker + ")/conf");
  TqSim::SimDockerWorld world;
  world.containers.push_back(dockertest::Container("plain", "cassandra:4.0", {{"/srv", "/srv"}}));
  world.containers.push_back(dockertest::Container(
      name, "cassandra:4.0", {{node, "/etc/cassandra"}, {dir.Sub("node $(x)"), "/var/lib/c"}}));
  std::string error;
  ASSERT_TRUE(world.Save(dir.Sub("docker.json"), error)) << error;

  dockertest::ScopedDockerStandIn standIn(dir.Sub("docker.json"), dir.Sub("calls"));
  EXPECT_EQ(
      CassandraDockerHelper::InspectMountsCommand(name),
      std::string(kInspect) + "'cass node'\\''s $(touch " + marker + ") `touch " + marker + "`'");
  ASSERT_TRUE(CassandraDockerHelper::checkIfCassandraInDocker());
  CassandraDockerHelper helper(node);
  ASSERT_FALSE(helper.initialize().IsError());
  std::string found;
  ASSERT_FALSE(helper.getContainerName(found).IsError());
  EXPECT_EQ(found, name);
  std::string host;
  ASSERT_FALSE(helper.getSourcePath("/var/lib/c/archive", host).IsError());
  EXPECT_EQ(host, dir.Sub("node $(x)/archive"));

  const auto calls = dockertest::LoggedCalls(dir.Sub("calls"));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], (std::vector<std::string>{"container", "ls", "--format", "{{.Image}}"}));
  EXPECT_EQ(calls[1], (std::vector<std::string>{"container", "ls", "--format", "{{.Names}}"}));
  EXPECT_EQ(calls[3],
            (std::vector<std::string>{"container", "inspect", "--format={{json .Mounts}}", name}));
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(DockerStandIn, TheStandInsFailuresReachTheHelper) {
  simtest::TempDir dir;
  TqSim::SimDockerWorld world;
  world.containers.push_back(
      dockertest::Container("c1", "cassandra:3.11", {{"/etc/cassandra", "/etc/cassandra"}}));
  world.failures.push_back({"inspect", "", "c1", 1, "Error response from daemon: broken"});
  std::string error;
  ASSERT_TRUE(world.Save(dir.Sub("docker.json"), error)) << error;
  {
    dockertest::ScopedDockerStandIn standIn(dir.Sub("docker.json"));
    EXPECT_TRUE(CassandraDockerHelper::checkIfCassandraInDocker());
    CassandraDockerHelper helper("/etc/cassandra");
    CQiError failed = helper.initialize();
    EXPECT_TRUE(FXErrorUtil::IsWin32(failed, 774));
    EXPECT_EQ(failed.GetMessage(), std::string("Failed to run the cmd ") + kInspect +
                                       "c1. Error: Error response from daemon: broken\n");
  }
  {
    // No world: no engine runs.
    dockertest::ScopedDockerStandIn standIn(std::nullopt);
    CLogCapture log;
    EXPECT_FALSE(CassandraDockerHelper::checkIfCassandraInDocker());
    EXPECT_TRUE(log.Contains("Cannot connect to the Docker daemon"));
  }
}

}  // namespace
