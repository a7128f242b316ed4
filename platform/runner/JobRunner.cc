#include "platform/runner/JobRunner.h"

#include <algorithm>
#include <ctime>
#include <list>
#include <map>
#include <mutex>

#include "platform/datamover/RestoreGenerations.h"
#include "platform/datamover/RestoreTargets.h"
#include "platform/framework/RestartString.h"
#include "platform/index/IndexCatalog.h"
#include "platform/log/LogWriter.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/runner/PhaseEngine.h"
#include "platform/runner/PluginLibrary.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/TQBkpJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TqRunner {

namespace {

// Collects what the process's event journal receives while it lives.
class CJournalRecorder {
 public:
  CJournalRecorder() {
    id_ = CEventJournal::Instance().AddListener([this](const CEventJournal::Entry& entry) {
      std::lock_guard<std::mutex> lock(mutex_);
      entries_.push_back(entry);
    });
  }
  ~CJournalRecorder() { Stop(); }
  void Stop() {
    if (id_ != 0) CEventJournal::Instance().RemoveListener(id_);
    id_ = 0;
  }
  std::vector<CEventJournal::Entry> Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  int id_ = 0;
  mutable std::mutex mutex_;
  std::vector<CEventJournal::Entry> entries_;
};

// A client of the spec that the suite does not know yet is added to the
// process's directory; a known one keeps its record.
void RegisterClient(const NodeClient& client) {
  if (client.clientName.empty()) return;
  SClientRecord record;
  if (CClientDirectory::Instance().FindByName(client.clientName, record)) return;
  record.id = client.clientId;
  record.name = client.clientName;
  record.hostName = client.hostName;
  CClientDirectory::Instance().Add(record);
}

// The job's row in the index catalog's jobs table: registered when the job
// starts (a rerun keeps the row of the first run), its status set when it
// ends. The full record stays in CJobRecordStore.
void CatalogJob(const JobSpec& spec, const JobResult& result, bool starting) {
  CIndexCatalog catalog;
  CQiError error = catalog.Open();
  if (!error.IsError() && starting) {
    SJobRecord job;
    job.jobId = spec.jobId;
    job.ombrelId = spec.ombrelId;
    job.clientName = spec.coordinatorClient.clientName;
    job.clientId = spec.coordinatorClient.clientId;
    job.instanceId = spec.instanceId;
    job.subclientId = spec.applicationId;
    job.backupsetId = spec.backupSetId;
    job.appType = spec.appType;
    job.kind = spec.commitLogJob ? "log" : spec.jobType;
    job.level = spec.backupLevel;
    job.startTime = result.startTime;
    job.status = "running";
    error = catalog.RegisterJob(job, false);
    if (!error.IsError()) error = catalog.SetJobStatus(spec.jobId, "running", 0);
  } else if (!error.IsError()) {
    error = catalog.SetJobStatus(spec.jobId, PhaseStatusName(result.status), result.endTime);
  }
  if (error.IsError()) {
    TQLOG(-1, "Job %lld not recorded in the index catalog: %s", static_cast<long long>(spec.jobId),
          error.AsString().c_str());
  }
}

int JobStatus(const std::vector<PhaseResult>& phases) {
  int status = PHASE_COMPLETE;
  for (const auto& phase : phases) {
    if (phase.skipped) continue;
    if (phase.status == PHASE_FAILED) return PHASE_FAILED;
    if (phase.status != PHASE_COMPLETE) status = PHASE_COMPLETE_WITH_WARNINGS;
  }
  return status;
}

}  // namespace

std::string CJobRunner::RestartEntries(const PhaseResult& phase) {
  std::list<TQDC_FileSystem::RestartInfo> entries;
  for (const TaskRecord& task : phase.tasks) {
    TQDC_FileSystem::RestartInfo entry;
    entry.taskId = task.taskId;
    if (task.status == DistributedQEL::TASK_COMPLETE) {
      entry.offset = -1;
    } else if (task.commitOffset >= 0) {
      entry.offset = task.commitOffset;
    } else {
      continue;
    }
    entries.push_back(entry);
  }
  entries.sort([](const TQDC_FileSystem::RestartInfo& a, const TQDC_FileSystem::RestartInfo& b) {
    return a.taskId < b.taskId;
  });
  return TQDC_FileSystem::CRestartString::Format(entries);
}

