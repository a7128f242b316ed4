#pragma once

#include "platform/base/QiString.h"

// The suite's communication client: where a client keeps its job results.
class TQPI_CommClient {
 public:
  // The job results directory of `clientName` (see
  // CClientContext::JobResultsDirectory); created when missing.
  static CQiString getJobResultsDirectory(const char* clientName);
};
