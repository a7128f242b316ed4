// PriamUtil with its real transport: the Priam stand-in (or a script) runs as
// a child process and answers over HTTP on loopback. Every test checks that
// no child process is left behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace {

using nlohmann::json;
using TqCassandra::PriamUtil;

class PriamProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TqSim::FixtureOptions options;
    options.nodes = 3;
    options.keyspaces = 2;
    options.tablesPerKeyspace = 2;
    options.sstablesPerTable = 1;
    options.sstableSize = 256;
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("cluster"), options, cluster_, error))
        << error;
    workDir_ = dir_.Sub("work");
    std::filesystem::create_directories(workDir_);
  }

  void TearDown() override {
    for (const char* name : {"sPriamCommand", "nPriamStartTimeoutMs"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty()) << "a child process was left behind";
  }

  std::unique_ptr<PriamUtil> Make(const std::string& location) {
    return std::make_unique<PriamUtil>(0, CQiString("/usr/bin/java"), "/opt/base", workDir_,
                                       location, false);
  }

  void AddFault(const TqSim::SimFault& fault) {
    TqSim::SimClusterFile file(cluster_.clusterFile);
    TqSim::SimCluster cluster;
    std::string error;
    ASSERT_TRUE(file.Load(cluster, error)) << error;
    cluster.faults.push_back(fault);
    ASSERT_TRUE(file.Save(cluster, error)) << error;
  }

  static json Get(PriamUtil& util, const std::string& resource) {
    CQiString reply;
    CQiError e = util.get(0, CQiString(resource), reply, CQiString(""));
    EXPECT_FALSE(e.IsError()) << resource << ": " << e.AsString() << " " << reply.str();
    return json::parse(reply.str(), nullptr, false);
  }

  simtest::TempDir dir_;
  TqSim::FixtureResult cluster_;
  std::string workDir_;
};

TEST_F(PriamProcessTest, BackupRequestsThroughAStandInForOneNode) {
  const TqSim::FixtureNode& node = cluster_.nodes[0];
  auto util = Make(node.confDir);
  EXPECT_EQ(util->getCQLhost(), node.address);
  util->writePriamProperties({{"priam.jmx.port", util->getJMXport()}});
  util->priamAdditionalParameters = " -Dcql.ssl.enable=false  -Dssl.enable=false ";
  ASSERT_FALSE(util->startPriam().IsError());
  ASSERT_TRUE(util->getIsConnected());

  // The co-process got the working directory, properties, JVM options, Java
  // path and configuration directory.
  std::vector<pid_t> children = simtest::ChildrenOf(::getpid());
  ASSERT_EQ(children.size(), 1u);
  std::vector<std::string> args = simtest::CommandLine(children[0]);
  auto value = [&](const std::string& option) {
    auto it = std::find(args.begin(), args.end(), option);
    return it == args.end() || it + 1 == args.end() ? std::string("<absent>") : *(it + 1);
  };
  EXPECT_EQ(value("--work-dir"), workDir_);
  EXPECT_EQ(value("--properties"), workDir_ + "/priam.properties");
  EXPECT_EQ(value("--jvm-options"), " -Dcql.ssl.enable=false  -Dssl.enable=false ");
  EXPECT_EQ(value("--java"), "/usr/bin/java");
  EXPECT_EQ(value("--conf"), node.confDir);

  json details = Get(*util, "clusterDetails");
  EXPECT_EQ(details.value("ClusterName", ""), "TestCluster");
  EXPECT_EQ(details.value("Version", ""), "3.11.4");

  json status = Get(*util, "status");
  ASSERT_TRUE(status.is_array());
  ASSERT_EQ(status.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(status[i].value("node", ""), cluster_.nodes[i].address);
    EXPECT_EQ(status[i].value("nodestatus", ""), "Up");
    EXPECT_EQ(status[i].value("state", ""), "Normal");
  }

  json meta = Get(*util, "getMeta");
  ASSERT_TRUE(meta.is_array());
  ASSERT_EQ(meta.size(), 2u);
  EXPECT_EQ(meta[0].value("KEYSPACE", ""), "ks1");
  EXPECT_TRUE(meta[0]["REPLICATION"].is_object());

  const std::string snapshot = "12TQsnapshot345";
  CQiString reply;
  ASSERT_FALSE(util->get(0,
                         CQiString("snapshot?SnapID=" + snapshot + "&?keyspace=ks1&?keyspace=ks2"),
                         reply, CQiString(""))
                   .IsError())
      << reply.str();
  json snaps = Get(*util, "ListSnaps");
  ASSERT_TRUE(snaps.is_object());
  EXPECT_TRUE(snaps.contains(snapshot));

  ASSERT_FALSE(
      util->get(0, CQiString("clearsnapshot?SnapID=" + snapshot), reply, CQiString("")).IsError());
  EXPECT_FALSE(Get(*util, "ListSnaps").contains(snapshot));

  ASSERT_FALSE(util->stopPriam().IsError());
  EXPECT_FALSE(util->getIsConnected());
  EXPECT_FALSE(simtest::ProcessExists(children[0]));
  EXPECT_TRUE(util->get(0, CQiString("status"), reply, CQiString("")).IsError());
  EXPECT_FALSE(util->stopPriam().IsError());
}

