// "tqcass verify <job>": compares every stored item of a job with the file
// it was read from.

#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CVerifyCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "verify"; }
  const char* Summary() const override {
    return "Compare every stored item of a backup job with the file it was read from, or every "
           "file a restore job brought back with the stored item it came from";
  }
  Access HomeAccess() const override { return kReads; }
  void Define(CLI::App& command) override {
    AddNumber(command, "job", jobId_, 1, INT64_MAX, "The job's number")->required();
  }
  int Run(CCommandContext& context) override {
    RestorePlan plan;
    if (ReadRestorePlan(context.Home(), jobId_, plan)) {
      if (plan.CrossInstance()) return VerifyCrossRestoreJob(context.Harness(), jobId_, plan);
      return VerifyRestoreJob(context.Harness(), jobId_, plan);
    }
    return VerifyJob(context.Harness(), jobId_);
  }

 private:
  long long jobId_ = 0;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeVerifyCommand() {
  return std::unique_ptr<CTqcassCommand>(new CVerifyCommand());
}

}  // namespace TqCass
