#include "backup/CassandraControllerClientConfig.h"

#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/LogWriter.h"

namespace TQCassandra {

std::string GetInstanceName(const App::CassandraNode& node) {
  if (node.hasAgentInstanceName()) return node.getAgentInstanceName();
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  return client ? client->getClientName() : std::string();
}

CassandraControllerClientConfig::CassandraControllerClientConfig() = default;

CassandraControllerClientConfig::~CassandraControllerClientConfig() = default;

CQiError CassandraControllerClientConfig::parseArguments(CProgramArgumentsPtr& arguments) {
  TQ_DEBUG_FUNCTION();
  CQiError error = MultiNodeBackupOpsControllerClientConfig::parseArguments(arguments);
  if (error.IsError()) return error.Push(FXLOC);

  // The same reader as the framework's own options: a job token or media
  // agent that looks like a flag ("--log") stays the value it is.
  std::string jobId;
  if (arguments->hasOption(CFrameworkArguments::kJobId)) {
    error = arguments->getStringValue(CFrameworkArguments::kJobId, jobId);
    if (error.IsError()) return error.Push(FXLOC);
  }
  snapshotName = std::to_string(getSubclientId()) + "TQsnapshot" + jobId;
  // The framework writes the flag as a bare word; "-log" counts as well.
  commitLogJob = arguments->isFlagSet(CFrameworkArguments::kCommitLogFlag);

  TQLOG(2, "CassandraControllerClientConfig::parseArguments done");
  return CQiError::Success();
}

}  // namespace TQCassandra
