// Changes to the registration of a harness home's cluster.

#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/suite/SuiteStore.h"
#include "tools/lib/JobHarness.h"

namespace TqHarness {

CQiError CJobHarness::ChangeRegistration(const RegistrationChange& change) {
  CQiError error = NeedRegistered();
  if (error.IsError()) return error;
  CSuiteStore store = CSuiteStore::Default();
  if (change.commitLogBackup >= 0 || !change.archiveDirectory.empty()) {
    SInstanceRecord current;
    error = store.LoadInstance(state_.instanceId, current);
    if (error.IsError()) return error;
    const bool enable =
        change.commitLogBackup < 0 ? current.enableCommitLogBackup : change.commitLogBackup == 1;
    std::string folder =
        change.archiveDirectory.empty() ? current.archiveLogPath : change.archiveDirectory;
    if (enable && folder.empty()) {
      if (!state_.dockerWorld.empty()) {
        folder = state_.nodes.front().containerArchiveDir;
      } else if (state_.nodes.size() == 1) {
        folder = state_.nodes.front().commitLogArchiveDir;
      } else {
        return FXErrorUtil::ErrorWin32(
            FXLOC, 87,
            "The nodes of a cluster without containers share no commit-log archive folder; "
            "name one with --archive-dir");
      }
    }
    if (enable) {
      error = CSuiteRegistration::CheckArchiveSetting(folder, "folder");
      if (error.IsError()) return error;
    }
    error = store.UpdateInstance(state_.instanceId, [&](SInstanceRecord& instance) {
      instance.enableCommitLogBackup = enable;
      instance.archiveLogPath = enable ? folder : std::string();
      if (enable && instance.archiveCommand.empty()) instance.archiveCommand = "/bin/cp";
    });
    if (error.IsError()) return error;
  }
  if (change.maxStreams > 0) {
    error = store.UpdateSubclient(state_.subclientId, [&](SSubclientRecord& subclient) {
      subclient.maxStreams = change.maxStreams;
    });
    if (error.IsError()) return error;
  }
  return CQiError();
}

}  // namespace TqHarness
