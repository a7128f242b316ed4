// "tqcass change": writes new SSTables on every table of every node, or
// with --log new commit-log segments of timestamped writes.

#include <chrono>
#include <cstdio>

#include "tools/lib/ProgressReporter.h"
#include "tools/lib/ReplayCheck.h"
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
    command.add_flag("--log", log_,
                     "Instead, archive a commit-log segment on every node holding --sstables "
                     "writes of every table, stamped with the current time");
  }
  int Run(CCommandContext& context) override {
    if (log_) return WriteLogs(context);
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
  int WriteLogs(CCommandContext& context) {
    TqHarness::CJobHarness& harness = context.Harness();
    if (!CCommandContext::Check(harness.NeedRegisteredCluster())) return kFailed;
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    std::map<std::string, std::vector<TqSim::SimMutation>> writes;
    std::vector<std::string> segments;
    if (!CCommandContext::Check(TqHarness::CReplayCheck::WritesOfEveryTable(
            harness.State(), static_cast<int>(sstables_), now, writes)) ||
        !CCommandContext::Check(
            TqHarness::CReplayCheck::ArchiveSegments(harness.State(), writes, segments))) {
      return kFailed;
    }
    size_t count = 0;
    for (const auto& node : writes) count += node.second.size();
    std::printf("archived %zu commit-log segment%s holding %zu writes\n", segments.size(),
                segments.size() == 1 ? "" : "s", count);
    return kOk;
  }

  bool log_ = false;
  long long sstables_ = 1;
  long long size_ = 2048;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeChangeCommand() {
  return std::unique_ptr<CTqcassCommand>(new CChangeCommand());
}

}  // namespace TqCass
