// "tqcass change": writes new SSTables on every table of every node.

#include <cstdio>

#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CChangeCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "change"; }
  const char* Summary() const override { return "Write new SSTables on every table of every node"; }
  void Define(CLI::App& command) override {
    AddNumber(command, "--sstables", sstables_, 1, 1000, "New SSTables of each table")
        ->capture_default_str();
    AddNumber(command, "--size", size_, 1, 1ll << 30, "Bytes of each new SSTable's data")
        ->capture_default_str();
  }
  int Run(CCommandContext& context) override {
    int added = 0;
    if (!CCommandContext::Check(context.Harness().ChangeData(
            static_cast<int>(sstables_), static_cast<uint64_t>(size_), added))) {
      return kFailed;
    }
    std::printf("wrote %d new SSTable%s (%s data each)\n", added, added == 1 ? "" : "s",
                TqHarness::CProgressReporter::FormatBytes(static_cast<double>(size_)).c_str());
    return kOk;
  }

 private:
  long long sstables_ = 1;
  long long size_ = 2048;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeChangeCommand() {
  return std::unique_ptr<CTqcassCommand>(new CChangeCommand());
}

}  // namespace TqCass
