// "This machine's client" as a context of the calling thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiPath.h"
#include "platform/log/EvEvent.h"
#include "platform/log/EventJournal.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQClient.h"
#include "platform/suite/TQPI_CommClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "tests/platform/TempDir.h"

namespace {

SClientIdentity Node(const std::string& name, uint64_t id) {
  SClientIdentity identity;
  identity.clientName = name;
  identity.clientId = id;
  identity.hostName = name + ".example.net";
  return identity;
}

}  // namespace

class ClientContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    CEventJournal::Instance().Clear();
  }
  void TearDown() override {
    CClientContext::SetSuiteHome("");
    CClientDirectory::Instance().Clear();
    CEventJournal::Instance().Clear();
  }
  TempDir home_;
};

TEST_F(ClientContextTest, ScopeSetsAndRestoresTheThreadsClient) {
  EXPECT_EQ(CClientContext::Current(), nullptr);
  {
    CClientContextScope node1(Node("node1", 11));
    EXPECT_STREQ(TQPI_Focus::getFocusClientName(true).c_str(), "node1");
    EXPECT_STREQ(TQPI_Focus::getFocusHostName().c_str(), "node1.example.net");
    EXPECT_EQ(TQPI_Focus::getFocusClientId(), 11u);
    {
      CClientContextScope node2(Node("node2", 12));
      EXPECT_STREQ(TQPI_Focus::getFocusClientName(1).c_str(), "node2");
    }
    EXPECT_STREQ(TQPI_Focus::getFocusClientName(true).c_str(), "node1");
  }
  EXPECT_EQ(CClientContext::Current(), nullptr);
  // Without a context the process defaults answer.
  EXPECT_FALSE(TQPI_Focus::getFocusClientName(true).IsEmpty());
  EXPECT_EQ(TQPI_Focus::getFocusClientName(true).str(), CClientContext::ClientName());
}

TEST_F(ClientContextTest, PlainThreadsDoNotSeeTheCreatorsClient) {
  CClientContextScope scope(Node("coordinator", 1));
  std::string seen = "unset";
  std::thread plain([&] {
    auto context = CClientContext::Current();
    seen = context ? context->clientName : "";
  });
  plain.join();
  EXPECT_EQ(seen, "");
}

TEST_F(ClientContextTest, StartThreadInheritsTheCreatorsClient) {
  std::string inWorker, inGrandchild, afterOwnScope;
  std::function<void(std::string&)> grandchild = [](std::string& out) {
    out = TQPI_Focus::getFocusClientName(true).str();
  };
  {
    CClientContextScope scope(Node("node7", 7));
    std::thread worker = CClientContext::StartThread(
        [&](int extra) {
          inWorker = TQPI_Focus::getFocusClientName(true).str() + "/" + std::to_string(extra);
          std::thread inner = CClientContext::StartThread(grandchild, std::ref(inGrandchild));
          inner.join();
          { CClientContextScope own(Node("stream", 8)); }
          afterOwnScope = TQPI_Focus::getFocusClientName(true).str();
        },
        42);
    worker.join();
  }
  EXPECT_EQ(inWorker, "node7/42");
  EXPECT_EQ(inGrandchild, "node7");
  EXPECT_EQ(afterOwnScope, "node7");
}

TEST_F(ClientContextTest, SimulatedNodesRunAtOnceEachWithItsOwnClient) {
  const int kNodes = 4;
  std::vector<std::string> seen(kNodes);
  std::vector<std::thread> nodes;
  for (int i = 0; i < kNodes; ++i) {
    nodes.emplace_back([i, &seen] {
      CClientContextScope scope(Node("node" + std::to_string(i), 100 + i));
      for (int round = 0; round < 200; ++round) {
        std::this_thread::yield();
        if (TQPI_Focus::getFocusClientId() != static_cast<uint64_t>(100 + i)) return;
      }
      seen[i] = TQPI_Focus::getFocusClientName(true).str();
    });
  }
  for (auto& t : nodes) t.join();
  for (int i = 0; i < kNodes; ++i) EXPECT_EQ(seen[i], "node" + std::to_string(i));
}

TEST_F(ClientContextTest, JournalEntriesCarryTheRaisingThreadsClient) {
  {
    CClientContextScope scope(Node("node3", 3));
    EvEvent event;
    event << "arg";
    event.MajorEvent(0x6000485);
    std::thread t = CClientContext::StartThread([] { EvEvent().InfoEvent(0x60003D7); });
    t.join();
  }
  EvEvent().MinorEvent(0x6000470);
  auto entries = CEventJournal::Instance().Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].client, "node3");
  EXPECT_EQ(entries[1].client, "node3");
  EXPECT_EQ(entries[2].client, "");
}

TEST_F(ClientContextTest, JobResultsDirectoryIsPerClientUnderTheSuiteHome) {
  std::string a = TQPI_CommClient::getJobResultsDirectory("nodeA").str();
  std::string b = TQPI_CommClient::getJobResultsDirectory("nodeB").str();
  EXPECT_EQ(a, home_.path() + "/nodeA/JobResults");
  EXPECT_EQ(b, home_.path() + "/nodeB/JobResults");
  EXPECT_TRUE(CQiPath::IsDirectory(a.c_str()));
  EXPECT_TRUE(CQiPath::IsDirectory(b.c_str()));

  SClientIdentity own = Node("nodeC", 3);
  own.jobResultsDirectory = home_.Sub("custom/jr");
  CClientContextScope scope(own);
  EXPECT_EQ(TQPI_CommClient::getJobResultsDirectory("nodeC").str(), home_.Sub("custom/jr"));
  EXPECT_TRUE(CQiPath::IsDirectory(home_.Sub("custom/jr").c_str()));
  // Another client's directory is still its folder under the suite home.
  EXPECT_EQ(TQPI_CommClient::getJobResultsDirectory("nodeA").str(), a);
}

