// The post-operations controller: the node start payload and argument line,
// one Priam per node with its properties and JVM options, the subclient's
// snapshots, and the order of the cleanup run.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PriamRecordsTestSupport.h"
#include "SuiteFixture.h"
#include "cleanup/CassandraPostOpCleanupController.h"
#include "common/CassandraNodeRecords.h"
#include "common/CleanupRecords.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPassword.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using TQCassandra::CassandraPostOpCleanupController;
using TqCassandra::ScopedPriamTransportFactory;
using TqCassandra::ScriptedPriam;
using Properties = std::map<std::string, std::string>;

constexpr int64_t kJobId = 345;
constexpr uint32_t kStartFailed = 0x60003D4;
constexpr uint32_t kAccessDenied = 0x6000485;
const char* const kClientAuth =
    " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
    " -Dcom.sun.management.jmxremote.registry.ssl=true";

class Probe : public CassandraPostOpCleanupController {
 public:
  using CassandraPostOpCleanupController::backupLevel;
  using CassandraPostOpCleanupController::controllerDone;
  using CassandraPostOpCleanupController::jobKilled;
  using CassandraPostOpCleanupController::priamByNode;
  using CassandraPostOpCleanupController::snapshotName;
  using CassandraPostOpCleanupController::taskStatus;
};

struct NodeParam {
  std::string name, javaHome, confDir;
};

