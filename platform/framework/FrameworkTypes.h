#pragma once

// Common names of the distributed agent framework: shared-pointer types, the
// records that only travel as messages (defined with the message records), the
// job clients of the suite, and the state numbers of nodes, streams, tasks and
// phases.

#include <boost/shared_ptr.hpp>
#include <cstdint>

class CNMessageBase;

// Messages handed between the framework and its coordinators and controllers.
// Framework objects are held by boost::shared_ptr; messages too, under this
// name (NMessageBase.h's CNMessageBasePtr is a std::shared_ptr).
typedef boost::shared_ptr<CNMessageBase> FrameworkMessagePtr;

// The suite's job clients (job control layer).
class TQJobClient;
class TQJobCtrlClient;
class TQBkpJobClient;
class TQRstJobClient;
class EvRstTask;
typedef boost::shared_ptr<TQJobClient> TQJobClientPtr;
typedef boost::shared_ptr<TQJobCtrlClient> TQJobCtrlClientPtr;

class CProgramArguments;
typedef boost::shared_ptr<CProgramArguments> CProgramArgumentsPtr;

// Backup level of a job.
enum TQBkpLevel : int {
  TQBkpLevel_Full = 1,         // collect-file infix "Tot"
  TQBkpLevel_Incremental = 2,  // collect-file infix "Inc"
};

namespace DistributedQEL {

// Message records (CNMessageBase subclasses).
class ControllerStartup;
class ControllerDone;
class TaskInfo;
class TaskComplete;
class TaskRequest;
class StreamInfo;
class NodeInit;
class NodeStop;
class AgentStoppedStatus;
class RestoreTaskInfo;

typedef boost::shared_ptr<TaskInfo> TaskInfoPtr;
typedef boost::shared_ptr<RestoreTaskInfo> RestoreTaskInfoPtr;

class CClientConfig;
class CNodeInfo;
class CStreamInfo;
class TaskBase;
class CCoordinatorReports;
class IRestoreWorker;
class CRestoreItemCallBack;
class IFrameworkServices;
typedef boost::shared_ptr<CClientConfig> CClientConfigPtr;
typedef boost::shared_ptr<CNodeInfo> CNodeInfoPtr;
typedef boost::shared_ptr<CStreamInfo> CStreamInfoPtr;
typedef boost::shared_ptr<TaskBase> TaskBasePtr;
typedef boost::shared_ptr<CCoordinatorReports> CCoordinatorReportsPtr;
typedef boost::shared_ptr<IRestoreWorker> IRestoreWorkerPtr;
typedef boost::shared_ptr<CRestoreItemCallBack> CRestoreItemCallBackPtr;
typedef boost::shared_ptr<IFrameworkServices> IFrameworkServicesPtr;

// Task statuses.
enum {
  TASK_NEW = 1,       // created, ready to be handed out
  TASK_ASSIGNED = 2,  // handed to a stream, not yet running
  TASK_RUNNING = 3,   // a worker runs it
  TASK_COMPLETE = 5,  // done
  TASK_FAILED = 6,    // failed
  TASK_REASSIGN = 7,  // failed, waiting for another stream of its node
  TASK_FINAL = 8,     // no further change
};

// Node states.
enum {
  NODE_NEW = 0,       // registered, controller not started
  NODE_STARTING = 1,  // controller being started
  NODE_RUNNING = 4,
  NODE_STOPPING = 5,  // the coordinator has asked it to stop
  NODE_STOPPED = 6,
};

// Stream states; 2, 3 and 4 are active streams.
enum {
  STREAM_NEW = 0,
  STREAM_RESERVED = 1,
  STREAM_STARTING = 2,
  STREAM_RUNNING = 3,
  STREAM_WAITING = 4,
  STREAM_STOPPED = 5,
  STREAM_FAILED = 6,
  // Status argument of getStreams that selects streams in any state.
  STREAM_STATUS_ANY = 8,
};

// Stream kind argument of getStreams that selects every kind.
enum { STREAM_KIND_ANY = -1 };

// Action a handler asks of the framework after a change; the code is its first
// field, 0 = none.
struct TakeAction {
  int action = 0;
};

// Phases of a restore job.
enum RestorePhase : int {
  RESTORE_PHASE_REGULAR = 0,
  RESTORE_PHASE_FILE_EXTENT = 5,
};

}  // namespace DistributedQEL

// Phase statuses the coordinators leave for the job manager.
enum {
  PHASE_COMPLETE = 1,
  PHASE_FAILED = 2,
  PHASE_COMPLETE_WITH_WARNINGS = 14,
};

namespace databrowse {
class BrowseRequest;
class BrowseResponseList;
class BrowseData;
}  // namespace databrowse

namespace App {
class MachineBrowseReq;
class MachineBrowseResp;
class GenericResp;
}  // namespace App
