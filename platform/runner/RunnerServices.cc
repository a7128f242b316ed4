#include "platform/runner/RunnerServices.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/runner/PhaseEngine.h"

namespace TqRunner {

namespace {

CQiError PhaseOver(const FXCodeLocation& location) {
  return FXErrorUtil::ErrorWin32(location, 1359, "The phase has ended");
}

}  // namespace

CQiError CRunnerServices::addNode(uint32_t clientId, DistributedQEL::CNodeInfoPtr& node) {
  auto engine = engine_.lock();
  if (!engine) return PhaseOver(FXLOC);
  return engine->AddNode(&clientId, nullptr, node);
}

CQiError CRunnerServices::addNode(const std::string& clientName,
                                  DistributedQEL::CNodeInfoPtr& node) {
  auto engine = engine_.lock();
  if (!engine) return PhaseOver(FXLOC);
  return engine->AddNode(nullptr, &clientName, node);
}

CQiError CRunnerServices::addWorker(const std::string& clientName, bool backupWorker,
                                    const PropertyMap&) {
  auto engine = engine_.lock();
  if (!engine) return PhaseOver(FXLOC);
  return engine->AddWorker(clientName, backupWorker);
}

CQiError CRunnerServices::getStreams(std::vector<DistributedQEL::CStreamInfoPtr>& streams,
                                     const DistributedQEL::CNodeInfoPtr& node, int status,
                                     int kind) {
  auto engine = engine_.lock();
  if (!engine) return PhaseOver(FXLOC);
  return engine->GetStreams(streams, node, status, kind);
}

CQiError CRunnerServices::sendMessageToNode(const std::string& clientName,
                                            const FrameworkMessagePtr& message) {
  auto engine = engine_.lock();
  if (!engine) return PhaseOver(FXLOC);
  return engine->SendMessageToNode(clientName, message);
}

int64_t CRunnerServices::GetTaskCommitOffset(int taskId) {
  auto engine = engine_.lock();
  return engine ? engine->GetTaskCommitOffset(taskId) : -1;
}

CQiError CRunnerServices::CommitTaskOffset(int taskId, int64_t offset) {
  auto engine = engine_.lock();
  if (!engine) return PhaseOver(FXLOC);
  return engine->CommitTaskOffset(taskId, offset);
}

bool CRunnerServices::SendMsgToServer(const std::string& clientName,
                                      const FrameworkMessagePtr& message) {
  auto engine = engine_.lock();
  return engine && engine->SendMsgToServer(clientName, message);
}

void CRunnerServices::RequestStartupReport(const std::string& clientName) {
  auto engine = engine_.lock();
  if (engine) engine->RequestStartupReport(clientName);
}

}  // namespace TqRunner
