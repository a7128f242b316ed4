// The Priam utility's answers from a node's Cassandra configuration, before
// any start.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "support/SimTestSupport.h"

namespace {

using TqCassandra::PriamUtil;

const char* kYaml =
    "cluster_name: 'Main'\n"
    "data_file_directories:\n"
    "    - /var/lib/cassandra/data1\n"
    "    - /var/lib/cassandra/data2\n"
    "seed_provider:\n"
    "    - class_name: org.apache.cassandra.locator.SimpleSeedProvider\n"
    "      parameters:\n"
    "          - seeds: \"10.1.0.1, 10.1.0.2,10.1.0.3\"\n"
    "listen_address: 10.1.0.7\n"
    "rpc_address: 10.1.0.8\n"
    "native_transport_port: 9142\n";

const char* kEnv =
    "MAX_HEAP_SIZE=\"1G\"\n"
    "JMX_PORT=\"7299\"\n"
    "JVM_OPTS=\"$JVM_OPTS -Dcassandra.jmx.local.port=$JMX_PORT\"\n";

class PriamConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    confDir_ = dir_.Sub("conf");
    simtest::WriteFile(confDir_ + "/cassandra.yaml", kYaml);
    simtest::WriteFile(confDir_ + "/cassandra-env.sh", kEnv);
    // Every utility here gets a scripted transport, so nothing is launched.
    priam_ = std::make_shared<TqCassandra::ScriptedPriam>();
    guard_ = std::make_unique<TqCassandra::ScopedPriamTransportFactory>(priam_->Factory());
  }

  std::unique_ptr<PriamUtil> Make(const std::string& location) {
    return std::make_unique<PriamUtil>(0, CQiString(""), "/opt/base", dir_.path(), location, false);
  }

  simtest::TempDir dir_;
  std::string confDir_;
  std::shared_ptr<TqCassandra::ScriptedPriam> priam_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> guard_;
};

struct LocationCase {
  const char* name;
  std::string (*location)(const std::string& confDir);
};

const LocationCase kLocations[] = {
    {"file", [](const std::string& d) { return d + "/cassandra.yaml"; }},
    {"directory", [](const std::string& d) { return d; }},
    {"directory with slash", [](const std::string& d) { return d + "/"; }},
    {"directory with container path", [](const std::string& d) { return d + ":/etc/cassandra"; }},
    {"file with container path",
     [](const std::string& d) { return d + "/cassandra.yaml:/etc/cassandra/cassandra.yaml"; }},
};

TEST_F(PriamConfigTest, EveryKindOfLocationGivesTheSameAnswers) {
  for (const auto& c : kLocations) {
    SCOPED_TRACE(c.name);
    auto util = Make(c.location(confDir_));
    EXPECT_EQ(util->getCQLhost(), "10.1.0.8");
    EXPECT_EQ(util->getCQLport(), "9142");
    EXPECT_EQ(util->getJMXport(), "7299");
    EXPECT_EQ(util->getCassandraConfDir(), confDir_);
    EXPECT_FALSE(util->getIsConnected());

    std::vector<std::string> dirs;
    ASSERT_FALSE(util->getCassandraDataDir(dirs).IsError());
    EXPECT_EQ(dirs,
              (std::vector<std::string>{"/var/lib/cassandra/data1", "/var/lib/cassandra/data2"}));
    std::vector<std::string> seeds;
    ASSERT_FALSE(util->getCassandraSeeds(seeds).IsError());
    EXPECT_EQ(seeds, (std::vector<std::string>{"10.1.0.1", "10.1.0.2", "10.1.0.3"}));
    std::string file, flavour;
    ASSERT_FALSE(util->getConfFileNameCassFlavor(file, flavour).IsError());
    EXPECT_EQ(file, confDir_ + "/cassandra.yaml");
    EXPECT_EQ(flavour, "cassandra");
  }
  // None of this needed the co-process.
  for (const auto& s : priam_->Sessions()) EXPECT_TRUE(s.starts.empty());
}

