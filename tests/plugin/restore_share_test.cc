// The restore coordinator's network share of a stage-free restore: the share
// request, the owner of the shared files, and the share's deletion.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RestoreCoordinatorFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/TqUserDb.h"
#include "platform/zelk/ZelkConfigClient.h"
#include "platform/zelk/ZelkShareStore.h"

namespace restoretest {
namespace {

constexpr int64_t kJobId = 47;
constexpr uint32_t kEvShareDeleteFailed = 0x600046D;

class ShareProbe : public RestoresProbe {
 public:
  using CCassandraRestores::makeRestoreTask;
  using CCassandraRestores::zelkConfigClient;
  using CCassandraRestores::zelkShareId;
  using CCassandraRestores::zelkShareName;
};

// Answers the user and group look-ups from fixed names while it lives.
class ScopedUserDb {
 public:
  ScopedUserDb() {
    previousUser_ = TqUserDb::SetUserHook([](const std::string& name, uint32_t& id) {
      if (name != "cassandra") return false;
      id = 700;
      return true;
    });
    previousGroup_ = TqUserDb::SetGroupHook([](const std::string& name, uint32_t& id) {
      if (name != "cassgroup") return false;
      id = 600;
      return true;
    });
  }
  ~ScopedUserDb() {
    TqUserDb::SetUserHook(previousUser_);
    TqUserDb::SetGroupHook(previousGroup_);
  }

