#include "platform/index/ArMgrClientAPI.h"

#include "platform/index/IndexCatalog.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/PlatformInfo.h"

int ArMgrClientAPI::getArchFileListForJob(const GetArchFileListForJobArgsCC_t& args,
                                          std::vector<GetArchFileListForJobRetCC_t>& list) {
  list.clear();
  CIndexCatalog catalog;
  CQiError error = catalog.Open();
  std::vector<SArchiveFileRecord> afiles;
  if (!error.IsError()) error = catalog.ListArchiveFiles(args.jobId, afiles);
  if (error.IsError()) {
    TQLOG(-1, "Failed to list the archive files of job %lld: %s",
          static_cast<long long>(args.jobId), error.AsString(2).c_str());
    return kFailed;
  }
  for (const auto& afile : afiles) {
    if (args.ombrelId != 0 && afile.ombrelId != 0 &&
        static_cast<int64_t>(afile.ombrelId) != args.ombrelId) {
      continue;
    }
    GetArchFileListForJobRetCC_t entry;
    entry.ombrelId = afile.ombrelId;
    entry.archiveGroupId = afile.archiveGroupId;
    entry.archiveFileId = afile.archiveFileId;
    entry.jobId = afile.jobId;
    entry.streamNumber = afile.streamNumber;
    entry.createTime = afile.createTime;
    entry.clientName = afile.clientName;
    list.push_back(entry);
  }
  if (list.empty()) {
    TQLOG(1, "Job %lld has no archive files", static_cast<long long>(args.jobId));
    return kNoArchiveFiles;
  }
  return kSuccess;
}

ArchiveFileId_t ArMgrClientAPI::ArchiveFileIdOf(const GetArchFileListForJobRetCC_t& entry) {
  ArchiveFileId_t id;
  id.ombrelId = static_cast<uint32_t>(entry.ombrelId);
  id.archiveGroupId = static_cast<uint32_t>(entry.archiveGroupId);
  id.archiveFileId = static_cast<uint32_t>(entry.archiveFileId);
  return id;
}

int ArMgrClientAPI::getMediaAgent(const GetMediaAgentArgs_t& args, GetMediaAgentRet_t& ret) {
  if (args.param2 != kMediaAgentOfSubclient || args.param4 < 1) {
    TQLOG(-1, "Media agent lookup of kind %lld for subclient %lld is not served",
          static_cast<long long>(args.param2), static_cast<long long>(args.param4));
    return kFailed;
  }
  std::string name;
  if (!TQPlatformInfo().getString("ArchiveStore", "sMediaAgent", name) || name.empty()) {
    name = CClientContext::ClientName() + "*" + CClientContext::HostName();
  }
  ret.mediaAgentName = name;
  return kSuccess;
}
