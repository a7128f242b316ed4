// Node, stream and task records, and the small value types.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/framework/FVBase.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/framework/ValueTypes.h"

using namespace DistributedQEL;

namespace {

TEST(FrameworkRecords, NewTaskHasTheFrameworkStartValues) {
  TaskBase task;
  EXPECT_EQ(task.taskId, -1);
  EXPECT_EQ(task.status, 0);
  EXPECT_EQ(task.priority, 50);
  EXPECT_EQ(task.taskKind, 1);
  EXPECT_EQ(task.streamId, 0);
  EXPECT_TRUE(task.reservedNode.empty());
  EXPECT_TRUE(task.runningNode.empty());
  EXPECT_TRUE(task.failedStreams.empty());
  EXPECT_FALSE(task.customInfo);
  EXPECT_EQ(task.failedStreamCount(), 0u);
}

TEST(FrameworkRecords, FailedStreamsCountOverEveryNode) {
  TaskBase task;
  task.failedStreams["a"].insert(1);
  task.failedStreams["a"].insert(1);
  task.failedStreams["a"].insert(2);
  task.failedStreams["b"].insert(1);
  EXPECT_EQ(task.failedStreamCount(), 3u);
}

TEST(FrameworkRecords, CollectFileInfoRidesOnATask) {
  TQDC_FileSystem::CollectFileInfo info;
  EXPECT_EQ(info.collectFileNumber, 0);
  EXPECT_EQ(info.resumeOffset, 0);
  EXPECT_EQ(info.failureCount, 0);
  TaskBasePtr task(new TaskBase());
  auto payload =
      boost::shared_ptr<TQDC_FileSystem::CollectFileInfo>(new TQDC_FileSystem::CollectFileInfo());
  payload->collectFileNumber = 9;
  payload->resumeOffset = -1;
  task->customInfo = payload;
  auto back = boost::dynamic_pointer_cast<TQDC_FileSystem::CollectFileInfo>(task->customInfo);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->collectFileNumber, 9);
  EXPECT_EQ(back->resumeOffset, -1);
  EXPECT_FALSE(
      boost::dynamic_pointer_cast<TQDC_FileSystem::RestoreTaskInfoWrapper>(task->customInfo));
}

TEST(FrameworkRecords, NodeKeepsStreamFiguresPerKind) {
  CNodeInfo node("c1", 3);
  EXPECT_EQ(node.getState(), NODE_NEW);
  EXPECT_TRUE(node.getStreamTypes().empty());
  EXPECT_EQ(node.getStreamLimit(1), 0);
  node.setStreamLimit(1, 16);
  node.setMaxStreamsNeeded(1, 3);
  node.setStreamCount(2, 1);
  EXPECT_EQ(node.getStreamLimit(1), 16);
  EXPECT_EQ(node.getMaxStreamsNeeded(1), 3);
  EXPECT_EQ(node.getStreamCount(1), 0);
  EXPECT_EQ(node.getStreamCount(2), 1);
  EXPECT_EQ(node.getMaxStreamsNeeded(2), 0);
  EXPECT_EQ(node.getStreamTypes(), (std::vector<int>{1, 2}));
  node.setState(NODE_STOPPING);
  node.setStartFailed(true);
  node.setAborted(true);
  EXPECT_EQ(node.getState(), 5);
  EXPECT_TRUE(node.isStartFailed());
  EXPECT_TRUE(node.isAborted());
}

TEST(FrameworkRecords, NodeCarriesACustomPayload) {
  CNodeInfo node("c1", 3);
  EXPECT_FALSE(node.getCustomInfo());
  FVBasePtr payload(new TQDC_FileSystem::CollectFileInfo());
  node.setCustomInfo(payload);
  EXPECT_EQ(node.getCustomInfo(), payload);
}

TEST(FrameworkRecords, StreamStatesTwoToFourAreActive) {
  CStreamInfo stream("c1", 4, 1);
  EXPECT_EQ(stream.getNodeName(), "c1");
  EXPECT_EQ(stream.getStreamNumber(), 4);
  EXPECT_EQ(stream.getStreamKind(), 1);
  EXPECT_EQ(stream.getRequestedTaskKind(), 0);
  for (int state = 0; state <= 8; ++state) {
    stream.setState(state);
    EXPECT_EQ(stream.isActive(), state >= 2 && state <= 4) << state;
  }
}

TEST(FrameworkRecords, StateNumbersAreTheFrameworksOwn) {
  EXPECT_EQ(TASK_NEW, 1);
  EXPECT_EQ(TASK_COMPLETE, 5);
  EXPECT_EQ(TASK_FAILED, 6);
  EXPECT_EQ(TASK_REASSIGN, 7);
  EXPECT_EQ(NODE_RUNNING, 4);
  EXPECT_EQ(NODE_STOPPING, 5);
  EXPECT_EQ(NODE_STOPPED, 6);
  EXPECT_EQ(PHASE_COMPLETE, 1);
  EXPECT_EQ(PHASE_FAILED, 2);
  EXPECT_EQ(PHASE_COMPLETE_WITH_WARNINGS, 14);
}

TEST(FrameworkValueTypes, ConstructedClear) {
  ReportData report;
  for (bool f : report.flags) EXPECT_FALSE(f);
  EXPECT_EQ(report.counter, 0u);
  for (int64_t c : report.counters) EXPECT_EQ(c, 0);
  EXPECT_EQ(sizeof(report.counters) / sizeof(report.counters[0]), 9u);

  GetMediaAgentArgs_t args;
  EXPECT_EQ(args.param1, 0);
  EXPECT_EQ(args.param2, 0);
  EXPECT_EQ(args.param3, 0);
  EXPECT_EQ(args.param4, 0);
  EXPECT_EQ(args.param5, 0);

  GetMediaAgentRet_t ret;
  EXPECT_TRUE(ret.mediaAgentName.empty());

  SQiDirEntry entry;
  ASSERT_NE(entry.name.c_str(), nullptr);
  EXPECT_STREQ(entry.name.c_str(), "");

  CRestoreStatistics statistics;
  EXPECT_TRUE(statistics.timeStamp.IsClear());
  EXPECT_EQ(statistics.bytesRestored, 0);

  TakeAction action;
  EXPECT_EQ(action.action, 0);
}

}  // namespace