TEST_F(PriamProcessTest, LocationWithAContainerPathStartsForItsFirstPart) {
  auto util = Make(cluster_.nodes[1].confDir + ":/etc/cassandra");
  ASSERT_FALSE(util->startPriam().IsError());
  EXPECT_EQ(Get(*util, "info").value("Address", ""), cluster_.nodes[1].address);
}

TEST_F(PriamProcessTest, RequestFailuresComeBackWithTheirText) {
  AddFault({"request", "flush", "", "fail", 500, "No space left on device"});
  AddFault({"request", "getMeta", "", "access_denied", 0, ""});
  AddFault({"request", "status", "", "invalid_json", 0, ""});
  auto util = Make(cluster_.nodes[0].confDir);
  ASSERT_FALSE(util->startPriam().IsError());

  CQiString reply;
  CQiError e = util->get(0, CQiString("flush"), reply, CQiString(""));
  EXPECT_TRUE(e.IsError());
  EXPECT_FALSE(FXErrorUtil::IsWin32(e, 5));
  EXPECT_EQ(reply.str(), "No space left on device");

  e = util->get(0, CQiString("getMeta"), reply, CQiString(""));
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 5)) << e.AsString();

  e = util->get(0, CQiString("status"), reply, CQiString(""));
  EXPECT_FALSE(e.IsError());
  EXPECT_TRUE(json::parse(reply.str(), nullptr, false).is_discarded());

  e = util->get(0, CQiString("snapshot?SnapID=1TQsnapshot1"), reply, CQiString(""));
  ASSERT_FALSE(e.IsError()) << reply.str();
  e = util->get(0, CQiString("snapshot?SnapID=1TQsnapshot1"), reply, CQiString(""));
  EXPECT_TRUE(e.IsError());
  EXPECT_NE(reply.str().find("already exists"), std::string::npos) << reply.str();
}

TEST_F(PriamProcessTest, BodyOfKindOneReachesTheCoProcess) {
  auto util = Make(cluster_.nodes[0].confDir);
  ASSERT_FALSE(util->startPriam().IsError());
  CQiString reply;
  ASSERT_FALSE(util->get(1, CQiString("ExecuteCQL"), reply,
                         CQiString(R"({"Schema":"CREATE KEYSPACE fresh WITH replication = )"
                                   R"({'class': 'SimpleStrategy', 'replication_factor': '1'}"})"))
                   .IsError())
      << reply.str();
  ASSERT_FALSE(
      util->get(0, CQiString("checkExistance?keyspace=fresh"), reply, CQiString("")).IsError());
  EXPECT_EQ(reply.str(), "0");
  EXPECT_TRUE(util->get(7, CQiString("status"), reply, CQiString("")).IsError());
}

// A caller that percent-encodes a query value (a quoted table name holding
// quotes, commas and colons) gets it to Priam as it was, decoded once; a "%"
// that starts no escape and a blank still travel encoded.
TEST_F(PriamProcessTest, QueryValuesTheCallerEncodedReachPriamDecodedOnce) {
  auto util = Make(cluster_.nodes[0].confDir);
  ASSERT_FALSE(util->startPriam().IsError());
  for (const char* table : {R"("t1"",""keyspace"":""ks2")", R"("50% off")"}) {
    const json body = {
        {"Schema", std::string("CREATE TABLE ks1.") + table + " (id uuid PRIMARY KEY, name text)"}};
    CQiString reply;
    ASSERT_FALSE(util->get(1, CQiString("ExecuteCQL"), reply, CQiString(body.dump())).IsError())
        << reply.str();
  }
  struct Case {
    const char* resource;
    const char* reply;
  } cases[] = {
      {"checkExistance?keyspace=ks1&table=t1%22%2C%22keyspace%22%3A%22ks2", "0"},
      {"checkExistance?keyspace=ks1&table=t1%22%2c%22keyspace%22%3a%22ks2", "0"},
      {"checkExistance?keyspace=ks1&table=T1%22%2C%22keyspace%22%3A%22ks2", "1"},
      {"checkExistance?keyspace=ks1&table=50% off", "0"},
      {"checkExistance?keyspace=ks1&table=50%25%20off", "0"},
      {"checkExistance?keyspace=ks1&table=t1", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resource);
    CQiString reply;
    ASSERT_FALSE(util->get(0, CQiString(c.resource), reply, CQiString("")).IsError())
        << reply.str();
    EXPECT_EQ(reply.str(), c.reply);
  }
}

