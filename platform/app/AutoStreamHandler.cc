#include "platform/app/AutoStreamHandler.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/Subclient.h"
#include "platform/suite/SuiteStore.h"

namespace {

std::mutex g_jobStreamsLock;
// Stream counts of the jobs running in this process, by subclient.
std::map<uint64_t, int> g_jobStreams;

int RegisteredMaximum(const SSubclientRecord& record) {
  return record.maxStreams > 0 ? record.maxStreams : 1;
}

}  // namespace

CQiError AutoStreamHandler::GetMaxNumberOfStreams(Subclient* subclient, int& streams, bool, int,
                                                  int, void*) {
  if (subclient == nullptr) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No subclient to count the streams of");
  }
  SSubclientRecord record;
  CQiError error = CSuiteStore::Default().LoadSubclient(subclient->getSubclientId(), record);
  if (error.IsError()) return error.Push(FXLOC);
  int maximum = RegisteredMaximum(record);
  {
    std::lock_guard<std::mutex> lock(g_jobStreamsLock);
    auto job = g_jobStreams.find(subclient->getSubclientId());
    if (job != g_jobStreams.end()) maximum = std::min(maximum, job->second);
  }
  streams = maximum;
  return CQiError::Success();
}

void AutoStreamHandler::SetJobStreams(uint64_t subclientId, int streams) {
  std::lock_guard<std::mutex> lock(g_jobStreamsLock);
  if (streams > 0) {
    g_jobStreams[subclientId] = streams;
  } else {
    g_jobStreams.erase(subclientId);
  }
}

int AutoStreamHandler::CapToSubclient(uint64_t subclientId, int streams) {
  SSubclientRecord record;
  if (CSuiteStore::Default().LoadSubclient(subclientId, record).IsError()) return streams;
  return std::min(streams, RegisteredMaximum(record));
}
