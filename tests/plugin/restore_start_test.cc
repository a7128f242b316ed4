// The restore coordinator's start-up: initialize in its order, the options it
// reads, the staging path and the node argument line, the coordinator's Priam
// (properties, JVM options, failures and its end), the media agent of a
// stage-free restore and the task policies.

#include <gtest/gtest.h>

#include <filesystem>

#include "RestoreCoordinatorFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/suite/Base64.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace restoretest {
namespace {

constexpr int64_t kJobId = 47;
constexpr uint64_t kSourceInstance = 12;
constexpr uint64_t kDestInstance = 15;
const char* const kClientAuth =
    " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
    " -Dcom.sun.management.jmxremote.registry.ssl=true";

class StartTest : public RestoreCoordinatorTest {
 protected:
  void SetUp() override {
    RestoreCoordinatorTest::SetUp();
    conf_ = home_.Sub("conf");
    simtest::WriteFile(conf_ + "/cassandra.yaml",
                       "cluster_name: Dest\nrpc_address: 10.0.0.5\nnative_transport_port: 9042\n");
    simtest::WriteFile(conf_ + "/cassandra-env.sh", "JMX_PORT=\"7199\"\n");
  }

  // The destination instance 15 (and with `source` the source instance 12).
  SInstanceSettings DestSettings() {
    SInstanceSettings settings =
        InstanceSettings("dest", {Node("d1", "10.0.0.1", "dc1"), Node("d2", "10.0.0.2", "dc2")});
    settings.id = kDestInstance;
    settings.cassandraConfigFile = conf_ + "/cassandra.yaml";
    settings.gatewayUser = "cql-user";
    settings.gatewayPassword = "cql-secret";
    return settings;
  }
  void SourceInstance() {
    SInstanceSettings settings =
        InstanceSettings("src", {Node("s1", "10.0.2.1", "east"), Node("s2", "10.0.2.2", "west"),
                                 Node("s3", "10.0.2.3", "east")});
    settings.id = kSourceInstance;
    Instance(settings);
  }

  // The job's description: restore task 12 -> 15 and the options.
  void StoreJob(const App::CassandraRestoreOptions& options, int32_t mediaAgent = 0) {
    TqRunner::JobDescription d = Description(kJobId);
    d.sourceInstanceId = kSourceInstance;
    d.destInstanceId = kDestInstance;
    d.mediaAgentClientId = mediaAgent;
    d.xmlOptions = JobOptionXml(true, true, &options);
    StoreDescription(d);
  }

  static App::CassandraRestoreOptions Options(bool recover, const std::string& staging = "/stage") {
    App::CassandraRestoreOptions options;
    options.setRecover(recover ? 1 : 0);
    options.setStagingLocation(staging);
    options.setTruncateTables(1);
    return options;
  }

  // Runs the framework's calls up to initialize.
  CQiError Start(RestoresProbe& c) {
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(c.getClientConfigObject(config).IsError());
    CProgramArgumentsPtr arguments;
    EXPECT_FALSE(CProgramArguments::Parse(
                     "-ombrel 2 -appid 1 -j " + std::to_string(kJobId) + " -jr " + home_.Sub("jr"),
                     arguments)
                     .IsError());
    EXPECT_FALSE(config->parseArguments(arguments).IsError());
    CQiError e = c.loadNodeConfiguration();
    if (e.IsError()) return e;
    return c.initialize(config, arguments, TQJobClientPtr(new TQJobClient(kJobId)),
                        TQJobCtrlClientPtr(new TQJobCtrlClient(kJobId)));
  }

  std::string ArgumentLine(RestoresProbe& c) {
    DistributedQEL::CNodeInfoPtr node(new DistributedQEL::CNodeInfo("d1", 1));
    std::string arguments;
    CQiError e = c.getCommandArgumentsForNode(node, arguments);
    EXPECT_FALSE(e.IsError()) << e.AsString();
    return arguments;
  }

  static std::string Base64(const std::string& plain) {
    std::string out;
    base64Encode(plain.data(), static_cast<unsigned>(plain.size()), out);
    return out;
  }

