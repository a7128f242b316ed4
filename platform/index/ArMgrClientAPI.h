#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/framework/ValueTypes.h"

// Arguments of the archive manager's archive-file list of a job.
struct GetArchFileListForJobArgsCC_t {
  int64_t ombrelId = 0;  // 0: any
  int64_t jobId = 0;
};

// One archive file of a job. The first three members give an ArchiveFileId_t.
struct GetArchFileListForJobRetCC_t {
  int64_t ombrelId = 0;
  int64_t archiveGroupId = 0;
  int64_t archiveFileId = 0;
  int64_t jobId = 0;
  int64_t streamNumber = 0;
  int64_t createTime = 0;  // seconds since 1970
  std::string clientName;  // the client whose stream wrote it
};

// The identity of an archive file as the index takes it.
struct ArchiveFileId_t {
  uint32_t ombrelId;
  uint32_t archiveGroupId;
  uint32_t archiveFileId;
};

// The archive manager's client: what the index catalog knows of a job's
// archive files.
class ArMgrClientAPI {
 public:
  enum Result : int {
    kSuccess = 0,
    kFailed = 1,          // the catalog could not be read
    kNoArchiveFiles = 2,  // the job has no archive file (the list is empty)
  };

  // Replaces `list` with the job's archive files, the first made first.
  // A job without any (nothing was stored for it, or no such job) answers
  // kNoArchiveFiles, never success with an empty list.
  static int getArchFileListForJob(const GetArchFileListForJobArgsCC_t& args,
                                   std::vector<GetArchFileListForJobRetCC_t>& list);

  // The media agent that serves a subclient's data, in `ret` as "<client
  // name>*<host name>" (DemangleHostName splits it). `args.param2` is the
  // lookup kind, kMediaAgentOfSubclient the only one, and `args.param4` the
  // subclient id (above 0). The archive store of this suite lives on one
  // machine: the registry value "ArchiveStore"/"sMediaAgent" names its media
  // agent, else it is this machine's client. kFailed for another kind or
  // subclient id (ret untouched).
  enum { kMediaAgentOfSubclient = 4 };
  static int getMediaAgent(const GetMediaAgentArgs_t& args, GetMediaAgentRet_t& ret);
  // The archive file id of a list entry (values cut to 32 bits).
  static ArchiveFileId_t ArchiveFileIdOf(const GetArchFileListForJobRetCC_t& entry);
};
