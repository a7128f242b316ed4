// The end of the commit-log phase on the node: the staged logs given to
// Cassandra's user, the commit-log restore settings and replay list of every
// target node, and the restart request to the coordinator.

#include <algorithm>
#include <initializer_list>
#include <set>
#include <vector>

#include "common/CassandraEnvFile.h"
#include "common/CommitLogArchivingProperties.h"
#include "common/CommitLogStagingPath.h"
#include "logrestore/CassandraLogRestoresController.h"
#include "logrestore/CommitLogSettingsCopy.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/base/QiSleep.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "platform/suite/TqProcess.h"

namespace TQCassandra {

namespace {

constexpr const char* kCommitLogComponent = "#COMMITLOG#";
constexpr uint32_t kChownPauseMs = 5000;

// A setting value that would end its line early or carry a control
// character into the file.
bool HasControlCharacter(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

template <class Map>
std::vector<std::string> SortedKeys(const Map& map) {
  std::vector<std::string> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

bool CCassandraLogRestoreController::sendStatus(bool restart, const std::string& dockerInfo,
                                                bool failed) {
  boost::shared_ptr<DistributedQEL::AgentStoppedStatus> status(
      new DistributedQEL::AgentStoppedStatus());
  status->setFailed(failed ? 1 : 0);
  if (restart) {
    std::vector<DistributedQEL::DINameValue> values;
    values.emplace_back("CassandraRestart", "1");
    values.emplace_back("NodeName", TQPI_Focus::getFocusClientName(true).str());
    if (!dockerInfo.empty()) values.emplace_back("DockerInfo", dockerInfo);
    status->setValues(values);
  }
  if (!SendMsgToServer(status)) {
    TQLOG(-1, "Failed to send AgentStoppedStatus message to the Master");
    return false;
  }
  return true;
}

bool CCassandraLogRestoreController::putBackFile(const std::string& path) {
  std::string original;
  CQiError e = CQiFile::ReadWholeFile((path + ".bkp").c_str(), original);
  if (!e.IsError()) {
    CommitLogArchivingProperties::RewriteStep step;
    e = CommitLogArchivingProperties::Rewrite(path, original, step);
  }
  if (e.IsError()) {
    TQLOG(-1, "Failed to put back %s from its .bkp copy: %s", path.c_str(), e.AsString().c_str());
    return false;
  }
  TQLOG(1, "Put back %s from its .bkp copy", path.c_str());
  return true;
}

CQiError CCassandraLogRestoreController::recordSettingsEdited(const std::string& targetKey,
                                                              const std::string& confDir) {
  auto work = workDirByTarget.find(targetKey);
  if (work == workDirByTarget.end()) return CQiError::Success();
  const std::string record = FXPath::Join(work->second, kSettingsRecordName);
  CQiError e = CQiFile::ReplaceWholeFile(record.c_str(), confDir + "\n", 0600);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CCassandraLogRestoreController::configureTarget(const std::string& targetKey,
                                                         const TqCassandra::PriamUtil& priam,
                                                         const std::list<std::string>& tables,
                                                         const std::vector<std::string>& sources,
                                                         std::string& confDir) {
  TQLOG(0, "Configuring Cassandra commit log restore for %s", targetKey.c_str());
  confDir = priam.getCassandraConfDir();
  if (confDir.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Cassandra configuration folder is known for %s",
                                   targetKey.c_str());
  }
  // Every value goes into a line of its own; none may end it early or add
  // another, and an empty command or point in time would replay wrongly.
  const std::string command = restoreCommand + " %from %to ";
  // One restore folder per source node whose logs were staged for it, as
  // the node sees the staging path.
  std::string directories;
  for (const std::string& source : sources) {
    const std::string folder = FXPath::Join(FXPath::Join(stagePath, source), kCommitLogComponent);
    const std::string problem = CommitLogStagingPath::Problem(folder);
    if (!problem.empty()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Refusing the commit log restore folder [%s]: %s",
                                     folder.c_str(), problem.c_str());
    }
    directories += (directories.empty() ? "" : ",") + folder;
  }
  if (restoreCommand.empty() || cassandraPointInTime.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "No commit log restore command or point in time was received");
  }
  for (const std::string* value :
       std::initializer_list<const std::string*>{&command, &directories, &cassandraPointInTime}) {
    if (HasControlCharacter(*value)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Refusing the commit log restore setting [%s]",
                                     value->c_str());
    }
  }
  for (const std::string& table : tables) {
    const size_t dot = table.find('.');
    if (dot == std::string::npos || !CassandraEnvFile::IsPlainName(table.substr(0, dot)) ||
        !CassandraEnvFile::IsPlainName(table.substr(dot + 1))) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a table name [%s]", table.c_str());
    }
  }

