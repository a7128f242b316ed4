#include "platform/framework/RestoreItemCallBack.h"

namespace DistributedQEL {

bool CRestoreItemCallBack::ShouldSkipItem(BrowseDataIterator) { return false; }

}  // namespace DistributedQEL
