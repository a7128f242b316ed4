#include "backup/CassandraControllerClientConfig.h"

#include "platform/base/CommandLineArguments.h"
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

  CCommandLineArguments line;
  line.Parse(arguments->getArgumentLine().c_str());
  std::string jobId;
  line.GetOption(CFrameworkArguments::kJobId, jobId);
  snapshotName = std::to_string(getSubclientId()) + "TQsnapshot" + jobId;
  // The framework writes the flag as a bare word; "-log" counts as well.
  bool commitLog = false;
  line.GetFlag(CFrameworkArguments::kCommitLogFlag, commitLog);
  for (const std::string& plain : line.GetPlainArguments()) {
    if (plain == CFrameworkArguments::kCommitLogFlag) commitLog = true;
  }
  commitLogJob = commitLog;

  TQLOG(2, "CassandraControllerClientConfig::parseArguments done");
  return CQiError::Success();
}

}  // namespace TQCassandra
