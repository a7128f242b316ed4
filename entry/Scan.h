#pragma once

#include <string>

#include "platform/framework/Coordinator.h"

namespace TQCassandra {

// Coordinator of the "scan" phase of a backup job: a Cassandra backup has no
// scan work, so the phase is always skipped and no task is handed out.
class CScan : public DistributedQEL::ICoordinator {
 public:
  CScan() = default;
  ~CScan() override = default;

  bool isBackupJob() const override { return true; }
  bool shouldSkipThisPhase() const override { return true; }
  bool shouldExecCommand() const override { return false; }
  std::string getNodeCommandName() override { return ""; }
  using ICoordinator::getTask;
  // Succeeds and leaves `task` as it is.
  CQiError getTask(DistributedQEL::CNodeInfoPtr& node, DistributedQEL::CStreamInfoPtr& stream,
                   DistributedQEL::TaskInfoPtr& task) override;
  // Succeeds; nothing is recorded.
  CQiError OnTaskComplete(DistributedQEL::TaskBasePtr& task,
                          DistributedQEL::TaskComplete* complete) override;
};

}  // namespace TQCassandra