class CleanupControllerTest : public plugintest::SuiteTest {
 protected:
  void SetUp() override {
    SetUpSuite(false);
    ActAsClient("host1", 3);
    fs::create_directories(JobResults());
    UseScriptedPriam().SetReply("clearsnapshot", "{}");
    // Subclient 12 of a registered instance.
    CSuiteRegistration registration(CSuiteStore(home_.Sub("central")));
    uint64_t clientId = 0;
    ASSERT_FALSE(registration.registerClient("cluster1", "cluster1.sim", {}, clientId).IsError());
    SInstanceSettings instance;
    instance.name = "cassandra1";
    instance.clientId = clientId;
    instance.cassandraConfigFile = "/etc/cassandra/cassandra.yaml";
    uint64_t instanceId = 0;
    ASSERT_FALSE(registration.registerInstance(instance, instanceId).IsError());
    SSubclientSettings subclient;
    subclient.id = 12;
    subclient.name = "sc12";
    subclient.instanceId = instanceId;
    uint64_t subclientId = 0;
    ASSERT_FALSE(registration.registerSubclient(subclient, subclientId).IsError());
  }
  void TearDown() override {
    if (controller_) controller_->uninitializePriam();
    controller_.reset();
    for (const char* name :
         {"nCassandraRemoteJMXEnabled", "nCassandraCqlSslDisabled", "nCassandraJmxSslDisabled"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    TearDownSuite();
  }

  std::string JobResults() const { return home_.Sub("host1/JobResults/345"); }

  // A Cassandra configuration directory whose JMX port the utility reads.
  std::string Conf(const std::string& name, const std::string& jmxPort = "7199") {
    const std::string dir = home_.Sub("conf/" + name);
    simtest::WriteFile(dir + "/cassandra.yaml", "cluster_name: test\n");
    if (!jmxPort.empty()) {
      simtest::WriteFile(dir + "/cassandra-env.sh", "JMX_PORT=\"" + jmxPort + "\"\n");
    }
    return dir;
  }

  static std::string JmxXml(const std::string& user, const std::string& password) {
    return priamtest::JmxXml("jmx.example", 7199, !user.empty(), user, priamtest::Encrypt(password),
                             "");
  }
  static std::string AuthXml(const std::string& keystorePassword) {
    return priamtest::AuthXml(1, keystorePassword, priamtest::Encrypt("ts secret"));
  }

  static std::string NodeConfig(const std::vector<NodeParam>& nodes) {
    std::vector<DistributedQEL::CassandraPostOpParams> params;
    for (const NodeParam& node : nodes) {
      DistributedQEL::CassandraPostOpParams p;
      p.setNodeName(node.name);
      p.setJavaHome(node.javaHome);
      p.setConfigDirectory(node.confDir);
      params.push_back(p);
    }
    DistributedQEL::CassandraPostOpParamsList list;
    list.setParams(params);
    std::string xml;
    EXPECT_EQ(list.serialize(xml), 0);
    return xml;
  }

  static DistributedQEL::NodeInit Init(
      const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<DistributedQEL::DINameValue> list;
    for (const auto& v : values) list.emplace_back(v.first, v.second);
    DistributedQEL::NodeInit init;
    init.setValues(list);
    return init;
  }

  // A controller as the framework makes it, with its argument line.
  Probe& Controller(const std::string& levelOption = " -t 2") {
    controller_.reset(new Probe());
    CFrameworkArguments framework;
    framework.ombrelId = 1;
    framework.applicationId = 12;
    framework.jobId = kJobId;
    framework.jobResultsDirectory = JobResults();
    CProgramArgumentsPtr arguments;
    EXPECT_FALSE(CProgramArguments::Parse(framework.Format() + levelOption, arguments).IsError());
    controller_->setProgramArguments(arguments);
    return *controller_;
  }

  CQiError Init(Probe& c, const std::vector<std::pair<std::string, std::string>>& values) {
    DistributedQEL::NodeInit init = Init(values);
    return c.processNodeInit(&init);
  }

  // The sessions of the utilities made for `confDir`.
  std::vector<ScriptedPriam::Session> SessionsOf(const std::string& confDir) const {
    std::vector<ScriptedPriam::Session> out;
    for (const auto& s : priamScript_->Sessions()) {
      if (s.context.confLocation == confDir) out.push_back(s);
    }
    return out;
  }
  std::vector<std::string> Cleared(const std::string& confDir) const {
    std::vector<std::string> names;
    for (const auto& s : SessionsOf(confDir)) {
      for (const auto& r : s.requests) {
        const std::string prefix = "clearsnapshot?SnapID=";
        if (r.resource.rfind(prefix, 0) == 0) names.push_back(r.resource.substr(prefix.size()));
      }
    }
    return names;
  }

  std::unique_ptr<Probe> controller_;
};

// ------------------------------------------------------------------ set-up

TEST_F(CleanupControllerTest, AnswersOfAControllerWithoutWorkers) {
  Probe& c = Controller();
  EXPECT_EQ(c.getNumberOfWorkers(), 0);
  bool flag = true;
  EXPECT_FALSE(c.OnTask(nullptr, flag).IsError());
  EXPECT_TRUE(flag);
  EXPECT_FALSE(c.isControllerDone());
  // The level has a value before the payload sets it.
  EXPECT_EQ(c.backupLevel, TQBkpLevel_Full);
}

TEST_F(CleanupControllerTest, PayloadAndArgumentLineSetTheRun) {
  Probe& c = Controller(" -t 2");
  const std::string conf = Conf("n1");
  CLogCapture log;
  ASSERT_FALSE(Init(c, {{"taskStatus", "1:0|"},
                        {"NodeConfig", NodeConfig({{"n1", "/jh", conf}})},
                        {"taskStatus", "1:-1|2:-1|"},  // a later entry replaces an earlier one
                        {"JobKill", "0"}})
                   .IsError());
  EXPECT_EQ(c.backupLevel, TQBkpLevel_Incremental);
  EXPECT_EQ(c.snapshotName, "12TQsnapshot345");
  EXPECT_EQ(c.taskStatus, "1:-1|2:-1|");
  EXPECT_FALSE(c.jobKilled);
  ASSERT_EQ(c.priamByNode.size(), 1u);
  ScriptedPriam::Session s = SessionsOf(conf).at(0);
  ASSERT_EQ(s.starts.size(), 1u);
  EXPECT_EQ(s.starts[0].javaPath, "/jh/java");
  EXPECT_EQ(s.starts[0].workingDir, JobResults() + "/host1/n1");
  // No JMX and no authentication settings: the JMX port alone, no options.
  EXPECT_EQ(s.properties, (Properties{{"priam.jmx.port", "7199"}}));
  EXPECT_EQ(s.starts[0].jvmOptions, "");

  Probe& killed = Controller(" -t 1");
  ASSERT_FALSE(Init(killed, {{"NodeConfig", NodeConfig({})}, {"JobKill", "1"}}).IsError());
  EXPECT_TRUE(killed.jobKilled);
  EXPECT_EQ(killed.backupLevel, TQBkpLevel_Full);
  EXPECT_TRUE(killed.priamByNode.empty());
}

TEST_F(CleanupControllerTest, PayloadFailures) {
  struct Case {
    const char* name;
    std::string levelOption;
    std::vector<std::pair<std::string, std::string>> values;
    uint32_t win32;  // 0: any error
    std::string text;
  } cases[] = {
      {"no NodeConfig", " -t 2", {{"taskStatus", "1:-1|"}}, 13, "Failed to fetch node details"},
      {"NodeConfig without a list",
       " -t 2",
       {{"NodeConfig", "<nothing/>"}},
       13,
       "Failed to fetch node details"},
      {"no level", "", {{"NodeConfig", NodeConfig({})}}, 0, ""},
      {"level not a number", " -t x", {{"NodeConfig", NodeConfig({})}}, 0, ""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    Probe& c = Controller(k.levelOption);
    CQiError e = Init(c, k.values);
    ASSERT_TRUE(e.IsError());
    if (k.win32 != 0) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, k.win32)) << e.AsString(2);
    }
    EXPECT_NE(e.AsString(2).find(k.text), std::string::npos) << e.AsString(2);
    EXPECT_TRUE(c.priamByNode.empty());
  }
  // A message that is not a NodeInit.
  Probe& c = Controller();
  DistributedQEL::NodeStop stop;
  EXPECT_TRUE(c.processNodeInit(&stop).IsError());
}

