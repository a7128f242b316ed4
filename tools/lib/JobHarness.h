#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/objectops/DataStream.h"
#include "platform/runner/RunnerTypes.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimCluster.h"
#include "tools/lib/CollectTotals.h"
#include "tools/lib/HarnessState.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// One machine playing a whole suite around the real plug-in, kept in a home
// directory that later processes open again:
//
//   <home>/harness.json     cluster, clients, instance, subclient, next job id
//   <home>/registry         the suite's registry (Priam command, base home)
//   <home>/base/            the suite's base home (Priam working folders)
//   <home>/cluster/         the simulated cluster (fixture generator)
//   <home>/suite/           the suite home: central records, client job
//                           results, Jobs/ records, index/ and store/
//
// A backup job runs through TqRunner::CJobRunner with the plug-in loaded from
// its library; every node of the cluster is a node client of the job (named
// after the node), the coordinator runs on the client that stands for the
// cluster, and each worker writes into its own CStoreDataStream.
//
// Open makes this process use the home's suite home and registry: one open
// harness per process at a time.
class CJobHarness {
 public:
  static constexpr const char* kCoordinatorClient = "cluster1";
  // Items a store stream of a job confirms together (one file-system flush
  // and one catalog transaction per batch; see CStoreDataStream).
  static constexpr int kCommitBatch = 64;
  static constexpr const char* kInstanceName = "cassandra1";
  static constexpr const char* kSubclientName = "default";
  static constexpr uint32_t kOmbrelId = 2;
  static constexpr int64_t kAppType = 64;
  // Bytes counted for the files of an SSTable beside its data, and for a
  // node's configuration, when checking free space; and the room left free.
  static constexpr uint64_t kSSTableOverhead = 64 * 1024;
  static constexpr uint64_t kNodeOverhead = 1024 * 1024;
  static constexpr uint64_t kSpareSpace = 256ull * 1024 * 1024;

  CJobHarness(std::string home, HarnessPaths paths);
  ~CJobHarness();
  CJobHarness(const CJobHarness&) = delete;
  CJobHarness& operator=(const CJobHarness&) = delete;

  // Creates the home's folders when missing, points the suite home and the
  // registry at them, sets the registry values the plug-in needs, reads the
  // saved state and puts the docker stand-in first on PATH with the
  // cluster's world (none: no engine runs).
  CQiError Open();
  // Opens the home only to read it: nothing is created or written, so it
  // works on a home the user may only read and beside a running job. Error 2
  // when the home does not exist.
  CQiError OpenForReading();
  // Gives the process back the suite home, registry, PATH and docker world
  // it had before Open.
  void Close();

  const std::string& Home() const { return home_; }
  std::string SuiteHome() const { return home_ + "/suite"; }
  const CHarnessState& State() const { return state_; }

  // Generates the simulated cluster under <home>/cluster (error 183 when the
  // home has one already). Both CreateCluster remove first what a run
  // stopped before it recorded the cluster left in its folder
  // (ReclaimedFolder() then names it).
  CQiError CreateCluster(const TqSim::FixtureOptions& options);
  // Generates a further cluster named `name` under <home>/clusters/<name>
  // (the name is also its Cassandra cluster name): nodes "<name>-node1"..,
  // addresses "10.<n>.<dc>.<i>" for the n-th further cluster, and data of its
  // own (another seed than the first cluster's). Needs the home's first
  // cluster (error 2); a name that is taken, or holds other characters than
  // letters, digits, "_" and "-", is refused (183, 87); so are containers
  // (50: the docker stand-in serves one cluster's world).
  CQiError CreateCluster(const TqSim::FixtureOptions& options, const std::string& name);
  // The folder the last CreateCluster removed as a leftover, "" for none.
  const std::string& ReclaimedFolder() const { return reclaimed_; }
  // Registers the cluster's client, one client per node, the instance over
  // the cluster and its default subclient (the whole cluster). Error 183
  // when registered already; error 2 without a cluster.
  CQiError Register(const RegisterOptions& options = RegisterOptions());
  // Registers a further cluster the same way as another instance: its own
  // cluster client ("cluster<n+1>" for the n-th further cluster), node
  // clients, instance ("cassandra<n+1>") and default subclient. Error 2 for
  // an unknown name, 183 when registered already.
  CQiError Register(const RegisterOptions& options, const std::string& name);
  // Changes the settings of the registered instance and subclient: the
  // subclient's streams and the instance's commit-log backup with its
  // folder, each only where `change` names it. Error 2 when not registered.
  CQiError ChangeRegistration(const RegistrationChange& change);
  // The folder the bytes of a new cluster or of a data change need, and
  // whether the file system of the home has them (with room to spare); error
  // 112 naming both amounts when not.
  CQiError CheckFreeSpace(uint64_t bytesNeeded, const char* what) const;

