// The restore coordinator's preparation: the client restore launcher and its
// restore records, the node names of the clients that restore them, and,
// when the data goes into Cassandra, the keyspaces and tables the
// destination lacks, created from the backed-up schemas before any data
// arrives.

#include <set>

#include "common/CassandraRestoreClientConfig.h"
#include "common/PriamQuery.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/json/TqJsonWriter.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobClient.h"
#include "restore/CassandraRestoresCoordinator.h"
#include "restore/StartClientRestoreCassandra.h"

namespace TQCassandra {

CQiError CCassandraRestores::checkExistence(const std::string& keyspace, const std::string& table,
                                            bool& exists) {
  if (!priamUtil) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The coordinator's Priam is not running");
  }
  std::string resource = "checkExistance?keyspace=" + PriamQueryValue(keyspace);
  if (!table.empty()) resource += "&table=" + PriamQueryValue(table);
  CQiString reply;
  CQiError e = priamUtil->get(0, CQiString(resource.c_str()), reply, CQiString(""));
  TQLOG(0, " Req[%s] response [%s] ", resource.c_str(), reply.c_str());
  if (e.IsError()) return handlePriamError(e).Push(FXLOC);
  exists = reply.str().find('0') != std::string::npos;
  return CQiError::Success();
}

CQiError CCassandraRestores::rewriteRestoreRecordNodeNames() {
  if (nodeMap.empty()) return CQiError::Success();
  for (RestoreRecord& record : getRestoreRecords()) {
    if (record.strNodeName.empty()) {
      return FXErrorUtil::ErrorErrNo(FXLOC, 22, "NodeName is not populated in RestoreRecord(%s)",
                                     record.AsString().c_str());
    }
    TQLOG(4, " Node name [%s] ", record.strNodeName.c_str());
    for (const App::CassandraDockerClientMap& entry : nodeMap) {
      std::optional<App::CassandraClientMapEntity> source = entry.getSource();
      if (!source) continue;
      std::optional<TqEntities::ClientEntity> sourceClient = source->getClient();
      const std::string container = source->getContainerName();
      const std::string sourceName = sourceClient ? sourceClient->getClientName() : std::string();
      const bool matches =
          container.empty() ? sourceName == record.strNodeName : container == record.strNodeName;
      if (!matches) continue;
      std::optional<App::CassandraClientMapEntity> target = entry.getTarget();
      std::optional<TqEntities::ClientEntity> targetClient;
      if (target) targetClient = target->getClient();
      if (crossInstance) {
        if (targetClient && static_cast<uint32_t>(targetClient->getClientId()) != 0) {
          TQLOG(0, "Replacing %s with %s in RestoreRecord", record.strNodeName.c_str(),
                targetClient->getClientName().c_str());
          record.strNodeName = targetClient->getClientName();
        }
      } else if (!container.empty()) {
        TQLOG(0, "Updating strNodeName for inplace restore");
        record.strNodeName = sourceName;
      }
      break;
    }
  }
  return CQiError::Success();
}

void CCassandraRestores::reportSchemaFailure(const char* kind, const std::string& statement,
                                             const CQiError& error, const std::string& reply) {
  const TQJobClientPtr& jobClient = getJobClient();
  if (!jobClient) return;
  *jobClient << kind << statement << (error.AsString(2) + ": " + reply);
  jobClient->setPendingCauseAndEvent(kEvSchemaCreateFailed, 6, 0, false, 300, 0, 0, 0, 0, 0);
}

