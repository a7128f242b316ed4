#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "common/BackupRecords.h"
#include "platform/framework/FSRestoreWorker.h"

namespace TQCassandra {

// The restore worker of a node controller. It tells the framework's restore,
// through extended options, where the files of each source node go: into
// the data directory of its target node with the table ids of the
// destination (in place), or into the staging folder of its target node.
class CCassandraRestoreWorker : public TQDC_FileSystem::CFSRestoreWorker {
 public:
  // Copies both maps and the table metadata pointer.
  CCassandraRestoreWorker(
      DistributedQEL::CRestoreController* controller, unsigned long destInstanceId, bool recover,
      const std::unordered_map<std::string, std::string>& dataDirBySource,
      const std::unordered_map<std::string, std::string>& stagingBySource, bool crossNode,
      bool useSSTableLoader,
      boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles>* tableMetadata);
  ~CCassandraRestoreWorker() override;

  // The framework's options, then the Cassandra placement options.
  CQiError GetExtendedOptions(std::string& options) override;
  // Hands the task to the framework unchanged.
  void SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task, long& size) override;

  // "<key>:<value>##" for every entry, in the map's order.
  static std::string NodePathList(const std::unordered_map<std::string, std::string>& paths);
  // "~KEYSPACE~<ks>~BEGIN~" and "~TABLEMETA~<table>~TABLEID~<id>" for every
  // keyspace and table of the first node entry; "" without one.
  static std::string TableMetaText(const DistributedQEL::CassandraCreateCollectFiles* metadata);

 protected:
  uint64_t destInstanceId = 0;
  bool recover = false;
  bool crossNode = false;
  bool useSSTableLoader = false;
  std::unordered_map<std::string, std::string> dataDirBySource;
  std::unordered_map<std::string, std::string> stagingBySource;
  boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles> tableMetadata;
};

}  // namespace TQCassandra
