// The data job's collect files: the flat collect file of every directory and
// file to back up, the job-results state file, the extent pass and the split
// into the node's numbered collect files.

#include <cstdio>
#include <new>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraBackupWorker.h"
#include "backup/CassandraControllerClientConfig.h"
#include "backup/CustomPostProcessingOptions.h"
#include "platform/base/AutoHandle.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/ExtentCollectFile.h"
#include "platform/multinode/FlatCollectFile.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/multinode/UnixFlatCollectFile.h"
#include "platform/multinode/UnixSplitCollectFiles.h"

namespace TQCassandra {

namespace {

// The table record a table directory's name stands for, as the request
// carries tables: "<table>-<id>"; a name without "-" is a table of the old
// layout without id. Sets `legacy` for such a name.
DistributedQEL::CassandraTable TableOfDirectory(const std::string& name, bool& legacy) {
  DistributedQEL::CassandraTable table;
  size_t dash = name.find('-');
  if (dash == std::string::npos) {
    legacy = true;
    table.setTableName(name);
    table.setTableId("");
  } else if (name.find('-', dash + 1) == std::string::npos) {
    table.setTableName(name.substr(0, dash));
    table.setTableId(name.substr(dash + 1));
  }
  return table;
}

}  // namespace

CQiError CassandraBackupController::writeToCollectFile(const std::string& path,
                                                       const std::string& collectFile,
                                                       boost::shared_ptr<CItemConsumer>& consumer) {
  long long size = 0;
  CQiError error = FXFile::TQGetFileSize(path.c_str(), size);
  if (error.IsError()) {
    TQLOG(-1, "Failed to get file size [%s] [%s]", path.c_str(), error.AsString(2).c_str());
    size = 0;
  }
  CFlatCollectFilePtr flat = getItemConsumerInstanceOf<CFlatCollectFile>(consumer);
  if (!flat) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No collect file %s to add %s to",
                                   collectFile.c_str(), path.c_str());
  }
  error = flat->AddEntry(path, static_cast<int64_t>(size));
  if (error.IsError()) {
    TQLOG(-1, "Failed to add %s to collect file %s: %s", path.c_str(), collectFile.c_str(),
          error.AsString(2).c_str());
    return FXErrorUtil::Restate(
        FXLOC, error,
        "Failed to add " + path + " to collect file " + collectFile + ": " + error.GetMessage());
  }
  return CQiError::Success();
}