  std::string conf_;
};

TEST_F(StartTest, ArgumentLineOfInstance12To15Job47) {
  Scripted();
  Instance(DestSettings());
  StoreJob(Options(true));
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_EQ(c.stagePath, "/stage/47");
  EXPECT_EQ(ArgumentLine(c),
            " -CassInst 12 -DestInstance 15 -ReplaceDeadNode 0 -CrossInstance 0 "
            "-UseSSTableLaoder 0 -Recover 1 -runDR 0 -stagePath /stage/47 -StageFreeRestore 0");
}

TEST_F(StartTest, EachOptionReachesItsArgument) {
  Scripted();
  Instance(DestSettings());
  SourceInstance();
  struct Case {
    const char* name;
    std::function<void(App::CassandraRestoreOptions&)> set;
    const char* expected;
  } cases[] = {
      {"replace dead node", [](App::CassandraRestoreOptions& o) { o.setReplaceDeadNode(1); },
       " -CassInst 12 -DestInstance 15 -ReplaceDeadNode 1 -CrossInstance 0 -UseSSTableLaoder 0 "
       "-Recover 0 -runDR 0 -stagePath /stage/47 -StageFreeRestore 0"},
      {"cross instance", [](App::CassandraRestoreOptions& o) { o.setCrossInstance(1); },
       " -CassInst 12 -DestInstance 15 -ReplaceDeadNode 0 -CrossInstance 1 -UseSSTableLaoder 0 "
       "-Recover 0 -runDR 0 -stagePath /stage/47 -StageFreeRestore 0"},
      {"sstableloader", [](App::CassandraRestoreOptions& o) { o.setUseSSTableLoader(1); },
       " -CassInst 12 -DestInstance 15 -ReplaceDeadNode 0 -CrossInstance 0 -UseSSTableLaoder 1 "
       "-Recover 0 -runDR 0 -stagePath /stage/47 -StageFreeRestore 0"},
      {"run DR", [](App::CassandraRestoreOptions& o) { o.setRunDR(1); },
       " -CassInst 12 -DestInstance 15 -ReplaceDeadNode 0 -CrossInstance 0 -UseSSTableLaoder 0 "
       "-Recover 0 -runDR 1 -stagePath /stage/47 -StageFreeRestore 0"},
      {"staging location with a trailing slash",
       [](App::CassandraRestoreOptions& o) { o.setStagingLocation("/stage/"); },
       " -CassInst 12 -DestInstance 15 -ReplaceDeadNode 0 -CrossInstance 0 -UseSSTableLaoder 0 "
       "-Recover 0 -runDR 0 -stagePath /stage/47 -StageFreeRestore 0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    App::CassandraRestoreOptions options = Options(false);
    k.set(options);
    StoreJob(options);
    RestoresProbe& c = NewCoordinator();
    CQiError e = Start(c);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(ArgumentLine(c), k.expected);
    EXPECT_FALSE(c.priamUtil);
  }
}

// The node reads its arguments as blank-separated tokens: a staging path with
// a blank reaches it whole, quoted.
TEST_F(StartTest, AStagingPathWithABlankIsQuotedAndReadsBack) {
  Instance(DestSettings());
  StoreJob(Options(false, "/stage area/\"x\""));
  RestoresProbe& c = NewCoordinator();
  ASSERT_FALSE(Start(c).IsError());
  const std::string line = ArgumentLine(c);
  EXPECT_NE(line.find("-stagePath \"/stage area/\\\"x\\\"/47\" -StageFreeRestore 0"),
            std::string::npos)
      << line;
  CProgramArgumentsPtr parsed;
  ASSERT_FALSE(CProgramArguments::Parse(line, parsed).IsError());
  std::string stagePath;
  ASSERT_FALSE(parsed->getStringValue("stagePath", stagePath).IsError());
  EXPECT_EQ(stagePath, "/stage area/\"x\"/47");
  int64_t stageFree = -1;
  ASSERT_FALSE(parsed->getNumberValue("StageFreeRestore", stageFree).IsError());
  EXPECT_EQ(stageFree, 0);
}

TEST_F(StartTest, AStagingPathWithALineEndIsRefused) {
  Instance(DestSettings());
  StoreJob(Options(false, "/stage\n-Recover 1"));
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << e.AsString();
  EXPECT_NE(e.GetMessage().find("staging location"), std::string::npos);
}

TEST_F(StartTest, StageFreeWithoutRecoverIsRefused) {
  Instance(DestSettings());
  App::CassandraRestoreOptions options = Options(false);
  options.setStageFreeRestore(1);
  StoreJob(options);
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << e.AsString();
  EXPECT_NE(e.GetMessage().find("needs the recover option"), std::string::npos);
}

TEST_F(StartTest, RecoverClearStartsNoPriamAndStillInitializesTheBase) {
  Scripted();
  Instance(DestSettings());
  App::CassandraRestoreOptions options = Options(false);
  options.setTruncateTables(0);
  StoreJob(options);
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_FALSE(c.priamUtil);
  EXPECT_TRUE(priamScript_->Sessions().empty());
  EXPECT_TRUE(c.sourceDCmap.empty());
  EXPECT_TRUE(c.cassandraVersion.empty());
  EXPECT_FALSE(c.truncateTables);
  EXPECT_TRUE(c.getJobClient());
  EXPECT_TRUE(c.getProgramArguments());
  // Within the instance the source details are the destination's.
  EXPECT_EQ(c.sourceConfig, c.destConfig);
  EXPECT_EQ(c.destInstanceId, kDestInstance);
  EXPECT_EQ(c.sourceInstanceId, kSourceInstance);
  // The job results directory of the restore.
  EXPECT_TRUE(std::filesystem::is_directory(c.restoreClientConfig->getJobResultsDirectory()));
}

TEST_F(StartTest, CrossInstanceReadsTheSourceAndMapsItsDataCentres) {
  Scripted();
  Instance(DestSettings());
  SourceInstance();
  App::CassandraRestoreOptions options = Options(true);
  options.setCrossInstance(1);
  StoreJob(options);
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  ASSERT_NE(c.sourceConfig, c.destConfig);
  EXPECT_EQ(c.sourceConfig->instanceAttribute, "src");
  EXPECT_EQ(c.destConfig->instanceAttribute, "dest");
  std::map<std::string, std::list<std::string>> expected = {{"east", {"s1", "s3"}},
                                                            {"west", {"s2"}}};
  EXPECT_EQ(c.sourceDCmap, expected);
  EXPECT_EQ(c.cassandraVersion, "4.0.1");
}

TEST_F(StartTest, NoRestoreTaskIsAClearError) {
  Instance(DestSettings());
  StoreJob(Options(false));
  RestoresProbe& c = NewCoordinator();
  DistributedQEL::CClientConfigPtr config;
  ASSERT_FALSE(c.getClientConfigObject(config).IsError());
  c.restoreClientConfig->setJobId(kJobId);
  CProgramArgumentsPtr arguments;
  CQiError e = c.initialize(config, arguments, TQJobClientPtr(new TQJobClient(kJobId)),
                            TQJobCtrlClientPtr(new TQJobCtrlClient(kJobId)));
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("No restore task record"), std::string::npos) << e.AsString();
}

TEST_F(StartTest, PriamPropertiesAndJvmOptionsAcrossTheSslSwitches) {
  struct Case {
    const char* name;
    bool ssl;
    const char* cqlDisabled;
    const char* jmxDisabled;
    const char* remoteJmx;
    std::string parameters;
  } cases[] = {
      {"no SSL", false, "", "", "", ""},
      {"SSL off in the settings whatever the registry", false, "0", "0", "", ""},
      {"SSL", true, "", "", "",
       std::string(" -Dssl.enable=true  -Dcql.ssl.enable=true  -Djavax.net.ssl.keyStore=/ks/k.jks"
                   " -Djavax.net.ssl.trustStore=/ts/t.jks") +
           kClientAuth},
      {"JMX SSL disabled", true, "0", "1", "",
       std::string(" -Dcql.ssl.enable=true  -Djavax.net.ssl.keyStore=/ks/k.jks"
                   " -Djavax.net.ssl.trustStore=/ts/t.jks") +
           kClientAuth},
      {"CQL SSL disabled", true, "1", "", "",
       std::string(" -Dssl.enable=true  -Djavax.net.ssl.keyStore=/ks/k.jks"
                   " -Djavax.net.ssl.trustStore=/ts/t.jks") +
           kClientAuth},
      {"remote JMX", false, "", "", "1", " -Dpriam.jmx.host=jmx.host"},
  };
  int64_t job = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SetSwitch("nCassandraCqlSslDisabled", k.cqlDisabled);
    SetSwitch("nCassandraJmxSslDisabled", k.jmxDisabled);
    SetSwitch("nCassandraRemoteJMXEnabled", k.remoteJmx);
    scripted_.reset();
    Scripted();
    SInstanceSettings settings = DestSettings();
    settings.id = kDestInstance + (++job);
    AddJmxAndSsl(settings, k.ssl);
    Instance(settings);
    TqRunner::JobDescription d = Description(kJobId);
    d.sourceInstanceId = settings.id;
    d.destInstanceId = settings.id;
    App::CassandraRestoreOptions options = Options(true);
    d.xmlOptions = JobOptionXml(true, true, &options);
    StoreDescription(d);

    RestoresProbe& c = NewCoordinator();
    CQiError e = Start(c);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    ASSERT_EQ(priamScript_->Sessions().size(), 1u);
    const TqCassandra::ScriptedPriam::Session s = priamScript_->LastSession();
    std::map<std::string, std::string> expected = {
        {"priam.cqlhost", "10.0.1.1"},
        {"priam.cqlport", "9042"},
        {"priam.cqlusername", "cql-user"},
        {"priam.cqluserpassword", Base64("cql-secret")},
        {"priam.jmx.port", "7199"},
        {"priam.jmx.user", "jmx-user"},
        {"priam.jmx.token", Base64("jmx-secret")},
    };
    if (k.ssl) {
      expected["priam.keystore.password"] = Base64("k-secret");
      expected["priam.truststore.password"] = Base64("t-secret");
    }
    EXPECT_EQ(s.properties, expected);
    EXPECT_EQ(c.priamAdditionalParameters, k.parameters);
    ASSERT_EQ(s.starts.size(), 1u);
    EXPECT_EQ(s.starts[0].jvmOptions, k.parameters);
    EXPECT_TRUE(s.starts[0].restoreMode);
    EXPECT_EQ(s.starts[0].javaPath, "/usr/lib/jvm/java-11/java");
    EXPECT_EQ(s.starts[0].workingDir,
              c.restoreClientConfig->getJobResultsDirectory() + "/coordinator1");
    std::vector<std::string> resources;
    for (const auto& r : s.requests) resources.push_back(r.resource);
    EXPECT_EQ(resources, std::vector<std::string>{"clusterDetails"});
  }
}

