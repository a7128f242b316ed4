#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/base/FXMutex.h"
#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// Base of every job-phase coordinator. The framework makes one per phase and
// drives it through the virtual operations below; the defaults are the
// framework's answers for a coordinator that does not override them.
//
// The base keeps the phase's node list and task list. Both, and every task on
// the task list, are changed only under the coordinator lock (a recursive
// mutex); the framework takes the same lock when it reads them.
class ICoordinator {
 public:
  typedef std::map<std::string, std::string> PropertyMap;

  ICoordinator();
  virtual ~ICoordinator();
  ICoordinator(const ICoordinator&) = delete;
  ICoordinator& operator=(const ICoordinator&) = delete;

  virtual void OnIdle() {}
  virtual bool isBackupJob() const { return false; }
  virtual bool shouldSkipThisPhase() const { return false; }
  virtual bool shouldExecCommand() const { return false; }
  virtual bool shouldDistributeSubclientDirectory() const { return false; }
  // Leaves `name` as it is.
  virtual void getQELLogFileName(std::string& name);
  // Name of the command a node runs; "" for none.
  virtual std::string getNodeCommandName() { return ""; }
  // Hands out the base's configuration, making a plain one when there is none.
  virtual CQiError getClientConfigObject(CClientConfigPtr& config);
  // Keeps the configuration (when given), the arguments and both job clients.
  virtual CQiError initialize(CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                              TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient);
  virtual CQiError loadNodeConfiguration() { return CQiError::Success(); }
  virtual CQiError getStreamReservationInfoForNode(CNodeInfoPtr& node);
  // Leaves `arguments` as they are.
  virtual CQiError getCommandArgumentsForNode(CNodeInfoPtr& node, std::string& arguments);
  // Leaves `message` as it is.
  virtual CQiError getNodeStartAcknowledgeMessage(CNodeInfoPtr& node, FrameworkMessagePtr& message);
  virtual void ControllerStarted(CNodeInfoPtr& node, DistributedQEL::ControllerStartup* startup);
  virtual void ControllerDone(CNodeInfoPtr& node, DistributedQEL::ControllerDone* done);
  virtual bool supportsGeoMediaAgent() { return false; }
  // Both forms succeed without a task: `task` is left as it is. A class that
  // overrides one form should bring the other in with a using-declaration.
  virtual CQiError getTask(CNodeInfoPtr& node, CStreamInfoPtr& stream, TaskInfoPtr& task);
  virtual CQiError getTask(CNodeInfoPtr& node, TaskBasePtr& taskRecord, TaskInfoPtr& task);
  virtual bool isArchiveIndexRequired() { return true; }
  virtual bool isMAExchangeAllowed() { return maExchangeAllowed_; }
  // The change handlers ask for no action (0) and succeed.
  virtual CQiError OnStreamChange(const CStreamInfoPtr& stream, TakeAction& action);
  virtual CQiError OnTaskChange(const TaskBasePtr& task, TakeAction& action);
  virtual CQiError OnNodeChange(const CNodeInfoPtr& node, TakeAction& action);
  virtual CQiError OnTaskComplete(TaskBasePtr& task, DistributedQEL::TaskComplete* complete);
  virtual bool shouldFailOnIncompleteTask() { return true; }
  // Empties `reports`.
  virtual CQiError GetReportsObject(CCoordinatorReportsPtr& reports);
  // Leave their outputs as they are.
  virtual CQiError GetTaskPayload(const TaskBasePtr& task, std::string& payload);
  virtual CQiError GetTaskParameters(std::string& parameters);
  virtual bool ShouldCompletePhaseNow() { return false; }
  virtual bool IsTaskCommitted(const TaskBasePtr& task);
  virtual CQiError Prepare() { return CQiError::Success(); }
  virtual CQiError GetFileListAndSourcePath(std::vector<std::string>& files,
                                            std::string& sourcePath);
  virtual CQiError OnSkipPhase(TQJobClientPtr jobClient);
  virtual int getJMControlRole() { return 1; }
  // A message a node controller sent to the coordinator.
  virtual CQiError processMessage(const CNMessageBase& message);
  virtual CQiError OnComplete() { return CQiError::Success(); }
  // The registered node record of a suite client; empty when none.
  virtual CNodeInfoPtr findNodeInfoByNodeName(const std::string& clientName);

  // Registers a suite client as a node of the phase (by id or client name);
  // a client already registered is not added twice. Needs framework services.
  CQiError addNode(uint32_t clientId);
  CQiError addNode(const std::string& clientName);
  CQiError addWorker(const std::string& clientName, bool backupWorker,
                     const PropertyMap& properties);
  CQiError getStreams(std::vector<CStreamInfoPtr>& streams, const CNodeInfoPtr& node, int status,
                      int kind);
  CQiError sendMessageToNode(const std::string& clientName, const FrameworkMessagePtr& message);

  // Start every node's controller at once.
  void setStartAllNodesAtOnce(bool flag) { startAllNodesAtOnce_ = flag; }
  bool getStartAllNodesAtOnce() const { return startAllNodesAtOnce_; }
  // Check stream reservations before starting a node.
  void setStreamReservationCheckRequired(bool flag) { streamReservationCheckRequired_ = flag; }
  bool getStreamReservationCheckRequired() const { return streamReservationCheckRequired_; }
  // Start a controller on every registered node.
  void setStartAllNodes(bool flag) { startAllNodes_ = flag; }
  bool getStartAllNodes() const { return startAllNodes_; }
  void setMAExchangeAllowed(bool flag) { maExchangeAllowed_ = flag; }

  void setFrameworkServices(const IFrameworkServicesPtr& services) { services_ = services; }
  const IFrameworkServicesPtr& getFrameworkServices() const { return services_; }

  // The coordinator lock and the lists it guards. getNodeList and getTaskList
  // give the lists themselves (hold the lock while using them); getNodes and
  // getTasks give copies taken under the lock.
  FXMutex& getCoordinatorLock() const { return lock_; }
  std::vector<CNodeInfoPtr>& getNodeList() { return nodeList_; }
  std::vector<TaskBasePtr>& getTaskList() { return taskList_; }
  std::vector<CNodeInfoPtr> getNodes() const;
  std::vector<TaskBasePtr> getTasks() const;
  void addTask(const TaskBasePtr& task);

  const CClientConfigPtr& getClientConfig() const { return clientConfig_; }
  void setClientConfig(const CClientConfigPtr& config) { clientConfig_ = config; }
  const CProgramArgumentsPtr& getProgramArguments() const { return programArguments_; }
  const TQJobClientPtr& getJobClient() const { return jobClient_; }
  void setJobClient(const TQJobClientPtr& client) { jobClient_ = client; }
  const TQJobCtrlClientPtr& getJobCtrlClient() const { return jobCtrlClient_; }
  void setJobCtrlClient(const TQJobCtrlClientPtr& client) { jobCtrlClient_ = client; }

 private:
  CQiError RegisterNode(CQiError result, const CNodeInfoPtr& node);

  mutable FXMutex lock_;
  std::vector<CNodeInfoPtr> nodeList_;
  std::vector<TaskBasePtr> taskList_;
  CClientConfigPtr clientConfig_;
  CProgramArgumentsPtr programArguments_;
  TQJobClientPtr jobClient_;
  TQJobCtrlClientPtr jobCtrlClient_;
  IFrameworkServicesPtr services_;
  bool startAllNodesAtOnce_ = false;
  bool streamReservationCheckRequired_ = false;
  bool startAllNodes_ = false;
  bool maExchangeAllowed_ = false;
};

}  // namespace DistributedQEL
