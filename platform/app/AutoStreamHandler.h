#pragma once

#include "platform/base/QiError.h"

class Subclient;

// The suite's stream handler: how many data streams a backup may use.
class AutoStreamHandler {
 public:
  // `streams` = the registered maximum number of streams of the subclient, at
  // least 1 (a subclient registered without a maximum gets one stream, so
  // that a backup always has a stream to share out). `flag`, `nodeCount`,
  // `reserved` and `context` are not used. A missing or unregistered
  // subclient is an error (Win32 87 or 1168) and leaves `streams` as it was.
  static CQiError GetMaxNumberOfStreams(Subclient* subclient, int& streams, bool flag,
                                        int nodeCount, int reserved, void* context);
};
