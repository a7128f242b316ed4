// The media agent's network file server: shares built from a real archive
// store, their records, and its failure switches.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "StoreTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/zelk/ZelkConfigClient.h"
#include "platform/zelk/ZelkShareStore.h"

namespace {

using Zelk::CZelkShareStore;
using Zelk::SZelkShare;
using Zelk::ZelkConfigClient;

// Every regular file below `root`, by path relative to it, with its content.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
  std::map<std::string, std::string> files;
  struct Context {
    std::string root;
    std::map<std::string, std::string>* files;
  } context{root, &files};
  CQiDirectory::Walk(root.c_str(), &context, 0, true,
                     [](const char* directory, const char* name, bool isDirectory, void* data) {
                       auto* c = static_cast<Context*>(data);
                       if (isDirectory) return CQiError::Success();
                       std::string path = std::string(directory) + "/" + name;
                       std::ifstream in(path, std::ios::binary);
                       std::ostringstream content;
                       content << in.rdbuf();
                       (*c->files)[path.substr(c->root.size() + 1)] = content.str();
                       return CQiError::Success();
                     });
  return files;
}

class ZelkShareServerTest : public StoreTest {
 protected:
  void TearDown() override {
    for (const char* name : {"nFailStart", "nNoShareId", "nFailDelete"}) {
      CRegistry::Instance().Remove(ZelkConfigClient::kRegistrySection, name);
    }
    StoreTest::TearDown();
  }

  static void Switch(const char* name) {
    CRegistry::Instance().Set(ZelkConfigClient::kRegistrySection, name, "1");
  }

  // Two backups of backup set 8 (subclient 9) of node n1, the second with a
  // new version of one SSTable, and one of another backup set.
  void StoreBackups() {
    {
      CStoreDataStream stream(Job(41));
      OBJECTOPSAPI::StreamItemHeader folder;
      folder.headerPath = "/C/dc1/n1";
      folder.isDirectory = true;
      ASSERT_FALSE(stream.BeginItem(folder).IsError());
      ASSERT_FALSE(stream.CommitItem().IsError());
      ASSERT_FALSE(Store(stream, "/C/dc1/n1/ks/t1/nb-1-big-Data.db", "old t1").IsError());
      ASSERT_FALSE(Store(stream, "/C/dc1/n1/ks/t2/nb-1-big-Data.db", "t2 data").IsError());
      ASSERT_FALSE(Store(stream, "/C/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", "log").IsError());
    }
    {
      CStoreDataStream stream(Job(42));
      ASSERT_FALSE(Store(stream, "/C/dc1/n1/ks/t1/nb-1-big-Data.db", "new t1").IsError());
    }
    {
      SStreamJob other = Job(43);
      other.backupsetId = 99;
      other.subclientId = 98;
      CStoreDataStream stream(other);
      ASSERT_FALSE(Store(stream, "/D/dc9/x1/ks/t/nb-1-big-Data.db", "other set").IsError());
    }
  }

  static App::SetZELKSharePropsReq Request(const std::string& name, bool subclientLevel,
                                           int64_t fromTime = 0, int64_t toTime = 0) {
    App::ZELKShareInfo info;
    info.setShareName(name);
    if (subclientLevel) {
      TqEntities::SubClientEntity subclient;
      subclient.setBackupsetId(8);
      subclient.setSubclientId(9);
      info.setSubclient(subclient);
    } else {
      TqEntities::BackupSetEntity backupSet;
      backupSet.setBackupSetId(8);
      info.setBackupSet(backupSet);
    }
    info.setHosts({"n1.sim", "ma1.net"});
    TqEntities::TimeEntity from, to;
    from.setTime(fromTime);
    to.setTime(toTime);
    info.setFromTime(from);
    info.setToTime(to);
    App::SetZELKSharePropsReq request;
    request.setShareInfo(info);
    request.setOperation(4);
    return request;
  }
};

