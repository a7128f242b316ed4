// The Priam property set and JVM options shared by every Priam start-up:
// which property is written when, the order and spelling of the JVM options,
// the registry switches and the log lines of each style.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/CassandraPriamOptionsBuilder.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/PlatformInfo.h"
#include "support/SimTestSupport.h"

namespace {

using TQCassandra::CassandraPriamOptionsBuilder;
using TQCassandra::PriamSslSettings;
using TqCassandra::ScopedPriamTransportFactory;
using TqCassandra::ScriptedPriam;
using Builder = CassandraPriamOptionsBuilder;
using Properties = std::map<std::string, std::string>;

const char* const kSwitches[] = {"nCassandraRemoteJMXEnabled", "nCassandraCqlSslDisabled",
                                 "nCassandraJmxSslDisabled"};
const char* const kStores =
    " -Djavax.net.ssl.keyStore=/ks.jks -Djavax.net.ssl.trustStore=/ts.jks"
    " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
    " -Dcom.sun.management.jmxremote.registry.ssl=true";

class PriamOptionsBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSwitches(); }
  void TearDown() override { ClearSwitches(); }
  static void ClearSwitches() {
    for (const char* name : kSwitches) CRegistry::Instance().Remove("Cassandra", name);
  }
  static void SetSwitch(const char* name, const std::string& value) {
    if (value.empty()) {
      CRegistry::Instance().Remove("Cassandra", name);
    } else {
      CRegistry::Instance().Set("Cassandra", name, value);
    }
  }
  static PriamSslSettings Ssl() {
    PriamSslSettings ssl;
    ssl.enabled = true;
    ssl.keystorePath = "/ks.jks";
    ssl.keystorePassword = "a3M=";
    ssl.truststorePath = "/ts.jks";
    ssl.truststorePassword = "dHM=";
    return ssl;
  }
  static int Count(const std::vector<std::string>& texts, const std::string& text) {
    int n = 0;
    for (const auto& t : texts) n += t == text;
    return n;
  }
};

TEST_F(PriamOptionsBuilderTest, PropertiesAreWrittenOnlyWithValues) {
  Builder b(Builder::kServiceStyle);
  b.AddCqlProperties("10.0.0.1", "", "cassandra", "");
  b.AddJmxProperties("7199", "", "");
  b.AddProperty("priam.other", "");
  b.SetProperty("priam.forced", "");
  EXPECT_EQ(b.properties(), (Properties{{"priam.cqlhost", "10.0.0.1"},
                                        {"priam.cqlusername", "cassandra"},
                                        {"priam.jmx.port", "7199"},
                                        {"priam.forced", ""}}));
  b.AddCqlProperties("h", "9042", "u", "cHc=");
  b.AddJmxProperties("7200", "ju", "dG9r");
  EXPECT_EQ(b.properties(), (Properties{{"priam.cqlhost", "h"},
                                        {"priam.cqlport", "9042"},
                                        {"priam.cqlusername", "u"},
                                        {"priam.cqluserpassword", "cHc="},
                                        {"priam.jmx.port", "7200"},
                                        {"priam.jmx.user", "ju"},
                                        {"priam.jmx.token", "dG9r"},
                                        {"priam.forced", ""}}));
  EXPECT_EQ(b.jvmOptions(), "");
}