TEST_F(PriamProcessTest, AccessDeniedAtStartIsWin32Code5) {
  AddFault({"start", "", cluster_.nodes[0].address, "access_denied", 0, "JMX password refused"});
  auto refused = Make(cluster_.nodes[0].confDir);
  CQiError e = refused->startPriam();
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 5)) << e.AsString();
  EXPECT_NE(e.AsString().find("JMX password refused"), std::string::npos) << e.AsString();
  EXPECT_FALSE(refused->getIsConnected());

  // The fault names one node only.
  std::string otherWork = dir_.Sub("work2");
  std::filesystem::create_directories(otherWork);
  PriamUtil other(0, CQiString(""), "/opt/base", otherWork, cluster_.nodes[1].confDir, false);
  EXPECT_FALSE(other.startPriam().IsError());
}

TEST_F(PriamProcessTest, StartFailuresCarryTheStandardErrorText) {
  struct Case {
    const char* name;
    std::string script;  // body of the co-process script; empty: a missing program
    uint32_t win32;      // 0: an errno error
    const char* text;
  } cases[] = {
      {"exits early", "echo 'Error: could not find cassandra.yaml' >&2\nexit 3", 1067,
       "Error: could not find cassandra.yaml"},
      {"refuses authentication", "echo 'JMX authentication failed' >&2\nexit 5", 5,
       "JMX authentication failed"},
      {"never answers", "echo 'still loading' >&2\nexec sleep 30", 1460, "still loading"},
      {"missing program", "", 0, ""},
  };
  CRegistry::Instance().Set("Cassandra", "nPriamStartTimeoutMs", "500");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string command = dir_.Sub("no-such-priam");
    if (!c.script.empty()) command = simtest::WriteScript(dir_.Sub("fake-priam.sh"), c.script);
    CRegistry::Instance().Set("Cassandra", "sPriamCommand", command);
    auto util = Make(cluster_.nodes[0].confDir);
    CQiError e = util->startPriam();
    ASSERT_TRUE(e.IsError());
    if (c.win32) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, c.win32)) << e.AsString();
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(e, ENOENT)) << e.AsString();
    }
    EXPECT_NE(e.AsString(2).find(c.text), std::string::npos) << e.AsString(2);
    EXPECT_FALSE(util->getIsConnected());
    EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());
  }
}

TEST_F(PriamProcessTest, DestructorStopsACoProcessThatStillRuns) {
  pid_t child = 0;
  {
    auto util = Make(cluster_.nodes[0].confDir);
    ASSERT_FALSE(util->startPriam().IsError());
    auto children = simtest::ChildrenOf(::getpid());
    ASSERT_EQ(children.size(), 1u);
    child = children[0];
  }
  EXPECT_FALSE(simtest::ProcessExists(child));
}

TEST_F(PriamProcessTest, CoProcessThatDiedIsReapedAndReported) {
  auto util = Make(cluster_.nodes[0].confDir);
  ASSERT_FALSE(util->startPriam().IsError());
  auto children = simtest::ChildrenOf(::getpid());
  ASSERT_EQ(children.size(), 1u);
  ASSERT_EQ(::kill(children[0], SIGKILL), 0);
  // Until the kernel has finished the process a request finds no listener;
  // after that the utility sees the exit, reaps the child and says so.
  CQiString reply;
  CQiError e;
  for (int i = 0; i < 1000; ++i) {
    e = util->get(0, CQiString("status"), reply, CQiString(""));
    ASSERT_TRUE(e.IsError());
    if (FXErrorUtil::IsWin32(e, 1062)) break;
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1225)) << e.AsString();
    ::usleep(2000);
  }
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1062)) << e.AsString();
  EXPECT_FALSE(simtest::ProcessExists(children[0]));
  EXPECT_FALSE(util->stopPriam().IsError());
}

}  // namespace