TEST_F(ZelkShareServerTest, ASharesTreeHoldsTheNewestVersionOfEveryItemOfItsScope) {
  StoreBackups();
  for (bool subclientLevel : {false, true}) {
    SCOPED_TRACE(subclientLevel ? "subclient level" : "backup set level");
    ZelkConfigClient client("ma1*ma1.net", 100, nullptr, 0);
    ASSERT_FALSE(client.StartZelkServer().IsError());
    App::SetZELKSharePropsResp response;
    CQiError e = client.CreateZelkNetworkShare(Request("share100", subclientLevel), response);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    ASSERT_TRUE(response.hasShareId());

    CZelkShareStore store;
    SZelkShare share;
    ASSERT_FALSE(store.Find(static_cast<uint32_t>(response.getShareId()), share).IsError());
    EXPECT_EQ(share.name, "share100");
    EXPECT_EQ(share.server, "ma1.net");
    EXPECT_EQ(share.jobId, 100);
    EXPECT_EQ(share.hosts, (std::vector<std::string>{"n1.sim", "ma1.net"}));
    EXPECT_EQ(share.files, 2u);
    // Commit logs and other backup sets stay out; the second job's t1 wins.
    EXPECT_EQ(FilesBelow(store.ExportPath("share100")),
              (std::map<std::string, std::string>{{"C/dc1/n1/ks/t1/nb-1-big-Data.db", "new t1"},
                                                  {"C/dc1/n1/ks/t2/nb-1-big-Data.db", "t2 data"}}));
  }
  // The second creation replaced the first share of that name.
  EXPECT_EQ(CZelkShareStore().List().size(), 1u);
}

TEST_F(ZelkShareServerTest, TheTimeRangeLimitsTheShare) {
  StoreBackups();
  ZelkConfigClient client("ma1.net", 100, nullptr, 0);
  ASSERT_FALSE(client.StartZelkServer().IsError());
  App::SetZELKSharePropsResp response;
  const int64_t future = time(nullptr) + 100000;
  ASSERT_FALSE(
      client.CreateZelkNetworkShare(Request("share100", false, future, 0), response).IsError());
  ASSERT_TRUE(response.hasShareId());
  EXPECT_TRUE(FilesBelow(CZelkShareStore().ExportPath("share100")).empty());
}

TEST_F(ZelkShareServerTest, TheOwnersAccessSettingsApplyToTheTree) {
  StoreBackups();
  ZelkConfigClient client("ma1.net", 100, nullptr, 0);
  ASSERT_FALSE(client.StartZelkServer().IsError());
  App::SetZELKSharePropsReq request = Request("share100", false);
  App::ZELKShareInfo info = *request.getShareInfo();
  info.setProperties({App::KeyValueInfo("uid", std::to_string(getuid())),
                      App::KeyValueInfo("gid", std::to_string(getgid())),
                      App::KeyValueInfo("accessPerm", "700:600")});
  request.setShareInfo(info);
  App::SetZELKSharePropsResp response;
  ASSERT_FALSE(client.CreateZelkNetworkShare(request, response).IsError());
  SZelkShare share;
  ASSERT_FALSE(CZelkShareStore().FindByName("share100", share).IsError());
  EXPECT_EQ(share.uid, static_cast<int64_t>(getuid()));
  EXPECT_EQ(share.gid, static_cast<int64_t>(getgid()));
  EXPECT_EQ(share.accessPerm, "700:600");
  const std::string root = CZelkShareStore().ExportPath("share100");
  struct stat st;
  ASSERT_EQ(stat((root + "/C/dc1/n1/ks").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((root + "/C/dc1/n1/ks/t1/nb-1-big-Data.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ZelkShareServerTest, RequestsTheServerCannotServeAreRefused) {
  StoreBackups();
  struct Case {
    const char* name;
    bool start;
    std::string shareName;
    int64_t operation;
    uint32_t code;
  } cases[] = {
      {"server not started", false, "share100", 4, 1722},
      {"unknown operation", true, "share100", 3, 87},
      {"a share name that leaves the exports", true, "../share100", 4, 87},
      {"an empty share name", true, "", 4, 87},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ZelkConfigClient client(k.start ? "ma1.net" : "ma2.net", 100, nullptr, 0);
    if (k.start) {
      ASSERT_FALSE(client.StartZelkServer().IsError());
    }
    App::SetZELKSharePropsReq request = Request(k.shareName, false);
    request.setOperation(k.operation);
    App::SetZELKSharePropsResp response;
    CQiError e = client.CreateZelkNetworkShare(request, response);
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, k.code)) << e.AsString();
    EXPECT_FALSE(response.hasShareId());
    EXPECT_TRUE(CZelkShareStore().List().empty());
  }
}

TEST_F(ZelkShareServerTest, FailureSwitches) {
  StoreBackups();
  {
    SCOPED_TRACE("no start");
    Switch("nFailStart");
    ZelkConfigClient client("ma1.net", 100, nullptr, 0);
    CQiError e = client.StartZelkServer();
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetMessage(), "The network file server could not be started on ma1.net");
    EXPECT_FALSE(CZelkShareStore().IsServerRunning("ma1.net"));
    CRegistry::Instance().Remove(ZelkConfigClient::kRegistrySection, "nFailStart");
  }
  ZelkConfigClient client("ma1.net", 100, nullptr, 0);
  ASSERT_FALSE(client.StartZelkServer().IsError());
  {
    SCOPED_TRACE("no share id: success, and nothing exported");
    Switch("nNoShareId");
    App::SetZELKSharePropsResp response;
    ASSERT_FALSE(client.CreateZelkNetworkShare(Request("share100", false), response).IsError());
    EXPECT_FALSE(response.hasShareId());
    EXPECT_TRUE(CZelkShareStore().List().empty());
    EXPECT_NE(access(CZelkShareStore().ExportPath("share100").c_str(), F_OK), 0);
    CRegistry::Instance().Remove(ZelkConfigClient::kRegistrySection, "nNoShareId");
  }
  App::SetZELKSharePropsResp response;
  ASSERT_FALSE(client.CreateZelkNetworkShare(Request("share100", false), response).IsError());
  const uint32_t id = static_cast<uint32_t>(response.getShareId());
  {
    SCOPED_TRACE("delete fails: the share stays");
    Switch("nFailDelete");
    CQiError e = client.DeleteZelkNetworkShare(id);
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetMessage(),
              "The network file server could not delete share " + std::to_string(id));
    EXPECT_EQ(CZelkShareStore().List().size(), 1u);
    CRegistry::Instance().Remove(ZelkConfigClient::kRegistrySection, "nFailDelete");
  }
  ASSERT_FALSE(client.DeleteZelkNetworkShare(id).IsError());
  EXPECT_TRUE(CZelkShareStore().List().empty());
  EXPECT_NE(access(CZelkShareStore().ExportPath("share100").c_str(), F_OK), 0);
  CQiError again = client.DeleteZelkNetworkShare(id);
  EXPECT_TRUE(FXErrorUtil::IsWin32(again, 1168)) << again.AsString();
}

