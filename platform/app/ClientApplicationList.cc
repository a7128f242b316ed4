#include "platform/app/ClientApplicationList.h"

#include <map>

#include "platform/log/LogWriter.h"
#include "platform/suite/SuiteStore.h"

int ClientApplicationList::getSubclientList(std::vector<uint64_t>& ids,
                                            std::vector<std::string>& names,
                                            int64_t applicationType, uint64_t backupSetId, void*,
                                            int) {
  ids.clear();
  names.clear();
  CSuiteStore store = CSuiteStore::Default();
  std::vector<SSubclientRecord> subclients;
  std::vector<SInstanceRecord> instances;
  CQiError error = store.LoadSubclients(subclients);
  if (!error.IsError()) error = store.LoadInstances(instances);
  if (error.IsError()) {
    TQLOG(-1, "Failed to read the subclients of backup set %llu: %s",
          static_cast<unsigned long long>(backupSetId), error.AsString(2).c_str());
    return -1;
  }
  std::map<uint64_t, int64_t> typeOfInstance;
  for (const SInstanceRecord& instance : instances) {
    typeOfInstance[instance.id] = instance.applicationType;
  }
  for (const SSubclientRecord& subclient : subclients) {
    if (subclient.backupSetId != backupSetId) continue;
    auto type = typeOfInstance.find(subclient.instanceId);
    if (type == typeOfInstance.end()) continue;
    if (applicationType != 0 && type->second != applicationType) continue;
    ids.push_back(subclient.id);
    names.push_back(subclient.name);
  }
  return 0;
}
