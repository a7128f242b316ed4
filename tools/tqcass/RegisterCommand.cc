// "tqcass register": registers the cluster of a home, or changes the
// settings of its registration.

#include <cstdio>

#include "platform/suite/SuiteStore.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CRegisterCommand : public CTqcassCommand {
 public:
  static constexpr long long kMaxStreams = 64;

  const char* Name() const override { return "register"; }
  const char* Summary() const override {
    return "Register the cluster's clients, instance and subclient, or change the settings of "
           "a registered one";
  }
  void Define(CLI::App& command) override {
    streams_ = AddNumber(command, "--streams", streamCount_, 1, kMaxStreams,
                         "Most streams a backup of the subclient uses (default 4)");
    commitLog_ = command.add_flag("--commit-log", "Enable commit-log backup on the instance");
    noCommitLog_ =
        command.add_flag("--no-commit-log", "Disable commit-log backup")->excludes(commitLog_);
    archiveDir_ = command
                      .add_option("--archive-dir", archiveDirectory_,
                                  "Folder the nodes archive commit logs into (default: the "
                                  "containers' one, or the only node's)")
                      ->type_name("DIR")
                      ->excludes(noCommitLog_);
    command.add_option("--cluster", cluster_,
                       "Register this further cluster of the home (tqcass cluster --name) as "
                       "another instance");
  }
  int Run(CCommandContext& context) override {
    TqHarness::CJobHarness& harness = context.Harness();
    if (!cluster_.empty() && cluster_ != harness.State().clusterName)
      return RegisterFurther(harness);
    if (harness.State().Registered()) return Change(harness);
    TqHarness::RegisterOptions options;
    if (streams_->count() > 0) options.maxStreams = static_cast<int>(streamCount_);
    options.commitLogBackup = commitLog_->count() > 0 || archiveDir_->count() > 0;
    options.archiveDirectory = archiveDirectory_;
    if (!CCommandContext::Check(harness.Register(options))) return kFailed;
    const auto& state = harness.State();
    std::printf("registered client %s (%llu), %zu node clients, instance %llu, subclient %llu\n",
                state.coordinatorClient.c_str(),
                static_cast<unsigned long long>(state.coordinatorClientId), state.nodes.size(),
                static_cast<unsigned long long>(state.instanceId),
                static_cast<unsigned long long>(state.subclientId));
    return kOk;
  }

 private:
  int RegisterFurther(TqHarness::CJobHarness& harness) {
    TqHarness::RegisterOptions options;
    if (streams_->count() > 0) options.maxStreams = static_cast<int>(streamCount_);
    options.commitLogBackup = commitLog_->count() > 0 || archiveDir_->count() > 0;
    options.archiveDirectory = archiveDirectory_;
    if (!CCommandContext::Check(harness.Register(options, cluster_))) return kFailed;
    TqHarness::HarnessCluster cluster;
    harness.State().FindCluster(cluster_, cluster);
    std::printf(
        "registered cluster %s: client %s (%llu), %zu node clients, instance %llu, subclient "
        "%llu\n",
        cluster.name.c_str(), cluster.coordinatorClient.c_str(),
        static_cast<unsigned long long>(cluster.coordinatorClientId), cluster.nodes.size(),
        static_cast<unsigned long long>(cluster.instanceId),
        static_cast<unsigned long long>(cluster.subclientId));
    return kOk;
  }

  int Change(TqHarness::CJobHarness& harness) {
    TqHarness::RegistrationChange change;
    if (streams_->count() > 0) change.maxStreams = static_cast<int>(streamCount_);
    if (commitLog_->count() > 0 || archiveDir_->count() > 0) change.commitLogBackup = 1;
    if (noCommitLog_->count() > 0) change.commitLogBackup = 0;
    change.archiveDirectory = archiveDirectory_;
    if (change.maxStreams == 0 && change.commitLogBackup < 0) {
      CCommandContext::Fail(
          "the cluster of " + harness.Home() +
          " is registered already; change its settings with --streams, --commit-log, "
          "--no-commit-log or --archive-dir");
      return kFailed;
    }
    if (!CCommandContext::Check(harness.ChangeRegistration(change))) return kFailed;
    CSuiteStore store = CSuiteStore::Default();
    SInstanceRecord instance;
    SSubclientRecord subclient;
    if (!CCommandContext::Check(store.LoadInstance(harness.State().instanceId, instance)) ||
        !CCommandContext::Check(store.LoadSubclient(harness.State().subclientId, subclient))) {
      return kFailed;
    }
    std::printf("changed instance %llu: streams %d, commit-log backup %s\n",
                static_cast<unsigned long long>(harness.State().instanceId), subclient.maxStreams,
                instance.enableCommitLogBackup
                    ? ("on, archive folder " + instance.archiveLogPath).c_str()
                    : "off");
    return kOk;
  }

  long long streamCount_ = 4;
  std::string archiveDirectory_;
  std::string cluster_;
  CLI::Option* streams_ = nullptr;
  CLI::Option* commitLog_ = nullptr;
  CLI::Option* noCommitLog_ = nullptr;
  CLI::Option* archiveDir_ = nullptr;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeRegisterCommand() {
  return std::unique_ptr<CTqcassCommand>(new CRegisterCommand());
}

}  // namespace TqCass
