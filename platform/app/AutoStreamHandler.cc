#include "platform/app/AutoStreamHandler.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/Subclient.h"
#include "platform/suite/SuiteStore.h"

CQiError AutoStreamHandler::GetMaxNumberOfStreams(Subclient* subclient, int& streams, bool, int,
                                                  int, void*) {
  if (subclient == nullptr) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No subclient to count the streams of");
  }
  SSubclientRecord record;
  CQiError error = CSuiteStore::Default().LoadSubclient(subclient->getSubclientId(), record);
  if (error.IsError()) return error.Push(FXLOC);
  streams = record.maxStreams > 0 ? record.maxStreams : 1;
  return CQiError::Success();
}
