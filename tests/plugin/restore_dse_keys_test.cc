// The restore coordinator's DSE encryption key copy over a scripted
// remote-command channel: what each destination node's utility gets, how a
// failing node ends the copy, and the key rows inserted through Priam.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "RestoreCoordinatorFixture.h"
#include "common/RestoreRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/network/TqNetworkScript.h"

namespace restoretest {
namespace {

using Event = CTqNetworkScript::Event;

class KeysProbe : public RestoresProbe {
 public:
  KeysProbe() : TQDC_FileSystem::CRestore(false) {}
  using CCassandraRestores::encryptedTableRows;
  using CCassandraRestores::remoteSession;
  using CCassandraRestores::systemKeyFiles;
};

uint32_t Win32(uint32_t code) { return CQiError::MakeCode(CQiError::kWin32, code); }
uint32_t ErrNo(int code) {
  return CQiError::MakeCode(CQiError::kErrNo, static_cast<uint32_t>(code));
}

TQCassandra::cassandraDSEEncryptedTableRow Row(const std::string& keyFile, const std::string& key,
                                               const std::string& keyId, const std::string& cipher,
                                               uint32_t strength) {
  TQCassandra::cassandraDSEEncryptedTableRow row;
  row.keyFileName = keyFile;
  row.key = key;
  row.keyId = keyId;
  row.cipher = cipher;
  row.strength = strength;
  return row;
}

std::string Decrypt(const std::string& text) {
  std::vector<char> plain(text.size() + 1);
  unsigned long length = plain.size();
  EXPECT_NE(TQPassword().decrypt(text.c_str(), plain.data(), length), 0);
  return std::string(plain.data(), length);
}

class DseKeyCopyTest : public RestoreCoordinatorTest {
 protected:
  void SetUp() override {
    RestoreCoordinatorTest::SetUp();
    channel_.reset(new CTqNetworkScript());
    for (const char* name : {"node1", "node2", "node3"}) Client(name);
  }
  void TearDown() override {
    keys_.reset();
    channel_.reset();
    RestoreCoordinatorTest::TearDown();
  }

  // A coordinator of job 42 whose destination has these node clients.
  KeysProbe& Coordinator(const std::vector<std::string>& clients = {"node1", "node2", "node3"}) {
    keys_.reset(new KeysProbe());
    keys_->setFrameworkServices(services_);
    keys_->restoreClientConfig.reset(new TQCassandra::CCassandraRestoreClientConfig());
    keys_->restoreClientConfig->setJobId(42);
    keys_->destConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    for (const std::string& client : clients) {
      App::CassandraNode node;
      node.setClientName(client);
      keys_->destConfig->clusterNodes.push_back(node);
    }
    return *keys_;
  }
  // The coordinator's Priam over the script; "insertKey" succeeds.
  void WithPriam() {
    Scripted().SetReply("insertKey", "Success");
    keys_->priamUtil.reset(new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base", home_.path(),
                                                      ScriptedConf(), true));
    ASSERT_FALSE(keys_->priamUtil->startPriam().IsError());
  }
  std::vector<TqCassandra::ScriptedPriam::Request> InsertKeys() {
    std::vector<TqCassandra::ScriptedPriam::Request> out;
    if (!priamScript_) return out;
    for (const auto& r : priamScript_->AllRequests()) {
      if (r.resource == "insertKey") out.push_back(r);
    }
    return out;
  }
  void Answer(const std::string& host, const std::string& name, const std::string& value) {
    channel_->Reply(host, DistributedQEL::DINameValue(name, value));
  }
  // "<kind> <host>" per channel call.
  std::vector<std::string> Calls() const {
    static const char* kKinds[] = {"attach", "send", "receive", "disconnect"};
    std::vector<std::string> out;
    for (const Event& e : channel_->Events())
      out.push_back(std::string(kKinds[e.kind]) + " " + e.host);
    return out;
  }

