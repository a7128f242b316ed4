// The restore node controller's preparation of its target nodes from the
// node start message: Priam per target (constructor, properties, JVM options,
// start), data directories, work folders, the staging path of a node in a
// Docker container, and the token rule with Cassandra's stop and the cleared
// data directories.

#include <nlohmann/json.hpp>

#include "RestoreControllerFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/suite/Base64.h"
#include "platform/suite/TQPassword.h"

namespace rctest {
namespace {

using Props = std::map<std::string, std::string>;

std::string Encrypt(const std::string& plain) {
  char buffer[1024];
  unsigned int length = sizeof buffer;
  EXPECT_NE(TQPassword().encrypt(plain.c_str(), buffer, length), 0);
  return std::string(buffer, length);
}

std::string AuthXml(bool ssl, const std::string& keystorePassword = Encrypt("k-secret"),
                    const std::string& truststorePassword = Encrypt("t-secret")) {
  App::CassandraSSLConfig config;
  config.setSslEnabled(ssl ? 1 : 0);
  config.setKeystorePath("/ks/k.jks");
  config.setKeystorePassword(keystorePassword);
  config.setTruststorePath("/ts/t.jks");
  config.setTruststorePassword(truststorePassword);
  App::AuthConfig auth;
  auth.setSsl(config);
  return Xml(auth);
}

class TargetPrep : public RestoreControllerTest {
 protected:
  // The in-place mapping of this machine's node onto itself.
  DistributedQEL::CassandraSourceTargetMapping Self(const std::string& conf,
                                                    const std::string& data) {
    App::CassandraNode node = Node(kClient, 3, conf, data, "100,200");
    return Mapping(node, node);
  }
};

TEST_F(TargetPrep, PriamOfATargetGetsItsArgumentsPropertiesAndJvmOptions) {
  const std::string d1 = DataDir("d1"), d2 = DataDir("d2");
  // Configuration without a CQL endpoint: the coordinator's fallbacks count.
  const std::string conf = ConfDir("conf", {d1}, "7299", "");
  const std::string hostConf = ConfDir("hostconf", {});
  CRegistry::Instance().Set("Cassandra", "sCassTrustStorePassword", "reg-ts");
  const auto metadata = TableMetadata({{"cqlusername", "cu"},
                                       {"cqlp", "Y3A="},
                                       {"jmxport", "1111"},
                                       {"jmxuser", "ju"},
                                       {"jmxtoken", "anQ="},
                                       {"addparam", " -Dpriam.jmx.host=h"},
                                       {"cqlhost", "10.9.9.9"},
                                       {"cqlport", "9142"},
                                       {"configEncrypted", "/etc/dse/key"},
                                       {"ksp", "ks-plain"},
                                       {"tsp", "ts-plain"},
                                       {"nativeSSTableLoader", "false"},
                                       {"ignoreOtherDC", "false"},
                                       {"sstableloaderpath", "/opt/loader"}});
  Arguments arguments;
  arguments.runDR = 1;
  CQiError error = Init(arguments, Payload({Self(conf + ":" + hostConf, d1 + ";" + d2)}, metadata));
  ASSERT_FALSE(error.IsError()) << error.AsString(2);

  ASSERT_EQ(priam_->Sessions().size(), 1u);
  const auto session = priam_->LastSession();
  EXPECT_EQ(session.context.mode, 0);
  EXPECT_EQ(session.context.javaPath, "");
  EXPECT_EQ(session.context.baseDir, dir_.Sub("base"));
  EXPECT_EQ(session.context.workingDir, ResultsDir() + kClient);
  EXPECT_TRUE(fs::is_directory(ResultsDir() + kClient));
  EXPECT_EQ(session.context.confLocation, conf);
  EXPECT_TRUE(session.context.restoreMode);  // runDR
  EXPECT_EQ(session.properties, (Props{{"priam.cqlusername", "cu"},
                                       {"priam.cqluserpassword", "Y3A="},
                                       {"priam.jmx.port", "7299"},
                                       {"priam.jmx.user", "ju"},
                                       {"priam.jmx.token", "anQ="},
                                       {"priam.cqlhost", "10.9.9.9"},
                                       {"priam.cqlport", "9142"},
                                       {"priam.config.encrypted", "true"},
                                       {"priam.system.key", "/etc/dse/key"},
                                       {"priam.server.kspasswd", base64Encode("ks-plain")},
                                       {"priam.server.tspasswd", base64Encode("reg-ts")},
                                       {"priam.use.native.sstableloader", "true"},
                                       {"priam.ignore.nodes", "true"},
                                       {"priam.sstableloader.path", "/opt/loader"}}));
  ASSERT_EQ(session.starts.size(), 1u);
  EXPECT_EQ(session.starts[0].jvmOptions,
            " -Dpriam.jmx.host=h  -Dcassandra.storagedir=" + d1 +
                " -Dcassandra-rackdc.properties=file://" + conf +
                "/cassandra-rackdc.properties -Dcassandra.config=file://" + hostConf +
                "/cassandra.yaml ");
  // The properties hold passwords: readable by their owner only.
  struct stat st;
  ASSERT_EQ(::stat(session.propertiesFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Controller& c = *controller_;
  EXPECT_EQ(c.dataDirsByTarget[kClient], (std::list<std::string>{d1, d2}));
  EXPECT_EQ(c.dataDirBySource, (std::unordered_map<std::string, std::string>{{kClient, d1}}));
  EXPECT_EQ(c.stagingBySource,
            (std::unordered_map<std::string, std::string>{{kClient, "/stage/77"}}));
  EXPECT_EQ(c.hostStagingPath[kClient], "/stage/77");
  EXPECT_EQ(c.cassandraFlavor, "cassandra");
  EXPECT_EQ(c.tablesByKeyspace,
            (std::map<std::string, std::set<std::string>>{{"ks1", {"t1", "t2"}}, {"ks2", {}}}));
  EXPECT_TRUE(c.containerByTarget.empty());
  // The same target: no token request.
  EXPECT_TRUE(session.requests.empty());
}

TEST_F(TargetPrep, SslSettingsReachTheJvmOptionsUnlessSwitchedOff) {
  struct Case {
    const char* name;
    bool ssl;
    std::vector<std::pair<std::string, std::string>> switches;
    std::string sslOptions;
  } cases[] = {
      {"ssl on",
       true,
       {},
       " -Dssl.enable=true  -Dcql.ssl.enable=true  -Djavax.net.ssl.keyStore=/ks/k.jks "
       "-Djavax.net.ssl.trustStore=/ts/t.jks"},
      {"both switched off",
       true,
       {{"CQLsslDisabled", "true"}, {"JMXsslDisabled", "true"}},
       " -Djavax.net.ssl.keyStore=/ks/k.jks -Djavax.net.ssl.trustStore=/ts/t.jks"},
      {"ssl off", false, {}, ""},
  };
  const std::string client =
      " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
      " -Dcom.sun.management.jmxremote.registry.ssl=true";
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rescript();
    auto properties = k.switches;
    properties.emplace_back("authConfig", AuthXml(k.ssl));
    CQiError error = Init(Arguments(), Payload({Self(conf, d1)}, TableMetadata(properties)));
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    const auto session = priam_->LastSession();
    ASSERT_EQ(session.starts.size(), 1u);
    const std::string tail = "  -Dcassandra.storagedir=" + d1;
    EXPECT_EQ(session.starts[0].jvmOptions.substr(0, session.starts[0].jvmOptions.find(tail)),
              k.ssl ? k.sslOptions + client : "");
    if (k.ssl) {
      EXPECT_EQ(session.properties.at("priam.keystore.password"), base64Encode("k-secret"));
      EXPECT_EQ(session.properties.at("priam.truststore.password"), base64Encode("t-secret"));
    } else {
      EXPECT_EQ(session.properties.count("priam.keystore.password"), 0u);
      EXPECT_EQ(session.properties.count("priam.truststore.password"), 0u);
    }
  }

  // A keystore password that does not decrypt sets up no target.
  Rescript();
  CQiError error = Init(
      Arguments(), Payload({Self(conf, d1)}, TableMetadata({{"authConfig", AuthXml(true, "xx")}})));
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13));
  EXPECT_NE(error.AsString(2).find("Failed to decrypt the keystore password"), std::string::npos);
  EXPECT_TRUE(priam_->Sessions().empty());
}

TEST_F(TargetPrep, DataDirectoriesComeFromTheNodeRecordOrFromPriam) {
  const std::string d1 = DataDir("d1"), d2 = DataDir("d2");
  const std::string conf = ConfDir("conf", {d2, d1});
  struct Case {
    const char* name;
    std::string field;
    std::list<std::string> expected;
  } cases[] = {
      {"two in the record", d1 + ";" + d2, {d1, d2}},
      {"one in the record", d1, {d1}},
      {"none in the record: Priam's", "", {d2, d1}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CLogCapture log;
    ASSERT_FALSE(Init(Arguments(), Payload({Self(conf, k.field)}, TableMetadata({}))).IsError());
    EXPECT_EQ(controller_->dataDirsByTarget[kClient], k.expected);
    EXPECT_EQ(controller_->dataDirBySource[kClient], k.expected.front());
    EXPECT_EQ(log.Contains("Using data directory from Cassandra config files"), k.field.empty());
  }
}

TEST_F(TargetPrep, WithoutRecoverPriamOnlyWritesItsEndpointsAndDoesNotStart) {
  const std::string conf = ConfDir("conf", {"/nowhere"});
  Arguments arguments;
  arguments.recover = 0;
  const auto metadata = TableMetadata({{"cqlusername", "cu"}});
  ASSERT_FALSE(Init(arguments, Payload({Self(conf, "")}, metadata)).IsError());
  const auto session = priam_->LastSession();
  EXPECT_EQ(session.properties, (Props{{"priam.jmx.port", "7199"},
                                       {"priam.cqlhost", "10.0.0.1"},
                                       {"priam.cqlport", "9042"}}));
  EXPECT_TRUE(session.starts.empty());
  EXPECT_TRUE(controller_->dataDirsByTarget.empty());
  EXPECT_TRUE(controller_->tablesByKeyspace.empty());
  EXPECT_EQ(controller_->stagingBySource[kClient], "/stage/77");
}

TEST_F(TargetPrep, TwoSourcesOnOneTargetShareItsPriamAndPaths) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  App::CassandraNode target = Node(kClient, 3, conf, d1);
  App::CassandraNode a = Node("nodeA", 11, "/a", "/a/data", "1");
  App::CassandraNode b = Node("nodeB", 12, "/b", "/b/data", "2");
  Arguments arguments;
  arguments.loader = 1;
  ASSERT_FALSE(Init(arguments, Payload({Mapping(a, target), Mapping(b, target)}, TableMetadata({})))
                   .IsError());
  EXPECT_EQ(priam_->Sessions().size(), 1u);
  EXPECT_EQ(priam_->LastSession().starts.size(), 1u);
  EXPECT_TRUE(priam_->LastSession().requests.empty());  // the loader: no tokens
  EXPECT_EQ(controller_->dataDirBySource,
            (std::unordered_map<std::string, std::string>{{"nodeA", d1}, {"nodeB", d1}}));
  EXPECT_EQ(controller_->stagingBySource, (std::unordered_map<std::string, std::string>{
                                              {"nodeA", "/stage/77"}, {"nodeB", "/stage/77"}}));
}

TEST_F(TargetPrep, TheTokenRuleAppliesToInPlaceRestoresOfAnotherNodeOnly) {
  struct Case {
    int recover, dead, loader;
    bool sameName;
    bool request;
  } cases[] = {
      {1, 0, 0, false, true},  {1, 0, 0, true, false},  {1, 1, 0, false, false},
      {1, 0, 1, false, false}, {0, 0, 0, false, false},
  };
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "recover " << k.recover << " dead " << k.dead << " loader "
                                    << k.loader << " same " << k.sameName);
    Rescript();
    priam_->SetReply("ReplaceTokens", "NotRequired");
    App::CassandraNode target = Node(kClient, 3, conf, d1);
    App::CassandraNode source = Node(k.sameName ? kClient : "node9", 9, "/c9", "/d9", "5,6");
    Arguments arguments;
    arguments.recover = k.recover;
    arguments.replaceDeadNode = k.dead;
    arguments.loader = k.loader;
    if (!k.recover) {
      // Without recover Priam does not run: a request would fail.
      ASSERT_FALSE(Init(arguments, Payload({Mapping(source, target)}, std::nullopt)).IsError());
    } else {
      CQiError error = Init(arguments, Payload({Mapping(source, target)}, TableMetadata({})));
      ASSERT_FALSE(error.IsError()) << error.AsString(2);
    }
    const auto requests = priam_->AllRequests();
    ASSERT_EQ(requests.size(), k.request ? 1u : 0u);
    if (k.request) {
      EXPECT_EQ(requests[0].kind, 1);
      EXPECT_EQ(requests[0].resource, "ReplaceTokens");
      EXPECT_EQ(requests[0].body,
                "{\"ConfPath\":\"" + conf + "\",\"Tokens\":\"5,6\",\"Replace\":\"0\"}");
    }
  }
}

