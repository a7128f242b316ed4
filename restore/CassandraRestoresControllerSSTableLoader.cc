// Loading one directory of SSTables into Cassandra with sstableloader,
// through the target node's Priam.

#include <nlohmann/json.hpp>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

CQiError CCassandraRestoreController::runSSTableLoader(const std::string& targetKey,
                                                       CQiString& directory, bool removeAfterLoad) {
  nlohmann::ordered_json body;
  body["directory"] = directory.str();
  body["Connections"] = "2";
  body["Progress"] = "1";

  auto found = priamByTarget.find(targetKey);
  if (found == priamByTarget.end() || !found->second || !found->second->getIsConnected()) {
    TQLOG(0, "Priam not initialized or not started on %s. Skipping cassandra restore",
          targetKey.c_str());
    return CQiError::Success();
  }
  CQiString reply;
  CQiError error = found->second->get(1, "ExecuteBatch", reply, CQiString(body.dump()));
  if (!error.IsError()) {
    TQLOG(0, "Successfully loaded tables [%s]", directory.c_str());
    if (removeAfterLoad) {
      TQLOG(0, "Deleting the staging path %s", directory.c_str());
      CQiDirectory::Remove(directory.c_str(), true, false);
    }
    return CQiError::Success();
  }
  TQLOG(-1, "Execution of sstableloader failed. Error [%s] [%s]", error.AsString().c_str(),
        reply.c_str());
  TQLOG(-1, "%s",
        ("Execution of sstableloader failed. Error[" + error.AsString() + "] response[" +
         reply.str() + "]")
            .c_str());
  if (FXErrorUtil::IsWin32(error, 5)) {
    EvEvent event;
    event.MajorEvent(0x6000485);
  }
  reportFailedLoad();
  return error;
}

}  // namespace TQCassandra
