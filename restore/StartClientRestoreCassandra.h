#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/framework/StartClientRestoreDistributed.h"

namespace databrowse {
class BrowseItemDetails;
}  // namespace databrowse

namespace TQCassandra {

// The client restore launcher of a Cassandra restore: turns the user's
// selections into browse paths of the index layout
// /cluster/data centre/node/keyspace/table/file (commit logs under
// "#COMMITLOG#" in place of keyspace and table), and groups the browse
// results into one restore record per archive file, counting and skipping
// the commit logs, which the point-in-time phase restores. Its data items
// are those of the to-time itself; only a launcher whose records are commit
// logs widens the to-time, so that logs archived after it are found.
class CStartClientRestoreCassandra : public TQDC_FileSystem::CStartClientRestoreDistributed {
 public:
  CStartClientRestoreCassandra(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient,
                               bool baseFlag, bool subclientRestore, bool stageFreeRestore,
                               const std::map<std::string, std::list<std::string>>& sourceDCmap);
  ~CStartClientRestoreCassandra() override;

  // Subclient restore: one path per node of the instance for each keyspace
  // or table selection ("/**/*" for everything), then one commit-log path
  // per node. Otherwise the suite's paths.
  bool fillBrowsePaths(databrowse::BrowseRequest& request) override;
  // The suite's to-time; for a launcher whose records are commit logs
  // (widensToTime), plus nCommitlogBackupInterval minutes (default 30). An
  // open to-time stays open.
  CQiError getToTime(long& toTime, bool flag) override;
  // Subclient restore: the browse paths become the source paths with their
  // strip levels ("cleanup" alone for a clean-up).
  CQiError prepareScPaths() override;
  // The commit-log path of each selected instance, and a cluster or data
  // centre selection expanded to its data centres and nodes.
  CQiError CreateBrowseRequest() override;
  // One restore record per archive file; commit-log items are counted, not
  // restored.
  CQiError ProcessBrowseResponse(databrowse::BrowseResponseList& responses) override;

  // "/<cluster>/<dc>/<client>/#COMMITLOG#" for every node of clusterNodes.
  void fillCommitLogBrowsePaths(databrowse::BrowseRequest& request);
  // Commit-log files met in browse results, summed over all calls.
  int64_t getNumberOfCommitLogItems() const { return commitLogItemCount; }

 protected:
  // Adds `path` to the request's browse paths by the browse path rule.
  void addBrowsePath(databrowse::BrowseRequest& request, const std::string& path);
  // Reads the destination instance's nodes and cluster name.
  bool loadClusterNodes();
  // Copies the archive group, storage domain, ombrel and archive file type
  // of a browse answer's archive file into `record`.
  static void takeArchiveFileDetails(const databrowse::BrowseItemDetails& details,
                                     RestoreRecord& record);
  // Names in `record` the node of the browse item at `path` (split into
  // `parts`); false for an item above the nodes ("/<cluster>",
  // "/<cluster>/<dc>") or without a path, which no record restores.
  static bool takeNodeName(const databrowse::BrowseData& item, const std::string& path,
                           const std::vector<std::string>& parts, RestoreRecord& record);

  // The destination instance's nodes (subclient restore only).
  std::vector<App::CassandraNode> clusterNodes;
  // Every browse path of the request after fillBrowsePaths (subclient
  // restore only): the source paths of prepareScPaths.
  std::vector<std::string> browsePathList;
  std::string clusterName;
  int64_t commitLogItemCount = 0;
  // Set by a launcher that restores only commit logs: its browse reaches
  // nCommitlogBackupInterval past the to-time. A data restore leaves it
  // clear, so that no backup ended after the to-time gives it data.
  bool widensToTime = false;
  bool subclientRestore;
  bool stageFreeRestore;
  // Source data centre -> client names of its nodes.
  std::map<std::string, std::list<std::string>> sourceDCmap;
};

}  // namespace TQCassandra
