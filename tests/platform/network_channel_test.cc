// The remote-command channel: starting a program for a suite client, its
// failures and time-outs, the test switches, and the framing of records.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/network/TqNetworkFrame.h"
#include "platform/network/TqRemoteCommandPeer.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"
#include "tests/platform/TempDir.h"

namespace {

uint32_t Win32(uint32_t code) { return CQiError::MakeCode(CQiError::kWin32, code); }

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class RemoteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    CRegistry::Instance().Set("RemoteCommand", "sProgramDirectory", home_.Sub("programs"));
    SClientRecord client;
    client.id = 7;
    client.name = "node7";
    client.hostName = "node7.sim";
    client.mangledHostName = "node7.remote";
    CClientDirectory::Instance().Add(client);
    simtest::WriteScript(home_.Sub("programs/exits"),
                         "echo 'cannot start: no node here' >&2; exit 3");
    simtest::WriteScript(home_.Sub("programs/silent"),
                         "echo $$ > " + home_.Sub("silent.pid") + "; exec sleep 30");
    simtest::WriteScript(home_.Sub("programs/args"), "printf '%s\\n' \"$@\" > " +
                                                         home_.Sub("args.txt") + "; env > " +
                                                         home_.Sub("env.txt") + "; exit 4");
  }
  void TearDown() override {
    CTqNetwork::ClearFaults();
    CRegistry::Instance().Remove("RemoteCommand", "sProgramDirectory");
    CClientDirectory::Instance().Clear();
    CClientContext::SetSuiteHome("");
    simtest::KillLeftChildren();
  }

  static CNSession::tqsExecuteRemoteCommandType Command(const std::string& program,
                                                        const std::string& arguments = "") {
    CNSession::tqsExecuteRemoteCommandType command;
    command.setField1(0);
    command.setProgram(program);
    command.setArguments(arguments);
    command.setWaitFlag(1);
    command.setField5(0);
    return command;
  }

  TempDir home_;
};

TEST_F(RemoteCommandTest, LaunchFailuresAreErrorsWithTheirText) {
  struct Case {
    const char* program;
    const char* host;
    uint32_t code;
    std::string text;
  } cases[] = {
      {"../escape", "node7.remote", 87, "Invalid remote program name [../escape]"},
      {"", "node7.remote", 87, "Invalid remote program name []"},
      {"missing", "node7.remote", 2,
       "Cannot start remote program missing (" + home_.Sub("programs") +
           "/missing): No such file or directory"},
      {"exits", "unknown.host", 1168, "No suite client is reachable as host [unknown.host]"},
      // A client with a mangled host name is reached only under that name.
      {"exits", "node7.sim", 1168, "No suite client is reachable as host [node7.sim]"},
      {"exits", "node7.remote", 1067,
       "exits on node7.remote ended (exit status 3) before it connected: cannot start: no node "
       "here"},
  };
  for (const Case& c : cases) {
    CTqNetwork network;
    bool timedOut = true;
    CQiError e =
        network.Attach_RemoteCommand(c.host, Command(c.program), nullptr, "coord", 5, timedOut);
    ASSERT_TRUE(e.IsError()) << c.program << " " << c.host;
    EXPECT_EQ(e.GetCode(), Win32(c.code)) << c.program;
    EXPECT_EQ(e.GetMessage(), c.text);
    EXPECT_FALSE(timedOut);
    uint32_t code = 0;
    CQiString text;
    network.GetLastErrorGenericText(code, text, 0);
    EXPECT_EQ(code, Win32(c.code));
    EXPECT_EQ(text.str(), c.text);
    EXPECT_FALSE(network.IsConnected());
    EXPECT_EQ(network.ProgramPid(), -1);
  }
}

