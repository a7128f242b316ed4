#pragma once

#include "platform/runner/RunnerTypes.h"

namespace TqRunner {

// Runs a job: each of its phases in order through CPhaseEngine, whatever the
// earlier ones ended with (a failed or killed backup still gets its
// post-operations phase, which is written to cope with that), then records
// the job (JobRecordStore.h). The job's status is the worst of its phases'.
//
// The job's two clients live for the whole job: the job client, a
// TQBkpJobClient (restart string, pending causes, and what the phases hand
// the job manager: the reference time and the phase parameters, which the
// runner appends to the coordinator argument line of every later phase), and
// the job control client (quit flag). A rerun of a job passes the earlier
// JobResult::restartString in JobSpec::restartString; the coordinator reads it
// from the job client, and the tasks it names start from their committed
// offsets.
//
// The events and pending causes of the job are those the process's event
// journal received while the job ran; run one job at a time per process.
//
// Program arguments (CFrameworkArguments gives the options):
//   coordinator: -ombrel <id> -appid <id> [-instance <id>] -j <job id>
//                [-token <token>] -t <level> -numstreams <n> [-d <media agent>]
//                -jr <job results directory> [log][<phase parameters>]
//   controller:  -ombrel <id> -appid <id> [-instance <id>] -j <job id>
//                [-token <token>] -jr <job results directory> [log]
//                followed by the coordinator's getCommandArgumentsForNode line
// The job results directory of a client is <its job results folder>/<job id>
// (CClientContext::JobResultsDirectory); its client context carries it too.
class CJobRunner {
 public:
  explicit CJobRunner(JobSpec spec) : spec_(std::move(spec)) {}

  JobResult Run();

  // The restart entries for a rerun after `phase`: "-o <task>|-1" for each
  // complete task, "-o <task>|<offset>" for each other task with a committed
  // offset, by ascending task number.
  static std::string RestartEntries(const PhaseResult& phase);

 private:
  JobSpec spec_;
};

}  // namespace TqRunner