TEST_F(TargetPrep, TheTokenReplyDecidesWhetherCassandraStopsAndTheDataGoes) {
  struct Case {
    const char* name;
    std::optional<std::string> reply;  // none: the request fails
    bool stopFails;
    std::vector<std::string> resources;
    bool removed;
    bool fails;
  } cases[] = {
      {"not required", std::string("Tokens NotRequired"), false, {"ReplaceTokens"}, false, false},
      {"replaced", std::string("Tokens replaced"), false, {"ReplaceTokens", "stop"}, true, false},
      {"empty reply", std::string(""), false, {"ReplaceTokens", "stop"}, true, false},
      {"request fails", std::nullopt, false, {"ReplaceTokens"}, false, true},
      {"stop fails", std::string("Tokens replaced"), true, {"ReplaceTokens", "stop"}, false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rescript();
    if (k.reply) {
      priam_->SetReply("ReplaceTokens", *k.reply);
    } else {
      priam_->SetError("ReplaceTokens", FXErrorUtil::ErrorWin32(FXLOC, 774, "refused"), "");
    }
    if (k.stopFails) {
      priam_->SetError("stop", FXErrorUtil::ErrorWin32(FXLOC, 774, "no stop"), "");
    } else {
      priam_->SetReply("stop", "Success");
    }
    const std::string d1 = DataDir("d1"), d2 = DataDir("d2");
    const std::string conf = ConfDir("conf", {d1});
    sleeps_.Clear();
    CQiError error = Init(
        Arguments(),
        Payload({Mapping(Node("node9", 9, "/c9", "", "5"), Node(kClient, 3, conf, d1 + ";" + d2))},
                TableMetadata({})));
    EXPECT_EQ(error.IsError(), k.fails) << error.AsString(2);
    std::vector<std::string> resources;
    for (const auto& r : priam_->AllRequests()) resources.push_back(r.resource);
    EXPECT_EQ(resources, k.resources);
    EXPECT_EQ(fs::exists(d1), !k.removed);
    EXPECT_EQ(fs::exists(d2), !k.removed);
    // Every stop costs the configured pause (3 s), failed or not.
    const bool stopped = resources.size() == 2;
    EXPECT_EQ(sleeps_.Sleeps(), stopped ? std::vector<uint32_t>{3000} : std::vector<uint32_t>{});
  }
}

TEST_F(TargetPrep, TokenRequestBodyKeepsQuotesAndBackslashes) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf \"q\" \\b", {d1});
  priam_->SetReply("ReplaceTokens", "NotRequired");
  ASSERT_FALSE(Init(Arguments(), Payload({Mapping(Node("node9", 9, "/c9", "", "1,\"2\\"),
                                                  Node(kClient, 3, conf, d1))},
                                         TableMetadata({})))
                   .IsError());
  const auto requests = priam_->AllRequests();
  ASSERT_EQ(requests.size(), 1u);
  const nlohmann::json body = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(body["ConfPath"], conf);
  EXPECT_EQ(body["Tokens"], "1,\"2\\");
  EXPECT_EQ(body["Replace"], "0");
}

