#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "StoreTestSupport.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/index/IndexingConnection.h"
#include "platform/index/ObjectGuid.h"
#include "platform/msg/IndexMetadataRecords.h"

// Builders of index view entries as a backup's end writes them.
namespace index_test {

inline std::string Guid(const std::string& path) {
  std::string guid;
  GetObjectGuid(path.c_str(), 0, '/', guid);
  return guid;
}

inline IdxMetadata::IdxMetaData Entry(const std::string& view, const std::string& path,
                                      const std::string& parent) {
  IdxMetadata::IdxViewInfo info;
  info.setViewName(view);
  info.setComponentId(Guid("/"));
  IdxMetadata::IdxObjectHeader header;
  header.setView(info);
  header.setObjectGuid(Guid(path));
  header.setParentGuid(Guid(parent));
  IdxMetadata::IdxRecordId id;
  id.setRecordGuid(Guid(path + "." + std::to_string(static_cast<long long>(time(nullptr)))));
  IdxMetadata::IdxMetaData entry;
  entry.setHeader(header);
  entry.setRecordId(id);
  return entry;
}

inline IdxMetadata::IdxMetaData NodeEntry(const std::string& client, int64_t backupTime) {
  IdxMetadata::IdxMetaData entry = Entry("NodeMetaData", "/" + client, "/");
  IdxMetadata::CassandraNodeMetadata node;
  node.setClientName(client);
  node.setBackupTime(backupTime);
  entry.setNodeMetadata(node);
  return entry;
}

inline IdxMetadata::IdxMetaData KeyspaceEntry(const std::string& keyspace) {
  IdxMetadata::IdxMetaData entry = Entry("DBView", "/" + keyspace, "/");
  IdxMetadata::CassandraKeyspaceMetadata ks;
  ks.setKeyspaceName(keyspace);
  ks.setCql("CREATE KEYSPACE " + keyspace + " WITH replication = {...};");
  ks.setReplicationClass("org.apache.cassandra.locator.NetworkTopologyStrategy");
  IdxMetadata::CassandraReplicationInfo dc1, dc2;
  dc1.setDataCenter("dc1");
  dc1.setReplicationFactor(3);
  dc2.setDataCenter("dc2");
  dc2.setReplicationFactor(2);
  ks.setReplication({dc1, dc2});
  entry.setKeyspaceMetadata(ks);
  return entry;
}

inline IdxMetadata::IdxMetaData TableEntry(const std::string& keyspace, const std::string& table) {
  IdxMetadata::IdxMetaData entry = Entry("DBView", "/" + keyspace + "/" + table, "/" + keyspace);
  IdxMetadata::CassandraTableMetadata t;
  t.setTableName(table);
  t.setCql("CREATE TABLE " + keyspace + "." + table + " (id int PRIMARY KEY);");
  t.setTableId("5bc52802-de25-35ed-aeab-188eecebb090");
  t.setEncrypted(0);
  entry.setTableMetadata(t);
  return entry;
}

// One item stored for the job, so that it has an archive file; its id.
inline ArchiveFileId_t MakeArchiveFile(const SStreamJob& job) {
  CStoreDataStream stream(job);
  StoreTest::Store(stream, "/c/dc1/n1/ks/tbl/data", "bytes");
  GetArchFileListForJobArgsCC_t args;
  args.ombrelId = job.ombrelId;
  args.jobId = job.jobId;
  std::vector<GetArchFileListForJobRetCC_t> list;
  ArMgrClientAPI::getArchFileListForJob(args, list);
  ArchiveFileId_t id = {0, 0, 0};
  if (!list.empty()) id = ArMgrClientAPI::ArchiveFileIdOf(list.front());
  return id;
}

// Sends the entries, each followed by its file record, as a backup's end
// does; returns the first result that is not 0.
inline int SendEntries(
    IndexingConnection& connection,
    const std::vector<std::pair<std::string, IdxMetadata::IdxMetaData>>& entries) {
  CXFileHeader header;
  std::memset(&header, 0, sizeof(header));
  int64_t sequence = 0;
  for (const auto& entry : entries) {
    int rc = connection.sendMetaDataInfo(entry.second);
    if (rc != 0) return rc;
    header.type = 0x50C0;
    header.version = 0x404;
    header.flags = entry.second.getKeyspaceMetadata() ? 0x4000 : 0;
    header.time = static_cast<int64_t>(time(nullptr));
    header.SetPath(entry.first);
    rc = connection.sendFileInfo(header, ++sequence, nullptr, 0);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace index_test
