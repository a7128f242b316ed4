#include "platform/runner/RunnerTypes.h"

namespace TqRunner {

const char* PhaseStatusName(int status) {
  switch (status) {
    case PHASE_COMPLETE:
      return "Completed";
    case PHASE_COMPLETE_WITH_WARNINGS:
      return "Completed w/ one or more errors";
    case PHASE_FAILED:
      return "Failed";
    case 0:
      return "Skipped";
    case kJobRunning:
      return "Running";
    default:
      return "Unknown";
  }
}

}  // namespace TqRunner
