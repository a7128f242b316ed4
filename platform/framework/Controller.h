#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/framework/RemoteAgentClient.h"

namespace DistributedQEL {

// Base of every node controller. The framework makes one per phase on each
// node machine and drives it through the virtual operations below; the
// defaults are the framework's answers for a controller that does not
// override them.
class CController : public TQRemoteAgentClient {
 public:
  CController() = default;

  virtual void OnIdle() {}
  // The framework's start-up step: asks the framework for a start-up report.
  virtual void OnAgentStarted();
  virtual void OnAgentStopped() {}
  // A message arrived from the coordinator: handed to OnMessage.
  virtual CQiError OnMsgReceived(const FrameworkMessagePtr& message);
  // Leaves `name` as it is.
  virtual void getQELLogFileName(std::string& name);
  virtual CQiError OnMessage(const CNMessageBase& message);
  // The configuration's stream count (0 without a configuration).
  virtual int getNumberOfWorkers();
  virtual CQiError OnStartStream(DistributedQEL::StreamInfo* stream);
  virtual CQiError OnStopStream(DistributedQEL::StreamInfo* stream);
  virtual CQiError OnTask(DistributedQEL::TaskInfo* task, bool& flag);
  virtual CQiError OnStopTask(DistributedQEL::TaskInfo* task);
  virtual CQiError OnWaitTask(DistributedQEL::TaskInfo* task);
  virtual CQiError OnControllerStarted() { return CQiError::Success(); }
  virtual CQiError OnControllerIdle() { return CQiError::Success(); }
  // Adds nothing to the reports.
  virtual CQiError SetAdditionalStartupValues(DistributedQEL::ControllerStartup& startup);
  virtual CQiError SetAdditionalCtrlDoneValues(DistributedQEL::ControllerDone& done);
  virtual bool willReportTotalProgressReport() { return false; }
  virtual bool willReportStreamProgress() { return false; }
  virtual bool willReportTaskProgress() { return false; }
  // The node start message of the coordinator.
  virtual CQiError processNodeInit(CNMessageBase* message);
  virtual CQiError HandleJobResultDirectorySync(CNMessageBase* message);
  virtual CQiError OnStopWorker(int worker);
  virtual void SetCmdLineArgs(int argc, char** argv);
  // True once the coordinator has asked the node to stop.
  virtual bool isControllerDone() { return stopRequested_; }
  virtual CQiError UpdateSubclientdirState(DistributedQEL::ControllerStartup& startup);
  // Hands out the base's configuration, making a plain one when there is none.
  virtual CQiError getClientConfigObject(CClientConfigPtr& config);

  const CClientConfigPtr& getClientConfig() const { return clientConfig_; }
  void setClientConfig(const CClientConfigPtr& config) { clientConfig_ = config; }
  // The controller's program arguments (set by the framework before start).
  const CProgramArgumentsPtr& getProgramArguments() const { return programArguments_; }
  void setProgramArguments(const CProgramArgumentsPtr& arguments) { programArguments_ = arguments; }
  // The coordinator has asked the node to stop.
  bool getStopRequested() const { return stopRequested_; }
  void setStopRequested(bool requested) { stopRequested_ = requested; }

 private:
  CClientConfigPtr clientConfig_;
  CProgramArgumentsPtr programArguments_;
  bool stopRequested_ = false;
};
typedef boost::shared_ptr<CController> CControllerPtr;

}  // namespace DistributedQEL
