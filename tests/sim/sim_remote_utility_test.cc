// The node utility stand-in started through the real remote-command channel
// on a generated DSE cluster: the system key copy, its switches, and the
// channel's time-outs and failure switches against a real program.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/RestoreRecords.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPassword.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimNodeConfig.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"

namespace {

uint32_t Win32(uint32_t code) { return CQiError::MakeCode(CQiError::kWin32, code); }

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class RemoteUtilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.Sub("suite"));
    CRegistry::Instance().Remove("Base", "dBASEHOME");  // the key of <suite home>/base
    TqSim::FixtureOptions options = simtest::SmallClusterOptions(2);
    options.flavour = "dse";
    options.version = "6.8.25";
    simtest::GenerateCluster(home_.Sub("cluster"), options, cluster_);
    CSuiteRegistration registration;
    SInstanceSettings instance;
    uint64_t id = 0;
    ASSERT_FALSE(registration.registerClient("cluster1", "cluster1.sim", {}, id).IsError());
    instance.name = "dse1";
    instance.clientId = id;
    clusterClientId_ = id;
    instance.clusterName = "TestCluster";
    for (const auto& node : cluster_.nodes) {
      uint64_t clientId = 0;
      ASSERT_FALSE(
          registration.registerClient(node.name, node.name + ".sim", {node.address}, clientId)
              .IsError());
      SNodeSettings stored;
      stored.address = node.address;
      stored.clientId = clientId;
      stored.configDirectory = node.confDir;
      instance.nodes.push_back(stored);
    }
    ASSERT_FALSE(registration.registerInstance(instance, instanceId_).IsError());
    // The second node keeps its keys in a folder that does not exist yet.
    ASSERT_TRUE(TqSim::SimNodeConfig(cluster_.nodes[1].confDir)
                    .WriteDseYaml(home_.Sub("node2-keys/dse"), error_));
  }
  void TearDown() override {
    network_.reset();
    CTqNetwork::ClearFaults();
    CClientContext::SetSuiteHome("");
    simtest::KillLeftChildren();
  }

  std::string KeyFolder(int node) const {
    return node == 0 ? cluster_.nodes[0].systemKeyDir : home_.Sub("node2-keys/dse");
  }

  // Starts the utility in its key-copy mode on a node's client.
  void Start(const std::string& host, int timeoutSecs = 30) {
    CNSession::tqsExecuteRemoteCommandType command;
    command.setProgram("RoVerodaruvErad");
    command.setArguments("42 -systemKeyCopy");
    command.setWaitFlag(1);
    network_.reset(new CTqNetwork());
    bool timedOut = true;
    CQiError e = network_->Attach_RemoteCommand(host.c_str(), command, nullptr, "coordinator1",
                                                timeoutSecs, timedOut);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    ASSERT_FALSE(timedOut);
    ASSERT_TRUE(network_->IsConnected());
  }
  static std::string Encrypt(const std::string& plain) {
    std::vector<char> buffer(4 * plain.size() + 128);
    unsigned long length = buffer.size();
    EXPECT_NE(TQPassword().encrypt(plain.c_str(), buffer.data(), length), 0);
    return std::string(buffer.data(), length);
  }
  static DistributedQEL::CassandraSystemKeyInfo Keys(
      const std::vector<std::pair<std::string, std::string>>& files, bool encrypt = true) {
    std::vector<DistributedQEL::CassandraSystemKey> keys;
    for (const auto& f : files) {
      DistributedQEL::CassandraSystemKey key;
      key.setKeyFilePath(f.first);
      key.setContent(encrypt ? Encrypt(f.second) : f.second);
      keys.push_back(key);
    }
    DistributedQEL::CassandraSystemKeyInfo info;
    info.setKeys(keys);
    return info;
  }
  void Send(const CNMessageBase& message) {
    bool timedOut = true;
    CQiError e = network_->SendXMLMessage(message, 0, 30, timedOut);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    ASSERT_FALSE(timedOut);
  }
  // The utility's answer: "complete" = <value>.
  std::string Answer() {
    bool timedOut = true;
    CNMessageBasePtr message;
    CQiError e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, 30, timedOut);
    EXPECT_FALSE(e.IsError()) << e.AsString();
    EXPECT_FALSE(timedOut);
    if (!message) return "<none>";
    std::optional<DistributedQEL::DINameValue> value =
        RecordAs<DistributedQEL::DINameValue>(*message);
    if (!value) return "<other record>";
    EXPECT_EQ(value->getName(), "complete");
    return value->getValue();
  }
  // Ends the connection; the utility must have ended by itself.
  void End() {
    const pid_t pid = network_->ProgramPid();
    bool timedOut = true;
    EXPECT_FALSE(network_->Disconnect(10, timedOut).IsError());
    EXPECT_FALSE(timedOut);
    EXPECT_FALSE(network_->IsConnected());
    EXPECT_FALSE(simtest::ProcessExists(pid));
  }
  void AddFault(const std::string& request, const std::string& node, const std::string& action) {
    simtest::EditClusterFile(cluster_.clusterFile, [&](TqSim::SimCluster& c) {
      TqSim::SimFault f;
      f.when = "utility";
      f.request = request;
      f.node = node;
      f.action = action;
      c.faults.push_back(f);
    });
  }

  simtest::TempDir home_;
  TqSim::FixtureResult cluster_;
  uint64_t instanceId_ = 0;
  uint64_t clusterClientId_ = 0;
  std::string error_;
  std::unique_ptr<CTqNetwork> network_;
};