TEST_F(ClientContextTest, ClientNamesCannotLeaveTheSuiteHome) {
  struct Case {
    const char* name;
    const char* folder;
  } cases[] = {{"../../etc", ".._.._etc"}, {"..", "_"}, {"", "_"}, {"a/b", "a_b"}};
  for (const auto& c : cases) {
    EXPECT_EQ(TQPI_CommClient::getJobResultsDirectory(c.name).str(),
              home_.path() + "/" + c.folder + "/JobResults")
        << c.name;
  }
}

TEST_F(ClientContextTest, SuiteHomeFallsBackToTheEnvironmentThenTmp) {
  CClientContext::SetSuiteHome("");
  const char* saved = getenv("TQ_SUITE_HOME");
  std::string savedValue = saved ? saved : "";
  setenv("TQ_SUITE_HOME", home_.Sub("env").c_str(), 1);
  EXPECT_EQ(CClientContext::SuiteHome(), home_.Sub("env"));
  unsetenv("TQ_SUITE_HOME");
  EXPECT_EQ(CClientContext::SuiteHome(), "/tmp/tqsuite-" + std::to_string(getuid()));
  if (saved) setenv("TQ_SUITE_HOME", savedValue.c_str(), 1);
  CClientContext::SetSuiteHome(home_.path());
}

TEST_F(ClientContextTest, BaseDirectoryComesFromTheContextElseTheRegistry) {
  CRegistry::Instance().Set("Base", "dBASEHOME", "/opt/suite/Base");
  EXPECT_EQ(CClientContext::BaseDirectory(), "/opt/suite/Base");
  SClientIdentity own = Node("n", 1);
  own.baseDirectory = "/opt/other";
  {
    CClientContextScope scope(own);
    EXPECT_EQ(CClientContext::BaseDirectory(), "/opt/other");
  }
  CRegistry::Instance().Remove("Base", "dBASEHOME");
  EXPECT_EQ(CClientContext::BaseDirectory(), "");
}

TEST_F(ClientContextTest, ClientLookupsByIdNameAndHost) {
  SClientRecord ma;
  ma.id = 2;
  ma.name = "ma1";
  ma.hostName = "ma1.example.net";
  ma.mangledHostName = "ma1.example.net*ma1*8400";
  ma.operatingSystemId = 24;
  CClientDirectory::Instance().Add(ma);

  CQiString name, host;
  uint64_t id = 0;
  uint32_t os = 0;
  TQClient byId(2);
  ASSERT_TRUE(byId.isValid());
  ASSERT_FALSE(byId.getName(name).IsError());
  EXPECT_STREQ(name.c_str(), "ma1");
  TQClient byName("ma1", TQ_NAME_TYPE_CLIENT, 0, nullptr);
  ASSERT_FALSE(byName.getClientId(id).IsError());
  EXPECT_EQ(id, 2u);
  ASSERT_FALSE(byName.getNetworkHostname(host).IsError());
  EXPECT_STREQ(host.c_str(), "ma1.example.net");
  ASSERT_FALSE(byName.getNetworkHostnameMangled(host, nullptr).IsError());
  EXPECT_STREQ(host.c_str(), "ma1.example.net*ma1*8400");
  ASSERT_FALSE(byName.getOperatingSystemId(os).IsError());
  EXPECT_EQ(os, 24u);
  TQClient byHost("ma1.example.net", TQ_NAME_TYPE_HOST);
  EXPECT_TRUE(byHost.isValid());

  TQClient unknown("nobody", TQ_NAME_TYPE_CLIENT);
  EXPECT_FALSE(unknown.isValid());
  EXPECT_TRUE(FXErrorUtil::IsWin32(unknown.getName(name), 1168));
  EXPECT_TRUE(TQClient(999).getClientId(id).IsError());

  // The calling thread's own client is known without a directory entry, and
  // its mangled host name is its host name.
  CClientContextScope scope(Node("node9", 9));
  TQClient self("node9", TQ_NAME_TYPE_CLIENT);
  ASSERT_FALSE(self.getNetworkHostnameMangled(host).IsError());
  EXPECT_STREQ(host.c_str(), "node9.example.net");
  EXPECT_TRUE(TQClient(9).isValid());
}

TEST_F(ClientContextTest, DirectoryReplacesARecordWithTheSameIdOrName) {
  SClientRecord r{5, "old", "h", "", 0, {}};
  CClientDirectory::Instance().Add(r);
  r.name = "new";
  CClientDirectory::Instance().Add(r);
  SClientRecord found;
  EXPECT_FALSE(CClientDirectory::Instance().FindByName("old", found));
  ASSERT_TRUE(CClientDirectory::Instance().FindById(5, found));
  EXPECT_EQ(found.name, "new");
  EXPECT_EQ(CClientDirectory::Instance().All().size(), 1u);
}