 private:
  TqUserDb::Hook previousUser_;
  TqUserDb::Hook previousGroup_;
};

class ShareTest : public RestoreCoordinatorTest {
 protected:
  void TearDown() override {
    probe_.reset();
    for (const char* name : {"sCassOSUser", "sCassOSGroup"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    for (const char* name : {"nFailStart", "nNoShareId", "nFailDelete"}) {
      CRegistry::Instance().Remove(Zelk::ZelkConfigClient::kRegistrySection, name);
    }
    RestoreCoordinatorTest::TearDown();
  }

  // A coordinator of job 47 whose restore task names backup set 8 and the
  // subclient, with three nodes and media agent "ma1" chosen.
  ShareProbe& Coordinator(int64_t subclientId) {
    TqRunner::JobDescription d = Description(kJobId);
    d.backupSetId = 8;
    d.subclientId = subclientId;
    StoreDescription(d);
    probe_.reset(new ShareProbe());
    ShareProbe& c = *probe_;
    c.setFrameworkServices(services_);
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(c.getClientConfigObject(config).IsError());
    c.restoreClientConfig->setJobId(kJobId);
    EXPECT_FALSE(c.makeRestoreTask().IsError());
    for (const char* name : {"n1", "n2", "n3"}) {
      if (clientIds_.count(name) == 0) Client(name);
      EXPECT_FALSE(c.addNode(name).IsError());
    }
    SClientRecord mediaAgent;
    mediaAgent.id = 900;
    mediaAgent.name = "ma1";
    mediaAgent.hostName = "ma1.net";
    mediaAgent.operatingSystemId = 2;
    CClientDirectory::Instance().Add(mediaAgent);
    c.mediaAgentClientId = 900;
    c.mediaAgentClientName = "ma1";
    c.mediaAgentHostName = "ma1.net";
    c.getRestoreInitData().fromTime = 1700000000;
    c.getRestoreInitData().toTime = 1700086400;
    return c;
  }

  // The share request as the coordinator logged it.
  static App::SetZELKSharePropsReq LoggedRequest(const CLogCapture& log) {
    App::SetZELKSharePropsReq request;
    const std::string prefix = "ZelkSharePropsReq: ";
    for (const std::string& text : log.Texts(3)) {
      if (text.compare(0, prefix.size(), prefix) == 0) {
        EXPECT_EQ(request.unserialize(text.substr(prefix.size())), 0);
        return request;
      }
    }
    ADD_FAILURE() << "no share request logged";
    return request;
  }

  static std::vector<std::string> Properties(const App::ZELKShareInfo& info) {
    std::vector<std::string> out;
    for (const auto& p : info.getProperties()) out.push_back(p.getKey() + "=" + p.getValue());
    return out;
  }

  std::unique_ptr<ShareProbe> probe_;
};

TEST_F(ShareTest, TheRequestDescribesTheShareForTheNodesAndTheMediaAgent) {
  struct Case {
    const char* name;
    int64_t subclientId;
  } cases[] = {{"instance level", 0}, {"subclient level", 5}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ShareProbe& c = Coordinator(k.subclientId);
    CLogCapture log;
    CQiError e = c.createZelkNetworkShare();
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(c.zelkShareName, "share47");
    App::SetZELKSharePropsReq request = LoggedRequest(log);
    EXPECT_EQ(request.getOperation(), 4);
    ASSERT_TRUE(request.getShareInfo());
    const App::ZELKShareInfo info = *request.getShareInfo();
    EXPECT_EQ(info.getShareName(), "share47");
    for (const auto& ma : {info.getMediaAgent(), info.getServingMediaAgent()}) {
      ASSERT_TRUE(ma);
      EXPECT_EQ(ma->getClientId(), 900);
      EXPECT_EQ(ma->getClientName(), "ma1");
    }
    if (k.subclientId > 0) {
      ASSERT_TRUE(info.getSubclient());
      EXPECT_EQ(info.getSubclient()->getSubclientId(), 5);
      EXPECT_EQ(info.getSubclient()->getBackupsetId(), 8);
      EXPECT_FALSE(info.getBackupSet());
      EXPECT_TRUE(log.Contains("Subclient level restore for 8:5"));
    } else {
      ASSERT_TRUE(info.getBackupSet());
      EXPECT_EQ(info.getBackupSet()->getBackupSetId(), 8);
      EXPECT_FALSE(info.getSubclient());
      EXPECT_TRUE(log.Contains("Instance level restore for backupset id 8"));
    }
    EXPECT_EQ(info.getHosts(), (std::vector<std::string>{"n1.sim", "n2.sim", "n3.sim", "ma1.net"}));
    EXPECT_EQ(info.getFromTime()->getTime(), 1700000000);
    EXPECT_EQ(info.getToTime()->getTime(), 1700086400);
    EXPECT_EQ(info.getField12(), 0);
    EXPECT_EQ(info.getField11(), "0");
    EXPECT_EQ(info.getField14(), 0);
    EXPECT_EQ(info.getField13(), 0);
    EXPECT_EQ(info.getField19(), 0);
    EXPECT_TRUE(info.getProperties().empty());

    // The file server made the share under the id it answered.
    ASSERT_NE(c.zelkShareId, 0u);
    Zelk::SZelkShare share;
    ASSERT_FALSE(Zelk::CZelkShareStore().Find(c.zelkShareId, share).IsError());
    EXPECT_EQ(share.name, "share47");
    EXPECT_EQ(share.server, "ma1.net");
    EXPECT_TRUE(log.Contains("Created Zelk network share with share id : " +
                             std::to_string(c.zelkShareId)));
  }
}

TEST_F(ShareTest, TheOwnerIsSentOnlyWhenUserAndGroupAreBothKnown) {
  ScopedUserDb users;
  struct Case {
    const char* name;
    const char* user;
    const char* group;
    std::vector<std::string> properties;
    std::string error;  // "" = created
  } cases[] = {
      {"neither set", nullptr, nullptr, {}, ""},
      {"user without group", "cassandra", nullptr, {}, ""},
      {"both known", "cassandra", "cassgroup", {"uid=700", "gid=600", "accessPerm=700:600"}, ""},
      {"unknown user", "nobody-here", "cassgroup", {}, "Failed to get uid for User nobody-here"},
      {"unknown group", "cassandra", "no-group", {}, "Failed to get gid for group no-group"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CRegistry::Instance().Remove("Cassandra", "sCassOSUser");
    CRegistry::Instance().Remove("Cassandra", "sCassOSGroup");
    if (k.user) CRegistry::Instance().Set("Cassandra", "sCassOSUser", k.user);
    if (k.group) CRegistry::Instance().Set("Cassandra", "sCassOSGroup", k.group);
    ShareProbe& c = Coordinator(0);
    CLogCapture log;
    CQiError e = c.createZelkNetworkShare();
    if (!k.error.empty()) {
      ASSERT_TRUE(e.IsError());
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1359)) << e.AsString();
      EXPECT_EQ(e.GetMessage(), k.error);
      // Refused before the file server was contacted.
      EXPECT_FALSE(c.zelkConfigClient);
      EXPECT_EQ(c.zelkShareId, 0u);
      continue;
    }
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(Properties(*LoggedRequest(log).getShareInfo()), k.properties);
    if (!k.properties.empty()) {
      EXPECT_TRUE(log.Contains("cassgroup:cassandra --> 600:700"));
      Zelk::SZelkShare share;
      ASSERT_FALSE(Zelk::CZelkShareStore().Find(c.zelkShareId, share).IsError());
      EXPECT_EQ(share.uid, 700);
      EXPECT_EQ(share.gid, 600);
    }
  }
}

TEST_F(ShareTest, GetCustomUidGidLeavesTheOutputsOnFailure) {
  ScopedUserDb users;
  CRegistry::Instance().Set("Cassandra", "sCassOSUser", "cassandra");
  CRegistry::Instance().Set("Cassandra", "sCassOSGroup", "no-group");
  ShareProbe& c = Coordinator(0);
  int uid = -1, gid = -1;
  EXPECT_TRUE(c.getCustomUidGid(uid, gid).IsError());
  EXPECT_EQ(uid, -1);
  EXPECT_EQ(gid, -1);
  CRegistry::Instance().Set("Cassandra", "sCassOSGroup", "cassgroup");
  ASSERT_FALSE(c.getCustomUidGid(uid, gid).IsError());
  EXPECT_EQ(uid, 700);
  EXPECT_EQ(gid, 600);
}

TEST_F(ShareTest, FailuresOfTheFileServerFailTheCreation) {
  struct Case {
    const char* name;
    const char* mediaAgentName;
    const char* registrySwitch;
    uint32_t code;
    std::string message;
    bool clientMade;
  } cases[] = {
      {"unknown media agent", "ma-unknown", nullptr, 1359, "Failed to get mangled MA hostname",
       false},
      {"server does not start", "ma1", "nFailStart", 1722,
       "Failed to start Torvanell Zelk Server: The network file server could not be started on "
       "ma1.net",
       true},
      // Nodes must never be sent a share that the server did not confirm.
      {"no share id answered", "ma1", "nNoShareId", 1359,
       "The network file server on ma1.net answered without a share id: network share share47 "
       "was not created",
       true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (k.registrySwitch) {
      CRegistry::Instance().Set(Zelk::ZelkConfigClient::kRegistrySection, k.registrySwitch, "1");
    }
    ShareProbe& c = Coordinator(0);
    c.mediaAgentClientName = k.mediaAgentName;
    CQiError e = c.createZelkNetworkShare();
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, k.code)) << e.AsString();
    EXPECT_EQ(e.GetMessage(), k.message);
    EXPECT_EQ(static_cast<bool>(c.zelkConfigClient), k.clientMade);
    EXPECT_EQ(c.zelkShareId, 0u);
    EXPECT_TRUE(Zelk::CZelkShareStore().List().empty());
    if (k.registrySwitch) {
      CRegistry::Instance().Remove(Zelk::ZelkConfigClient::kRegistrySection, k.registrySwitch);
    }
  }
}

TEST_F(ShareTest, DeletionRemovesTheShareAndReportsAFailureOnlyAsAnEvent) {
  struct Case {
    const char* name;
    bool create;
    bool failDelete;
    bool shareLeft;
    bool event;
  } cases[] = {
      {"no share: nothing to do", false, false, false, false},
      {"the share is deleted", true, false, false, false},
      {"the server fails the deletion", true, true, true, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    ShareProbe& c = Coordinator(0);
    if (k.create) {
      ASSERT_FALSE(c.createZelkNetworkShare().IsError());
    }
    if (k.failDelete) {
      CRegistry::Instance().Set(Zelk::ZelkConfigClient::kRegistrySection, "nFailDelete", "1");
    }
    CLogCapture log;
    EXPECT_FALSE(c.deleteZelkNetworkShare().IsError());
    EXPECT_EQ(!Zelk::CZelkShareStore().List().empty(), k.shareLeft);
    auto events = CEventJournal::Instance().Find(kEvShareDeleteFailed);
    ASSERT_EQ(events.size(), k.event ? 1u : 0u);
    if (k.event) {
      EXPECT_EQ(events[0].args, std::vector<std::string>{"share47"});
      EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
      EXPECT_TRUE(log.Contains("Failed to delete the network share: "));
      CRegistry::Instance().Remove(Zelk::ZelkConfigClient::kRegistrySection, "nFailDelete");
      ASSERT_FALSE(c.deleteZelkNetworkShare().IsError());
      EXPECT_TRUE(Zelk::CZelkShareStore().List().empty());
    }
  }
}

}  // namespace
}  // namespace restoretest
