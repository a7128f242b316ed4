#pragma once

// Helpers of the backup worker tests: a node's data directories on disk, its
// worker parameters, collect files and the items a stream received.

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backup/CassandraBackupWorker.h"
#include "platform/index/IndexMetaDataHelper.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/objectops/InMemoryDataStream.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "tests/support/SimTestSupport.h"

namespace workertest {

using OBJECTOPSAPI::CInMemoryDataStream;

// The file type an item carries in its metadata; -1 for none.
inline int FileTypeOf(const OBJECTOPSAPI::StreamItemHeader& header) {
  int type = -1;
  for (const auto& entry : header.metadata) {
    if (entry.id != INDEXINGDATA_CASSANDRA_FILE_TYPE) continue;
    EXPECT_EQ(entry.length, entry.value.size());
    int64_t value = 0;
    EXPECT_TRUE(IndexMetaDataHelper::decodeData(entry.value, value)) << entry.value;
    type = static_cast<int>(value);
  }
  return type;
}

// A numbered collect file: one line per path (or ready-made extent line
// starting with "%"), each path escaped as the collect files write it.
inline void WriteCollectFile(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += !line.empty() && line[0] == '%'
                ? line
                : MultiNodeBackupOps::CCollectFileEntry::EncodePath(line);
    text += "\n";
  }
  simtest::WriteFile(path, text);
}

// Where each line of a numbered collect file begins.
inline std::vector<int64_t> LineOffsets(const std::string& path) {
  std::vector<int64_t> offsets;
  const std::string text = simtest::ReadFile(path);
  int64_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    offsets.push_back(start);
    start = static_cast<int64_t>(i + 1);
  }
  return offsets;
}

// The lines of a text file.
inline std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A node with one instance whose data directory holds keyspace "ks" with the
// table directory "tbl-5f3a" and a snapshot "S" of two files; the worker
// parameters name the cluster "Cl" and the instance "inst1" in "dc1".
class WorkerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dataDir_ = dir_.Sub("d1");
    tableDir_ = dataDir_ + "/ks/tbl-5f3a";
    snapshotFiles_ = {tableDir_ + "/snapshots/S/na-1-big-Data.db",
                      tableDir_ + "/snapshots/S/na-1-big-Index.db"};
    simtest::WriteFile(snapshotFiles_[0], std::string(3000, 'd') + "end of data");
    simtest::WriteFile(snapshotFiles_[1], "index bytes");
    collectFile_ = dir_.Sub("jr/CollectTot12.tqf");
    std::filesystem::create_directories(dir_.Sub("jr"));

    quit_.reset(new TQJobCtrlClient(100));
    params_.reset(new CassandraBackupWorkerParams());
    params_->jobId = 100;
    params_->backupLevel = 1;
    params_->jobResultsDirectory = dir_.Sub("jr");
    params_->failedFilePath = dir_.Sub("jr/Failures.tqf");
    params_->jobCtrlClient = quit_;
    params_->clusterName = "Cl";
    params_->instanceParams.push_back(
        CassandraNodeInstanceParams("dc1", "rack1", "inst1", {dataDir_}, ""));
    stream_.reset(new CInMemoryDataStream());
    worker_.reset(new CassandraBackupWorker(3));
    ASSERT_FALSE(worker_->Initialize(params_).IsError());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  }

  // Runs the worker over a collect file of `lines` from the start.
  CQiError Run(const std::vector<std::string>& lines, const std::string& payload = "") {
    WriteCollectFile(collectFile_, lines);
    return worker_->DoBackup(collectFile_, 12, payload, "stream 3");
  }

  std::vector<std::string> HeaderPaths() const {
    std::vector<std::string> paths;
    for (const auto& item : stream_->Items()) paths.push_back(item.header.headerPath);
    return paths;
  }

  simtest::TempDir dir_;
  std::string dataDir_;
  std::string tableDir_;
  std::vector<std::string> snapshotFiles_;
  std::string collectFile_;
  TQJobCtrlClientPtr quit_;
  CassandraBackupWorkerParamsPtr params_;
  boost::shared_ptr<CInMemoryDataStream> stream_;
  boost::shared_ptr<CassandraBackupWorker> worker_;
};

}  // namespace workertest
