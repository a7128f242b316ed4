// Steps of the restore preparation whose bodies are not built yet. The
// preparation calls them only when their work exists (key records in the
// index, a stage-free restore); until then such a restore stops here with an
// error that names the missing step. A file that provides a body replaces
// the one here.

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

CQiError CCassandraRestores::HandleCassandraTDE() {
  TQLOG(-1, "The copy of DSE encryption keys to the destination nodes is not built yet");
  return FXErrorUtil::ErrorWin32(FXLOC, 50,
                                 "The copy of DSE encryption keys to the destination nodes is not "
                                 "built yet: encrypted tables cannot be restored");
}

CQiError CCassandraRestores::createZelkNetworkShare() {
  TQLOG(-1, "The network share of a stage-free restore is not built yet");
  return FXErrorUtil::ErrorWin32(FXLOC, 50,
                                 "The network share of a stage-free restore is not built yet");
}

}  // namespace TQCassandra
