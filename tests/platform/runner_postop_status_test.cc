// The status of a post-operations phase, which has no tasks: a major event
// raised during it completes it with warnings.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "RunnerTestSupport.h"
#include "platform/framework/Controller.h"
#include "platform/framework/Coordinator.h"
#include "platform/log/EvEvent.h"
#include "platform/msg/FrameworkRecords.h"

namespace {

using TqRunner::CJobRunner;
using TqRunner::JobResult;

// The nodes whose controller raises an event of this severity when it
// starts; read by the controllers' threads only after the job started.
std::set<std::string> g_raising;
int g_severity = CEventJournal::kMajor;

class Coordinator : public DistributedQEL::ICoordinator {
 public:
  CQiError loadNodeConfiguration() override {
    for (const char* name : {"nodeA", "nodeB"}) {
      CQiError error = addNode(name);
      if (error.IsError()) return error;
    }
    return CQiError::Success();
  }
  CQiError getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr&,
                                          FrameworkMessagePtr& message) override {
    message.reset(new DistributedQEL::NodeInit());
    return CQiError::Success();
  }
};

class Controller : public DistributedQEL::CController {
 public:
  CQiError OnControllerStarted() override {
    if (g_raising.count(getClientName())) {
      EvEvent event;
      event << "no start";
      if (g_severity == CEventJournal::kMajor) event.MajorEvent(0x60003D4);
      if (g_severity == CEventJournal::kInfo) event.InfoEvent(0x60003D7);
    }
    done_ = true;
    return CQiError::Success();
  }
  bool isControllerDone() override { return done_; }

 private:
  bool done_ = false;
};

DistributedQEL::ICoordinator* MakeCoordinator(const char* kind) {
  return std::string(kind) == "postop" ? new Coordinator() : nullptr;
}
DistributedQEL::CController* MakeController(const char* kind) {
  return std::string(kind) == "postop" ? new Controller() : nullptr;
}

class RunnerPostOpStatus : public RunnerTest {};

TEST_F(RunnerPostOpStatus, AMajorEventCompletesThePhaseWithWarnings) {
  struct Case {
    const char* name;
    std::set<std::string> raising;
    int severity;
    int status;
  } cases[] = {
      {"no event", {}, CEventJournal::kMajor, PHASE_COMPLETE},
      {"information only", {"nodeB"}, CEventJournal::kInfo, PHASE_COMPLETE},
      {"major event", {"nodeB"}, CEventJournal::kMajor, PHASE_COMPLETE_WITH_WARNINGS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CEventJournal::Instance().Clear();
    g_raising = c.raising;
    g_severity = c.severity;
    TqRunner::JobSpec spec = Spec();
    spec.coordinatorFactory = &MakeCoordinator;
    spec.controllerFactory = &MakeController;
    spec.phases = {"postop"};
    JobResult result = CJobRunner(spec).Run();
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.phases.size(), 1u);
    EXPECT_EQ(result.phases[0].status, c.status);
    EXPECT_EQ(result.status, c.status);
  }
  g_raising.clear();
}

}  // namespace