JobResult CJobRunner::Run() {
  JobResult result;
  result.jobId = spec_.jobId;
  result.jobType = spec_.jobType;
  result.startTime = std::time(nullptr);
  CJobRecordStore store(spec_.recordsDirectory);
  {
    JobResult earlier;
    if (!store.Read(spec_.jobId, earlier).IsError()) result.attempt = earlier.attempt + 1;
  }

  CoordinatorFactory coordinatorFactory = spec_.coordinatorFactory;
  ControllerFactory controllerFactory = spec_.controllerFactory;
  if (!spec_.pluginPath.empty()) {
    CQiError error = CPluginLibrary::Load(spec_.pluginPath, coordinatorFactory, controllerFactory);
    if (error.IsError()) result.error = error.AsString();
  } else if (coordinatorFactory == nullptr) {
    result.error = "No plug-in: neither a library nor a coordinator factory was given";
  }

  if (result.error.empty()) {
    TQLOG(0, "Job %lld starts", static_cast<long long>(spec_.jobId));
    RegisterClient(spec_.coordinatorClient);
    for (const auto& client : spec_.nodeClients) RegisterClient(client);
    if (spec_.writeRecord) CatalogJob(spec_, result, true);

    TQBkpJobClientPtr jobClient(new TQBkpJobClient(spec_.jobId));
    if (!spec_.restartString.empty()) jobClient->setRestartString(spec_.restartString);
    TQJobCtrlClientPtr jobCtrlClient = spec_.jobCtrlClient;
    if (!jobCtrlClient) jobCtrlClient.reset(new TQJobCtrlClient(spec_.jobId));

    // A task of a rerun resumes from the offset its restart entry names, also
    // when it fails again before committing anything new.
    std::map<int, int64_t> offsets;
    for (const auto& entry : TQDC_FileSystem::CRestartString::Parse(spec_.restartString)) {
      if (entry.offset >= 0) offsets[entry.taskId] = entry.offset;
    }

    auto spec = std::make_shared<const JobSpec>(spec_);
    CJournalRecorder journal;
    int nextTaskId = 1;
    std::vector<PhaseResult> withTasks;
    for (const std::string& phase : spec_.phases) {
      CPhaseEngine::Setup setup;
      setup.spec = spec;
      setup.phase = phase;
      setup.coordinatorFactory = coordinatorFactory;
      setup.controllerFactory = controllerFactory;
      setup.jobClient = jobClient;
      setup.jobCtrlClient = jobCtrlClient;
      setup.commitOffsets = offsets;
      setup.phaseParams = result.phaseParams;
      setup.firstTaskId = nextTaskId;
      const size_t journalBefore = journal.Entries().size();
      PhaseResult phaseResult = CPhaseEngine::Run(setup);
      for (const TaskRecord& task : phaseResult.tasks) {
        nextTaskId = std::max(nextTaskId, task.taskId + 1);
      }
      if (phase == kPostOperationsPhase && phaseResult.status == PHASE_COMPLETE) {
        // The post-operations phase has no tasks to tell how it went; a
        // major event raised during it (a node whose Priam did not start)
        // completes it with warnings.
        const std::vector<CEventJournal::Entry> entries = journal.Entries();
        for (size_t i = journalBefore; i < entries.size(); ++i) {
          if (entries[i].kind == CEventJournal::kEvent &&
              entries[i].severity >= CEventJournal::kMajor) {
            phaseResult.status = PHASE_COMPLETE_WITH_WARNINGS;
            break;
          }
        }
      }
      const TQBkpJobClient::JobManagerState state = jobClient->getJobManagerState();
      if (state.hasReferenceTime) result.referenceTime = state.referenceTime;
      result.phaseParams = state.phaseParams;
      TQLOG(0, "Phase %s: %s (%s) %s", phase.c_str(), PhaseStatusName(phaseResult.status),
            phaseResult.endReason.c_str(), phaseResult.message.c_str());
      // The restart entries cover the tasks of every phase (their numbers
      // differ: a restore's phases number on from each other).
      if (!phaseResult.tasks.empty()) {
        PhaseResult& all = withTasks.empty() ? withTasks.emplace_back() : withTasks.front();
        all.tasks.insert(all.tasks.end(), phaseResult.tasks.begin(), phaseResult.tasks.end());
        result.restartString = RestartEntries(all);
      }
      result.phases.push_back(std::move(phaseResult));
    }
    journal.Stop();
    // What the job's restore phases placed is remembered only while it runs.
    TqDataMover::CRestoreTargets::Instance().ForgetJob(spec_.jobId);
    TqDataMover::CRestoreGenerations::Instance().ForgetJob(spec_.jobId);
    for (const auto& entry : journal.Entries()) {
      if (entry.kind == CEventJournal::kPendingCause) {
        result.pendingCauses.push_back(entry);
      } else {
        result.events.push_back(entry);
      }
    }
  }
  result.status = result.error.empty() ? JobStatus(result.phases) : PHASE_FAILED;
  if (!result.error.empty())
    TQLOG(-1, "Job %lld: %s", static_cast<long long>(spec_.jobId), result.error.c_str());
  result.endTime = std::time(nullptr);
  if (spec_.writeRecord) {
    if (result.error.empty()) CatalogJob(spec_, result, false);
    result.recordPath = store.PathOf(spec_.jobId);
    CQiError error = store.Write(result);
    if (error.IsError()) {
      TQLOG(-1, "Job record not written: %s", error.AsString().c_str());
      result.recordPath.clear();
    }
  }
  return result;
}

}  // namespace TqRunner
