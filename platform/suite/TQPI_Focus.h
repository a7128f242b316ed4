#pragma once

#include <cstdint>

#include "platform/base/QiString.h"

// This machine's client: the calling thread's client context (or the
// process defaults when none is set; see CClientContext).
class TQPI_Focus {
 public:
  // The client name. The argument is accepted for the suite's callers and
  // does not change the answer.
  static CQiString getFocusClientName(bool shortName = true);
  static CQiString getFocusHostName();
  static uint64_t getFocusClientId();
};
