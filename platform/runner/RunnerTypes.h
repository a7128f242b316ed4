#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/log/EventJournal.h"

namespace DistributedQEL {
class ICoordinator;
class CController;
}  // namespace DistributedQEL

namespace OBJECTOPSAPI {
class IDataStream;
}  // namespace OBJECTOPSAPI

// The job runner: drives the phases of a job through a plug-in's coordinator
// and node controllers, as the suite's distributed agent framework does, all
// in one process. CJobRunner (JobRunner.h) is the entry; these are its inputs
// and outputs.
namespace TqRunner {

// The plug-in's exported factories.
typedef DistributedQEL::ICoordinator* (*CoordinatorFactory)(const char* kind);
typedef DistributedQEL::CController* (*ControllerFactory)(const char* kind);

// Action codes of DistributedQEL::TakeAction that the runner follows after a
// coordinator's OnTaskChange. The runner hands the handler code 0.
enum TaskAction {
  // Keep the status the handler left: TASK_REASSIGN goes back to the streams
  // of its node, TASK_FAILED stays failed.
  kTaskActionNone = 0,
  // Hand a failed task out again (the runner sets TASK_REASSIGN).
  kTaskActionReassign = 1,
  // The task stays failed, even when the handler set TASK_REASSIGN.
  kTaskActionFail = 2,
};

// A suite client that takes part in a job: the coordinating machine or a
// machine that hosts nodes.
struct NodeClient {
  std::string clientName;
  uint32_t clientId = 0;
  std::string hostName;
  int cpuCount = 0;  // 0: not known
};

// Bounds of the runner's waits. No phase outlives phaseTimeout; a phase in
// which nothing can move any more ends after stallRounds quiet rounds.
struct RunnerLimits {
  // Longest single wait for an event before the runner looks again.
  std::chrono::milliseconds pollInterval{20};
  // Consecutive quiet rounds without progress that end a phase.
  int stallRounds = 3;
  // Longest run of one phase; then the job's quit flag is raised and the
  // phase is ended.
  std::chrono::milliseconds phaseTimeout{std::chrono::hours(6)};
  // Longest wait, when a phase ends, for running workers and controllers to
  // finish; a thread that still has not returned is left behind.
  std::chrono::milliseconds stopGrace{std::chrono::seconds(60)};
  // Streams that addWorker may add to one node in one phase.
  int maxAddedWorkersPerNode = 4;
};

// Something the runner did, for progress lines and for tests.
struct RunnerEvent {
  enum Kind {
    kPhase,     // a phase started or ended (text: "start", "skipped" or its end reason)
    kMessage,   // a message travelled: from, to, recordName, xml
    kNode,      // a node changed state: clientName, status (node state), text
    kTask,      // a task changed status: taskId, clientName, streamNumber, status,
                // tasksComplete and tasksTotal of the phase
    kStream,    // a stream started or ended: clientName, streamNumber, text
    kProgress,  // a restore stream placed or skipped an item: clientName, streamNumber,
                // and its totals so far: items (files), bytes, skipped
  };
  Kind kind = kPhase;
  std::string phase;
  std::string from;  // "coordinator" or a client name
  std::string to;
  std::string recordName;
  std::string xml;
  std::string clientName;
  int taskId = -1;
  int streamNumber = 0;
  int status = 0;
  int tasksComplete = 0;
  int tasksTotal = 0;
  int64_t items = 0;
  int64_t bytes = 0;
  int64_t skipped = 0;
  std::string text;
};

// Job kind of the post-operations phase; its controllers get the job's
// backup level ("-t <level>") on their argument line.
constexpr const char* kPostOperationsPhase = "postop";

// Sender names of RunnerEvent::kMessage.
constexpr const char* kCoordinatorEndpoint = "coordinator";

// The data stream of a worker: the stream `streamNumber` of `clientName`.
typedef std::function<boost::shared_ptr<OBJECTOPSAPI::IDataStream>(const std::string& clientName,
                                                                   int streamNumber)>
    StreamFactory;

// What to run.
struct JobSpec {
  // The plug-in: a library whose exported factories are used, or, when no
  // path is given, the two factories themselves.
  std::string pluginPath;
  CoordinatorFactory coordinatorFactory = nullptr;
  ControllerFactory controllerFactory = nullptr;

  int64_t jobId = 0;
  // Recorded with the job ("backup", "restore").
  std::string jobType = "backup";
  // Job kinds of the phases, in order; each asks the factories by its kind.
  std::vector<std::string> phases{"scan", "backup"};
  int backupLevel = TQBkpLevel_Full;
  // A commit-log backup: the program arguments carry the flag "log".
  bool commitLogJob = false;
  uint32_t ombrelId = 0;
  uint32_t applicationId = 0;  // the subclient
  uint64_t instanceId = 0;
  // The subclient's backup set and the application type; recorded in the
  // job's row of the index catalog, where browse scopes match them.
  uint64_t backupSetId = 0;
  int64_t appType = 0;
  std::string jobToken;
  int numberOfStreams = 1;
  std::string mediaAgent;

  // The coordinating machine and the clients that nodes may be (the
  // coordinator's addNode finds them here, then in CClientDirectory; those
  // the directory does not know yet are added to it for the process).
  NodeClient coordinatorClient;
  std::vector<NodeClient> nodeClients;