CQiError CCassandraRestores::createMissingSchemas(bool keepSourceReplication,
                                                  const std::string* replication) {
  for (auto& item : keyspaceSchemas) {
    cassandraCqlStatements& entry = item.second;
    TQLOG(0, " Keyspace [%s]", item.first.c_str());
    if (!entry.keyspaceExists && !entry.keyspaceCql.empty()) {
      TqJson::ObjectWriter body;
      body.Add("Schema", entry.keyspaceCql);
      if (keepSourceReplication) body.Add("Maintainreplication", 1);
      if (replication) body.Add("ReplicationString", " " + *replication);
      const std::string text = body.Text();
      TQLOG(0, " Query [%s] ", text.c_str());
      CQiString reply;
      CQiError e = priamUtil->get(1, CQiString("ExecuteCQL"), reply, CQiString(text.c_str()));
      TQLOG(2, "ExecuteCQL reply: %s", reply.c_str());
      if (e.IsError()) {
        TQLOG(-1, "Failed to create keyspace with schema %s: %s.", entry.keyspaceCql.c_str(),
              e.AsString(2).c_str());
        e = handlePriamError(e);
        reportSchemaFailure("keyspace", entry.keyspaceCql, e, reply.str());
        return e.Push(FXLOC);
      }
      // A later table statement of the same phase does not make it again.
      entry.keyspaceExists = true;
    }

    int64_t deferViews = 0;
    TQPlatformInfo().getNumber("Cassandra", "nDeferMateriazliedViewCreation", deferViews);
    for (const std::string& statement : entry.tableCqls) {
      std::string now = statement;
      if (deferViews != 0) {
        CQiError e = ignoreMaterializedViews(now);
        if (e.IsError()) {
          // The views would be lost: the restore stops instead.
          TQLOG(-1, "Failed to drop some schemas for creation: %s", e.AsString(2).c_str());
          return e.Push(FXLOC);
        }
      }
      TqJson::ObjectWriter body;
      body.Add("Schema", now);
      const std::string text = body.Text();
      TQLOG(0, " Query [%s] ", text.c_str());
      CQiString reply;
      CQiError e = priamUtil->get(1, CQiString("ExecuteCQL"), reply, CQiString(text.c_str()));
      TQLOG(2, "ExecuteCQL reply: %s", reply.c_str());
      if (e.IsError()) {
        TQLOG(-1, "Failed to create table with schema %s: %s.", now.c_str(), e.AsString(2).c_str());
        e = handlePriamError(e);
        reportSchemaFailure("table", now, e, reply.str());
        return e.Push(FXLOC);
      }
    }
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::PrepareRestoreParameters(DistributedQEL::CClientConfigPtr& config,
                                                      CProgramArgumentsPtr& arguments,
                                                      TQJobClientPtr jobClient,
                                                      TQJobCtrlClientPtr jobCtrlClient) {
  TQ_DEBUG_FUNCTION();
  TQLOG(0, " Preparing the restore nodes ");
  CQiError e = initailizeStartClientRestoreObject(jobClient, jobCtrlClient);
  if (e.IsError()) return e.Push(FXLOC);

  CStartClientRestorePtr launcher = getStartClientRestore();
  if (launcher) {
    auto restoreConfig = boost::dynamic_pointer_cast<TQDC_FileSystem::CRestoreClientConfig>(config);
    auto* distributed =
        dynamic_cast<TQDC_FileSystem::CStartClientRestoreDistributed*>(launcher.get());
    auto* cassandra = dynamic_cast<CStartClientRestoreCassandra*>(launcher.get());
    if (!distributed || !cassandra) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359,
                                     "Unable to get Cassandra StartClientRestore object");
    }
    e = distributed->Initialize(
        restoreConfig ? static_cast<int>(restoreConfig->getApplicationType()) : 0,
        config ? config->getJobId() : 0, std::string(), arguments);
    if (e.IsError()) return e.Push(FXLOC);
    if (restoreConfig) restoreConfig->setApplicationType(launcher->getAppType());
    unsigned long long items = 0;
    e = launcher->getRestoreParameters(getRestoreInitData(), getSourcePaths(), getRestoreRecords(),
                                       items);
    if (e.IsError()) return e.Push(FXLOC);
    // Commit logs are restored by the point-in-time phase, not by this one.
    const int64_t commitLogs = cassandra->getNumberOfCommitLogItems();
    const unsigned long long skipped =
        commitLogs > 0 ? static_cast<unsigned long long>(commitLogs) : 0;
    setItemCount(items > skipped ? items - skipped : 0);
  }

  // The launcher has been made: its flag is not handed on again.
  if (restoreClientConfig) restoreClientConfig->setLauncherFlag(false);

  e = rewriteRestoreRecordNodeNames();
  if (e.IsError()) return e.Push(FXLOC);

  if (recover) {
    if (!priamUtil) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "The coordinator's Priam is not running");
    }
    std::vector<std::string> schemaPaths;
    const uint64_t count = getRestoreInitData().numberOfSrcPaths;
    uint64_t position = 0;
    for (const FSRSrcPath& source : getSourcePaths()) {
      if (position++ >= count) break;
      TQLOG(3, " Extracting the keyspace and table information: %s", source.path.c_str());
      std::vector<std::string> tokens;
      FXString::Split(source.path, "/", tokens);
      if (tokens.size() <= 4) {
        schemaPaths.push_back("/**");
        continue;
      }
      const std::string keyspace = tokens[4];
      const std::string table = tokens.size() > 5 ? tokens[5] : std::string();
      if (keyspace == "#COMMITLOG#" || isLogRestore || keyspace.empty()) continue;

      auto found = keyspaceSchemas.find(keyspace);
      if (found == keyspaceSchemas.end()) {
        cassandraCqlStatements& entry = keyspaceSchemas[keyspace];
        entry.keyspaceName = keyspace;
        bool exists = false;
        e = checkExistence(keyspace, std::string(), exists);
        if (e.IsError()) return e.Push(FXLOC);
        keyspacesChecked.insert(keyspace);
        if (!exists) {
          TQLOG(0, " Keyspace not found [%s] ", keyspace.c_str());
          entry.keyspaceExists = false;
          schemaPaths.push_back("/" + keyspace);
          if (!table.empty()) entry.tableExists[table] = false;
        } else {
          TQLOG(0, " Keyspace found [%s] ", keyspace.c_str());
          entry.keyspaceExists = true;
        }
      } else if (!found->second.keyspaceExists && !table.empty()) {
        found->second.tableExists[table] = false;
      }

      cassandraCqlStatements& entry = keyspaceSchemas[keyspace];
      TQLOG(3, " Keyspace found value [%d]", entry.keyspaceExists ? 1 : 0);
      if (!entry.keyspaceExists) continue;
      if (table.empty()) {
        TQLOG(0, "Keyspace %s found, no table paths received", keyspace.c_str());
        schemaPaths.push_back("/" + keyspace);
      } else if (entry.tableExists.count(table) == 0) {
        bool exists = false;
        e = checkExistence(keyspace, table, exists);
        if (e.IsError()) return e.Push(FXLOC);
        if (!exists) {
          schemaPaths.push_back("/" + keyspace + "/" + table);
          TQLOG(0, " Table not found [%s] ", table.c_str());
        } else {
          TQLOG(0, " Table found [%s] ", table.c_str());
        }
        entry.tableExists[table] = exists;
      }
    }

    const bool fetchSchemas = !(isLogRestore && schemaPaths.empty());
    e = QueryCassandraView(fetchSchemas, schemaPaths);
    if (e.IsError()) return e.Push(FXLOC);

    if (fetchSchemas) {
      bool keepSource = false;
      std::string replication;
      bool changeReplication = false;
      int64_t keep = 0;
      if (TQPlatformInfo().getNumber("Cassandra", "nKeepSourceReplicationFactor", keep)) {
        if (keep == 1) {
          TQLOG(0, " Keeping source replication ");
          keepSource = true;
        }
      } else if (TQPlatformInfo().getString("Cassandra", "sChangeReplicationFactor", replication)) {
        TQLOG(0, " Changing replication to [%s] ", replication.c_str());
        changeReplication = true;
      }

      // The key copy has work only when the index gave key records.
      if (!encryptedTableRows.empty() || !systemKeyFiles.empty()) {
        e = HandleCassandraTDE();
        if (e.IsError()) {
          TQLOG(-1, "Failed to restore Cassandra TDE options to atleast one node : %s",
                e.AsString(2).c_str());
          return e.Push(FXLOC);
        }
      }

      e = createMissingSchemas(keepSource, changeReplication ? &replication : nullptr);
      if (e.IsError()) return e.Push(FXLOC);
    }
  }

  if (stageFreeRestore) {
    e = createZelkNetworkShare();
    if (e.IsError()) return e.Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