TEST_F(RemoteUtilityTest, KeyCopyWritesEveryKeyByteForByteIntoTheNodesFolder) {
  const std::string first = "AES/ECB/PKCS5Padding:128:bmV3IGtleQ==\n";
  const std::string second = "quote\" back\\slash\r\n\x01\xff end";
  for (int node : {0, 1}) {
    Start(cluster_.nodes[node].name + ".sim");
    Send(Keys({{"/source/dse/keys/system_key", first}, {"/other/place/second_key", second}}));
    EXPECT_EQ(Answer(), "true");
    End();
    EXPECT_EQ(simtest::ReadFile(KeyFolder(node) + "/system_key"), first);
    EXPECT_EQ(simtest::ReadFile(KeyFolder(node) + "/second_key"), second);
    EXPECT_EQ(ModeOf(KeyFolder(node) + "/second_key"), 0600u);
  }
  // The folder the utility made is its owner's only; the other node's keys
  // stayed where they were.
  EXPECT_EQ(ModeOf(KeyFolder(1)), 0700u);
  EXPECT_EQ(simtest::ReadFile(KeyFolder(0) + "/system_key"), first);
}

// Only the nodes of the restore's destination instance get the keys when the
// job says which instance that is.
TEST_F(RemoteUtilityTest, KeyCopyServesTheJobsDestinationInstance) {
  uint64_t otherId = 0;
  SInstanceSettings other;
  other.name = "other";
  other.clientId = clusterClientId_;
  SNodeSettings stored;
  stored.address = cluster_.nodes[0].address;
  stored.configDirectory = cluster_.nodes[1].confDir;  // run by node1's client
  other.nodes.push_back(stored);
  ASSERT_FALSE(CSuiteRegistration().registerInstance(other, otherId).IsError());
  TqRunner::JobDescription description;
  description.jobId = 42;
  description.jobType = "restore";
  description.destInstanceId = otherId;
  ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(description).IsError());

  const std::string before = simtest::ReadFile(KeyFolder(0) + "/system_key");
  Start(cluster_.nodes[0].name + ".sim");
  Send(Keys({{"/k/system_key", "moved\n"}}));
  EXPECT_EQ(Answer(), "true");
  End();
  EXPECT_EQ(simtest::ReadFile(KeyFolder(1) + "/system_key"), "moved\n");
  EXPECT_EQ(simtest::ReadFile(KeyFolder(0) + "/system_key"), before);
}