TEST_F(CleanupControllerTest, EachNodeGetsItsPriamWithExactPropertiesAndOptions) {
  CRegistry::Instance().Set("Cassandra", "nCassandraRemoteJMXEnabled", "1");
  const std::string conf1 = Conf("n1"), conf2 = Conf("n2", "");
  Probe& c = Controller();
  ASSERT_FALSE(Init(c, {{"NodeConfig", NodeConfig({{"n1", "/jh", conf1}, {"n2", "", conf2}})},
                        {"JMXConfig", JmxXml("jmxuser", "jmx secret")},
                        {"AuthConfig", AuthXml(priamtest::Encrypt("ks secret"))}})
                   .IsError());
  const std::string options =
      " -Dpriam.jmx.host=jmx.example -Dcql.ssl.enable=true "
      " -Dssl.enable=true  -Djavax.net.ssl.keyStore=/ks/keystore.jks"
      " -Djavax.net.ssl.trustStore=/ts/truststore.jks" +
      std::string(kClientAuth);
  ScriptedPriam::Session s1 = SessionsOf(conf1).at(0);
  EXPECT_EQ(s1.properties, (Properties{{"priam.jmx.port", "7199"},
                                       {"priam.jmx.user", "jmxuser"},
                                       {"priam.jmx.token", "am14IHNlY3JldA=="},
                                       {"priam.keystore.password", "a3Mgc2VjcmV0"},
                                       {"priam.truststore.password", "dHMgc2VjcmV0"}}));
  EXPECT_EQ(s1.starts.at(0).jvmOptions, options);
  // No JMX port reported: no port property; an empty Java home stays empty.
  ScriptedPriam::Session s2 = SessionsOf(conf2).at(0);
  EXPECT_EQ(s2.properties.count("priam.jmx.port"), 0u);
  EXPECT_EQ(s2.starts.at(0).javaPath, "");
  EXPECT_EQ(s2.starts.at(0).jvmOptions, options);
  EXPECT_EQ(c.priamByNode.size(), 2u);

  // Both SSL switches off: the two switch options only, passwords still
  // written.
  CRegistry::Instance().Set("Cassandra", "nCassandraRemoteJMXEnabled", "0");
  CRegistry::Instance().Set("Cassandra", "nCassandraCqlSslDisabled", "1");
  CRegistry::Instance().Set("Cassandra", "nCassandraJmxSslDisabled", "1");
  const std::string conf3 = Conf("n3");
  Probe& off = Controller();
  ASSERT_FALSE(Init(off, {{"NodeConfig", NodeConfig({{"n3", "/jh", conf3}})},
                          {"AuthConfig", AuthXml(priamtest::Encrypt("ks secret"))}})
                   .IsError());
  ScriptedPriam::Session s3 = SessionsOf(conf3).at(0);
  EXPECT_EQ(s3.starts.at(0).jvmOptions, " -Dcql.ssl.enable=false  -Dssl.enable=false ");
  EXPECT_EQ(s3.properties.at("priam.keystore.password"), "a3Mgc2VjcmV0");
  EXPECT_EQ(s3.properties.at("priam.truststore.password"), "dHMgc2VjcmV0");
}

