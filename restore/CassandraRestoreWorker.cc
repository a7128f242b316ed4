// The restore worker's extended options: where the framework's restore puts
// the files of each source node.

#include "restore/CassandraRestoreWorker.h"

#include "platform/base/ExtendedOptions.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace TQCassandra {

CCassandraRestoreWorker::CCassandraRestoreWorker(
    DistributedQEL::CRestoreController* controller, unsigned long destInstanceId, bool recover,
    const std::unordered_map<std::string, std::string>& dataDirBySource,
    const std::unordered_map<std::string, std::string>& stagingBySource, bool crossNode,
    bool useSSTableLoader,
    boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles>* tableMetadata)
    : TQDC_FileSystem::CFSRestoreWorker(controller),
      destInstanceId(destInstanceId),
      recover(recover),
      crossNode(crossNode),
      useSSTableLoader(useSSTableLoader),
      dataDirBySource(dataDirBySource),
      stagingBySource(stagingBySource) {
  if (tableMetadata) this->tableMetadata = *tableMetadata;
}

CCassandraRestoreWorker::~CCassandraRestoreWorker() = default;

std::string CCassandraRestoreWorker::NodePathList(
    const std::unordered_map<std::string, std::string>& paths) {
  std::string text;
  for (const auto& entry : paths) text += entry.first + ":" + entry.second + "##";
  return text;
}

std::string CCassandraRestoreWorker::TableMetaText(
    const DistributedQEL::CassandraCreateCollectFiles* metadata) {
  if (!metadata) return std::string();
  const std::vector<DistributedQEL::CassandraNodeKeyspace> nodes = metadata->getNodeKeyspaces();
  if (nodes.empty()) return std::string();
  std::string text;
  for (const DistributedQEL::CassandraKeyspace& keyspace : nodes.front().getKeyspaces()) {
    TQLOG(3, "  Keyspace [%s] ", keyspace.getKeyspaceName().c_str());
    text += "~KEYSPACE~" + keyspace.getKeyspaceName() + "~BEGIN~";
    for (const DistributedQEL::CassandraTable& table : keyspace.getTables()) {
      TQLOG(3, " Table [%s] id [%s] ", table.getTableName().c_str(), table.getTableId().c_str());
      text += "~TABLEMETA~" + table.getTableName() + "~TABLEID~" + table.getTableId();
    }
  }
  return text;
}

CQiError CCassandraRestoreWorker::GetExtendedOptions(std::string& options) {
  CQiError e = TQDC_FileSystem::CFSRestoreWorker::GetExtendedOptions(options);
  if (e.IsError()) return e.Push(FXLOC);
  CExtendedOptions codec(options);
  if (recover && !useSSTableLoader) {
    TQLOG(0, " Setting extended options for cassandra ");
    codec.setOption("CassandraRestore", 1);
    codec.setOption("CassandraRestoreDataDirectory", NodePathList(dataDirBySource));
    codec.setOption("CassandraMeta", TableMetaText(tableMetadata.get()));
  } else {
    TQLOG(0, " Setting extended options for cassandra staging location restore");
    codec.setOption("CassandraStagedRestore", 1);
    codec.setOption("CassandraStagedRestoreStagingLoc", NodePathList(stagingBySource));
  }
  codec.getOptions(options);
  return CQiError::Success();
}

void CCassandraRestoreWorker::SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task,
                                                long& size) {
  TQDC_FileSystem::CFSRestoreWorker::SetRestoreOptions(task, size);
}

}  // namespace TQCassandra