TEST_F(TargetPrep, ATargetTakesTheTokensOfOneSourceOnly) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  priam_->SetReply("ReplaceTokens", "Tokens replaced");
  priam_->SetReply("stop", "Success");
  App::CassandraNode target = Node(kClient, 3, conf, d1);
  CQiError error = Init(Arguments(), Payload({Mapping(Node("nodeA", 11, "/a", "", "1"), target),
                                              Mapping(Node("nodeB", 12, "/b", "", "2"), target)},
                                             TableMetadata({})));
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_NE(error.AsString(2).find("more than one source node (nodeA, nodeB)"), std::string::npos);
  // Refused before anything started, stopped or removed.
  EXPECT_TRUE(priam_->Sessions().empty());
  EXPECT_TRUE(fs::exists(d1 + "/ks1/t1-0a1b/mc-1-big-Data.db"));
}

TEST_F(TargetPrep, CleanUpStopsAtTheFirstDirectoryThatCannotGo) {
  Controller& c = Make(Arguments());
  const std::string d2 = DataDir("d2");
  c.dataDirsByTarget["t"] = {dir_.Sub("missing"), d2};
  CQiError error = c.CleanUpDataDir("t");
  EXPECT_TRUE(error.IsError());
  EXPECT_TRUE(fs::exists(d2));
  EXPECT_FALSE(c.CleanUpDataDir("unknown").IsError());
  c.dataDirsByTarget["empty"] = {};
  EXPECT_FALSE(c.CleanUpDataDir("empty").IsError());
}