TEST_F(ZelkShareServerTest, IdsAreNeverReused) {
  ZelkConfigClient client("ma1.net", 100, nullptr, 0);
  ASSERT_FALSE(client.StartZelkServer().IsError());
  App::SetZELKSharePropsResp first, second, third;
  ASSERT_FALSE(client.CreateZelkNetworkShare(Request("share100", false), first).IsError());
  ASSERT_FALSE(client.CreateZelkNetworkShare(Request("share101", false), second).IsError());
  ASSERT_FALSE(client.DeleteZelkNetworkShare(static_cast<uint32_t>(second.getShareId())).IsError());
  ASSERT_FALSE(client.CreateZelkNetworkShare(Request("share102", false), third).IsError());
  EXPECT_GT(first.getShareId(), 0);
  EXPECT_GT(second.getShareId(), first.getShareId());
  EXPECT_GT(third.getShareId(), second.getShareId());
}

// A share record with a number its field cannot hold (a hand edit, a damaged
// file) reads as no share; it is never converted into some other number.
TEST(ZelkShareStoreRecords, ANumberOutOfItsFieldsRangeIsADamagedRecord) {
  const struct {
    const char* field;
    const char* value;
  } cases[] = {{"id", "1e300"},  {"id", "-1"},         {"files", "-5"},  {"files", "1e300"},
               {"jobId", "1.5"}, {"toTime", "9.3e18"}, {"uid", "\"7\""}, {"fromTime", "-1e300"}};
  for (const auto& c : cases) {
    TempDir home;
    CZelkShareStore store(home.path());
    SZelkShare share;
    share.name = "share1";
    share.server = "ma1.net";
    ASSERT_FALSE(store.Add(share).IsError());
    const std::string record = store.Root() + "/shares/" + std::to_string(share.id) + ".json";
    std::ifstream in(record);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::regex member("\"" + std::string(c.field) + "\": [^,\n}]+");
    ASSERT_TRUE(std::regex_search(text, member)) << text;
    std::ofstream(record, std::ios::trunc)
        << std::regex_replace(text, member, "\"" + std::string(c.field) + "\": " + c.value);
    SZelkShare found;
    EXPECT_TRUE(store.Find(share.id, found).IsError()) << c.field << " = " << c.value;
    EXPECT_TRUE(store.List().empty()) << c.field << " = " << c.value;
  }
}

}  // namespace
