#include "platform/app/ApplicationId.h"

#include "platform/app/CassandraInstance.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/SuiteStore.h"

namespace {

// The entities of an application of another type: ids and names only.
class PlainSubclient : public Subclient {
 public:
  PlainSubclient(uint64_t id, const std::string& name) { setSubclientIdentity(id, name); }
};

class PlainInstance : public DistributedClusterInstance {
 public:
  PlainInstance(uint64_t id, const std::string& name) { setInstanceIdentity(id, name); }
};

}  // namespace

ApplicationId::ApplicationId(uint64_t ombrelId, uint64_t applicationId)
    : ombrelId_(ombrelId), applicationId_(applicationId) {
  if (ombrelId == 0 || applicationId == 0) return;
  CSuiteStore store = CSuiteStore::Default();
  SSubclientRecord subclient;
  SInstanceRecord instance;
  CQiError error = store.LoadSubclient(applicationId, subclient);
  if (!error.IsError()) error = store.LoadInstance(subclient.instanceId, instance);
  if (error.IsError()) {
    TQLOG(-1, "Application %llu of installation %llu not found: %s",
          static_cast<unsigned long long>(applicationId), static_cast<unsigned long long>(ombrelId),
          error.AsString(2).c_str());
    return;
  }
  if (instance.applicationType == kCassandraApplicationType) {
    auto cassandraSubclient = std::make_unique<CassandraSubclient>(subclient.id);
    auto cassandraInstance = std::make_unique<CassandraInstance>(instance.id);
    if (!cassandraSubclient->isValid() || !cassandraInstance->isValid()) return;
    instance_ = std::move(cassandraInstance);
    subclient_ = std::move(cassandraSubclient);
  } else {
    instance_ = std::make_unique<PlainInstance>(instance.id, instance.name);
    subclient_ = std::make_unique<PlainSubclient>(subclient.id, subclient.name);
  }
  backupSet_ = std::make_unique<BackupSet>(subclient.backupSetId);
  client_ = std::make_unique<TQClient>(instance.clientId);
}

ApplicationId::~ApplicationId() = default;
