// Every message between the coordinator and the controllers travels as XML
// text: serialised by the sender, made anew from the catalogue and read back
// by the receiver. A message that cannot make the trip is an error.

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/runner/MessageCarrier.h"

using TqRunner::CJobRunner;
using TqRunner::CMessageCarrier;
using TqRunner::JobResult;
using TqRunner::RunnerEvent;

namespace {

class RunnerMessages : public RunnerTest {
 protected:
  // Records the messages the runner carried.
  TqRunner::JobSpec Observed() {
    TqRunner::JobSpec spec = Spec();
    spec.observer = [this](const RunnerEvent& event) {
      if (event.kind != RunnerEvent::kMessage) return;
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(event);
    };
    return spec;
  }
  int Count(const std::string& record, const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& m : messages_) {
      if (m.recordName == record && m.from == from && m.to == to) ++n;
    }
    return n;
  }

  std::mutex mutex_;
  std::vector<RunnerEvent> messages_;
};

TEST_F(RunnerMessages, EveryMessageTravelsAsXmlText) {
  JobResult result = CJobRunner(Observed()).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  for (const std::string node : {"nodeA", "nodeB"}) {
    EXPECT_EQ(Count("ControllerStartup", node, "coordinator"), 2) << node;
    EXPECT_EQ(Count("RunnerTestCreateRequest", "coordinator", node), 1) << node;
    EXPECT_EQ(Count("NodeInit", "coordinator", node), 1) << node;
    EXPECT_EQ(Count("TaskInfo", "coordinator", node), 2) << node;
    EXPECT_EQ(Count("NodeStop", "coordinator", node), 1) << node;
    EXPECT_EQ(Count("ControllerDone", node, "coordinator"), 1) << node;
  }
  // Each text reads back as the record it names.
  for (const auto& message : messages_) {
    FrameworkMessagePtr record;
    ASSERT_FALSE(CMessageCarrier::Receive(message.xml, record).IsError()) << message.xml;
    EXPECT_EQ(record->getTagName(), message.recordName);
    if (message.recordName == "RunnerTestCreateRequest") {
      EXPECT_EQ(record->getstring(1, 1), message.to);
    }
    if (message.recordName == "TaskInfo") {
      auto task = RecordAs<DistributedQEL::TaskInfo>(*record);
      ASSERT_TRUE(task && task->getTaskId());
      const int id = static_cast<int>(task->getTaskId()->getTaskId());
      EXPECT_EQ(task->getPayload(), std::to_string(id) + "|-1");
    }
  }
  // The controllers received new records made from the text, not the
  // coordinator's objects.
  EXPECT_EQ(world().RequestsReceived(), 2);
  EXPECT_EQ(world().RequestsAsObjects(), 0);
}

TEST_F(RunnerMessages, ObserverHearsOfPhasesNodesStreamsAndTaskProgress) {
  TqRunner::JobSpec spec = Spec();
  std::vector<RunnerEvent> events;
  spec.observer = [&events](const RunnerEvent& event) {
    if (event.kind != RunnerEvent::kMessage) events.push_back(event);
  };
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  std::vector<std::string> phases;
  int lastComplete = 0, completions = 0, streamStarts = 0, stopped = 0;
  for (const auto& e : events) {
    if (e.kind == RunnerEvent::kPhase) phases.push_back(e.phase + " " + e.text);
    if (e.kind == RunnerEvent::kStream && e.text == "start") ++streamStarts;
    if (e.kind == RunnerEvent::kNode && e.status == DistributedQEL::NODE_STOPPED) ++stopped;
    if (e.kind == RunnerEvent::kTask && e.status == DistributedQEL::TASK_COMPLETE) {
      ++completions;
      EXPECT_EQ(e.tasksComplete, lastComplete + 1);
      EXPECT_LE(e.tasksComplete, e.tasksTotal);
      EXPECT_EQ(e.phase, "backup");
      lastComplete = e.tasksComplete;
    }
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"scan start", "scan skipped", "backup start",
                                              "backup complete"}));
  EXPECT_EQ(completions, 4);
  EXPECT_EQ(lastComplete, 4);
  EXPECT_EQ(streamStarts, 4);
  EXPECT_EQ(stopped, 2);
}

TEST_F(RunnerMessages, ControllerMessageReachesTheCoordinatorBeforeItsNodeStops) {
  world().noticeOnStop = true;
  JobResult result = CJobRunner(Spec()).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  std::vector<std::string> calls = world().CoordinatorCalls();
  for (const std::string node : {"nodeA", "nodeB"}) {
    auto notice =
        std::find(calls.begin(), calls.end(), "processMessage RunnerTestNotice stopped " + node);
    auto stopped = std::find(calls.begin(), calls.end(), "OnNodeChange " + node + " 6");
    ASSERT_NE(notice, calls.end()) << node;
    EXPECT_LT(notice, stopped) << node;
  }
}

struct StartFailure {
  const char* name;
  void (*inject)(runner_test::World&);
  const char* failure;  // part of the node's failure text
};

class RunnerStartFailures : public RunnerTest,
                            public ::testing::WithParamInterface<StartFailure> {};