TEST_F(StartTest, AFailedPropertyWriteFailsTheStart) {
  Scripted();
  Instance(DestSettings());
  StoreJob(Options(true));
  // The properties file cannot be written: a directory stands in its place.
  const std::string workingDir =
      home_.Sub("coordinator1/JobResults") + "/TQ_JobResults/2/0/47/coordinator1";
  std::filesystem::create_directories(workingDir + "/priam.properties");
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.AsString().find("priam.properties"), std::string::npos) << e.AsString();
  ASSERT_EQ(priamScript_->Sessions().size(), 1u);
  EXPECT_TRUE(priamScript_->LastSession().starts.empty());
}

TEST_F(StartTest, PriamStartFailuresRaiseTheirEvents) {
  struct Case {
    const char* name;
    bool accessDenied;
  } cases[] = {{"access denied", true}, {"did not start", false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    scripted_.reset();
    Scripted();
    if (k.accessDenied) {
      priamScript_->SetAccessDeniedAtStart();
    } else {
      priamScript_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 774, "Priam exited"));
    }
    if (clientIds_.count("cluster-dest") == 0) Instance(DestSettings());
    StoreJob(Options(true));
    RestoresProbe& c = NewCoordinator();
    CQiError e = Start(c);
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(FXErrorUtil::IsWin32(e, 5), k.accessDenied) << e.AsString();
    EXPECT_EQ(Events(kEvPriamAccessDenied).size(), k.accessDenied ? 1u : 0u);
    std::vector<std::vector<std::string>> started = Events(kEvPriamStartFailed);
    ASSERT_EQ(started.size(), 1u);
    ASSERT_EQ(started[0].size(), 1u);
    EXPECT_EQ(started[0][0], e.AsString(2));
    EXPECT_TRUE(c.sourceDCmap.empty());
  }
}

