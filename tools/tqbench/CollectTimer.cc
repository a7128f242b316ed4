#include "tools/tqbench/CollectTimer.h"

#include <chrono>
#include <new>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraCollectFileContext.h"
#include "backup/CustomPostProcessingOptions.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/multinode/FlatCollectFile.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/multinode/UnixFlatCollectFile.h"
#include "platform/multinode/UnixSplitCollectFiles.h"

namespace TqBench {

using TQCassandra::CassandraBackupController;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

CCollectTimer::CCollectTimer(std::vector<std::string> tableDirs, std::string snapshotName,
                             std::string jobResultsDir, int splitCount)
    : tableDirs_(std::move(tableDirs)),
      snapshotName_(std::move(snapshotName)),
      jobResultsDir_(std::move(jobResultsDir)),
      splitCount_(splitCount) {}

CQiError CCollectTimer::Run(CollectTiming& timing) const {
  timing = CollectTiming();
  const TQBkpLevel level = TQBkpLevel_Full;
  const std::string flatPath =
      FXPath::Join(jobResultsDir_, CUnixFileNameFactory::CollectFileName(level, 1));
  CQiError error = CQiDirectory::Create(jobResultsDir_.c_str(), true);
  if (error.IsError()) return error.Push(FXLOC);

  auto start = std::chrono::steady_clock::now();
  TQCassandra::CassandraCollectFileContext context;
  CUnixFlatCollectFilePtr flat(new CUnixFlatCollectFile(1, flatPath, "w"));
  context.consumer = flat;
  context.level = level;
  context.jobResultsDir = jobResultsDir_;
  for (const std::string& tableDir : tableDirs_) {
    error = CassandraBackupController::writeToCollectFile(tableDir, flatPath, context.consumer);
    if (error.IsError()) return error.Push(FXLOC);
  }
  for (const std::string& tableDir : tableDirs_) {
    const std::string snapshot = FXPath::Join(FXPath::Join(tableDir, "snapshots"), snapshotName_);
    CQiDirectory::Walk(snapshot.c_str(), &context, 0, false,
                       CassandraBackupController::cassandraAddToCollectFile);
    if (context.error.IsError()) {
      error = context.error;
      return error.Push(FXLOC);
    }
  }
  timing.walkSeconds = SecondsSince(start);
  timing.entries = static_cast<long long>(flat->GetProcessedItemsCount());

  start = std::chrono::steady_clock::now();
  boost::shared_ptr<CCustomPostProcessingOptions> options(new CCustomPostProcessingOptions());
  options->SetCollectFileSplitCount(splitCount_);
  CUnixFileNameFactoryPtr names(new CUnixFileNameFactory(level, jobResultsDir_));
  COutputResources output;
  output.outputId = 1;
  output.collectFileConsumer = context.consumer;
  CUnixSplitCollectFiles splitter(options, names, {output}, 1);
  error = splitter.SplitCollectFiles();
  if (error.IsError()) return error.Push(FXLOC);
  timing.splitSeconds = SecondsSince(start);
  timing.collectFiles = splitter.GetLastCollectFileIndex() + 1;
  return CQiError::Success();
}

}  // namespace TqBench
