// "tqcass backup": runs a backup job of the registered cluster.

#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CBackupCommand : public CTqcassCommand {
 public:
  static constexpr long long kMaxStreams = 64;

  const char* Name() const override { return "backup"; }
  const char* Summary() const override {
    return "Run a backup job with progress lines, then a summary";
  }
  void Define(CLI::App& command) override {
    command.add_option("--level", level_, "full or incremental")
        ->check(CLI::IsMember({"full", "incremental"}))
        ->capture_default_str();
    command.add_flag("--log", commitLog_, "Back up the commit logs");
    AddNumber(command, "--streams", streams_, 1, kMaxStreams, "Streams of the job")
        ->capture_default_str();
    command.add_flag("--quiet", quiet_, "No progress lines");
  }
  int Run(CCommandContext& context) override {
    TqHarness::BackupRequest request;
    request.level = level_ == "full" ? TQBkpLevel_Full : TQBkpLevel_Incremental;
    request.commitLog = commitLog_;
    request.numberOfStreams = static_cast<int>(streams_);
    int64_t jobId = 0;
    return RunBackupJob(context, request, quiet_, jobId);
  }

 private:
  std::string level_ = "full";
  bool commitLog_ = false;
  long long streams_ = 2;
  bool quiet_ = false;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeBackupCommand() {
  return std::unique_ptr<CTqcassCommand>(new CBackupCommand());
}

}  // namespace TqCass
