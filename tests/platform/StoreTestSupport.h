#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "TempDir.h"
#include "platform/base/QiDirectory.h"
#include "platform/index/StoreDataStream.h"
#include "platform/suite/ClientContext.h"

// A suite home of its own for each test: the catalog and the store live in a
// fresh temporary folder, gone after the test.
class StoreTest : public ::testing::Test {
 public:
  // Stores `content` as a whole-file item through the stream and commits it.
  static CQiError Store(OBJECTOPSAPI::IDataStream& stream, const std::string& headerPath,
                        const std::string& content, const std::string& source = "/src") {
    OBJECTOPSAPI::StreamItemHeader header;
    header.headerPath = headerPath;
    header.sourcePath = source;
    header.fileSize = content.size();
    header.pieceLength = content.size();
    CQiError error = stream.BeginItem(header);
    if (error.IsError()) return error;
    if (!content.empty()) {
      error = stream.WriteExtent(0, content.data(), content.size());
      if (error.IsError()) return error;
    }
    return stream.CommitItem();
  }

 protected:
  void SetUp() override {
    ASSERT_FALSE(home_.path().empty());
    CClientContext::SetSuiteHome(home_.path());
  }
  void TearDown() override { CClientContext::SetSuiteHome(""); }

  const std::string& Home() const { return home_.path(); }

  // A file under the test's own data folder (not inside the suite home).
  std::string WriteData(const std::string& name, const std::string& content) {
    std::string directory = data_.path();
    std::string path = directory + "/" + name;
    size_t slash = path.find_last_of('/');
    CQiDirectory::Create(path.substr(0, slash).c_str(), true);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
  }
  std::string DataPath(const std::string& name) const { return data_.path() + "/" + name; }

  static SStreamJob Job(int64_t jobId, int stream = 1) {
    SStreamJob job;
    job.jobId = jobId;
    job.ombrelId = 2;
    job.clientName = "node1";
    job.instanceId = 7;
    job.backupsetId = 8;
    job.subclientId = 9;
    job.appType = 64;
    job.kind = "backup";
    job.level = 1;
    job.streamNumber = stream;
    return job;
  }

  // `size` bytes that differ from position to position.
  static std::string Pattern(size_t size, unsigned seed = 1) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
      x = x * 1103515245u + 12345u;
      out[i] = static_cast<char>(x >> 16);
    }
    return out;
  }

 private:
  TempDir home_;
  TempDir data_;
};