TEST_F(CleanupControllerTest, NodesWhosePriamDoesNotStartAreSkippedWithTheirEvent) {
  const std::string good = Conf("good"), bad = Conf("bad"), denied = Conf("denied"),
                    secret = Conf("secret");
  priamScript_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1359, "no java"), bad);
  priamScript_->SetAccessDeniedAtStart(denied);
  Probe& c = Controller();
  CLogCapture log;
  ASSERT_FALSE(
      Init(c, {{"NodeConfig",
                NodeConfig({{"bad", "", bad}, {"denied", "", denied}, {"good", "", good}})}})
          .IsError());
  std::vector<std::string> kept;
  for (const auto& entry : c.priamByNode) kept.push_back(entry.first);
  EXPECT_EQ(kept, (std::vector<std::string>{"good"}));
  ASSERT_EQ(CEventJournal::Instance().Find(kStartFailed).size(), 1u);
  EXPECT_NE(CEventJournal::Instance().Find(kStartFailed)[0].args.at(0).find("no java"),
            std::string::npos);
  ASSERT_EQ(CEventJournal::Instance().Find(kAccessDenied).size(), 1u);
  EXPECT_TRUE(CEventJournal::Instance().Find(kAccessDenied)[0].args.empty());
  int skipped = 0;
  for (const auto& t : log.Texts(-1)) skipped += t.find("Skipping node.") != std::string::npos;
  EXPECT_EQ(skipped, 2);

  // The skipped nodes' snapshots are not cleared.
  priamScript_->SetReply("ListSnaps", R"({"12TQsnapshot345":[]})");
  c.deleteSnapshots();
  EXPECT_EQ(Cleared(good), (std::vector<std::string>{"12TQsnapshot345"}));
  EXPECT_TRUE(Cleared(bad).empty());
  EXPECT_TRUE(Cleared(denied).empty());

  // A password that does not decrypt starts nothing for that node.
  Probe& d = Controller();
  ASSERT_FALSE(Init(d, {{"NodeConfig", NodeConfig({{"secret", "", secret}})},
                        {"AuthConfig", AuthXml("not a cipher text")}})
                   .IsError());
  EXPECT_TRUE(d.priamByNode.empty());
  EXPECT_TRUE(SessionsOf(secret).empty() || SessionsOf(secret)[0].starts.empty());
}

TEST_F(CleanupControllerTest, NodesWithoutOwnNamesKeepTheirOwnPriam) {
  const std::string a = Conf("a"), b = Conf("b"), d = Conf("d");
  Probe& c = Controller();
  ASSERT_FALSE(
      Init(c, {{"NodeConfig", NodeConfig({{"", "", a}, {"", "", b}, {"dock", "", d}})}}).IsError());
  EXPECT_EQ(c.priamByNode.size(), 3u);
  EXPECT_EQ(SessionsOf(a).size(), 1u);
  EXPECT_EQ(SessionsOf(b).size(), 1u);
  EXPECT_NE(SessionsOf(a)[0].starts.at(0).workingDir, SessionsOf(b)[0].starts.at(0).workingDir);
  // A node name never leads the working directory out of its folder.
  const std::string e = Conf("e");
  Probe& odd = Controller();
  ASSERT_FALSE(Init(odd, {{"NodeConfig", NodeConfig({{"../../x", "", e}})}}).IsError());
  EXPECT_EQ(SessionsOf(e).at(0).starts.at(0).workingDir, JobResults() + "/host1/..%2F..%2Fx");
}

// --------------------------------------------------------------- snapshots

TEST_F(CleanupControllerTest, OnlyTheSubclientsSnapshotsAreCleared) {
  struct Case {
    const char* name;
    bool cleared;
  } cases[] = {
      {"12TQsnapshot300", true}, {"12TQsnapshot345", true},    {"123TQsnapshot345", false},
      {"112TQsnapshot9", false}, {"snap12TQsnapshot1", false}, {"12TQsnapshot", true},
      {"12xTQsnapshot3", false},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(CassandraPostOpCleanupController::IsSubclientSnapshot(k.name, "12TQsnapshot345"),
              k.cleared)
        << k.name;
  }
  const std::string conf = Conf("n1");
  priamScript_->SetReply("ListSnaps",
                         R"({"12TQsnapshot300":[],"12TQsnapshot345":[],"123TQsnapshot345":[],)"
                         R"("112TQsnapshot9":[],"snap12TQsnapshot1":[]})");
  priamScript_->SetError("clearsnapshot?SnapID=12TQsnapshot300",
                         FXErrorUtil::ErrorWin32(FXLOC, 1359, "busy"), "busy");
  Probe& c = Controller();
  ASSERT_FALSE(Init(c, {{"NodeConfig", NodeConfig({{"n1", "", conf}})}}).IsError());
  CLogCapture log;
  c.deleteSnapshots();
  // A failed clear goes on with the next name.
  EXPECT_EQ(Cleared(conf), (std::vector<std::string>{"12TQsnapshot300", "12TQsnapshot345"}));
  int errors = 0;
  for (const auto& t : log.Texts(-1)) errors += t.rfind("Error while deleting snapshot.", 0) == 0;
  EXPECT_EQ(errors, 1);
}