  // The job spec of the next backup job, numbered with the next job id
  // (which Run then takes): tests change what they need (restart string and
  // an earlier job id for a rerun, quit flag, streams, limits) before
  // running it.
  TqRunner::JobSpec MakeSpec(const BackupRequest& request) const;
  // The job spec of the next restore job (numbered like a backup's): every
  // node client takes part, the coordinator runs on the cluster's client.
  // The job's description (what the job manager hands the job: the restore
  // task with the selection, the instance and the time range) is written
  // for the job id the spec takes.
  CQiError MakeRestoreSpec(const RestoreRequest& request, TqRunner::JobSpec& spec) const;
  CQiError RunRestore(const RestoreRequest& request, TqRunner::JobResult& result);

  // A stream factory whose streams write into this home's archive store
  // for `spec`'s job.
  TqRunner::StreamFactory StoreStreams(const TqRunner::JobSpec& spec) const;
  // Runs the job (a job id of 0 takes the next one; the streams are
  // StoreStreams unless the spec has its own) and records it. Error only
  // when the job could not be run at all; a job that ran reports its status
  // in `result`.
  CQiError Run(TqRunner::JobSpec spec, TqRunner::JobResult& result);
  CQiError RunBackup(const BackupRequest& request, TqRunner::JobResult& result);

  // Loads the simulated cluster, lets `edit` change it (fault switches,
  // node states, ring, keyspaces) and saves it; the Priam stand-ins read it
  // on every request.
  CQiError EditCluster(const std::function<void(TqSim::SimCluster&)>& edit);

  // New SSTables on every table of every node (ClusterDataChange.h).
  CQiError ChangeData(int perTable, uint64_t dataSize, int& added);

  // Marks a recorded job failed with `reason` (its record and its row in the
  // catalog), keeping its phases, events and restart entries.
  CQiError MarkJobFailed(int64_t jobId, const std::string& reason);
  // Jobs recorded as running while no process holds the home: their runs
  // were killed. Each is marked failed ("interrupted"), and what no catalog
  // row names is removed (pieces of its streams without a row, temporary
  // pieces, temporary files of interrupted rewrites); its rows and pieces
  // stay for a rerun with its restart entries. An in-place restore that
  // ended not Completed and whose journals are not settled has its placed but never loaded files
  // removed (an entry with `ended`, only when it removed something). Call
  // with the home's lock.
  CQiError RecoverInterrupted(std::vector<InterruptedJob>& recovered);
  // Removes what in-place restore job `job.jobId` placed and never loaded,
  // at the job's own end (LeftoverRecovery.h).
  void RecoverPlacedFiles(InterruptedJob& job) const;

  // The recorded jobs, ascending, and one of them.
  std::vector<int64_t> Jobs() const;
  CQiError ReadJob(int64_t jobId, TqRunner::JobResult& result) const;
  // Checks the job's stored items against the files they were read from
  // (JobVerifier.h).
  CQiError Verify(int64_t jobId, VerifyReport& report) const;

  // Error 2, saying what to do first, when the home has no registered
  // cluster.
  CQiError NeedRegisteredCluster() const { return NeedRegistered(); }
  // What a backup job stores in all, read from its nodes' collect files
  // (CollectTotals.h); the function may be called from any thread.
  std::function<CCollectTotals::Totals()> CollectTotals(int64_t jobId) const;

  // The job results folder of a client for a job.
  std::string JobResultsOf(const std::string& client, int64_t jobId) const;

 private:
  CQiError NeedCluster() const;
  // Registers `cluster`'s clients, instance and subclient and fills in
  // their ids.
  CQiError RegisterCluster(HarnessCluster& cluster, const RegisterOptions& options,
                           const std::string& dockerWorld, const std::string& instanceName,
                           uint64_t backupSetId);
  void UseDockerWorld();
  CQiError NeedRegistered() const;
  // Writes the record of a job that starts (status kJobRunning), so that a
  // job killed outright is listed.
  CQiError RecordStart(const TqRunner::JobSpec& spec) const;
  // Removes what no catalog row of the job names from its store folder.
  CQiError ReclaimOrphans(int64_t jobId, int& removed) const;
  // What every job spec of this home has: plug-in, ids, clients, limits.
  TqRunner::JobSpec BaseSpec() const;

  // Removes `folder`, a cluster folder the home's state does not name.
  CQiError ReclaimClusterFolder(const std::string& folder);

  std::string home_;
  std::string reclaimed_;
  HarnessPaths paths_;
  CHarnessState state_;
  bool open_ = false;
  std::string savedRegistry_;
  // PATH and the docker stand-in's world before Open (unset: nullopt).
  std::optional<std::string> savedPath_;
  std::optional<std::string> savedDockerWorld_;
  bool dockerSet_ = false;
};

}  // namespace TqHarness