// cassandra-env.sh is read line by line without a recursive pattern: a very
// long line of blanks is passed over instead of overflowing the stack, and
// only a line that sets JMX_PORT to a number counts (the last one wins).
TEST_F(PriamConfigTest, JmxPortLinesAndOddLines) {
  const std::string blanks(30000, ' ');
  const struct {
    const char* name;
    std::string env;
    const char* port;
  } cases[] = {
      {"long blank line", blanks + "\n" + kEnv, "7299"},
      {"long blank line last", std::string(kEnv) + blanks, "7299"},
      {"blanks around a setting", blanks + "JMX_PORT=7400" + blanks + "\n", "7400"},
      {"single quotes", "JMX_PORT='7401'\n", "7401"},
      {"last setting wins", "JMX_PORT=1\nJMX_PORT=\"2\"\n", "2"},
      {"not a number", "JMX_PORT=\"$PORT\"\n", ""},
      {"commented", "# JMX_PORT=7199\n", ""},
      {"other key", "XJMX_PORT=7199\nJMX_PORT_SSL=1\n", ""},
      {"long digit run with a letter", "JMX_PORT=" + std::string(30000, '7') + "x\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    simtest::WriteFile(confDir_ + "/cassandra-env.sh", c.env);
    EXPECT_EQ(Make(confDir_)->getJMXport(), c.port);
  }
}

TEST_F(PriamConfigTest, CqlHostFallsBackFromAWildcardRpcAddress) {
  struct Case {
    const char* lines;
    const char* host;
  } cases[] = {
      {"rpc_address: 0.0.0.0\nbroadcast_rpc_address: 10.2.0.2\nlisten_address: 10.2.0.3\n",
       "10.2.0.2"},
      {"rpc_address: 0.0.0.0\nlisten_address: 10.2.0.3\n", "10.2.0.3"},
      {"listen_address: 10.2.0.3\n", "10.2.0.3"},
      {"cluster_name: x\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    simtest::WriteFile(confDir_ + "/cassandra.yaml", c.lines);
    EXPECT_EQ(Make(confDir_)->getCQLhost(), c.host);
  }
}

TEST_F(PriamConfigTest, MissingSettingsLeaveTheGettersEmpty) {
  simtest::WriteFile(confDir_ + "/cassandra.yaml", "cluster_name: x\n");
  std::filesystem::remove(confDir_ + "/cassandra-env.sh");
  auto util = Make(confDir_);
  EXPECT_EQ(util->getCQLport(), "");
  EXPECT_EQ(util->getJMXport(), "");
  std::vector<std::string> dirs, seeds;
  EXPECT_TRUE(util->getCassandraDataDir(dirs).IsError());
  EXPECT_TRUE(util->getCassandraSeeds(seeds).IsError());
  EXPECT_TRUE(dirs.empty());
}

TEST_F(PriamConfigTest, UnreadableConfigurationIsAnError) {
  struct Case {
    const char* name;
    std::string location;
    uint32_t code;
  } cases[] = {
      {"missing file", dir_.Sub("nowhere/cassandra.yaml"), 2},
      {"missing directory", dir_.Sub("nowhere"), 2},
      {"empty location", "", 87},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto util = Make(c.location);
    EXPECT_EQ(util->getCQLhost(), "");
    std::vector<std::string> dirs;
    CQiError e = util->getCassandraDataDir(dirs);
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, c.code)) << e.AsString();
    std::string file, flavour;
    EXPECT_TRUE(util->getConfFileNameCassFlavor(file, flavour).IsError());
  }
  simtest::WriteFile(confDir_ + "/cassandra.yaml", "data_file_directories: [unclosed\n");
  std::vector<std::string> dirs;
  EXPECT_TRUE(FXErrorUtil::IsWin32(Make(confDir_)->getCassandraDataDir(dirs), 13));
}

TEST_F(PriamConfigTest, ScyllaConfigurationGivesTheScyllaFlavour) {
  std::string scyllaDir = dir_.Sub("scylla");
  simtest::WriteFile(scyllaDir + "/scylla.yaml", kYaml);
  std::string file, flavour;
  ASSERT_FALSE(Make(scyllaDir)->getConfFileNameCassFlavor(file, flavour).IsError());
  EXPECT_EQ(file, scyllaDir + "/scylla.yaml");
  EXPECT_EQ(flavour, "scylla");
}

TEST_F(PriamConfigTest, DataDirectoriesAreReadAtTheCallNotAtConstruction) {
  auto util = Make(confDir_);
  simtest::WriteFile(confDir_ + "/cassandra.yaml", "data_file_directories:\n  - /new/data\n");
  std::vector<std::string> dirs = {"stale"};
  ASSERT_FALSE(util->getCassandraDataDir(dirs).IsError());
  EXPECT_EQ(dirs, std::vector<std::string>{"/new/data"});
}

}  // namespace