TEST_F(StartTest, TheCoordinatorsPriamEndsWithTheCoordinator) {
  Scripted();
  Instance(DestSettings());
  StoreJob(Options(true));
  RestoresProbe& c = NewCoordinator();
  ASSERT_FALSE(Start(c).IsError());
  boost::shared_ptr<TqCassandra::PriamUtil> borrowed = c.priamUtil;  // as the replay does
  ASSERT_TRUE(borrowed->getIsConnected());
  restores_.reset();
  EXPECT_EQ(priamScript_->LastSession().stops, 1);
  EXPECT_FALSE(borrowed->getIsConnected());
}

TEST_F(StartTest, CalculateStreamsRaisesToTheNodeCount) {
  RestoresProbe& c = NewCoordinator();
  DistributedQEL::CClientConfigPtr config;
  ASSERT_FALSE(c.getClientConfigObject(config).IsError());
  ASSERT_TRUE(config);
  EXPECT_EQ(config, c.getClientConfig());
  // A second call hands nothing out.
  DistributedQEL::CClientConfigPtr again;
  ASSERT_FALSE(c.getClientConfigObject(again).IsError());
  EXPECT_FALSE(again);
  config->setNumberOfStreams(2);
  ASSERT_FALSE(config->CalculateStreams(3).IsError());
  EXPECT_EQ(config->getNumberOfStreams(), 3);
  config->setNumberOfStreams(4);
  ASSERT_FALSE(config->CalculateStreams(3).IsError());
  EXPECT_EQ(config->getNumberOfStreams(), 4);
}