TEST_F(RemoteCommandTest, ProgramGetsItsArgumentsAndTheClientsIdentity) {
  CTqNetwork network;
  bool timedOut = false;
  CQiError e = network.Attach_RemoteCommand(
      "node7.remote", Command("args", " 42 -systemKeyCopy \"a b\"\t\"q\\\"x\" $HOME;ls"), nullptr,
      "coordinator1", 5, timedOut);
  ASSERT_TRUE(e.IsError());  // it ends without connecting
  EXPECT_EQ(Lines(home_.Sub("args.txt")),
            (std::vector<std::string>{"42", "-systemKeyCopy", "a b", "q\"x", "$HOME;ls"}));
  std::string endpoint;
  std::vector<std::string> expected = {"TQ_CLIENT_NAME=node7", "TQ_CLIENT_ID=7",
                                       "TQ_SUITE_HOME=" + home_.path(),
                                       "TQ_REMOTE_REQUESTER=coordinator1"};
  std::vector<std::string> env = Lines(home_.Sub("env.txt"));
  for (const std::string& want : expected) {
    EXPECT_NE(std::find(env.begin(), env.end(), want), env.end()) << want;
  }
  for (const std::string& line : env) {
    if (line.rfind("TQ_REMOTE_ENDPOINT=", 0) == 0) endpoint = line.substr(19);
  }
  ASSERT_FALSE(endpoint.empty());
  // The private folder of the connection is gone with it.
  EXPECT_NE(::access(endpoint.substr(0, endpoint.rfind('/')).c_str(), F_OK), 0);
}

TEST_F(RemoteCommandTest, LaunchTimeOutEndsTheProgramWithoutAnError) {
  CTqNetwork network;
  bool timedOut = false;
  CQiError e =
      network.Attach_RemoteCommand("node7.remote", Command("silent"), nullptr, "c", 1, timedOut);
  EXPECT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_TRUE(timedOut);
  EXPECT_FALSE(network.IsConnected());
  std::string pid = simtest::ReadFile(home_.Sub("silent.pid"));
  ASSERT_FALSE(pid.empty());
  EXPECT_FALSE(simtest::ProcessExists(std::stoi(pid)));
}

TEST_F(RemoteCommandTest, InjectedFaultsApplyToTheirHost) {
  SClientRecord other;
  other.id = 8;
  other.name = "node8";
  other.hostName = "node8.sim";
  CClientDirectory::Instance().Add(other);
  CTqNetwork::InjectFault("node7.remote", CTqNetwork::kLaunchFails);
  CTqNetwork network;
  bool timedOut = false;
  CQiError e = network.Attach_RemoteCommand("node7.remote", Command("RoVerodaruvErad"), nullptr,
                                            "c", 5, timedOut);
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetCode(), Win32(1067));
  EXPECT_EQ(e.GetMessage(),
            "The remote-command service could not start RoVerodaruvErad on "
            "node7.remote");
  // The other host still starts its program for real (and it fails for real).
  e = network.Attach_RemoteCommand("node8.sim", Command("exits"), nullptr, "c", 5, timedOut);
  EXPECT_NE(e.GetMessage().find("exits on node8.sim ended (exit status 3)"), std::string::npos)
      << e.GetMessage();

  CTqNetwork::InjectFault("", CTqNetwork::kLaunchTimesOut);
  e = network.Attach_RemoteCommand("node8.sim", Command("exits"), nullptr, "c", 5, timedOut);
  EXPECT_FALSE(e.IsError());
  EXPECT_TRUE(timedOut);
  EXPECT_FALSE(network.IsConnected());

  CTqNetwork::ClearFaults();
  e = network.Attach_RemoteCommand("node8.sim", Command("exits"), nullptr, "c", 5, timedOut);
  EXPECT_EQ(e.GetCode(), Win32(1067));
  EXPECT_FALSE(timedOut);
}