TEST_P(RunnerStartFailures, NodeFailsToStartAndTheOthersGoOn) {
  const StartFailure& c = GetParam();
  TqRunner::JobSpec spec = Spec();
  c.inject(world());
  JobResult result = CJobRunner(spec).Run();
  const TqRunner::PhaseResult* phase = Phase(result, "backup");
  ASSERT_NE(phase, nullptr);
  EXPECT_EQ(phase->endReason, "complete");
  ASSERT_EQ(phase->nodes.size(), 2u);
  const TqRunner::NodeRecord& a = phase->nodes[0];
  const TqRunner::NodeRecord& b = phase->nodes[1];
  EXPECT_FALSE(a.startFailed);
  EXPECT_EQ(a.failure, "");
  EXPECT_TRUE(b.startFailed);
  EXPECT_EQ(b.state, DistributedQEL::NODE_STOPPED);
  EXPECT_NE(b.failure.find(c.failure), std::string::npos) << b.failure;
  // The coordinator heard of it, and the node's controller was still stopped,
  // with the done report of a controller that failed to start.
  std::vector<std::string> calls = world().CoordinatorCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "OnNodeChange nodeB 6 failed"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      "ControllerDone nodeB 3 CassandraNodeBackupTime=1700000000"),
            calls.end());
  int stops = 0;
  for (const auto& call : world().NodeCalls()) stops += call == "nodeB: OnAgentStopped";
  EXPECT_EQ(stops, 1);
  // Node A's tasks ran; node B got none.
  for (const auto& task : phase->tasks) {
    EXPECT_EQ(task.reservedNode, "nodeA");
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE);
  }
  EXPECT_EQ(phase->status, PHASE_COMPLETE_WITH_WARNINGS);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, RunnerStartFailures,
    ::testing::Values(StartFailure{"AcknowledgementTooDeep",
                                   [](runner_test::World& w) { w.deepAckNodes = {"nodeB"}; },
                                   "Failed to serialize message RunnerTestCreateRequest"},
                      StartFailure{"StartupReportTooDeep",
                                   [](runner_test::World& w) { w.deepStartupNodes = {"nodeB"}; },
                                   "Failed to serialize message ControllerStartup"},
                      StartFailure{"AcknowledgementRefused",
                                   [](runner_test::World& w) { w.failAckNodes = {"nodeB"}; },
                                   "Failed to get metaData from Priam. Not continuing."}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return info.param.name; });

TEST(RunnerMessageCarrier, RecordMakesTheTripAndComesBackEqual) {
  DistributedQEL::ControllerStartup startup;
  startup.setValues({DistributedQEL::DINameValue("CollectFileCount", "10"),
                     DistributedQEL::DINameValue("FailedInstances", "a|b<&>,")});
  std::string xml;
  ASSERT_FALSE(CMessageCarrier::Serialize(startup, xml).IsError());
  FrameworkMessagePtr record;
  ASSERT_FALSE(CMessageCarrier::Receive(xml, record).IsError());
  EXPECT_EQ(record->getNamespaceId(), 119u);
  EXPECT_EQ(record->getClassId(), DistributedQEL::ControllerStartup::kClassId);
  EXPECT_TRUE(*record == startup);
  DistributedQEL::ControllerStartup typed;
  ASSERT_FALSE(CMessageCarrier::ReceiveInto(xml, typed).IsError());
  EXPECT_TRUE(typed == startup);
}

TEST(RunnerMessageCarrier, TextsThatAreNoKnownRecordAreError13) {
  runner_test::Unknown unknown;
  unknown.setstring(1, 1, "x");
  std::string unknownXml;
  ASSERT_FALSE(CMessageCarrier::Serialize(unknown, unknownXml).IsError());
  DistributedQEL::NodeStop stop;
  std::string stopXml;
  ASSERT_FALSE(CMessageCarrier::Serialize(stop, stopXml).IsError());

  struct Case {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"not in the catalogue", unknownXml, "is not in the catalogue"},
      {"not XML", "<<<", "no message record"},
      {"empty", "", "no message record"},
      {"no class", "<NodeStop ns=\"119\"/>", "no message record"},
      {"bad field", "<NodeStop ns=\"119\" class=\"38\"><f n=\"x\"/></NodeStop>",
       "Failed to unserialize message NodeStop"},
  };
  for (const auto& c : cases) {
    FrameworkMessagePtr record;
    CQiError error = CMessageCarrier::Receive(c.text, record);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << c.name;
    EXPECT_NE(error.AsString().find(c.message), std::string::npos)
        << c.name << ": " << error.AsString();
    EXPECT_FALSE(record) << c.name;
  }
  // A text of another record does not read into a typed one.
  DistributedQEL::ControllerDone done;
  EXPECT_TRUE(FXErrorUtil::IsWin32(CMessageCarrier::ReceiveInto(stopXml, done), 13));
}

TEST(RunnerMessageCarrier, RecordTooDeepToSerialiseIsError13) {
  runner_test::CreateRequest request;
  runner_test::MakeTooDeep(request);
  std::string xml = "unchanged";
  CQiError error = CMessageCarrier::Serialize(request, xml);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13));
  EXPECT_NE(error.AsString().find("Failed to serialize message RunnerTestCreateRequest"),
            std::string::npos);
  EXPECT_EQ(xml, "unchanged");
}

}  // namespace
