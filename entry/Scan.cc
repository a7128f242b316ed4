#include "entry/Scan.h"

namespace TQCassandra {

CQiError CScan::getTask(DistributedQEL::CNodeInfoPtr&, DistributedQEL::CStreamInfoPtr&,
                        DistributedQEL::TaskInfoPtr&) {
  return CQiError::Success();
}

CQiError CScan::OnTaskComplete(DistributedQEL::TaskBasePtr&, DistributedQEL::TaskComplete*) {
  return CQiError::Success();
}

}  // namespace TQCassandra
