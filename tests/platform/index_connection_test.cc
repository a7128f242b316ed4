#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "IndexTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/IndexCatalog.h"

namespace {

using namespace index_test;

class IndexConnectionTest : public StoreTest {};

TEST_F(IndexConnectionTest, ArchiveFilesOfAJobFirstMadeFirst) {
  SStreamJob first = Job(30, 1), second = Job(30, 2);
  second.clientName = "node2";
  {
    CStoreDataStream a(first), b(second);
    ASSERT_FALSE(Store(a, "/a", "a").IsError());
    ASSERT_FALSE(Store(b, "/b", "b").IsError());
  }
  GetArchFileListForJobArgsCC_t args;
  args.ombrelId = 2;
  args.jobId = 30;
  std::vector<GetArchFileListForJobRetCC_t> list;
  ASSERT_EQ(ArMgrClientAPI::getArchFileListForJob(args, list), ArMgrClientAPI::kSuccess);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_LT(list[0].archiveFileId, list[1].archiveFileId);
  EXPECT_EQ(list[0].ombrelId, 2);
  EXPECT_EQ(list[0].archiveGroupId, 1);
  EXPECT_EQ(list[0].jobId, 30);
  EXPECT_EQ(list[0].streamNumber, 1);
  EXPECT_EQ(list[0].clientName, "node1");
  EXPECT_EQ(list[1].clientName, "node2");
  ArchiveFileId_t id = ArMgrClientAPI::ArchiveFileIdOf(list[0]);
  EXPECT_EQ(id.ombrelId, 2u);
  EXPECT_EQ(id.archiveGroupId, 1u);
  EXPECT_EQ(static_cast<int64_t>(id.archiveFileId), list[0].archiveFileId);
}

TEST_F(IndexConnectionTest, AJobWithoutArchiveFilesIsAnErrorNotAnEmptySuccess) {
  MakeArchiveFile(Job(31));
  struct Case {
    const char* name;
    int64_t ombrelId;
    int64_t jobId;
  };
  for (const Case& c : {Case{"unknown job", 2, 99}, Case{"other ombrel", 3, 31}}) {
    GetArchFileListForJobArgsCC_t args;
    args.ombrelId = c.ombrelId;
    args.jobId = c.jobId;
    std::vector<GetArchFileListForJobRetCC_t> list(1);
    EXPECT_EQ(ArMgrClientAPI::getArchFileListForJob(args, list), ArMgrClientAPI::kNoArchiveFiles)
        << c.name;
    EXPECT_TRUE(list.empty()) << c.name;
  }
  // A job registered without any stored item has none either.
  CIndexCatalog catalog;
  ASSERT_FALSE(catalog.Open().IsError());
  SJobRecord job;
  job.jobId = 32;
  ASSERT_FALSE(catalog.RegisterJob(job, false).IsError());
  GetArchFileListForJobArgsCC_t args;
  args.jobId = 32;
  std::vector<GetArchFileListForJobRetCC_t> list;
  EXPECT_EQ(ArMgrClientAPI::getArchFileListForJob(args, list), ArMgrClientAPI::kNoArchiveFiles);
}

TEST_F(IndexConnectionTest, WholeWriteIsStoredInTheCatalog) {
  ArchiveFileId_t afile = MakeArchiveFile(Job(33));
  IndexingConnection connection;
  ASSERT_EQ(connection.initialize(2, 9, 64, 1, "token-33", "ma1", nullptr, 0), 0);
  ASSERT_EQ(connection.sendAfileInfo(afile, false), 0);
  std::vector<std::pair<std::string, IdxMetadata::IdxMetaData>> entries = {
      {"/n1", NodeEntry("n1", 1700000001)},
      {"/shop", KeyspaceEntry("shop")},
      {"/shop/orders", TableEntry("shop", "orders")},
  };
  ASSERT_EQ(SendEntries(connection, entries), 0);
  ASSERT_EQ(connection.updateRestartInfo(-1), 0);
  ASSERT_EQ(connection.backupDone(1), 0);
  EXPECT_EQ(connection.getJobId(), 33);

  CIndexCatalog catalog;
  ASSERT_FALSE(catalog.Open().IsError());
  std::vector<SMetadataRecord> metadata;
  ASSERT_FALSE(catalog.ListMetadata(33, metadata).IsError());
  ASSERT_EQ(metadata.size(), 3u);
  for (size_t i = 0; i < entries.size(); ++i) {
    const SMetadataRecord& m = metadata[i];
    EXPECT_EQ(m.path, entries[i].first);
    EXPECT_EQ(m.objectGuid, Guid(entries[i].first));
    EXPECT_EQ(static_cast<uint32_t>(m.archiveFileId), afile.archiveFileId);
    IdxMetadata::IdxMetaData back;
    ASSERT_EQ(back.unserialize(m.xml), 0);
    EXPECT_TRUE(back == entries[i].second) << "metadata round-trips: " << m.path;
  }
  EXPECT_EQ(metadata[0].viewName, "NodeMetaData");
  EXPECT_EQ(metadata[1].viewName, "DBView");
  EXPECT_EQ(metadata[2].parentGuid, Guid("/shop"));
  EXPECT_EQ(metadata[1].componentId, Guid("/"));

  std::vector<SEntryRecord> files;
  ASSERT_FALSE(catalog.ListEntryRecords(33, files).IsError());
  ASSERT_EQ(files.size(), 3u);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].sequence, static_cast<int64_t>(i + 1));
    EXPECT_EQ(files[i].headerType, 0x50C0u);
    EXPECT_EQ(files[i].headerVersion, 0x404u);
  }
  EXPECT_EQ(files[0].flags, 0u);
  EXPECT_EQ(files[1].flags, 0x4000u);

  int64_t restart = 0;
  bool found = false;
  ASSERT_FALSE(catalog.GetRestartInfo(33, restart, found).IsError());
  EXPECT_TRUE(found);
  EXPECT_EQ(restart, -1);
  SIndexSessionRecord session;
  ASSERT_FALSE(catalog.GetSession(connection.getSessionId(), session, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_TRUE(session.done);
  EXPECT_EQ(session.ombrelId, 2u);
  EXPECT_EQ(session.appId, 9u);
  EXPECT_EQ(session.jobToken, "token-33");
  EXPECT_EQ(session.mediaAgent, "ma1");
  EXPECT_EQ(session.clientName, "");
}

TEST_F(IndexConnectionTest, CallsOutOfOrderOrWithBadRecordsAreRefused) {
  ArchiveFileId_t afile = MakeArchiveFile(Job(34));
  CXFileHeader header;
  std::memset(&header, 0, sizeof(header));
  header.SetPath("/n1");

  IndexingConnection fresh;
  EXPECT_EQ(fresh.sendAfileInfo(afile, false), IndexingConnection::kNotInitialized);
  EXPECT_EQ(fresh.sendMetaDataInfo(NodeEntry("n1", 1)), IndexingConnection::kNotInitialized);
  EXPECT_EQ(fresh.backupDone(1), IndexingConnection::kNotInitialized);
  EXPECT_TRUE(fresh.getLastError().IsError());

  IndexingConnection connection;
  ASSERT_EQ(connection.initialize(2, 9, 64, 1, "", "", nullptr, 0), 0);
  EXPECT_EQ(connection.initialize(2, 9, 64, 1, "", "", nullptr, 0),
            IndexingConnection::kAlreadyInitialized);
  EXPECT_EQ(connection.sendMetaDataInfo(NodeEntry("n1", 1)), IndexingConnection::kNoArchiveFile);
  EXPECT_EQ(connection.sendFileInfo(header, 1, nullptr, 0), IndexingConnection::kNoArchiveFile);
  EXPECT_EQ(connection.updateRestartInfo(-1), IndexingConnection::kNoArchiveFile);
  ArchiveFileId_t unknown = afile;
  unknown.archiveFileId += 100;
  EXPECT_EQ(connection.sendAfileInfo(unknown, false), IndexingConnection::kUnknownArchiveFile);
  ArchiveFileId_t otherOmbrel = afile;
  otherOmbrel.ombrelId = 77;
  EXPECT_EQ(connection.sendAfileInfo(otherOmbrel, false), IndexingConnection::kUnknownArchiveFile);
  ASSERT_EQ(connection.sendAfileInfo(afile, false), 0);

  IdxMetadata::IdxMetaData noView = NodeEntry("n1", 1);
  IdxMetadata::IdxObjectHeader bare;
  bare.setObjectGuid(Guid("/n1"));
  noView.setHeader(bare);
  IdxMetadata::IdxMetaData noGuid = NodeEntry("n1", 1);
  IdxMetadata::IdxObjectHeader unnamed = *noGuid.getHeader();
  unnamed.setObjectGuid("");
  noGuid.setHeader(unnamed);
  EXPECT_EQ(connection.sendMetaDataInfo(IdxMetadata::IdxMetaData()), IndexingConnection::kRejected);
  EXPECT_EQ(connection.sendMetaDataInfo(noView), IndexingConnection::kRejected);
  EXPECT_EQ(connection.sendMetaDataInfo(noGuid), IndexingConnection::kRejected);
  CXFileHeader empty;
  std::memset(&empty, 0, sizeof(empty));
  EXPECT_EQ(connection.sendFileInfo(empty, 1, nullptr, 0), IndexingConnection::kRejected);
  CXFileHeader unterminated;
  std::memset(&unterminated, 'a', sizeof(unterminated));
  EXPECT_EQ(connection.sendFileInfo(unterminated, 1, nullptr, 0), IndexingConnection::kRejected);
  EXPECT_EQ(connection.sendFileInfo(nullptr, 1, nullptr, 0), IndexingConnection::kRejected);

  EXPECT_EQ(connection.sendMetaDataInfo(NodeEntry("n1", 1)), 0);
  EXPECT_EQ(connection.backupDone(1), 0);
  EXPECT_EQ(connection.sendMetaDataInfo(NodeEntry("n1", 1)), IndexingConnection::kClosed);
  EXPECT_EQ(connection.sendFileInfo(header, 2, nullptr, 0), IndexingConnection::kClosed);
  EXPECT_EQ(connection.updateRestartInfo(-1), IndexingConnection::kClosed);
  EXPECT_EQ(connection.backupDone(1), IndexingConnection::kClosed);
}

TEST_F(IndexConnectionTest, IndexThatCannotBeOpenedFailsInitialize) {
  // The suite home is a plain file: the catalog folder cannot be made.
  std::string blocker = WriteData("not-a-folder", "x");
  IndexingConnection connection(blocker);
  EXPECT_EQ(connection.initialize(2, 9, 64, 1, "", "", nullptr, 0),
            IndexingConnection::kCatalogError);
  EXPECT_TRUE(connection.getLastError().IsError());
  EXPECT_EQ(connection.sendAfileInfo(ArchiveFileId_t{0, 0, 1}, false),
            IndexingConnection::kNotInitialized);
}

TEST_F(IndexConnectionTest, FileHeaderPathMustFit) {
  CXFileHeader header;
  std::memset(&header, 0, sizeof(header));
  EXPECT_TRUE(header.SetPath(std::string(CXFileHeader::kPathCapacity - 1, 'p')));
  EXPECT_EQ(std::strlen(header.path), CXFileHeader::kPathCapacity - 1);
  EXPECT_FALSE(header.SetPath(std::string(CXFileHeader::kPathCapacity, 'p')));
  EXPECT_EQ(header.path[0], '\0');
}

}  // namespace