  std::unique_ptr<CTqNetworkScript> channel_;
  std::unique_ptr<KeysProbe> keys_;
};

TEST_F(DseKeyCopyTest, EveryNodeGetsItsUtilityAndTheWholeKeyMessage) {
  KeysProbe& c = Coordinator();
  c.systemKeyFiles["/etc/dse/keys/system_key"] = "AES/ECB/PKCS5Padding:128:c2VjcmV0\n";
  c.systemKeyFiles["/etc/dse/keys/second_key"] = "AES/CBC/PKCS5Padding:256:b3RoZXI=\n";
  for (const char* host : {"node1.sim", "node2.sim", "node3.sim"}) Answer(host, "complete", "true");

  CQiError e = c.HandleCassandraTDE();
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_FALSE(c.remoteSession);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "attach node1.sim", "send node1.sim", "receive node1.sim",
                         "disconnect node1.sim", "attach node2.sim", "send node2.sim",
                         "receive node2.sim", "disconnect node2.sim", "attach node3.sim",
                         "send node3.sim", "receive node3.sim", "disconnect node3.sim"}));

  for (const Event& attach : channel_->Events(Event::kAttach)) {
    EXPECT_EQ(attach.command.getField1(), 0);
    EXPECT_EQ(attach.command.getProgram(), "RoVerodaruvErad");
    EXPECT_EQ(attach.command.getArguments(), "42 -systemKeyCopy");
    EXPECT_EQ(attach.command.getWaitFlag(), 1);
    EXPECT_EQ(attach.command.getField5(), 0);
    EXPECT_TRUE(attach.command.isSet(5));
    EXPECT_EQ(attach.timeoutSecs, 120);
    EXPECT_EQ(attach.localClient, "coordinator1");
  }

  // One key per file, in the map's order, each content encrypted; the same
  // message to every node.
  std::vector<Event> sent = channel_->Events(Event::kSend);
  ASSERT_EQ(sent.size(), 3u);
  std::optional<DistributedQEL::CassandraSystemKeyInfo> info =
      RecordAs<DistributedQEL::CassandraSystemKeyInfo>(*sent[0].message);
  ASSERT_TRUE(info);
  std::vector<DistributedQEL::CassandraSystemKey> keys = info->getKeys();
  ASSERT_EQ(keys.size(), 2u);
  auto file = c.systemKeyFiles.begin();
  for (const auto& key : keys) {
    EXPECT_EQ(key.getKeyFilePath(), file->first);
    EXPECT_NE(key.getContent(), file->second);
    EXPECT_EQ(Decrypt(key.getContent()), file->second);
    ++file;
  }
  EXPECT_EQ(*sent[1].message, *sent[0].message);
  EXPECT_EQ(*sent[2].message, *sent[0].message);
}

// The second of three nodes fails: the copy ends there with that node's
// error, the third node is never contacted and no key row is inserted.
TEST_F(DseKeyCopyTest, FailingNodeStopsTheCopy) {
  struct Case {
    const char* name;
    std::function<void(CTqNetworkScript&)> script;
    uint32_t code;
    std::string text;
    std::vector<std::string> node2Calls;
  };
  const std::vector<std::string> exchange = {"attach node2.sim", "send node2.sim",
                                             "receive node2.sim", "disconnect node2.sim"};
  const std::vector<std::string> sendOnly = {"attach node2.sim", "send node2.sim",
                                             "disconnect node2.sim"};
  const std::vector<Case> cases = {
      {"false",
       [](CTqNetworkScript& s) {
         s.Reply("node2.sim", DistributedQEL::DINameValue("complete", "false"));
       },
       774, "Failed to create system keys.", exchange},
      {"capitals",
       [](CTqNetworkScript& s) {
         s.Reply("node2.sim", DistributedQEL::DINameValue("complete", "TRUE"));
       },
       774, "Failed to create system keys.", exchange},
      {"other name",
       [](CTqNetworkScript& s) {
         s.Reply("node2.sim", DistributedQEL::DINameValue("completed", "true"));
       },
       774, "Failed to create system keys.", exchange},
      {"other record",
       [](CTqNetworkScript& s) { s.Reply("node2.sim", DistributedQEL::NodeInit()); }, 774,
       "Failed to cast the message.", exchange},
      {"receive error",
       [](CTqNetworkScript& s) {
         s.FailReceive("node2.sim", FXErrorUtil::ErrorWin32(FXLOC, 10054, "connection closed"));
       },
       10054, "connection closed", exchange},
      {"receive time-out", [](CTqNetworkScript& s) { s.TimeOutReceive("node2.sim"); }, 1460,
       "Timed out while waiting for the answer of node2", exchange},
      {"send error",
       [](CTqNetworkScript& s) {
         s.FailSend("node2.sim", FXErrorUtil::ErrorWin32(FXLOC, 10054, "broken pipe"));
       },
       10054, "broken pipe", sendOnly},
      {"send time-out", [](CTqNetworkScript& s) { s.TimeOutSend("node2.sim"); }, 1460,
       "Timed out while sending the system keys to node2", sendOnly},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    channel_.reset(new CTqNetworkScript());
    KeysProbe& c = Coordinator();
    WithPriam();
    c.systemKeyFiles["/etc/dse/keys/system_key"] = "key\n";
    c.encryptedTableRows.push_back(Row("system_key", "k", "id", "AES", 128));
    Answer("node1.sim", "complete", "true");
    k.script(*channel_);

    CQiError e = c.HandleCassandraTDE();
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetCode(), Win32(k.code));
    EXPECT_EQ(e.GetMessage(), k.text);
    std::vector<std::string> expected = {"attach node1.sim", "send node1.sim", "receive node1.sim",
                                         "disconnect node1.sim"};
    expected.insert(expected.end(), k.node2Calls.begin(), k.node2Calls.end());
    EXPECT_EQ(Calls(), expected);
    EXPECT_TRUE(InsertKeys().empty());
    EXPECT_FALSE(c.remoteSession);
  }
}

