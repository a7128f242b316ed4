#pragma once

#include "platform/framework/Restore.h"

namespace TQDC_FileSystem {

// The framework's ready-made restore-by-job coordinator: a file-system
// restore of the items the job's restore task selects. Its preparation runs
// the framework's client restore launcher (one record per archive file, each
// naming the node whose items it holds) and registers every node a record
// names, which then restores those items.
class CRestoreByJob : public virtual CRestore {
 public:
  explicit CRestoreByJob(bool cleanupRestore = false) : CRestore(cleanupRestore) {}

  CQiError PrepareRestoreParameters(DistributedQEL::CClientConfigPtr& config,
                                    CProgramArgumentsPtr& arguments, TQJobClientPtr jobClient,
                                    TQJobCtrlClientPtr jobCtrlClient) override;
  // Once its tasks exist and every one is final, asks every node that has
  // not been asked yet to stop (NodeStop).
  void OnIdle() override;
};

}  // namespace TQDC_FileSystem