TEST_F(TargetPrep, StartCassandraPausesThroughTheSleepHook) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  ASSERT_FALSE(Init(Arguments(), Payload({Self(conf, d1)}, TableMetadata({}))).IsError());
  priam_->SetReply("start", "Success");
  for (uint64_t seconds : {3u, 0u}) {
    controller_->cassandraSleepTime = seconds;
    sleeps_.Clear();
    EXPECT_FALSE(controller_->StartCassandra(kClient).IsError());
    EXPECT_EQ(sleeps_.Sleeps(), std::vector<uint32_t>{static_cast<uint32_t>(seconds * 1000)});
  }
  priam_->SetError("start", FXErrorUtil::ErrorWin32(FXLOC, 774, "no"), "");
  EXPECT_TRUE(controller_->StartCassandra(kClient).IsError());
  EXPECT_EQ(priam_->AllRequests().back().resource, "start");
}

TEST_F(TargetPrep, DockerTargetsStageThroughTheContainersMounts) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  const std::string stageHost = dir_.Sub("stagehost");
  TqSim::SimDockerWorld world;
  world.containers.push_back(dockertest::Container("web", "nginx", {{"/srv", "/srv"}}));
  world.containers.push_back(dockertest::Container(
      "cass1", "cassandra:4.0", {{conf, "/etc/cassandra"}, {stageHost, "/stage"}}));
  std::string problem;
  ASSERT_TRUE(world.Save(dir_.Sub("docker.json"), problem)) << problem;
  docker_.reset();  // first, so that it does not put its environment back over the new one
  docker_.reset(new dockertest::ScopedDockerStandIn(dir_.Sub("docker.json")));

  CLogCapture log;
  ASSERT_FALSE(Init(Arguments(), Payload({Self(conf, d1)}, TableMetadata({}))).IsError());
  EXPECT_EQ(controller_->containerByTarget[kClient], "cass1");
  EXPECT_EQ(controller_->hostStagingPath[kClient], stageHost + "/77");
  EXPECT_EQ(controller_->stagingBySource[kClient], stageHost + "/77");
  EXPECT_TRUE(log.Contains("Commit log restore location /stage/77 on container maps to " +
                           stageHost + "/77 on host"));

  // A staging path no mount covers is an error for that target.
  Arguments outside;
  outside.stagePath = "/elsewhere/77";
  CQiError error = Init(outside, Payload({Self(conf, d1)}, TableMetadata({})));
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.AsString(2).find("No mapping found for destination path /elsewhere/77"),
            std::string::npos);
  EXPECT_TRUE(log.Contains("Failed to check if it is a docker configuration: "));

  // A Cassandra image whose container does not mount this node: not Docker.
  const std::string other = ConfDir("other", {d1});
  ASSERT_FALSE(Init(Arguments(), Payload({Self(other, d1)}, TableMetadata({}))).IsError());
  EXPECT_TRUE(controller_->containerByTarget.empty());
  EXPECT_EQ(controller_->hostStagingPath[kClient], "/stage/77");
}

