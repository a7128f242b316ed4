#include "tools/tqcass/CommandContext.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "tools/lib/ErrorText.h"

namespace TqCass {

namespace fs = std::filesystem;

CCommandContext::CCommandContext(std::string home, std::string commandLine, CSignalWatcher& signals)
    : home_(std::move(home)), commandLine_(std::move(commandLine)), signals_(signals) {}

bool CCommandContext::Check(const CQiError& error) {
  if (!error.IsError()) return true;
  Fail(TqHarness::CErrorText::Describe(error));
  return false;
}

void CCommandContext::Fail(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "tqcass: %s\n", text.c_str());
}

namespace {

std::string Count(int n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

void CCommandContext::PrintLeftovers(const TqHarness::InterruptedJob& job) {
  const long long id = static_cast<long long>(job.jobId);
  std::string removed;
  auto add = [&removed](int n, const char* what) {
    if (n > 0) removed += (removed.empty() ? "" : ", ") + Count(n, what);
  };
  add(job.propertiesFilesRemoved, "Priam properties file");
  add(job.sharesRemoved, "network share");
  add(job.mountFoldersRemoved, "mount folder");
  add(job.stagingFoldersRemoved, "staging folder");
  add(job.restoreTemporariesRemoved, "restore temporary file");
  add(job.placedFilesRemoved, "placed but never loaded SSTable file");
  if (!removed.empty()) std::printf("job %lld left %s: removed\n", id, removed.c_str());
  if (!job.nodesStarted.empty()) {
    std::printf("job %lld had stopped Cassandra on %s: started again\n", id,
                Joined(job.nodesStarted).c_str());
  }
  if (!job.settingsPutBack.empty()) {
    std::printf("job %lld had left restore settings live on %s: put back from their .bkp copies\n",
                id, Joined(job.settingsPutBack).c_str());
  }
  if (!job.settingsNotPutBack.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "tqcass: job %lld: restore settings could not be put back on %s\n", id,
                 Joined(job.settingsNotPutBack).c_str());
  }
  if (!job.nodesNotStarted.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "tqcass: job %lld: Cassandra could not be started again on %s\n", id,
                 Joined(job.nodesNotStarted).c_str());
  }
}

int CCommandContext::Open(CTqcassCommand& command) {
  harness_.reset(
      new TqHarness::CJobHarness(home_, {TQ_PLUGIN_PATH, TQ_PRIAM_COMMAND, TQ_DOCKER_DIR}));
  if (command.HomeAccess() == CTqcassCommand::kReads) {
    if (!Check(harness_->OpenForReading())) return kFailed;
    return kOk;
  }
  const int checked = command.CheckHome(home_);
  if (checked != kOk) return checked;
  std::error_code ec;
  fs::create_directories(home_, ec);
  if (ec) {
    Check(FXErrorUtil::ErrorErrNo(FXLOC, ec.value(), "Cannot create the home %s", home_.c_str()));
    return kFailed;
  }
  if (!Check(lock_.Acquire(home_, commandLine_))) return kFailed;
  const int prepared = command.PrepareHome(*this);
  if (prepared != kOk) return prepared;
  if (!Check(harness_->Open())) return kFailed;
  // The job's log goes to the home unless TQ_LOG_FILE names a file; unless
  // TQ_LOG_LEVEL says otherwise it keeps errors and milestones, what a user
  // reads.
  if (g_ptrLogWriter) {
    if (g_ptrLogWriter->GetLogFile().empty()) {
      g_ptrLogWriter->SetLogFile(harness_->Home() + "/tqcass.log");
    }
    if (std::getenv("TQ_LOG_LEVEL") == nullptr) g_ptrLogWriter->SetLevel(0);
  }
  std::vector<TqHarness::InterruptedJob> recovered;
  if (!Check(harness_->RecoverInterrupted(recovered))) return kFailed;
  for (const auto& job : recovered) {
    if (job.ended) {
      PrintLeftovers(job);
      continue;
    }
    std::printf("job %lld was interrupted: marked failed, %d unnamed piece%s removed\n",
                static_cast<long long>(job.jobId), job.orphansRemoved,
                job.orphansRemoved == 1 ? "" : "s");
    PrintLeftovers(job);
  }
  return kOk;
}

}  // namespace TqCass