TEST_F(DseKeyCopyTest, UtilityThatDoesNotStartEndsTheCopy) {
  struct Case {
    const char* name;
    std::vector<std::string> clients;
    std::function<void(CTqNetworkScript&)> script;
    uint32_t code;
    std::string text;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"launch error",
       {"node1", "node2", "node3"},
       [](CTqNetworkScript& s) {
         s.FailLaunch("node2.sim", FXErrorUtil::ErrorWin32(FXLOC, 1067, "no such program"));
       },
       ErrNo(-1),
       "Failed to launch agent on [node2]: no such program",
       {"attach node2.sim"}},
      {"launch time-out",
       {"node1", "node2", "node3"},
       [](CTqNetworkScript& s) { s.TimeOutLaunch("node2.sim"); },
       ErrNo(-1),
       "Timed out while launching CassandraUtil on node2",
       {"attach node2.sim"}},
      {"unknown client",
       {"node1", "ghost", "node3"},
       [](CTqNetworkScript&) {},
       ErrNo(13),
       "Failed to get mangled host name from [ghost].",
       {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    channel_.reset(new CTqNetworkScript());
    KeysProbe& c = Coordinator(k.clients);
    WithPriam();
    c.systemKeyFiles["/k/system_key"] = "key";
    c.encryptedTableRows.push_back(Row("system_key", "k", "id", "AES", 128));
    Answer("node1.sim", "complete", "true");
    k.script(*channel_);

    CQiError e = c.HandleCassandraTDE();
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetCode(), k.code);
    EXPECT_EQ(e.GetMessage(), k.text);
    std::vector<std::string> expected = {"attach node1.sim", "send node1.sim", "receive node1.sim",
                                         "disconnect node1.sim"};
    expected.insert(expected.end(), k.calls.begin(), k.calls.end());
    EXPECT_EQ(Calls(), expected);
    EXPECT_TRUE(InsertKeys().empty());
    EXPECT_FALSE(c.remoteSession);
  }
}

// A key file is checked before any node is contacted: the key message
// carries each content encrypted into 1024 bytes, so 737 bytes fit and 738
// do not; the cipher takes text, so a NUL byte is refused rather than cut.
TEST_F(DseKeyCopyTest, KeyFileThatCannotTravelFailsBeforeAnyNode) {
  struct Case {
    std::string content;
    std::string text;  // "" when it travels
  } cases[] = {
      {std::string(737, 'k'), ""},
      {std::string(738, 'k'),
       "Failed to encrypt the content for key file /etc/dse/keys/big: 738 bytes do not fit the "
       "key message once encrypted (1023 bytes at most)"},
      {std::string("abc\0def", 7),
       "Failed to encrypt the content for key file /etc/dse/keys/big: it holds a NUL byte"},
  };
  for (const Case& k : cases) {
    channel_.reset(new CTqNetworkScript());
    KeysProbe& c = Coordinator({"node1"});
    c.systemKeyFiles["/etc/dse/keys/small"] = "small";
    c.systemKeyFiles["/etc/dse/keys/big"] = k.content;
    Answer("node1.sim", "complete", "true");
    CQiError e = c.HandleCassandraTDE();
    if (k.text.empty()) {
      EXPECT_FALSE(e.IsError()) << e.AsString();
      EXPECT_EQ(channel_->Events(Event::kAttach).size(), 1u);
      continue;
    }
    ASSERT_TRUE(e.IsError()) << k.content.size();
    EXPECT_EQ(e.GetCode(), Win32(774));
    EXPECT_EQ(e.GetMessage(), k.text);
    EXPECT_TRUE(channel_->Events().empty());
  }
}