TEST_F(TargetPrep, PayloadFailures) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  struct Case {
    const char* name;
    std::vector<DistributedQEL::DINameValue> values;
    uint32_t code;
    std::string text;
  };
  DistributedQEL::CassandraSourceTargetMappingList list;
  list.setMappings({Self(conf, d1)});
  const DistributedQEL::DINameValue mappings("SourceTargetMappingList", Xml(list));
  DistributedQEL::CassandraCreateCollectFiles noNodes;
  noNodes.setOptions({DistributedQEL::DINameValue("cqlhost", "h")});
  const Case cases[] = {
      {"no mapping list", {}, 13, "Failed to fetch source and target mapping"},
      {"unreadable table metadata",
       {mappings, DistributedQEL::DINameValue("TableMetadata", "<not xml")},
       13,
       "Failed to read the table metadata"},
      {"table metadata without tables",
       {mappings, DistributedQEL::DINameValue("TableMetadata", Xml(noNodes))},
       13,
       "Failed to read the table metadata"},
      {"in place without table metadata", {mappings}, 13, "Failed to read the table metadata"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    DistributedQEL::NodeInit init;
    init.setValues(k.values);
    CQiError error = Init(Arguments(), init);
    ASSERT_TRUE(error.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, k.code)) << error.AsString(2);
    EXPECT_NE(error.AsString(2).find(k.text), std::string::npos) << error.AsString(2);
    EXPECT_TRUE(priam_->Sessions().empty());
  }

  // An empty list sets up nothing and succeeds.
  ASSERT_FALSE(Init(Arguments(), Payload({}, TableMetadata({}))).IsError());
  EXPECT_TRUE(priam_->Sessions().empty());

  // Without the base directory nothing is set up.
  CRegistry::Instance().Remove("Base", "dBASEHOME");
  CQiError error = Init(Arguments(), Payload({Self(conf, d1)}, TableMetadata({})));
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.AsString(2).find("Failed to get Torvanell Base directory"), std::string::npos);
}