  // A restore: the destination folder of a file-system restore ("" puts
  // files back at their source paths), and a hook called before each piece
  // of a restored file is written (an error fails the item there; tests
  // use it as a failing disk).
  std::string restoreDestination;
  std::function<CQiError(const std::string& clientName, int streamNumber,
                         const std::string& headerPath, uint64_t offset)>
      restoreWriteHook;

  // Restart entries of an earlier run of the same job ("-o 9|-1 -o 10|4096";
  // JobResult::restartString).
  std::string restartString;
  // The job's quit flag; the runner makes one when none is given.
  TQJobCtrlClientPtr jobCtrlClient;
  // The data streams of the backup workers; without one a worker has no
  // stream and its tasks fail.
  StreamFactory streamFactory;
  // Told of every RunnerEvent, from any of the runner's threads (one call at
  // a time).
  std::function<void(const RunnerEvent&)> observer;
  RunnerLimits limits;

  // Writes the job's record (JobRecordStore.h).
  bool writeRecord = true;
  // Folder of the job records; "" for <suite home>/Jobs.
  std::string recordsDirectory;
};

// A task at the end of its phase.
struct TaskRecord {
  int taskId = -1;
  int status = 0;  // TASK_*
  std::string reservedNode;
  std::string runningNode;
  int streamId = 0;
  int attempts = 0;           // hand-outs
  int failedStreams = 0;      // streams that failed it, over every node
  int64_t commitOffset = -1;  // the last commit, -1 when none
};

// A node at the end of its phase.
struct NodeRecord {
  std::string clientName;
  uint32_t clientId = 0;
  int state = 0;  // NODE_*
  bool startFailed = false;
  bool aborted = false;
  std::string arguments;  // the controller's program arguments
  int streams = 0;        // streams it ran
  std::string failure;    // why it failed to start, "" when it did not
};

struct PhaseResult {
  std::string name;
  bool skipped = false;
  int status = 0;  // PHASE_*; 0 for a skipped phase
  int statusWord = 0;
  int completionCode = 0;
  // "complete" (every node stopped), "no progress", "quit", "timeout",
  // "start failed" (the coordinator did not start), "no coordinator",
  // "skipped".
  std::string endReason;
  std::string message;  // what stopped, in words; "" after a clean end
  int64_t startTime = 0;
  int64_t endTime = 0;
  std::vector<NodeRecord> nodes;
  std::vector<TaskRecord> tasks;
  // A restore phase's counters, as its coordinator base kept them: items to
  // restore (the launcher's total), and items restored, skipped on purpose
  // and failed.
  uint64_t itemsToRestore = 0;
  int64_t itemsRestored = 0;
  uint64_t itemsSkipped = 0;
  int64_t itemsFailed = 0;
};

struct JobResult {
  int64_t jobId = 0;
  std::string jobType;
  int status = 0;     // PHASE_* of the whole job
  std::string error;  // why the job could not run at all ("" when it ran)
  std::vector<PhaseResult> phases;
  // Events and pending causes raised while the job ran.
  std::vector<CEventJournal::Entry> events;
  std::vector<CEventJournal::Entry> pendingCauses;
  // What the job manager got from the job client (a TQBkpJobClient): the
  // reference time (0 when none was set) and the phase parameters, which
  // every later phase's coordinator finds at the end of its argument line.
  int64_t referenceTime = 0;
  std::string phaseParams;
  // Restart entries for a rerun: "-o <task>|-1" for a complete task,
  // "-o <task>|<offset>" for one with a committed offset.
  std::string restartString;
  int attempt = 1;  // runs of this job id recorded so far, this one included
  std::string recordPath;
  int64_t startTime = 0;
  int64_t endTime = 0;

  bool Completed() const { return status == PHASE_COMPLETE; }
};

// What the suite knows of a job before it runs, as the job manager hands it
// to the job's processes: its identity, and for a restore what is restored
// from where (the restore task, EvRstTask) and the job's options as XML
// (TMMsg::JobOption text, EvTask::getXMLOptions). The runner stores it with
// CJobRecordStore::WriteDescription before the first phase starts.
struct JobDescription {
  int64_t jobId = 0;
  std::string jobType;    // "restore", "backup"
  int64_t startTime = 0;  // seconds since 1970
  uint32_t ombrelId = 0;
  std::string clientName;  // the client that runs the job's coordinator
  // The restore task.
  uint64_t sourceInstanceId = 0;
  uint64_t destInstanceId = 0;
  int64_t sourceAppType = 0;
  uint64_t sourceClientId = 0;
  uint64_t backupSetId = 0;
  int64_t subclientId = 0;         // -1: every subclient of the backup set
  int32_t mediaAgentClientId = 0;  // 0: the subclient's default media agent
  uint32_t copyPrecedence = 0;
  int64_t fromTime = 0;                // seconds since 1970, 0 = open
  int64_t toTime = 0;                  // seconds since 1970, 0 = open
  std::vector<std::string> pathList1;  // selected source paths
  std::vector<std::string> pathList2;  // filter paths
  // The job's options: the XML text of a TMMsg::JobOption.
  std::string xmlOptions;
};

// The status of a job's record while the job runs (a record written when the
// job starts; CJobRunner replaces it when the job ends).
constexpr int kJobRunning = -1;

// "Completed", "Completed w/ one or more errors", "Failed", "Skipped",
// "Running" (kJobRunning) or "Unknown".
const char* PhaseStatusName(int status);

}  // namespace TqRunner