// ---- stage-free restores: the media agent and the task policies ----

class StageFreeTest : public StartTest {
 protected:
  uint64_t MediaAgent(uint32_t operatingSystem) {
    SClientRecord record;
    record.id = 900;
    record.name = "ma1";
    record.hostName = "ma1.net";
    record.operatingSystemId = operatingSystem;
    CClientDirectory::Instance().Add(record);
    return record.id;
  }
  App::CassandraRestoreOptions StageFreeOptions() {
    App::CassandraRestoreOptions options = Options(true);
    options.setStageFreeRestore(1);
    return options;
  }
};

TEST_F(StageFreeTest, AMediaAgentOutsideTheAllowedSystemsFailsTheStart) {
  Scripted();
  Instance(DestSettings());
  StoreJob(StageFreeOptions(), static_cast<int32_t>(MediaAgent(1)));
  RestoresProbe& c = NewCoordinator();
  TQJobClient* jobClient = nullptr;
  CQiError e;
  {
    DistributedQEL::CClientConfigPtr config;
    ASSERT_FALSE(c.getClientConfigObject(config).IsError());
    CProgramArgumentsPtr arguments;
    ASSERT_FALSE(
        CProgramArguments::Parse("-ombrel 2 -appid 1 -j 47 -jr " + home_.Sub("jr"), arguments)
            .IsError());
    ASSERT_FALSE(config->parseArguments(arguments).IsError());
    ASSERT_FALSE(c.loadNodeConfiguration().IsError());
    TQJobClientPtr client(new TQJobClient(kJobId));
    jobClient = client.get();
    e = c.initialize(config, arguments, client, TQJobCtrlClientPtr(new TQJobCtrlClient(kJobId)));
  }
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsEvent(e, kEvStageFreeMaUnsupported)) << e.AsString();
  EXPECT_EQ(c.getJobStatus(), 2);
  EXPECT_EQ(c.getStatusSetFlag(), 2);
  EXPECT_EQ(jobClient->getPendingCause(), kEvStageFreeMaUnsupported);
  // Refused before any Priam was started.
  EXPECT_TRUE(priamScript_->Sessions().empty());
}

