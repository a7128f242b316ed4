#pragma once

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"

// The suite's client restore launcher: browses the backup index for the items
// of a restore and turns them into restore records. The framework calls the
// virtual operations below in its own order; the defaults add nothing.
class CStartClientRestore {
 public:
  CStartClientRestore(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient, bool baseFlag,
                      bool optionFlag);
  virtual ~CStartClientRestore() = default;
  CStartClientRestore(const CStartClientRestore&) = delete;
  CStartClientRestore& operator=(const CStartClientRestore&) = delete;

  // Sets the browse paths of the request; true when it set any.
  virtual bool fillBrowsePaths(databrowse::BrowseRequest& request);
  // Leaves `toTime` as it is.
  virtual CQiError getToTime(long& toTime, bool flag);
  virtual CQiError prepareScPaths();
  virtual CQiError CreateBrowseRequest();
  virtual bool IsContentIndexingJob() { return false; }
  virtual CQiError ProcessBrowseResponse(databrowse::BrowseResponseList& responses);

  int getAppType() const { return appType_; }
  void setAppType(int type) { appType_ = type; }
  bool getDoCleanup() const { return doCleanup_; }
  void setDoCleanup(bool cleanup) { doCleanup_ = cleanup; }
  // The restore task of the job (not owned).
  EvRstTask* GetRestoreTask() const { return restoreTask_; }
  void setRestoreTask(EvRstTask* task) { restoreTask_ = task; }
  TQRstJobClient* getJobClient() const { return jobClient_; }
  TQJobCtrlClient* getJobCtrlClient() const { return jobCtrlClient_; }
  bool getBaseFlag() const { return baseFlag_; }
  bool getOptionFlag() const { return optionFlag_; }

 private:
  TQRstJobClient* jobClient_;
  TQJobCtrlClient* jobCtrlClient_;
  bool baseFlag_;
  bool optionFlag_;
  int appType_ = 0;
  bool doCleanup_ = false;
  EvRstTask* restoreTask_ = nullptr;
};