  const std::string props = FXPath::Join(confDir, CommitLogArchivingProperties::kFileName);
  const std::string env = FXPath::Join(confDir, CassandraEnvFile::kFileName);
  std::string text;
  CQiError e = CQiFile::ReadWholeFile(props.c_str(), text);
  if (e.IsError()) {
    TQLOG(-1, "Failed to open Cassandra commit log archive config file %s: %s", props.c_str(),
          e.AsString().c_str());
    return e.Push(FXLOC);
  }
  std::string envText;
  e = CQiFile::ReadWholeFile(env.c_str(), envText);
  if (e.IsError()) {
    TQLOG(-1, "Failed to open cassandra-env.sh file: %s", e.AsString().c_str());
    return e.Push(FXLOC);
  }
  // Written before any copy: a process killed from here on leaves it, and
  // the next run puts the node's settings back from the copies.
  e = recordSettingsEdited(targetKey, confDir);
  if (e.IsError()) {
    TQLOG(-1, "Failed to record the settings edit of %s: %s", targetKey.c_str(),
          e.AsString().c_str());
    return e.Push(FXLOC);
  }
  e = CCommitLogSettingsCopy::Keep(props, text);
  if (e.IsError()) {
    TQLOG(-1, "Failed to copy Cassandra commit log archive config file %s: %s", props.c_str(),
          e.AsString().c_str());
    return e.Push(FXLOC);
  }
  const std::vector<std::pair<const char*, const std::string*>> keys = {
      {"restore_command", &command},
      {"restore_directories", &directories},
      {"restore_point_in_time", &cassandraPointInTime}};
  for (const auto& key : keys) {
    TQLOG(2, "Param: %s Value: %s", key.first, key.second->c_str());
    text = CommitLogArchivingProperties::UpdateKey(text, key.first, *key.second);
  }
  TQLOG(2, "commit log file content: %s", text.c_str());

  e = CCommitLogSettingsCopy::Keep(env, envText);
  if (e.IsError()) {
    TQLOG(-1, "Failed to copy cassandra-env.sh file %s: %s", env.c_str(), e.AsString().c_str());
    return e.Push(FXLOC);
  }
  TQLOG(0, "File cassandra-env.sh being appended with : %s",
        CassandraEnvFile::ReplayListLine(tables).c_str());
  envText = CassandraEnvFile::SetReplayList(envText, tables);

  // Both files are read and their new texts made before either is written;
  // each is replaced whole, so a failure leaves a file old or new.
  CommitLogArchivingProperties::RewriteStep step;
  e = CommitLogArchivingProperties::Rewrite(props, text, step);
  if (e.IsError()) {
    TQLOG(-1, "Failed to %s Cassandra commit log archive config file %s: %s",
          step == CommitLogArchivingProperties::kRewriteOpen ? "open" : "write into", props.c_str(),
          e.AsString().c_str());
    return e.Push(FXLOC);
  }
  e = CommitLogArchivingProperties::Rewrite(env, envText, step);
  if (e.IsError()) {
    TQLOG(-1, "Failed to %s cassandra-env.sh file: %s",
          step == CommitLogArchivingProperties::kRewriteOpen ? "open" : "write into",
          e.AsString().c_str());
    // Restore settings without their replay list would replay every table.
    putBackFile(props);
    return e.Push(FXLOC);
  }
  return CQiError::Success();
}

