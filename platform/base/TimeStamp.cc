#include "platform/base/TimeStamp.h"

#include <time.h>

CTimeStamp CTimeStamp::Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return CTimeStamp(static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100 + kUnixEpoch);
}
