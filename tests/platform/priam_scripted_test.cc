// PriamUtil over the scripted transport: what it hands the co-process, how
// requests and their failures come back, and how tests install the script.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "support/SimTestSupport.h"

namespace {

using TqCassandra::PriamUtil;
using TqCassandra::ScopedPriamTransportFactory;
using TqCassandra::ScriptedPriam;

class PriamScriptedTest : public ::testing::Test {
 protected:
  std::unique_ptr<PriamUtil> Make(const std::string& confLocation = "/etc/cassandra") {
    return std::make_unique<PriamUtil>(0, CQiString("/usr/lib/jvm/bin/java"), "/opt/base",
                                       dir_.path(), confLocation, true);
  }

  simtest::TempDir dir_;
  std::shared_ptr<ScriptedPriam> priam_ = std::make_shared<ScriptedPriam>();
  ScopedPriamTransportFactory guard_{priam_->Factory()};
};

TEST_F(PriamScriptedTest, StartHandsOverPropertiesJvmOptionsAndLocations) {
  auto util = Make();
  ASSERT_FALSE(
      util->writePriamProperties(
              {{"priam.cqlhost", "10.0.0.1"}, {"priam.cqlport", "9042"}, {"priam.jmx.port", ""}})
          .IsError());
  util->priamAdditionalParameters = " -Dssl.enable=true\t -Djavax.net.ssl.keyStore=/k";
  ASSERT_FALSE(util->startPriam().IsError());
  EXPECT_TRUE(util->getIsConnected());

  ScriptedPriam::Session s = priam_->LastSession();
  EXPECT_EQ(s.propertiesWrites, 1);
  EXPECT_EQ(s.properties.size(), 3u);
  EXPECT_EQ(s.properties.at("priam.jmx.port"), "");
  EXPECT_EQ(s.propertiesFile, dir_.Sub("priam.properties"));
  ASSERT_EQ(s.starts.size(), 1u);
  const auto& spec = s.starts[0];
  EXPECT_EQ(spec.jvmOptions, " -Dssl.enable=true\t -Djavax.net.ssl.keyStore=/k");
  EXPECT_EQ(spec.javaPath, "/usr/lib/jvm/bin/java");
  EXPECT_EQ(spec.baseDir, "/opt/base");
  EXPECT_EQ(spec.workingDir, dir_.path());
  EXPECT_EQ(spec.confLocation, "/etc/cassandra");
  EXPECT_TRUE(spec.restoreMode);
  EXPECT_EQ(spec.properties, s.properties);
  EXPECT_EQ(spec.propertiesFile, dir_.Sub("priam.properties"));
}

TEST_F(PriamScriptedTest, PropertiesFileHoldsTheLastSetWritten) {
  auto util = Make();
  ASSERT_FALSE(util->writePriamProperties({{"a", "1"}, {"b", "2"}}).IsError());
  ASSERT_FALSE(util->writePriamProperties({{"priam.jmx.token", "dG9r=="},
                                           {"priam.path", "C:\\dir\\x y"},
                                           {"multi", "line1\nline2"}})
                   .IsError());
  EXPECT_EQ(simtest::ReadFile(dir_.Sub("priam.properties")),
            "# Priam properties\n"
            "multi=line1\\nline2\n"
            "priam.jmx.token=dG9r==\n"
            "priam.path=C:\\\\dir\\\\x y\n");
  EXPECT_EQ(priam_->LastSession().propertiesWrites, 2);
  EXPECT_EQ(priam_->LastSession().properties.count("a"), 0u);
  // The file holds passwords: only its owner reads it.
  const auto perms = std::filesystem::status(dir_.Sub("priam.properties")).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(PriamScriptedTest, PropertiesInAMissingWorkingDirectoryFail) {
  PriamUtil util(0, CQiString(""), "/opt/base", dir_.Sub("missing"), "/etc/cassandra", false);
  EXPECT_TRUE(util.writePriamProperties({{"a", "1"}}).IsError());
  EXPECT_EQ(priam_->LastSession().propertiesWrites, 0);
}

TEST_F(PriamScriptedTest, RequestsAreAnsweredFromTheScriptAndRecorded) {
  priam_->SetReply("clusterDetails", R"({"ClusterName":"c1","Version":"3.11"})");
  priam_->SetReply("snapshot", "generic");
  priam_->SetReply("snapshot?SnapID=1TQsnapshot2", "exact");
  priam_->SetReply("snapshot?SnapID=1", "longer prefix");
  auto util = Make();
  ASSERT_FALSE(util->startPriam().IsError());

  struct Case {
    std::string resource;
    std::string reply;
  } cases[] = {
      {"clusterDetails", R"({"ClusterName":"c1","Version":"3.11"})"},
      {"snapshot?SnapID=1TQsnapshot2", "exact"},
      {"snapshot?SnapID=1TQsnapshot3&?keyspace=a", "longer prefix"},
      {"snapshot?SnapID=7", "generic"},
  };
  CQiString reply("old text");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resource);
    ASSERT_FALSE(util->get(0, CQiString(c.resource), reply, CQiString("")).IsError());
    EXPECT_EQ(reply.str(), c.reply);
  }
  ASSERT_FALSE(
      util->get(1, CQiString("snapshot"), reply, CQiString(R"({"Schema":"x"})")).IsError());