CQiError CassandraBackupController::cassandraAddToCollectFile(const char* directory,
                                                              const char* name, bool isDirectory,
                                                              void* context) {
  CassandraCollectFileContext* collect = static_cast<CassandraCollectFileContext*>(context);
  const std::string path = FXPath::Join(directory ? directory : "", name ? name : "");
  if (isDirectory) {
    TQLOG(0, "%s is not a table sstable file. Skipping", path.c_str());
    return CQiError::Success();
  }
  if (!collect) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No collect file context");
  // Made once per walk, not once per entry.
  if (collect->collectFilePath.empty()) {
    collect->collectFilePath = FXPath::Join(
        collect->jobResultsDir, CUnixFileNameFactory::CollectFileName(collect->level, 1));
  }
  CQiError error = writeToCollectFile(path, collect->collectFilePath, collect->consumer);
  if (error.IsError()) {
    // Kept for the generation, which fails with it; the walk stops here.
    if (!collect->error.IsError()) collect->error = error;
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

bool CassandraBackupController::IsFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

CQiError CassandraBackupController::addToFailuresList(const std::string& instance,
                                                      const std::string& keyspace) {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  const std::string path = config ? config->getFailuresFilePath() : std::string();
  if (path.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No failures list to record keyspace %s of %s",
                                   keyspace.c_str(), instance.c_str());
  }
  // Every failed keyspace stays in the list: lines are appended, in one write
  // under the lock the backup workers append with.
  CQiError error = CassandraHandleFailedFiles::AddFailedKeyspace(path, instance, keyspace);
  if (error.IsError()) {
    return FXErrorUtil::Restate(FXLOC, error,
                                "Failed to record failed keyspace " + keyspace + " of instance " +
                                    instance + " in " + path + ": " + error.GetMessage());
  }
  return CQiError::Success();
}

CQiError CassandraBackupController::generateCollectFiles(int splitCount, int collectFileStart,
                                                         TQBkpLevel level) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");

  CassandraCollectFileContext context;
  CUnixFlatCollectFilePtr flat;
  std::string flatPath;
  CQiError opened = openFlatCollectFile(level, context, flat, flatPath);
  if (opened.IsError()) return opened.Push(FXLOC);

  // Directories first: data, keyspace and table directories of every
  // instance; the files of the snapshots or backups directories follow.
  std::vector<std::string> walks;
  for (auto& entry : priamByInstance) {
    const std::string& name = entry.first;
    TQLOG(0, "Instance %s", name.c_str());
    if (!isPriamRunning(name)) {
      TQLOG(0, "Priam not initialized or not started on %s. Skipping", name.c_str());
      continue;
    }
    const std::vector<DistributedQEL::CassandraKeyspace>& keyspaces = keyspacesByInstance[name];
    const std::vector<std::string>& full = fullKeyspaces[name];
    const std::vector<std::string>& dataDirectories = config->nodeProperties[name].dataDirectories;

    if (!keyspaces.empty()) {
      for (const std::string& dataDirectory : dataDirectories) {
        if (dataDirectory.empty()) continue;
        CQiError error = writeToCollectFile(dataDirectory, flatPath, context.consumer);
        if (error.IsError()) return error.Push(FXLOC);
      }
    }
    for (const DistributedQEL::CassandraKeyspace& keyspace : keyspaces) {
      const std::string keyspaceName = keyspace.getKeyspaceName();
      // A name that cannot be a folder name would lead outside the data
      // directory or shift the header path, and could never be restored:
      // the keyspace, or the table, is refused and its keyspace failed.
      if (!IsFolderName(keyspaceName)) {
        TQLOG(-1,
              "Keyspace \"%s\" of instance %s cannot be a folder name. Adding keyspace %s into "
              "failed file. Continuing",
              keyspaceName.c_str(), name.c_str(), keyspaceName.c_str());
        CQiError error = addToFailuresList(name, keyspaceName);
        if (error.IsError()) return error.Push(FXLOC);
        continue;
      }
      std::vector<DistributedQEL::CassandraTable> tables;
      bool refusedTable = false;
      for (const DistributedQEL::CassandraTable& table : keyspace.getTables()) {
        if (IsFolderName(table.getTableName())) {
          tables.push_back(table);
          continue;
        }
        TQLOG(-1,
              "Table \"%s\" of keyspace %s of instance %s cannot be a folder name. Adding "
              "keyspace %s into failed file. Continuing",
              table.getTableName().c_str(), keyspaceName.c_str(), name.c_str(),
              keyspaceName.c_str());
        refusedTable = true;
      }
      if (refusedTable) {
        CQiError error = addToFailuresList(name, keyspaceName);
        if (error.IsError()) return error.Push(FXLOC);
      }
      if (tables.empty()) continue;
      bool fromSnapshot = level == TQBkpLevel_Full;
      for (const std::string& fullName : full)
        fromSnapshot = fromSnapshot || fullName == keyspaceName;

      for (const std::string& dataDirectory : dataDirectories) {
        if (dataDirectory.empty()) continue;
        const std::string keyspaceDir = FXPath::Join(dataDirectory, keyspaceName);
        CQiError error = writeToCollectFile(keyspaceDir, flatPath, context.consumer);
        if (error.IsError()) return error.Push(FXLOC);

        CQiDirectory listing;
        error = listing.Open(keyspaceDir.c_str());
        if (error.IsError()) {
          TQLOG(0, "Failed to open directory %s. Adding keyspace %s into failed file. Continuing",
                keyspaceDir.c_str(), keyspaceName.c_str());
          error = addToFailuresList(name, keyspaceName);
          if (error.IsError()) return error.Push(FXLOC);
          continue;
        }
        while (true) {
          SQiDirEntry item;
          bool done = false;
          error = listing.GetEntry(item, done);
          if (error.IsError()) return error.Push(FXLOC);
          if (done) break;
          const std::string entryName = item.name.str();
          bool legacy = false;
          DistributedQEL::CassandraTable table = TableOfDirectory(entryName, legacy);
          if (legacy) legacyTableDirs = true;
          bool wanted = false;
          for (const DistributedQEL::CassandraTable& candidate : tables) {
            wanted = wanted || candidate == table;
          }
          if (!wanted) continue;
          const std::string tableDir = FXPath::Join(keyspaceDir, entryName);
          error = writeToCollectFile(tableDir, flatPath, context.consumer);
          if (error.IsError()) return error.Push(FXLOC);
          walks.push_back(
              fromSnapshot ? FXPath::Join(FXPath::Join(tableDir, "snapshots"), config->snapshotName)
                           : FXPath::Join(tableDir, "backups"));
        }
      }
    }
  }

  for (const std::string& directory : walks) {
    TQLOG(2, "Adding content of directory %s", directory.c_str());
    // A directory that cannot be walked (no backups yet) adds nothing; an
    // entry that cannot be written fails the generation.
    CQiDirectory::Walk(directory.c_str(), &context, 0, false, cassandraAddToCollectFile);
    if (context.error.IsError()) {
      CQiError error = context.error;
      return error.Push(FXLOC);
    }
  }

  CQiError error = createJRStateFile();
  if (error.IsError()) return error.Push(FXLOC);

  if (config->extentBackup) {
    MultiNodeBackupOps::CExtentCollectFile extents(flat, config->extentSize,
                                                   config->largeFileThreshold, true);
    error = extents.Run();
    if (error.IsError()) return error.Push(FXLOC);
  }

  error = finishCollectFiles(splitCount, collectFileStart, context);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupController::openFlatCollectFile(TQBkpLevel level,
                                                        CassandraCollectFileContext& context,
                                                        CUnixFlatCollectFilePtr& flat,
                                                        std::string& flatPath) {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  const std::string& jobResultsDir = config->getJobResultsDirectory();
  flatPath = FXPath::Join(jobResultsDir, CUnixFileNameFactory::CollectFileName(level, 1));
  flat.reset(new (std::nothrow) CUnixFlatCollectFile(config->getJobId(), flatPath, "w"));
  context.consumer = flat;
  if (!context.consumer) {
    return FXErrorUtil::ErrorWin32(FXLOC, 8,
                                   "Unable to get ItemConsumer object. Memory allocation error.");
  }
  context.level = level;
  context.jobResultsDir = jobResultsDir;
  context.collectFilePath = flatPath;
  return CQiError::Success();
}

CQiError CassandraBackupController::finishCollectFiles(int splitCount, int collectFileStart,
                                                       CassandraCollectFileContext& context) {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  int count = 0;
  CQiError error = splitCollectFile(splitCount, collectFileStart, &context, count);
  if (error.IsError()) return error.Push(FXLOC);
  config->setCollectFileStart(static_cast<uint32_t>(collectFileStart));
  config->setCollectFileCount(static_cast<uint32_t>(count));
  return CQiError::Success();
}

CQiError CassandraBackupController::splitCollectFile(int splitCount, int collectFileStart,
                                                     CassandraCollectFileContext* context,
                                                     int& count) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  if (!context) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No collect file context");

  TQLOG(0, "Requesting to create %d collect files", splitCount);
  boost::shared_ptr<CCustomPostProcessingOptions> options(new CCustomPostProcessingOptions());
  options->SetCollectFileSplitCount(splitCount);
  CUnixFileNameFactoryPtr names(new CUnixFileNameFactory(context->level, context->jobResultsDir));
  COutputResources output;
  output.outputId = 1;
  output.collectFileConsumer = context->consumer;
  CUnixSplitCollectFiles splitter(options, names, {output}, 1);
  ISplitCollectFiles& split = splitter;
  CQiError error = split.SplitCollectFiles();
  if (error.IsError()) return error.Push(FXLOC);
  const int n = split.GetLastCollectFileIndex() + 1;
  count = n;

  // Every split file takes a temporary name; the node's share of them then
  // takes the node's numbers, and the rest stay temporary until their tasks
  // arrive.
  for (int i = 1; i <= n; ++i) {
    const std::string from = names->GetCollectFilePath(i);
    const std::string to = names->GetTempCollectFilePath(i);
    if (FXFile::TQMoveFileEx(from.c_str(), to.c_str(), FXFile::kMoveReplaceExisting).IsError()) {
      continue;
    }
    TQLOG(1, "Moved %s to %s", from.c_str(), to.c_str());
  }
  const int share = 2 * config->getNumberOfStreams();
  for (int j = 1; j <= share; ++j) {
    const std::string from = names->GetTempCollectFilePath(j);
    const std::string to = names->GetCollectFilePath(collectFileStart + j - 1);
    if (FXFile::TQMoveFileEx(from.c_str(), to.c_str(), FXFile::kMoveReplaceExisting).IsError()) {
      continue;
    }
    TQLOG(1, "Moved %s to %s", from.c_str(), to.c_str());
  }

  CFlatCollectFilePtr flat = getItemConsumerInstanceOf<CFlatCollectFile>(context->consumer);
  if (!flat || flat->GetProcessedItemsCount() == 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Collect file generation failed");
  }
  TQLOG(0, "Created %d collect files", n);
  return CQiError::Success();
}

CQiError CassandraBackupController::createJRStateFile() {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  const std::string path = FXPath::Join(config->getJobResultsDirectory(), kJRStateFileName);
  auto_handle handle;
  CQiError error = FXFile::TQCreateFile(path.c_str(), FXFile::kGenericWrite, 0, nullptr,
                                        FXFile::kCreateAlways, 0x80, nullptr, handle);
  if (error.IsError()) {
    return FXErrorUtil::Restate(
        FXLOC, error, "Failed to open JR state file " + path + ". Error=" + error.AsString(2));
  }
  char text[32];
  int length = std::snprintf(text, sizeof(text), "%lld",
                             static_cast<long long>(config->GetSCStateFileJobId()));
  TQLOG(2, "Writing into JR state file");
  error = FXFile::TQWriteFile(handle, text, static_cast<size_t>(length));
  if (error.IsError()) {
    return FXErrorUtil::Restate(FXLOC, error, "Failed to write to JR state file [" + path + "]");
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