// The key rows: one "insertKey" per row in list order, a JSON object of five
// strings in a fixed order, every value intact whatever it holds.
TEST_F(DseKeyCopyTest, KeyRowsAreInsertedAsExactJson) {
  KeysProbe& c = Coordinator();
  WithPriam();
  c.encryptedTableRows.push_back(
      Row("system_key", "k\"e\\y/\n\t", "id-1", "AES/ECB/PKCS5Padding", 128));
  c.encryptedTableRows.push_back(Row("other_key", "", "id-2", "DES", 4294967295u));

  CQiError e = c.HandleCassandraTDE();
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_TRUE(channel_->Events().empty());  // no key files: no node is contacted
  std::vector<TqCassandra::ScriptedPriam::Request> inserts = InsertKeys();
  ASSERT_EQ(inserts.size(), 2u);
  EXPECT_EQ(inserts[0].kind, 1);
  EXPECT_EQ(inserts[0].body,
            R"({"key_file":"system_key","key":"k\"e\\y/\n\t","cipher":"AES/ECB/PKCS5Padding",)"
            R"("strength":"128","key_id":"id-1"})");
  EXPECT_EQ(inserts[1].body,
            R"({"key_file":"other_key","key":"","cipher":"DES","strength":"4294967295",)"
            R"("key_id":"id-2"})");
  nlohmann::json parsed = nlohmann::json::parse(inserts[0].body);
  EXPECT_EQ(parsed["key"], "k\"e\\y/\n\t");
}

TEST_F(DseKeyCopyTest, NothingToCopyContactsNobody) {
  KeysProbe& c = Coordinator();
  WithPriam();
  CQiError e = c.HandleCassandraTDE();
  EXPECT_FALSE(e.IsError());
  EXPECT_TRUE(channel_->Events().empty());
  EXPECT_TRUE(InsertKeys().empty());
}

TEST_F(DseKeyCopyTest, FailedInsertStopsTheRows) {
  struct Case {
    CQiError error;
    size_t accessDeniedEvents;
  } cases[] = {
      {FXErrorUtil::ErrorWin32(FXLOC, 5, "Access denied"), 1},
      {FXErrorUtil::ErrorWin32(FXLOC, 500, "InvalidRequest"), 0},
  };
  for (const Case& k : cases) {
    CEventJournal::Instance().Clear();
    KeysProbe& c = Coordinator();
    WithPriam();
    Scripted().SetError("insertKey", k.error, "no");
    c.encryptedTableRows.push_back(Row("a", "k", "1", "AES", 128));
    c.encryptedTableRows.push_back(Row("b", "k", "2", "AES", 128));
    size_t before = InsertKeys().size();
    CQiError e = c.HandleCassandraTDE();
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetCode(), k.error.GetCode());
    EXPECT_EQ(InsertKeys().size(), before + 1);
    EXPECT_EQ(Events(kEvPriamAccessDenied).size(), k.accessDeniedEvents);
  }
}

// Rows that cannot be sent are errors, not crashes: no Priam (a restore
// without recover), or a value that JSON text cannot carry.
TEST_F(DseKeyCopyTest, RowsThatCannotBeSentAreErrors) {
  KeysProbe& c = Coordinator();
  c.encryptedTableRows.push_back(Row("system_key", "k", "1", "AES", 128));
  CQiError e = c.HandleCassandraTDE();
  EXPECT_EQ(e.GetCode(), Win32(87));
  EXPECT_EQ(e.GetMessage(), "No Priam to insert the key row of key file system_key");

  WithPriam();
  c.encryptedTableRows.front().key = "\xff\xfe";
  e = c.HandleCassandraTDE();
  EXPECT_EQ(e.GetCode(), Win32(13));
  EXPECT_EQ(e.GetMessage(), "The key row of key file system_key is not valid text for insertKey");
  EXPECT_TRUE(InsertKeys().empty());
}

}  // namespace
}  // namespace restoretest
