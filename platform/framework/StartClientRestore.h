#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <list>
#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/framework/RestoreRecord.h"
#include "platform/framework/ValueTypes.h"
#include "platform/msg/BrowseRecords.h"

// The character at which a browse path is cut when the launcher's
// alternate-delimiter option is on.
#define TQ_ALTERNATE_PATH_DELIMITER '\x01'

// The suite's client restore launcher: browses the backup index for the items
// of a restore and turns them into restore records. getRestoreParameters
// drives it: getToTime, CreateBrowseRequest (which calls fillBrowsePaths), one
// index browse through IdxBrowseClient, ProcessBrowseResponse once per page
// of answers (the index answers in one page), prepareScPaths; then it hands
// back the init data, source paths, records and item count. A launcher that
// specialises it overrides the virtual steps and uses the members below.
class CStartClientRestore {
 public:
  CStartClientRestore(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient, bool baseFlag,
                      bool optionFlag);
  virtual ~CStartClientRestore();
  CStartClientRestore(const CStartClientRestore&) = delete;
  CStartClientRestore& operator=(const CStartClientRestore&) = delete;

  // Adds every entry of the restore task's path list 1 to the request's
  // paths (field 4); true when it added any.
  virtual bool fillBrowsePaths(databrowse::BrowseRequest& request);
  // Leaves `toTime` as it is.
  virtual CQiError getToTime(long& toTime, bool flag);
  // Source paths from the restore task's path list 1, with their strip
  // levels (error 1627 "computeStripLevel failed for %s" for a path that has
  // none), "cleanup" alone when getDoCleanup; error 1627 "srcpaths is empty"
  // when none results; then the filter list from path list 2 when empty.
  virtual CQiError prepareScPaths();
  // Builds the browse request: type 1, the scope of the restore task
  // (ombrel, instance, backup set, subclient, application type), the time
  // range (from-time, the to-time of getToTime), option 62 = 1 (items summed
  // per archive file) when perArchiveFileRecords is set, and the paths of
  // fillBrowsePaths; false from it is error 1627 "Failed to set browse paths
  // for launching browse/find". Fields already set in the request's options
  // stay.
  virtual CQiError CreateBrowseRequest();
  virtual bool IsContentIndexingJob() { return false; }
  // Makes one record per archive file of the answer's items (items of the
  // same archive file add their file and extent counts to its record) and
  // takes the aggregate total as the expected item total. Called once per
  // page; the records and totals add up over the calls.
  virtual CQiError ProcessBrowseResponse(databrowse::BrowseResponseList& responses);

  // Runs the launcher (see the class comment) and hands back what it found.
  // `itemCount` is the expected item total of the browse. Errors of any step
  // are returned with this location pushed; a failed index browse is error
  // 1627 "Index browse failed: %s".
  virtual CQiError getRestoreParameters(FSRFIRInitData& initData, std::list<FSRSrcPath>& srcPaths,
                                        std::list<RestoreRecord>& records,
                                        unsigned long long& itemCount);

  // Components of `path` the restore strips so that the selected item lands
  // directly in the destination: the number of its components before the
  // last one ("/**" and "/*" endings do not count as components). -1 for a
  // path that is empty or not absolute.
  static int computeStripLevelSuper(EvRstTask* task, const std::string& path);
  // A versions path asks for every version of an item; it begins ";VERSIONS;"
  // and is browsed as it is written.
  static bool isVersionsPath(const std::string& path);

  int getAppType() const { return appType_; }
  void setAppType(int type) { appType_ = type; }
  bool getDoCleanup() const { return doCleanup_; }
  void setDoCleanup(bool cleanup) { doCleanup_ = cleanup; }
  // The restore task of the job: the one set, else one the launcher reads
  // for its job id (null when the job id is 0).
  EvRstTask* GetRestoreTask();
  void setRestoreTask(EvRstTask* task) { restoreTask_ = task; }
  TQRstJobClient* getJobClient() const { return jobClient_; }
  TQJobCtrlClient* getJobCtrlClient() const { return jobCtrlClient_; }
  bool getBaseFlag() const { return baseFlag_; }
  bool getOptionFlag() const { return optionFlag_; }
  long long getJobId() const { return jobId_; }
  void setJobId(long long jobId) { jobId_ = jobId; }
  // The to-time getRestoreParameters browsed up to (after getToTime).
  long getBrowseToTime() const { return browseToTime_; }
  // True when one of the three waivers of the item-total check holds.
  bool isTotalCheckWaived() const {
    return waiveTotalForLiveSync || waiveTotalForContentIndexing || waiveTotalForDeletedItems;
  }

 protected:
  // The browse request CreateBrowseRequest builds.
  databrowse::BrowseRequest browseRequest;
  // Source paths, their strip levels and the filter paths (prepareScPaths).
  std::list<std::string> srcPathList;
  std::list<int> stripLevelList;
  std::list<std::string> filterList;
  // One record per archive file (ProcessBrowseResponse).
  std::list<RestoreRecord> restoreRecordList;
  // The browse's aggregate total, and the extents counted in records.
  unsigned long long totalItemsExpected = 0;
  unsigned long long extentItemsCounted = 0;
  // The restore's scope: the restore task's instance and subclient ids
  // (set by getRestoreParameters before CreateBrowseRequest).
  uint64_t instanceId = 0;
  int64_t subclientId = 0;
  // A distributed restore: records carry the node their items belong to.
  bool distributedRestore = false;
  // Ask the index for items summed per archive file (browse option 62).
  bool perArchiveFileRecords = false;
  // Non-zero: prepareScPaths derives no source paths from browse paths.
  int skipSourcePathsFromBrowse = 0;
  // Waivers of the check of the item total against the records.
  bool waiveTotalForLiveSync = false;
  bool waiveTotalForContentIndexing = false;
  bool waiveTotalForDeletedItems = false;
  // Cut browse paths at TQ_ALTERNATE_PATH_DELIMITER.
  bool useAlternatePathDelimiter = false;

 private:
  // Request type 1, the restore task's scope and the time range.
  void ScopeBrowseRequest(EvRstTask* task);

  TQRstJobClient* jobClient_;
  TQJobCtrlClient* jobCtrlClient_;
  bool baseFlag_;
  bool optionFlag_;
  int appType_ = 0;
  bool doCleanup_ = false;
  long long jobId_ = 0;
  long browseToTime_ = 0;
  EvRstTask* restoreTask_ = nullptr;
  boost::shared_ptr<EvRstTask> ownTask_;
};
