// A thread the system cannot give the runner fails the job, with the reason,
// and never ends the process.

#include <gtest/gtest.h>

#include "E2eFixture.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/runner/ThreadStart.h"

namespace {

using e2e::E2eTest;

class ThreadStartTest : public E2eTest {
 protected:
  void TearDown() override {
    TqRunner::CThreadStart::SetHook(nullptr);
    E2eTest::TearDown();
  }
};

TEST_F(ThreadStartTest, AStreamOrControllerThreadThatCannotStartFailsTheJob) {
  MakeCluster();
  struct Case {
    const char* refused;  // the start of the refused thread's description
    const char* message;
  };
  for (const Case& c : {Case{"stream ", "Cannot start the thread of stream "},
                        Case{"the controller of node node2",
                             "Cannot start the thread of the controller of node node2"}}) {
    const std::string refused = c.refused;
    TqRunner::CThreadStart::SetHook(
        [refused](const std::string& what) { return what.rfind(refused, 0) != 0; });
    TqRunner::JobResult result = Backup(TQBkpLevel_Full);
    TqRunner::CThreadStart::SetHook(nullptr);
    EXPECT_EQ(result.status, PHASE_FAILED) << c.refused;
    bool found = false;
    for (const auto& phase : result.phases) {
      if (phase.name == "backup") {
        found = true;
        EXPECT_NE(phase.message.find(c.message), std::string::npos) << phase.message;
        EXPECT_NE(phase.message.find("Resource temporarily unavailable"), std::string::npos)
            << phase.message;
      }
    }
    EXPECT_TRUE(found);
  }
}

}  // namespace