TEST_F(RemoteCommandTest, ExchangesNeedAConnection) {
  CTqNetwork network;
  bool timedOut = true;
  CQiError e = network.SendXMLMessage(DistributedQEL::DINameValue("a", "b"), 0, -1, timedOut);
  EXPECT_EQ(e.GetCode(), Win32(10057));
  EXPECT_FALSE(timedOut);
  CNMessageBasePtr message;
  e = network.ReceiveXMLMessage(nullptr, message, nullptr, 0, -1, timedOut);
  EXPECT_EQ(e.GetCode(), Win32(10057));
  EXPECT_EQ(message, nullptr);
  e = network.Disconnect(10, timedOut);
  EXPECT_FALSE(e.IsError());
}

TEST(RemoteCommandPeerTest, ProgramNotStartedByTheChannelCannotConnect) {
  ::unsetenv(CTqRemoteCommandPeer::kEndpointVariable);
  CTqRemoteCommandPeer peer;
  CQiError e = peer.Connect();
  EXPECT_EQ(e.GetCode(), Win32(2));
  e = peer.Connect("/nonexistent/tq-socket");
  EXPECT_TRUE(e.IsError());
  EXPECT_FALSE(peer.IsConnected());
}

// ---- framing ----

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  void Raw(const std::string& bytes) {
    ASSERT_EQ(::write(fds_[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  static std::string Head(uint32_t size) {
    return std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size)};
  }
  CTqNetworkFrame::Result Receive(CNMessageBasePtr& message, int timeoutSecs = 1) {
    int error = 0;
    return CTqNetworkFrame::Receive(fds_[1], message, timeoutSecs, error);
  }
  int fds_[2] = {-1, -1};
};

TEST_F(FrameTest, RecordArrivesWholeWhateverItsKind) {
  CNSession::tqsExecuteRemoteCommandType command;
  command.setProgram("RoVerodaruvErad");
  command.setArguments("7 -systemKeyCopy <&>\"'\x01");
  command.setWaitFlag(1);
  int error = 0;
  ASSERT_EQ(CTqNetworkFrame::Send(fds_[0], command, -1, error), CTqNetworkFrame::kOk);
  ASSERT_EQ(
      CTqNetworkFrame::Send(fds_[0], DistributedQEL::DINameValue("complete", "true"), -1, error),
      CTqNetworkFrame::kOk);
  CNMessageBasePtr first, second;
  ASSERT_EQ(Receive(first), CTqNetworkFrame::kOk);
  ASSERT_EQ(Receive(second), CTqNetworkFrame::kOk);
  EXPECT_EQ(*first, static_cast<const CNMessageBase&>(command));
  std::optional<DistributedQEL::DINameValue> value = RecordAs<DistributedQEL::DINameValue>(*second);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->getName(), "complete");
  EXPECT_EQ(value->getValue(), "true");
}

TEST_F(FrameTest, BrokenStreamsAreReportedNotRead) {
  CNMessageBasePtr message;
  // Nothing to read within the time-out.
  EXPECT_EQ(Receive(message, 0), CTqNetworkFrame::kTimedOut);
  // A length beyond the limit is refused before anything is allocated.
  Raw(Head(CTqNetworkFrame::kMaxFrameBytes + 1));
  EXPECT_EQ(Receive(message), CTqNetworkFrame::kBadFrame);
  EXPECT_EQ(message, nullptr);
}

TEST_F(FrameTest, TextThatIsNoRecordIsRefused) {
  for (const std::string& text : {std::string("not xml"), std::string("<a ns=\"x\" class=\"1\"/>"),
                                  std::string("<a ns=\"119\"/>"),
                                  std::string("<a ns=\"119\" class=\"13\"><f n=\"x\"/></a>")}) {
    Raw(Head(static_cast<uint32_t>(text.size())) + text);
    CNMessageBasePtr message;
    EXPECT_EQ(Receive(message), CTqNetworkFrame::kBadRecord) << text;
    EXPECT_EQ(message, nullptr);
  }
}

TEST_F(FrameTest, ClosedConnectionMidFrame) {
  Raw(Head(100) + "<partial");
  ::close(fds_[0]);
  fds_[0] = -1;
  CNMessageBasePtr message;
  EXPECT_EQ(Receive(message), CTqNetworkFrame::kClosed);
}

}  // namespace