TEST_F(PriamOptionsBuilderTest, JmxHostOptionFollowsTheRemoteJmxSwitch) {
  struct Case {
    const char* name;
    std::string value;  // "" = absent
    std::string options;
    bool absentLogged;
  } cases[] = {
      {"absent", "", "", true},
      {"zero", "0", "", false},
      {"on", "1", " -Dpriam.jmx.host=jmx.example", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetSwitch("nCassandraRemoteJMXEnabled", c.value);
    CLogCapture log;
    Builder b(Builder::kServiceStyle);
    b.AddJmxHostOption("jmx.example");
    EXPECT_EQ(b.jvmOptions(), c.options);
    EXPECT_EQ(Count(log.Texts(-1), "Failed to check if remote JMX is enabled"),
              c.absentLogged ? 1 : 0);
    EXPECT_EQ(Count(log.Texts(2), "Remote JMX access enabled"), c.options.empty() ? 0 : 1);
    EXPECT_TRUE(b.properties().empty());
  }
}

TEST_F(PriamOptionsBuilderTest, SslOptionsFollowTheSwitchesInEveryStyle) {
  const std::string stores = kStores;
  struct Case {
    const char* name;
    Builder::Style style;
    std::string cql, jmx;  // "" = absent
    std::string switches;  // the SSL switch options
    bool withStores;
  } cases[] = {
      {"service, absent", Builder::kServiceStyle, "", "",
       " -Dcql.ssl.enable=true  -Dssl.enable=true ", true},
      {"service, both off", Builder::kServiceStyle, "1", "1",
       " -Dcql.ssl.enable=false  -Dssl.enable=false ", false},
      {"service, CQL off", Builder::kServiceStyle, "1", "0",
       " -Dcql.ssl.enable=false  -Dssl.enable=true ", true},
      {"service, JMX off", Builder::kServiceStyle, "0", "1",
       " -Dcql.ssl.enable=true  -Dssl.enable=false ", true},
      {"node, absent", Builder::kNodeStyle, "", "", " -Dcql.ssl.enable=true  -Dssl.enable=true ",
       true},
      {"node, both off", Builder::kNodeStyle, "1", "1",
       " -Dcql.ssl.enable=false  -Dssl.enable=false ", false},
      {"coordinator, absent", Builder::kCoordinatorStyle, "", "",
       " -Dcql.ssl.enable=true  -Dssl.enable=true\t", true},
      {"coordinator, JMX off", Builder::kCoordinatorStyle, "", "1",
       " -Dcql.ssl.enable=true  -Dssl.enable=false ", true},
  };
  SetSwitch("nCassandraRemoteJMXEnabled", "1");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetSwitch("nCassandraCqlSslDisabled", c.cql);
    SetSwitch("nCassandraJmxSslDisabled", c.jmx);
    CLogCapture log;
    Builder b(c.style, " -Dstart");
    b.AddJmxHostOption("h1");
    b.AddSsl(Ssl());
    const std::string before = " -Dstart -Dpriam.jmx.host=h1" + c.switches;
    const std::string all = before + (c.withStores ? stores : "");
    EXPECT_EQ(b.jvmOptions(), all);
    // Both store passwords are written whatever the switches.
    EXPECT_EQ(b.properties(), (Properties{{"priam.keystore.password", "a3M="},
                                          {"priam.truststore.password", "dHM="}}));
    EXPECT_EQ(Count(log.Texts(-1), "Failed to check if SSL is disabled for CQL"),
              c.cql.empty() ? 1 : 0);
    EXPECT_EQ(Count(log.Texts(-1), "Failed to check if SSL is disabled for JMX"),
              c.jmx.empty() ? 1 : 0);
    const bool node = c.style == Builder::kNodeStyle;
    EXPECT_EQ(Count(log.Texts(2), "Priam additional parameters: " + (node ? all : before)), 1);
    EXPECT_EQ(Count(log.Texts(2), "Appending SSL keystore/truststore parameters"),
              !node && c.withStores ? 1 : 0);
  }
}

TEST_F(PriamOptionsBuilderTest, SslOffAddsNothing) {
  PriamSslSettings off = Ssl();
  off.enabled = false;
  CLogCapture log;
  Builder b(Builder::kServiceStyle);
  b.AddSsl(off);
  EXPECT_EQ(b.jvmOptions(), "");
  EXPECT_TRUE(b.properties().empty());
  EXPECT_EQ(Count(log.Texts(-1), "Failed to check if SSL is disabled for CQL"), 0);
}

TEST_F(PriamOptionsBuilderTest, ApplyToWritesPropertiesAndHandsOverOptions) {
  simtest::TempDir base;
  simtest::TempDir work;
  simtest::WriteFile(work.Sub("conf") + "/cassandra.yaml", "cluster_name: test\n");
  simtest::WriteFile(work.Sub("w1") + "/.keep", "");
  simtest::WriteFile(work.Sub("w2") + "/.keep", "");
  auto scripted = std::make_shared<ScriptedPriam>();
  ScopedPriamTransportFactory guard(scripted->Factory());
  SetSwitch("nCassandraRemoteJMXEnabled", "1");
  {
    // Nothing to write: no properties file, the utility's options stay.
    TqCassandra::PriamUtil priam(0, CQiString(""), base.path(), work.Sub("w1"), work.Sub("conf"),
                                 false);
    priam.priamAdditionalParameters = " -Dkept";
    Builder(Builder::kServiceStyle).ApplyTo(priam);
    EXPECT_EQ(scripted->LastSession().propertiesWrites, 0);
    EXPECT_EQ(priam.priamAdditionalParameters, " -Dkept");
  }
  {
    TqCassandra::PriamUtil priam(0, CQiString(""), base.path(), work.Sub("w2"), work.Sub("conf"),
                                 false);
    Builder b(Builder::kServiceStyle);
    b.AddJmxHostOption("h");
    b.AddJmxProperties("7199", "u", "dA==");
    b.ApplyTo(priam);
    EXPECT_EQ(scripted->LastSession().propertiesWrites, 1);
    EXPECT_EQ(scripted->LastSession().properties, b.properties());
    EXPECT_EQ(priam.priamAdditionalParameters, " -Dpriam.jmx.host=h");
  }
}

}  // namespace