TEST_F(StageFreeTest, AnAllowedMediaAgentServesTheShare) {
  Scripted();
  Instance(DestSettings());
  StoreJob(StageFreeOptions(), static_cast<int32_t>(MediaAgent(2)));
  RestoresProbe& c = NewCoordinator();
  CQiError e = Start(c);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_EQ(c.mediaAgentClientId, 900);
  EXPECT_EQ(c.mediaAgentClientName, "ma1");
  EXPECT_EQ(c.mediaAgentHostName, "ma1.net");
  EXPECT_NE(ArgumentLine(c).find("-StageFreeRestore 1"), std::string::npos);
  TQDC_FileSystem::CTaskCreatePolicyPtr create(new TQDC_FileSystem::CTaskCreatePolicy());
  TQDC_FileSystem::CTaskAssignPolicyPtr assign(new TQDC_FileSystem::CTaskAssignPolicy());
  ASSERT_FALSE(c.CreateTaskCreatePolicy(create).IsError());
  ASSERT_FALSE(c.CreateTaskAssignPolicy(assign).IsError());
  EXPECT_FALSE(create);
  EXPECT_FALSE(assign);
}

// Without a media agent in the restore task the archive manager names the
// one of the default subclient.
TEST_F(StageFreeTest, TheDefaultSubclientsMediaAgentServesWhenNoneIsChosen) {
  Scripted();
  const uint64_t dest = Instance(DestSettings());
  MediaAgent(2);
  CRegistry::Instance().Set("ArchiveStore", "sMediaAgent", "ma1*ma1.host");
  struct Case {
    const char* name;
    bool defaultSubclient;
    bool started;
  } cases[] = {{"no default subclient: the id stays -1", false, false},
               {"the default subclient", true, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (k.defaultSubclient) Subclient(dest, {}, true);
    TqRunner::JobDescription d = Description(kJobId);
    d.sourceInstanceId = kSourceInstance;
    d.destInstanceId = kDestInstance;
    d.sourceAppType = kCassandraApplicationType;
    d.backupSetId = 1;
    d.subclientId = -1;
    App::CassandraRestoreOptions options = StageFreeOptions();
    d.xmlOptions = JobOptionXml(true, true, &options);
    StoreDescription(d);
    RestoresProbe& c = NewCoordinator();
    CQiError e = Start(c);
    if (!k.started) {
      ASSERT_TRUE(e.IsError());
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1359)) << e.AsString();
      EXPECT_EQ(e.GetMessage(), "Failed to fetch Media Agent details to run Zelk server");
      continue;
    }
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(c.mediaAgentClientId, 900);
    EXPECT_EQ(c.mediaAgentClientName, "ma1");
    // The client's network host name wins over the host part of the name.
    EXPECT_EQ(c.mediaAgentHostName, "ma1.net");
  }
  CRegistry::Instance().Remove("ArchiveStore", "sMediaAgent");
}

TEST_F(StageFreeTest, APointInTimePhaseTurnsStageFreeOff) {
  Scripted();
  Instance(DestSettings());
  StoreJob(StageFreeOptions(), static_cast<int32_t>(MediaAgent(1)));
  RestoresProbe& c = NewCoordinator();
  c.isLogRestore = true;
  CQiError e = Start(c);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_FALSE(c.stageFreeRestore);
  EXPECT_EQ(c.mediaAgentClientId, 0);
  EXPECT_NE(ArgumentLine(c).find("-StageFreeRestore 0"), std::string::npos);
  TQDC_FileSystem::CTaskCreatePolicyPtr create;
  ASSERT_FALSE(c.CreateTaskCreatePolicy(create).IsError());
  EXPECT_TRUE(create);
}

}  // namespace
}  // namespace restoretest
