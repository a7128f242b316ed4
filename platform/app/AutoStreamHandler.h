#pragma once

#include <cstdint>

#include "platform/base/QiError.h"

class Subclient;

// The suite's stream handler: how many data streams a backup may use.
class AutoStreamHandler {
 public:
  // `streams` = the number of streams of the job running for the subclient
  // (SetJobStreams) but never more than the registered maximum of the
  // subclient; without a running job the maximum. The maximum is at least 1
  // (a subclient registered without one gets one stream, so that a backup
  // always has a stream to share out). `flag`, `nodeCount`, `reserved` and
  // `context` are not used. A missing or unregistered subclient is an error
  // (Win32 87 or 1168) and leaves `streams` as it was.
  static CQiError GetMaxNumberOfStreams(Subclient* subclient, int& streams, bool flag,
                                        int nodeCount, int reserved, void* context);

  // The framework's side: the stream count of the job that runs for
  // `subclientId` in this process (0 or less: no job). The framework gives
  // the coordinator the same count (capped by CapToSubclient) as
  // "-numstreams", so the coordinator's two stream figures agree.
  static void SetJobStreams(uint64_t subclientId, int streams);
  // `streams` capped at the registered maximum of `subclientId` (unchanged
  // when the subclient is not registered).
  static int CapToSubclient(uint64_t subclientId, int streams);
};