TEST_F(TargetPrep, APriamThatDoesNotStartRaisesItsEventAndEarlierPriamsStopAtTheEnd) {
  const std::string d1 = DataDir("d1"), d2 = DataDir("d2");
  const std::string good = ConfDir("good", {d1});
  const std::string bad = ConfDir("bad", {d2});
  struct Case {
    const char* name;
    bool accessDenied;
    uint32_t event;
  } cases[] = {{"refused", false, 0x60003D4}, {"access denied", true, 0x6000485}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    Rescript();
    if (k.accessDenied) {
      priam_->SetAccessDeniedAtStart(bad);
    } else {
      priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1062, "Priam exited"), bad);
    }
    // Two targets in containers of their own names on this machine.
    App::CassandraNode first = Node(kClient, 3, good, d1, "", std::string("inst1"));
    App::CassandraNode second = Node(kClient, 3, bad, d2, "", std::string("inst2"));
    CQiError error = Init(
        Arguments(), Payload({Mapping(first, first), Mapping(second, second)}, TableMetadata({})));
    ASSERT_TRUE(error.IsError());
    const auto events = CEventJournal::Instance().Find(k.event);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
    if (k.accessDenied) {
      EXPECT_TRUE(events[0].args.empty());
    } else {
      ASSERT_EQ(events[0].args.size(), 1u);
      EXPECT_NE(events[0].args[0].find("Priam exited"), std::string::npos);
    }
    ASSERT_EQ(SessionsOf(good).size(), 1u);
    EXPECT_TRUE(SessionsOf(good)[0].running);
    EXPECT_TRUE(fs::is_directory(ResultsDir() + "inst1"));
    // The controller ends: the Priam it started stops with it.
    controller_.reset();
    EXPECT_FALSE(SessionsOf(good)[0].running);
    EXPECT_EQ(SessionsOf(good)[0].stops, 1);
  }
}

TEST_F(TargetPrep, ATargetNameThatIsNotOneFolderNameIsRefused) {
  const std::string d1 = DataDir("d1");
  const std::string conf = ConfDir("conf", {d1});
  for (const std::string name : {"../up", ".."}) {
    SCOPED_TRACE(name);
    App::CassandraNode node = Node(kClient, 3, conf, d1, "", name);
    CQiError error = Init(Arguments(), Payload({Mapping(node, node)}, TableMetadata({})));
    ASSERT_TRUE(error.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_TRUE(priam_->Sessions().empty());
  }
}

}  // namespace
}  // namespace rctest
