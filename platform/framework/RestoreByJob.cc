#include "platform/framework/RestoreByJob.h"

#include <set>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/StartClientRestoreDistributed.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"

namespace TQDC_FileSystem {

namespace {

// The framework's launcher of a restore by job: one record per archive file,
// each naming the node whose items it holds.
class CRestoreByJobLauncher : public CStartClientRestoreDistributed {
 public:
  CRestoreByJobLauncher(TQJobCtrlClient* jobCtrlClient, bool baseFlag)
      : CStartClientRestoreDistributed(nullptr, jobCtrlClient, baseFlag, false) {
    distributedRestore = true;
    perArchiveFileRecords = true;
  }
};

}  // namespace

CQiError CRestoreByJob::PrepareRestoreParameters(DistributedQEL::CClientConfigPtr& config,
                                                 CProgramArgumentsPtr& arguments,
                                                 TQJobClientPtr jobClient,
                                                 TQJobCtrlClientPtr jobCtrlClient) {
  CQiError error = CRestore::PrepareRestoreParameters(config, arguments, jobClient, jobCtrlClient);
  if (error.IsError()) return error.Push(FXLOC);
  auto restoreConfig = boost::dynamic_pointer_cast<CRestoreClientConfig>(config);
  boost::shared_ptr<CRestoreByJobLauncher> launcher(new CRestoreByJobLauncher(
      jobCtrlClient.get(), restoreConfig ? restoreConfig->getLauncherFlag() : false));
  error = launcher->Initialize(
      restoreConfig ? static_cast<int>(restoreConfig->getApplicationType()) : 0,
      config ? config->getJobId() : 0, "", arguments);
  if (error.IsError()) return error.Push(FXLOC);
  unsigned long long items = 0;
  error = launcher->getRestoreParameters(getRestoreInitData(), getSourcePaths(),
                                         getRestoreRecords(), items);
  if (error.IsError()) return error.Push(FXLOC);
  setItemCount(items);
  setStartClientRestore(launcher);
  // Every node whose items are restored restores them itself.
  std::set<std::string> nodes;
  for (const RestoreRecord& record : getRestoreRecords()) {
    if (record.strNodeName.empty() || !nodes.insert(record.strNodeName).second) continue;
    if (findNodeInfoByNodeName(record.strNodeName)) continue;
    error = addNode(record.strNodeName);
    if (error.IsError()) return error.Push(FXLOC);
  }
  TQLOG(0, "Restore by job: %zu records, %llu items, %zu nodes", getRestoreRecords().size(), items,
        nodes.size());
  return CQiError::Success();
}

void CRestoreByJob::OnIdle() {
  auto_lock lock(getCoordinatorLock(), true);
  if (!isReady() || !IsAllTaskDone()) return;
  for (const DistributedQEL::CNodeInfoPtr& node : getNodeList()) {
    if (!node || node->getState() >= DistributedQEL::NODE_STOPPING) continue;
    TQLOG(1, "Every restore task has ended: stopping node %s", node->getClientName().c_str());
    FrameworkMessagePtr stop(new DistributedQEL::NodeStop());
    CQiError error = sendMessageToNode(node->getClientName(), stop);
    if (error.IsError()) TQLOG(-1, "%s", error.AsString().c_str());
    node->setState(DistributedQEL::NODE_STOPPING);
  }
}

}  // namespace TQDC_FileSystem