TEST_F(RemoteUtilityTest, MessagesItCannotServeAnswerFalseAndChangeNothing) {
  const std::string before = simtest::ReadFile(KeyFolder(0) + "/system_key");
  struct Case {
    const char* name;
    CNMessageBase message;
  } cases[] = {
      {"another record", DistributedQEL::DINameValue("keys", "none")},
      {"no file name", Keys({{"/etc/dse/keys/", "x"}})},
      {"dot dot", Keys({{"/etc/dse/..", "x"}})},
      {"not encrypted", Keys({{"/k/system_key", "plain text"}}, false)},
      {"one bad key of two", Keys({{"/k/system_key", "new"}, {"/k/", "x"}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(cluster_.nodes[0].name + ".sim");
    Send(c.message);
    EXPECT_EQ(Answer(), "false");
    End();
    EXPECT_EQ(simtest::ReadFile(KeyFolder(0) + "/system_key"), before);
  }
}

TEST_F(RemoteUtilityTest, ClientWithoutNodesAnswersFalse) {
  uint64_t id = 0;
  ASSERT_FALSE(CSuiteRegistration().registerClient("lonely", "lonely.sim", {}, id).IsError());
  Start("lonely.sim");
  Send(Keys({{"/k/system_key", "x"}}));
  EXPECT_EQ(Answer(), "false");
  End();
}

TEST_F(RemoteUtilityTest, SwitchesOfTheSimulatedCluster) {
  const std::string before = simtest::ReadFile(KeyFolder(0) + "/system_key");
  AddFault("systemKeyCopy", cluster_.nodes[0].address, "answer_false");
  AddFault("otherMode", "", "no_answer");
  Start(cluster_.nodes[0].name + ".sim");
  Send(Keys({{"/k/system_key", "x"}}));
  EXPECT_EQ(Answer(), "false");
  End();
  EXPECT_EQ(simtest::ReadFile(KeyFolder(0) + "/system_key"), before);

  // The switch names the first node only.
  Start(cluster_.nodes[1].name + ".sim");
  Send(Keys({{"/k/system_key", "x"}}));
  EXPECT_EQ(Answer(), "true");
  End();

  // No answer: the utility closes the connection.
  AddFault("", "", "no_answer");
  Start(cluster_.nodes[1].name + ".sim");
  Send(Keys({{"/k/system_key", "y"}}));
  bool timedOut = true;
  CNMessageBasePtr message;
  CQiError e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, 30, timedOut);
  EXPECT_EQ(e.GetCode(), Win32(10054));
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(message, nullptr);
  End();
}

TEST_F(RemoteUtilityTest, ChannelTimeOutsAndSwitchesAgainstARealProgram) {
  const std::string host = cluster_.nodes[0].name + ".sim";
  // A receive before anything was sent times out without an error; ending
  // the connection then ends the waiting utility.
  Start(host);
  bool timedOut = false;
  CNMessageBasePtr message;
  CQiError e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, 1, timedOut);
  EXPECT_FALSE(e.IsError());
  EXPECT_TRUE(timedOut);
  EXPECT_EQ(message, nullptr);
  End();

  // Switches: the send and receive time out, a reply of the wrong kind.
  CTqNetwork::InjectFault(host, CTqNetwork::kSendTimesOut);
  Start(host);
  e = network_->SendXMLMessage(Keys({{"/k/system_key", "x"}}), 0, -1, timedOut);
  EXPECT_FALSE(e.IsError());
  EXPECT_TRUE(timedOut);
  End();
  CTqNetwork::ClearFaults();

  CTqNetwork::InjectFault(host, CTqNetwork::kReceiveTimesOut);
  Start(host);
  Send(Keys({{"/k/system_key", "x"}}));
  e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, -1, timedOut);
  EXPECT_FALSE(e.IsError());
  EXPECT_TRUE(timedOut);
  End();
  CTqNetwork::ClearFaults();

  CTqNetwork::InjectFault("", CTqNetwork::kWrongReply);
  Start(host);
  Send(Keys({{"/k/system_key", "x"}}));
  e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, 30, timedOut);
  ASSERT_FALSE(e.IsError());
  ASSERT_TRUE(message);
  EXPECT_FALSE(RecordAs<DistributedQEL::DINameValue>(*message));
  EXPECT_EQ(message->getNamespaceId(), 9u);
  EXPECT_EQ(message->getClassId(), 45u);
  End();
}

}  // namespace
