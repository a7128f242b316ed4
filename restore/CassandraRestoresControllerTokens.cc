// Cassandra start of a target node through its Priam.

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiSleep.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

CQiError CCassandraRestoreController::StartCassandra(const std::string& targetKey) {
  auto found = priamByTarget.find(targetKey);
  if (found == priamByTarget.end() || !found->second) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for target %s", targetKey.c_str());
  }
  CQiString reply;
  CQiError e = found->second->get(0, CQiString("start"), reply, CQiString(""));
  QISLEEP(static_cast<uint32_t>(cassandraSleepTime * 1000));
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
