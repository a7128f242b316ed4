#include "platform/framework/StartClientRestore.h"

CStartClientRestore::CStartClientRestore(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient,
                                         bool baseFlag, bool optionFlag)
    : jobClient_(jobClient),
      jobCtrlClient_(jobCtrlClient),
      baseFlag_(baseFlag),
      optionFlag_(optionFlag) {}

bool CStartClientRestore::fillBrowsePaths(databrowse::BrowseRequest&) { return false; }

CQiError CStartClientRestore::getToTime(long&, bool) { return CQiError::Success(); }

CQiError CStartClientRestore::prepareScPaths() { return CQiError::Success(); }

CQiError CStartClientRestore::CreateBrowseRequest() { return CQiError::Success(); }

CQiError CStartClientRestore::ProcessBrowseResponse(databrowse::BrowseResponseList&) {
  return CQiError::Success();
}