void CCassandraLogRestoreController::OnAgentStopped() {
  TQ_DEBUG_FUNCTION();
  std::string user = cassandraFlavor;
  std::string group = cassandraFlavor;
  TQPlatformInfo registry;
  if (registry.getString("Cassandra", "sCassOSUser", user)) {
    registry.getString("Cassandra", "sCassOSGroup", group);
  }

  bool logsRestored = false;
  std::set<std::string> owned;
  for (const std::string& key : SortedKeys(hostStagingPath)) {
    const std::string& staging = hostStagingPath[key];
    if (stagedLogSources(key).empty()) continue;
    logsRestored = true;
    if (!owned.insert(staging).second) continue;
    TQLOG(0, " Changing permissions User [%s], group [%s] for path %s", user.c_str(), group.c_str(),
          staging.c_str());
    std::string command;
    CQiError e = MakeChownCommand(user, group, staging, command);
    if (e.IsError()) {
      TQLOG(-1, "Failed to change permissions on required directory %s: %s", staging.c_str(),
            e.AsString().c_str());
      continue;
    }
    std::string out, err;
    if (TqProcess::system(command.c_str(), out, err, 0, false) != 0) {
      TQLOG(-1, "Failed to change permissions on required directory. Command: %s, Error: %s",
            command.c_str(), err.c_str());
    }
  }

  if (!logsRestored) {
    TQLOG(0, "No logs restored. Sending do not restart status");
    sendStatus(false, std::string(), false);
  } else {
    QISLEEP(kChownPauseMs);
    TQJobCtrlClientPtr jobCtrl;
    if (GetJobControllerObj(jobCtrl).IsError()) jobCtrl.reset();
    std::string dockerInfo;
    std::vector<std::string> configured;
    // A target whose settings could not be made replays nothing: the job
    // must not read as if its logs were replayed.
    bool settingsFailed = false;
    if (!jobCtrl || jobCtrl->checkQuitFlag()) {
      TQLOG(-1, "The job is stopping; no Cassandra commit log restore settings are changed");
    } else {
      for (const std::string& key : SortedKeys(priamByTarget)) {
        auto tables = replayTablesByTarget.find(key);
        const boost::shared_ptr<TqCassandra::PriamUtil>& priam = priamByTarget[key];
        auto staging = hostStagingPath.find(key);
        if (tables == replayTablesByTarget.end() || tables->second.empty() ||
            (!recover && !useSSTableLoader)) {
          TQLOG(1, "No table of %s replays commit logs; its settings stay as they are",
                key.c_str());
        } else if (staging == hostStagingPath.end() || stagedLogSources(key).empty()) {
          // Its restart would replay nothing, and a restore folder that does
          // not exist would not let Cassandra start.
          TQLOG(1, "No commit logs were restored for %s; its settings stay as they are",
                key.c_str());
        } else if (priam) {
          std::string confDir;
          CQiError e = configureTarget(key, *priam, tables->second, stagedLogSources(key), confDir);
          if (e.IsError()) {
            TQLOG(-1, "Cassandra commit log restore settings of %s are unchanged: %s", key.c_str(),
                  e.AsString().c_str());
            raisePendingCause(kEvCommitLogConfigFailed, key + ": " + e.GetMessage());
            settingsFailed = true;
          } else {
            configured.push_back(confDir);
          }
        }
        auto container = containerByTarget.find(key);
        if (container != containerByTarget.end()) {
          dockerInfo += key + ":" + container->second + ":" +
                        (staging != hostStagingPath.end() ? staging->second : std::string()) + "##";
        }
      }
    }
    if (configured.empty()) {
      // A restart would replay nothing.
      TQLOG(0, "No node has commit logs to replay. Sending do not restart status");
      sendStatus(false, std::string(), settingsFailed);
    } else {
      TQLOG(0, "Logs restored. Sending restart status");
      if (!sendStatus(true, dockerInfo, settingsFailed)) {
        // No restart comes for these nodes: the settings must not wait for
        // the next start of Cassandra, which would replay them then.
        for (const std::string& confDir : configured) {
          putBackFile(FXPath::Join(confDir, CommitLogArchivingProperties::kFileName));
          putBackFile(FXPath::Join(confDir, CassandraEnvFile::kFileName));
        }
      }
    }
  }
  stopPriams();
  DistributedQEL::CRestoreController::OnAgentStopped();
}

}  // namespace TQCassandra