// A name Priam lists goes into the clear request as one query value: one
// holding "&", "=", "#" or a blank cannot add a parameter naming another
// snapshot.
TEST_F(CleanupControllerTest, AListedSnapshotNameIsOneQueryValueOfItsClearRequest) {
  const std::string conf = Conf("n1");
  priamScript_->SetReply("ListSnaps", R"({"12TQsnapshot3&SnapID=users snap#x":[]})");
  Probe& c = Controller();
  ASSERT_FALSE(Init(c, {{"NodeConfig", NodeConfig({{"n1", "", conf}})}}).IsError());
  c.deleteSnapshots();
  EXPECT_EQ(Cleared(conf), (std::vector<std::string>{"12TQsnapshot3%26SnapID%3Dusers%20snap%23x"}));
}

TEST_F(CleanupControllerTest, FailedListingClearsThisJobsSnapshotAndGoesOn) {
  const std::string n1 = Conf("n1"), n2 = Conf("n2"), n3 = Conf("n3"), n4 = Conf("n4");
  priamScript_->SetError("ListSnaps", FXErrorUtil::ErrorWin32(FXLOC, 1359, "down"), "down", n1);
  priamScript_->SetReply("ListSnaps", "not a list", n4);
  priamScript_->SetReply("ListSnaps", R"({"12TQsnapshot300":[]})", n2);
  priamScript_->SetReply("ListSnaps", R"({"12TQsnapshot345":[]})", n3);
  Probe& c = Controller();
  ASSERT_FALSE(
      Init(c, {{"NodeConfig",
                NodeConfig({{"n1", "", n1}, {"n2", "", n2}, {"n3", "", n3}, {"n4", "", n4}})}})
          .IsError());
  CLogCapture log;
  c.deleteSnapshots();
  EXPECT_EQ(Cleared(n1), (std::vector<std::string>{"12TQsnapshot345"}));
  EXPECT_EQ(Cleared(n2), (std::vector<std::string>{"12TQsnapshot300"}));
  EXPECT_EQ(Cleared(n3), (std::vector<std::string>{"12TQsnapshot345"}));
  // A list that cannot be read is no list either.
  EXPECT_EQ(Cleared(n4), (std::vector<std::string>{"12TQsnapshot345"}));
  int notListing = 0;
  for (const auto& t : log.Texts(-1)) notListing += t == "Not listing snapshots";
  EXPECT_EQ(notListing, 1);
}

// ---------------------------------------------------------------- the run

TEST_F(CleanupControllerTest, RunClearsStopsAndRemovesTheInfoFile) {
  struct Case {
    const char* name;
    bool killed;
    bool incrementalFileDeleted;
  } cases[] = {{"normal run", false, true}, {"job killed", true, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string conf = Conf("n1");
    const std::string data = home_.Sub("data");
    const std::string file = data + "/ks/t-1/backups/nb-1-big-Data.db";
    simtest::WriteFile(file, "x");
    simtest::WriteFile(JobResults() + "/CassandraCleanupInfoFile",
                       "1700000000\nn1 ;" + data + "\n");
    simtest::WriteFile(JobResults() + "/CollectInc1.tqf", file + "\n");
    priamScript_->SetReply("ListSnaps", R"({"12TQsnapshot345":[]})");
    Probe& c = Controller();
    std::vector<std::pair<std::string, std::string>> values = {
        {"NodeConfig", NodeConfig({{"n1", "", conf}})}, {"taskStatus", "1:-1|"}};
    if (k.killed) values.emplace_back("JobKill", "1");
    ASSERT_FALSE(Init(c, values).IsError());
    ASSERT_FALSE(c.OnControllerStarted().IsError());
    EXPECT_TRUE(c.isControllerDone());
    EXPECT_EQ(Cleared(conf).back(), "12TQsnapshot345");
    EXPECT_EQ(SessionsOf(conf).back().stops, 1);
    EXPECT_FALSE(SessionsOf(conf).back().running);
    EXPECT_FALSE(fs::exists(JobResults() + "/CassandraCleanupInfoFile"));
    EXPECT_EQ(fs::exists(file), !k.incrementalFileDeleted);
  }
}

}  // namespace
