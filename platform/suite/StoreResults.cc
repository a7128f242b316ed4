#include "platform/suite/StoreResults.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/base/QiDirectory.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/TQPI_CommClient.h"

StoreResults::StoreResults(int kind, int64_t jobId, bool create, void*) {
  if (kind < 0 || jobId <= 0) return;
  const std::string client = CClientContext::ClientName();
  directory_ = std::string(TQPI_CommClient::getJobResultsDirectory(client.c_str()).c_str()) +
               "/TQ_JobResults/" + std::to_string(kind) + "/0/" + std::to_string(jobId);
  if (create) {
    CQiError error = CQiDirectory::Create(directory_.c_str(), true);
    if (error.IsError())
      TQLOG(-1, "Cannot create %s: %s", directory_.c_str(), error.AsString(2).c_str());
  }
  std::error_code ec;
  exists_ = std::filesystem::is_directory(directory_, ec);
}

StoreResults::~StoreResults() { closeFile(); }

const char* StoreResults::getDirectory() const { return exists_ ? directory_.c_str() : nullptr; }

int StoreResults::openRaw(int n, std::string& name) {
  if (!exists_ || n < 0) return 1;
  closeFile();
  name = directory_ + "/JobResults_" + std::to_string(n) + ".raw";
  file_ = std::fopen(name.c_str(), "ab");
  if (!file_) {
    TQLOG(-1, "Cannot open %s: %s", name.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}

int StoreResults::closeFile() {
  if (!file_) return 0;
  int rc = std::fclose(file_);
  file_ = nullptr;
  return rc == 0 ? 0 : 1;
}