  auto requests = priam_->LastSession().requests;
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[2].resource, "snapshot?SnapID=1TQsnapshot3&?keyspace=a");
  EXPECT_EQ(requests[2].kind, 0);
  EXPECT_EQ(requests[4].kind, 1);
  EXPECT_EQ(requests[4].body, R"({"Schema":"x"})");
}

TEST_F(PriamScriptedTest, FailedRequestKeepsTheTextThatCameBack) {
  priam_->SetError("flush", FXErrorUtil::ErrorWin32(FXLOC, 1359, "flush failed"), "disk full");
  priam_->SetAccessDenied("getMeta");
  auto util = Make();
  ASSERT_FALSE(util->startPriam().IsError());
  CQiString reply("old");
  CQiError e = util->get(0, CQiString("flush"), reply, CQiString(""));
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1359));
  EXPECT_EQ(reply.str(), "disk full");
  e = util->get(0, CQiString("getMeta"), reply, CQiString(""));
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 5));
  EXPECT_EQ(reply.str(), "Authentication failed");
  e = util->get(0, CQiString("unscripted"), reply, CQiString(""));
  EXPECT_TRUE(e.IsError());
  EXPECT_EQ(reply.str(), "");
}

TEST_F(PriamScriptedTest, AccessDeniedAtStartIsWin32Code5) {
  priam_->SetAccessDeniedAtStart();
  auto util = Make();
  CQiError e = util->startPriam();
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 5)) << e.AsString();
  EXPECT_FALSE(util->getIsConnected());
  CQiString reply;
  EXPECT_TRUE(util->get(0, CQiString("status"), reply, CQiString("")).IsError());
}

TEST_F(PriamScriptedTest, StartOutcomeCanDependOnTheConfigurationLocation) {
  priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1067, "no Java"), "/conf/a");
  priam_->SetReply("status", "[]");
  priam_->SetReply("status", "[{}]", "/conf/b");
  auto a = Make("/conf/a");
  auto b = Make("/conf/b");
  EXPECT_TRUE(FXErrorUtil::IsWin32(a->startPriam(), 1067));
  ASSERT_FALSE(b->startPriam().IsError());
  CQiString reply;
  ASSERT_FALSE(b->get(0, CQiString("status"), reply, CQiString("")).IsError());
  EXPECT_EQ(reply.str(), "[{}]");
  EXPECT_EQ(priam_->Sessions().size(), 2u);
}

TEST_F(PriamScriptedTest, StopAndDestructorEndARunningCoProcess) {
  {
    auto util = Make();
    ASSERT_FALSE(util->startPriam().IsError());
    ASSERT_FALSE(util->stopPriam().IsError());
    EXPECT_FALSE(util->getIsConnected());
  }
  EXPECT_EQ(priam_->Sessions()[0].stops, 1);  // the destructor had nothing left to stop
  {
    auto util = Make();
    ASSERT_FALSE(util->startPriam().IsError());
  }
  EXPECT_EQ(priam_->Sessions()[1].stops, 1);
  EXPECT_FALSE(priam_->Sessions()[1].running);
  { auto never = Make(); }
  EXPECT_EQ(priam_->Sessions()[2].stops, 0);
}

TEST_F(PriamScriptedTest, FactoryIsPutBackWhenTheGuardEnds) {
  auto other = std::make_shared<ScriptedPriam>();
  {
    ScopedPriamTransportFactory inner(other->Factory());
    Make();
  }
  Make();
  EXPECT_EQ(other->Sessions().size(), 1u);
  EXPECT_EQ(priam_->Sessions().size(), 1u);
}

}  // namespace

namespace {

// The properties file holds passwords: it is readable by its owner only, is
// there while a Priam may read it, and goes when that Priam stops (or fails
// to start, or its utility goes); a later start writes it again.
TEST_F(PriamScriptedTest, PropertiesFileLivesOnlyWhilePriamNeedsIt) {
  const std::string file = dir_.Sub("priam.properties");
  auto ownerOnly = [&file] {
    return (std::filesystem::status(file).permissions() & std::filesystem::perms::all) ==
           (std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  };
  {
    auto util = Make();
    ASSERT_FALSE(util->writePriamProperties({{"priam.cql.password", "c2VjcmV0"}}).IsError());
    EXPECT_TRUE(ownerOnly());
    ASSERT_FALSE(util->startPriam().IsError());
    EXPECT_TRUE(std::filesystem::exists(file));
    ASSERT_FALSE(util->stopPriam().IsError());
    EXPECT_FALSE(std::filesystem::exists(file));
    ASSERT_FALSE(util->startPriam().IsError());
    EXPECT_EQ(simtest::ReadFile(file), "# Priam properties\npriam.cql.password=c2VjcmV0\n");
    EXPECT_TRUE(ownerOnly());
  }
  EXPECT_FALSE(std::filesystem::exists(file));  // the utility went with its Priam

  priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1067, "no java"));
  auto failing = Make();
  ASSERT_FALSE(failing->writePriamProperties({{"priam.cql.password", "c2VjcmV0"}}).IsError());
  EXPECT_TRUE(failing->startPriam().IsError());
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
